// market_peer: scripted buyers for marketd (see marketd/peer.h). Prints one report line per
// connection on standard output; exits 0 when every connection was admitted and either saw the
// market close or left as asked, 1 otherwise, 2 on bad usage (cli/exit_status.h).
#include <cstdio>
#include <optional>
#include <string>

#include "cli/exit_status.h"
#include "cli/program.h"
#include "marketd/peer.h"
#include "wire/address.h"

namespace {

constexpr const char* kProgram = "market_peer";

}  // namespace

int main(int argc, char** argv) {
  cli::Program program(kProgram, "market_peer: scripted buyers that trade with marketd over TCP");
  program.SetExitStatuses({
      {cli::kExitDone,
       "every connection was admitted and either saw the market close or left as asked"},
      {cli::kExitFailed, "otherwise: a connection not admitted, failed, or ended before the close"},
      {cli::kExitBadUsage, "bad usage"},
  });
  CLI::App& app = program.app();
  marketd::PeerOptions options;
  std::string address;
  app.add_option("--connect", address, "HOST:PORT of marketd")->required();
  app.add_option("--login", options.login, "the login; with --count N, login1 .. loginN")
      ->required();
  app.add_option("--password", options.password, "the password")->required();
  app.add_option("--count", options.count, "connections, one buyer each")
      ->check(CLI::Range(1, 1000));
  app.add_option("--bid-at-or-below", options.bid_at_or_below,
                 "bid on every offer or collision at or below this price (0: never)");
  app.add_option("--spread", options.spread,
                 "connection i bids at or below PRICE - ((i - 1) % 10) * SPREAD");
  app.add_option("--leave-after-offers", options.leave_after_offers,
                 "hang up on receiving this many offers");
  app.add_option("--log-dir", options.log_dir, "write every line received to DIR/LOGIN.log");
  app.add_option("--timeout", options.timeout_seconds, "give up after this many seconds")
      ->check(CLI::Range(0.1, 3600.0));
  if (std::optional<cli::Stop> stop = program.Parse(argc, argv)) {
    return cli::Finish(kProgram, *stop);
  }
  const std::optional<wire::Address> parsed = wire::ParseAddress(address);
  if (!parsed) {
    return cli::Finish(kProgram,
                       cli::UsageFault("--connect must be HOST:PORT, not '" + address + "'"));
  }
  options.host = parsed->host;
  options.port = parsed->port;
  bool all_well = true;
  for (const marketd::PeerReport& report : marketd::RunPeers(options)) {
    std::printf("%s\n", marketd::ReportLine(report).c_str());
    all_well &= report.accepted && report.error.empty() && (report.saw_close || report.left);
  }
  return all_well ? cli::kExitDone : cli::kExitFailed;
}
