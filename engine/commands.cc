#include "engine/commands.h"

#include <algorithm>
#include <vector>

namespace market {
namespace {

constexpr std::string_view kBlanks = " \t\r";

}  // namespace

Command ParseCommand(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(kBlanks, at);
    if (start == std::string_view::npos) break;
    size_t end = line.find_first_of(kBlanks, start);
    if (end == std::string_view::npos) end = line.size();
    words.push_back(line.substr(start, end - start));
    at = end;
  }
  Command command;
  if (words.empty()) return command;
  if (words[0] == "admission") {
    if (words.size() != 3) {
      command.kind = Command::Kind::kMalformedAdmission;
    } else {
      command.kind = Command::Kind::kAdmission;
      command.login = words[1];
      command.password = words[2];
    }
  } else if (words[0] == "bid" && words.size() == 1) {
    command.kind = Command::Kind::kBid;
  } else if (words[0] == "exit" && words.size() == 1) {
    command.kind = Command::Kind::kExit;
  }
  return command;
}

std::string WithoutPassword(std::string_view line) {
  constexpr auto kNone = std::string_view::npos;
  const size_t first = line.find_first_not_of(kBlanks);
  if (first == kNone) return std::string(line);
  const size_t first_end = line.find_first_of(kBlanks, first);
  if (line.substr(first, first_end - first) != "admission") return std::string(line);
  const size_t login = line.find_first_not_of(kBlanks, first_end);
  if (login == kNone) return std::string(line);
  const size_t login_end = line.find_first_of(kBlanks, login);
  if (login_end == kNone || line.find_first_not_of(kBlanks, login_end) == kNone) {
    return std::string(line);
  }
  return std::string(line.substr(0, login_end)) + " ********";
}

bool SamePassword(std::string_view given, std::string_view expected) {
  // Every byte of the longer one is looked at, whatever differs first.
  volatile unsigned char diff = given.size() == expected.size() ? 0 : 1;
  const size_t n = std::max(given.size(), expected.size());
  for (size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(i < given.size() ? given[i] : 0);
    const auto b = static_cast<unsigned char>(i < expected.size() ? expected[i] : 0);
    diff = static_cast<unsigned char>(diff | (a ^ b));
  }
  return diff == 0;
}

}  // namespace market
