#include "marketd/options.h"

#include "wire/address.h"
#include "wire/number.h"

namespace marketd {

OptionsParse ParseOptions(const std::vector<std::string>& args) {
  cli::Program program(kProgram,
                       "marketd: the auction market served over TCP to many buyer agents");
  program.SetExitStatuses({
      {cli::kExitDone, "the market closed"},
      {cli::kExitFailed,
       "the session ended early (every buyer left, or SIGINT, SIGTERM or SIGHUP), or an internal "
       "fault"},
      {cli::kExitBadUsage,
       "bad usage, a bad scenario or seed, an output file that cannot be created or an address "
       "it cannot listen on"},
      {cli::kExitOutputLost, "the results or transcript file could not be written at the end"},
  });
  CLI::App& app = program.app();
  std::string scenario_path;
  std::string listen = "127.0.0.1:7411";
  std::string seed;
  std::string http;
  std::string clock = "real";
  Options options;
  int64_t linger_ms = options.server.linger.count();
  app.add_option("--scenario", scenario_path, "the scenario file (TOML)")->required();
  app.add_option("--listen", listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->capture_default_str();
  app.add_option("--seed", seed, "a seed that replaces the scenario's (0 to 2^64 - 1)");
  app.add_option("--results", options.results_path, "write the session's results here as JSON");
  app.add_option("--transcript", options.transcript_path,
                 "write every line sent and received here, with its time");
  app.add_option("--port-file", options.port_file, "write the port listened on here");
  app.add_option("--http", http,
                 "serve the live monitor over HTTP on [HOST:]PORT (loopback without a host; port 0 "
                 "picks a free port)");
  app.add_option("--http-port-file", options.http_port_file,
                 "write the monitor's port here (with --http)");
  app.add_option("--http-queue-limit", options.server.http_queue_limit,
                 "unsent bytes per monitor viewer before it is dropped")
      ->check(CLI::Range(1024, 1 << 26))
      ->capture_default_str();
  app.add_option("--max-line", options.server.max_line, "longest command line in bytes")
      ->check(CLI::Range(16, 1 << 20))
      ->capture_default_str();
  app.add_option("--max-faults", options.server.max_faults,
                 "refused lines before a connection is closed")
      ->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  app.add_option("--queue-limit", options.server.queue_limit,
                 "unsent output per connection in bytes before it is dropped")
      ->check(CLI::Range(256, 1 << 30))
      ->capture_default_str();
  app.add_option("--send-buffer", options.server.send_buffer,
                 "kernel send buffer per connection in bytes; 0: the system's")
      ->check(CLI::Range(0, 1 << 26))
      ->capture_default_str();
  app.add_option("--max-connections", options.server.max_connections, "connections open at once")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--clock", clock,
                 "real, or stepped: a tick ends once every buyer's relay (RemoteControl with "
                 "MARKET_CLOCK=stepped) says its agent is idle, or at its deadline")
      ->check(CLI::IsMember({"real", "stepped"}))
      ->capture_default_str();
  app.add_option("--linger-ms", linger_ms,
                 "after the close, how long to wait for the buyers to hang up")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();

  if (std::optional<cli::Stop> stop = program.Parse(args)) return *stop;
  const std::optional<wire::Address> address = wire::ParseAddress(listen);
  if (!address) return cli::UsageFault("--listen must be HOST:PORT, not '" + listen + "'");
  options.server.host = address->host;
  options.server.port = address->port;
  options.server.linger = std::chrono::milliseconds(linger_ms);
  options.server.stepped = clock == "stepped";
  if (!http.empty()) {
    const bool port_only = http.find(':') == std::string::npos;
    const std::optional<wire::Address> monitor =
        wire::ParseAddress(port_only        ? "127.0.0.1:" + http
                           : http[0] == ':' ? "127.0.0.1" + http
                                            : http);
    if (!monitor) return cli::UsageFault("--http must be [HOST:]PORT, not '" + http + "'");
    options.server.http = true;
    options.server.http_host = monitor->host;
    options.server.http_port = monitor->port;
  } else if (!options.http_port_file.empty()) {
    return cli::UsageFault("--http-port-file needs --http");
  }
  const market::ScenarioLoad load = market::LoadScenarioFile(scenario_path);
  if (!load.scenario) return cli::UsageFault("bad scenario " + load.error.ToString());
  options.scenario = *load.scenario;
  options.seed = options.scenario.seed;
  if (!seed.empty()) {
    const std::optional<uint64_t> value = wire::ParseUint64(seed);
    if (!value)
      return cli::UsageFault("--seed must be a whole number from 0 to 18446744073709551615");
    options.seed = *value;
  }
  return options;
}

}  // namespace marketd
