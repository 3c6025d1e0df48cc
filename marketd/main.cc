// marketd: the market served over TCP. Prints "marketd listening on HOST:PORT" on standard output
// once it listens (and "marketd monitor on http://HOST:PORT/" with --http); the session's summary
// and its traffic figures go to standard error.
//
// Exit status (listed in --help, numbered by cli/exit_status.h): 0 when the market closed; 1 when
// the session ended early (every buyer left, or SIGINT/SIGTERM/SIGHUP) or on an internal fault
// (one line, no results file); 2 on bad usage, a bad scenario or seed, an output file that cannot
// be created or an address it cannot listen on, with one line on standard error; 3 when the
// results or transcript file could not be written at the end.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/program.h"
#include "engine/response_stats.h"
#include "engine/results.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "marketd/descriptors.h"
#include "marketd/options.h"
#include "marketd/server.h"
#include "session/exit_codes.h"
#include "session/output_files.h"
#include "wire/address.h"
#include "wire/write_all.h"

namespace {

void Complain(const std::string& text) { wire::WriteAll(2, "marketd: " + text + "\n"); }

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

std::string StatsLine(const marketd::NetworkStats& stats, const market::Results& results) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double session = std::chrono::duration<double>(stats.session_time).count();
  const double messages = static_cast<double>(stats.lines_sent + stats.lines_received);
  char line[512];
  std::snprintf(
      line, sizeof line,
      "Server: %lld connections; %lld lines sent, %lld received (%lld / %lld bytes) in "
      "a %.3f s session: %.0f messages/s; cpu user %.3f s, system %.3f s; max resident "
      "%ld KiB\n",
      static_cast<long long>(stats.connections), static_cast<long long>(stats.lines_sent),
      static_cast<long long>(stats.lines_received), static_cast<long long>(stats.bytes_sent),
      static_cast<long long>(stats.bytes_received), session, session > 0 ? messages / session : 0.0,
      Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss);
  const market::ResponseStats response = market::ResponseTimes(results.bids);
  char bids[256];
  std::snprintf(bids, sizeof bids,
                "Bids: %lld recorded at a price, %lld counted; offer-to-bid response median "
                "%.3f ms, p99 %.3f ms\n",
                static_cast<long long>(results.bids.size()), static_cast<long long>(response.count),
                static_cast<double>(response.median_us) / 1000.0,
                static_cast<double>(response.p99_us) / 1000.0);
  return std::string(line) + bids;
}

// Written whole under another name first, so a reader never sees half a number.
bool WritePortFile(const std::string& path, uint16_t port) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  const bool written = file != nullptr && std::fprintf(file, "%u\n", port) > 0;
  if (file == nullptr || std::fclose(file) != 0 || !written ||
      std::rename(temporary.c_str(), path.c_str()) != 0) {
    Complain("cannot write the port file " + path);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A buyer that goes away must show as a failed write, not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
  const marketd::OptionsParse parse =
      marketd::ParseOptions(std::vector<std::string>(argv, argv + argc));
  if (!parse.options) return cli::Finish(marketd::kProgram, parse);
  marketd::Options options = *parse.options;
  // One descriptor budget for the buyers' connections and the monitor's.
  std::string lowered;
  const marketd::DescriptorShares shares = marketd::ShareDescriptors(
      options.server.max_connections,
      options.server.http ? static_cast<int>(options.server.http_max_connections) : 0,
      marketd::RaiseDescriptorLimit(), &lowered);
  options.server.max_connections = shares.market;
  options.server.http_max_connections = static_cast<size_t>(shares.monitor);
  if (!lowered.empty()) Complain(lowered);

  session::OutputFiles files(Complain);
  marketd::Server server(options.scenario, options.seed, options.server,
                         options.transcript_path.empty() ? nullptr : &files.transcript());
  std::string error;
  if (!server.Listen(&error)) {
    Complain(error);
    return session::kExitBadSettings;
  }
  // Only once the port is ours: a second server on a busy port leaves the first one's files be.
  if (!files.Open(options.results_path, options.transcript_path)) return session::kExitBadSettings;
  const std::string address = wire::FormatAddress({options.server.host, server.port()});
  if (!options.port_file.empty() && !WritePortFile(options.port_file, server.port())) {
    return session::kExitBadSettings;
  }
  if (!options.http_port_file.empty() &&
      !WritePortFile(options.http_port_file, server.http_port())) {
    return session::kExitBadSettings;
  }
  wire::WriteAll(1, "marketd listening on " + address + "\n");
  if (options.server.http) {
    wire::WriteAll(1, "marketd monitor on http://" +
                          wire::FormatAddress({options.server.http_host, server.http_port()}) +
                          "/\n");
  }

  try {
    server.Run();
  } catch (const std::exception& e) {
    // The results are not written: the file beside them is removed, PATH is left absent.
    Complain(std::string("internal fault: ") + e.what());
    return files.Finish(session::kExitSessionFailed);
  }

  const market::Results& results = server.results();
  wire::WriteAll(2, market::SummaryText(results) + "\n" + StatsLine(server.stats(), results));
  if (options.server.http) {
    wire::WriteAll(
        2, "Monitor: " + std::to_string(server.stats().viewers) + " viewers, " +
               std::to_string(server.stats().viewers_dropped) + " dropped for falling behind, " +
               std::to_string(server.stats().monitor_faults) + " closed on an internal fault\n");
  }
  files.WriteResults(results);
  return files.Finish(session::ExitStatusFor(server.end_reason()));
}
