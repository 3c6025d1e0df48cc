// RemoteControl: the market gateway a buyer agent starts as its child. Argument one is the login;
// the settings come from the environment (see gateway/settings.h).
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "gateway/gateway.h"
#include "gateway/relay.h"
#include "gateway/settings.h"
#include "session/exit_codes.h"
#include "wire/write_all.h"

int main(int argc, char** argv) {
  // A reader that goes away must show as a failed write, not kill the gateway.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv, argv + argc);
  std::string error;
  const std::optional<gateway::Settings> settings = gateway::ReadSettings(
      args, [](const char* name) { return std::getenv(name); }, &error);
  if (!settings) {
    wire::WriteAll(2, "RemoteControl: " + error + "\n");
    return session::kExitBadSettings;
  }
  if (settings->connect)
    return gateway::RunRelay(*settings->connect, gateway::Descriptors{},
                             settings->clock == gateway::ClockKind::kStepped);
  return gateway::RunGateway(*settings, gateway::Descriptors{});
}
