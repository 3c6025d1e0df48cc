#include "cli/program.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "cli/version.h"

namespace cli {
namespace {

// Every byte, through short writes and interruptions; false on any other failure.
bool WriteWhole(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// "  N    MEANING", the meaning's words wrapped under its first at 79 columns.
std::string ExitStatusRow(int status, const std::string& meaning) {
  constexpr size_t kIndent = 7;
  constexpr size_t kWidth = 79;
  std::string rows;
  std::string line = "  " + std::to_string(status);
  line.resize(std::max(kIndent, line.size() + 1), ' ');
  size_t words_on_line = 0;
  std::istringstream words(meaning);
  for (std::string word; words >> word;) {
    if (words_on_line > 0 && line.size() + 1 + word.size() > kWidth) {
      rows += line + "\n";
      line = std::string(kIndent, ' ');
      words_on_line = 0;
    }
    line += (words_on_line > 0 ? " " : "") + word;
    ++words_on_line;
  }
  return rows + line + "\n";
}

}  // namespace

Stop UsageFault(std::string message) { return {kExitBadUsage, "", std::move(message)}; }

Program::Program(std::string name, std::string description)
    : name_(std::move(name)), app_(std::move(description), name_) {
  app_.set_version_flag("--version", name_ + " " + Version(), "print the version and exit");
  app_.set_help_flag("-h,--help", "print this help and exit");
}

void Program::SetExitStatuses(const std::vector<std::pair<int, std::string>>& rows) {
  std::string footer = "Exit status:\n";
  for (const auto& [status, meaning] : rows) footer += ExitStatusRow(status, meaning);
  app_.footer(footer);
}

std::optional<Stop> Program::Parse(const std::vector<std::string>& args) {
  // CLI11 takes the arguments last first, without the program's name.
  std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return Stop{kExitDone, app_.help(), ""};  // a subcommand's own help when one was named
  } catch (const CLI::CallForAllHelp&) {
    return Stop{kExitDone, app_.help("", CLI::AppFormatMode::All), ""};
  } catch (const CLI::CallForVersion&) {
    return Stop{kExitDone, name_ + " " + Version() + "\n", ""};
  } catch (const CLI::ParseError& e) {
    return UsageFault(e.what());
  }
  return std::nullopt;
}

std::optional<Stop> Program::Parse(int argc, const char* const* argv) {
  return Parse(std::vector<std::string>(argv, argv + argc));
}

std::string UsageLine(std::string_view program, std::string_view message) {
  std::string line = std::string(program) + ": " + std::string(message);
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  return line + " (see " + std::string(program) + " --help)";
}

int Finish(std::string_view program, const Stop& stop, int out_fd, int err_fd) {
  if (!stop.error.empty()) WriteWhole(err_fd, UsageLine(program, stop.error) + "\n");
  if (!stop.out.empty() && !WriteWhole(out_fd, stop.out)) {
    WriteWhole(err_fd, std::string(program) +
                           ": cannot write to standard output: " + std::strerror(errno) + "\n");
    return stop.exit_status == kExitDone ? kExitOutputLost : stop.exit_status;
  }
  return stop.exit_status;
}

}  // namespace cli
