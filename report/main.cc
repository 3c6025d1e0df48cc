// market-report: one self-contained HTML page from a session's results or a tournament database.
//
// Exit status (listed in --help, numbered by cli/exit_status.h): 0 when the page was written; 1
// when the input cannot be read or is not valid (one line on standard error, no page written); 2
// for bad usage; 3 when the output could not be written.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/program.h"
#include "report/options.h"
#include "report/session_data.h"
#include "report/session_document.h"
#include "report/session_report.h"
#include "report/tournament_data.h"
#include "report/tournament_report.h"

namespace {

// The most a session's results may take: the file is read whole. The largest valid scenario's
// results take about 23 MB; only a session of some 10^5 voided sales per auction goes past this.
constexpr std::streamsize kMaxResultsBytes = 256 << 20;

std::string ReadResults(const std::string& path) {
  const std::string too_large = path + ": larger than 256 MiB, more than a report reads";
  std::ifstream in(path, std::ios::binary);
  if (!in) throw report::InputError(path + ": cannot open: " + std::strerror(errno));
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) {
    const uintmax_t size = std::filesystem::file_size(path, error);
    // Known at once for a plain file; other files as they are read.
    if (!error && size > static_cast<uintmax_t>(kMaxResultsBytes)) {
      throw report::InputError(too_large);
    }
  }
  std::string text;
  char block[65536];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    text.append(block, static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxResultsBytes) {
      throw report::InputError(too_large);
    }
  }
  if (in.bad()) throw report::InputError(path + ": cannot read");
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const report::OptionsParse parse =
      report::ParseOptions(std::vector<std::string>(argv, argv + argc));
  if (!parse.options) return cli::Finish(report::kProgram, parse);
  const report::Options& options = *parse.options;
  std::string page;
  try {
    if (!options.results_path.empty()) {
      const std::string text = ReadResults(options.results_path);
      report::SessionData data =
          report::ReadSessionResults(report::SessionDocument(text, options.session));
      const std::string source = options.session == 1 ? options.results_path
                                                      : options.results_path + ", session " +
                                                            std::to_string(options.session);
      page = report::SessionReport(data, source);
    } else {
      page = report::TournamentReport(report::ReadTournament(options.db_path, options.tournament),
                                      options.db_path);
    }
  } catch (const report::InputError& e) {
    std::cerr << "market-report: " << e.what() << "\n";
    return cli::kExitFailed;
  }
  if (options.output_path.empty()) {
    std::cout << page;
    std::cout.flush();
    return std::cout ? cli::kExitDone : cli::kExitOutputLost;
  }
  std::ofstream out(options.output_path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "market-report: cannot create " << options.output_path << ": "
              << std::strerror(errno) << "\n";
    return cli::kExitOutputLost;
  }
  out << page;
  out.close();
  if (!out) {
    std::cerr << "market-report: could not write " << options.output_path << "\n";
    return cli::kExitOutputLost;
  }
  return cli::kExitDone;
}
