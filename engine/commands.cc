#include "engine/commands.h"

#include <vector>

namespace market {

Command ParseCommand(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(" \t\r", at);
    if (start == std::string_view::npos) break;
    size_t end = line.find_first_of(" \t\r", start);
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

}  // namespace market
