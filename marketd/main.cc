// marketd: the market served over TCP. Prints "marketd listening on HOST:PORT" on standard output
// once it listens; the session's summary and its traffic figures go to standard error.
//
// Exit status: 0 when the market closed; 1 when the session ended early (every buyer left, or
// SIGINT/SIGTERM); 2 on bad usage, a bad scenario or seed, an output file that cannot be created
// or an address it cannot listen on, with one line on standard error; 3 when the results or
// transcript file could not be written at the end.
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gateway/address.h"
#include "gateway/output.h"
#include "gateway/transcript.h"
#include "engine/response_stats.h"
#include "engine/results_json.h"
#include "engine/summary.h"
#include "marketd/options.h"
#include "marketd/server.h"

namespace {

void Complain(const std::string& text) { gateway::WriteAll(2, "marketd: " + text + "\n"); }

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

}  // namespace

int main(int argc, char** argv) {
  // A buyer that goes away must show as a failed write, not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
  const marketd::OptionsParse parse =
      marketd::ParseOptions(std::vector<std::string>(argv, argv + argc));
  if (!parse.options) {
    if (!parse.out.empty()) gateway::WriteAll(1, parse.out);
    if (!parse.error.empty()) Complain(parse.error + " (see marketd --help)");
    return parse.exit_status;
  }
  const marketd::Options& options = *parse.options;

  gateway::Transcript transcript;
  if (!options.transcript_path.empty() && !transcript.Open(options.transcript_path)) {
    Complain("cannot write the transcript file " + options.transcript_path + ": " +
             std::strerror(errno));
    return 2;
  }
  // Opened now, so that a file that cannot be written fails before the session, not after it.
  std::FILE* results_file = nullptr;
  if (!options.results_path.empty()) {
    results_file = std::fopen(options.results_path.c_str(), "w");
    if (results_file == nullptr) {
      Complain("cannot write the results file " + options.results_path + ": " +
               std::strerror(errno));
      return 2;
    }
  }

  marketd::Server server(options.scenario, options.seed, options.server,
                         options.transcript_path.empty() ? nullptr : &transcript);
  std::string error;
  if (!server.Listen(&error)) {
    Complain(error);
    if (results_file != nullptr) std::fclose(results_file);
    return 2;
  }
  const std::string address = gateway::FormatAddress({options.server.host, server.port()});
  if (!options.port_file.empty()) {
    // Written whole under another name first, so a reader never sees half a number.
    const std::string temporary = options.port_file + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    const bool written = file != nullptr && std::fprintf(file, "%u\n", server.port()) > 0;
    if (file == nullptr || std::fclose(file) != 0 || !written ||
        std::rename(temporary.c_str(), options.port_file.c_str()) != 0) {
      Complain("cannot write the port file " + options.port_file);
      return 2;
    }
  }
  gateway::WriteAll(1, "marketd listening on " + address + "\n");

  server.Run();

  const market::Results& results = server.results();
  gateway::WriteAll(2, market::SummaryText(results) + "\n" + StatsLine(server.stats(), results));
  bool files_failed = false;
  if (results_file != nullptr) {
    const std::string json = market::ResultsJson(results);
    const bool written = std::fwrite(json.data(), 1, json.size(), results_file) == json.size();
    if (std::fclose(results_file) != 0 || !written) {
      files_failed = true;
      Complain("could not write the results file " + options.results_path);
    }
  }
  if (!transcript.Close()) {
    files_failed = true;
    Complain("could not write the transcript file " + options.transcript_path);
  }
  if (files_failed) return 3;
  return results.completed ? 0 : 1;
}
