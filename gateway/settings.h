// The gateway's settings. Its command line is fixed by the agent that starts it (argument one is
// the login), so everything else comes from the environment:
// - MARKET_SCENARIO: the scenario file; unset or empty, the built-in default scenario;
// - MARKET_SEED: a seed that overrides the scenario's;
// - MARKET_RESULTS: a file to write the session's results to, as JSON;
// - MARKET_TRANSCRIPT: a file to write every line sent and received to, with its time;
// - MARKET_CLOCK: "real" (unset or empty: the same) or "stepped". On the stepped clock a tick ends
//   as soon as the agent has finished reacting to what the market sent it, or at the scenario's
//   tick, whichever comes first (gateway/agent_watch.h says how the gateway knows, and what an
//   agent must not do for it to know);
// - MARKET_ADDRESS: HOST:PORT of a market server (marketd). When set, the gateway runs no market
//   of its own: it relays lines between the agent and the server, and the other settings are the
//   server's business (they are not read), but for MARKET_CLOCK: a relay on the stepped clock
//   tells the server (marketd --clock stepped) each time its agent is idle (wire/idle_line.h).
#ifndef GATEWAY_SETTINGS_H_
#define GATEWAY_SETTINGS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/scenario.h"
#include "wire/address.h"

namespace gateway {

enum class ClockKind { kReal, kStepped };

// "real", "stepped".
const char* ClockName(ClockKind kind);

struct Settings {
  std::string login;  // the only login this gateway admits
  ClockKind clock = ClockKind::kReal;
  market::Scenario scenario;
  uint64_t seed = 0;
  std::string results_path;              // empty: none
  std::string transcript_path;           // empty: none
  std::optional<wire::Address> connect;  // MARKET_ADDRESS: relay to this server instead
};

using EnvLookup = std::function<const char*(const char* name)>;

// Reads the settings from the arguments (program name first) and the environment. On a fault,
// empty, with *error set to one line without a newline that names the fault (for a scenario file,
// the file, the line and the fault).
std::optional<Settings> ReadSettings(const std::vector<std::string>& args, const EnvLookup& env,
                                     std::string* error);

}  // namespace gateway

#endif  // GATEWAY_SETTINGS_H_
