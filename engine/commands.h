// The commands a buyer sends to the market, one per line: "admission LOGIN PASSWORD", "bid",
// "exit".
#ifndef ENGINE_COMMANDS_H_
#define ENGINE_COMMANDS_H_

#include <string>
#include <string_view>

namespace market {

struct Command {
  enum class Kind {
    kAdmission,
    kMalformedAdmission,  // "admission" with other than two words after it
    kBid,
    kExit,
    kUnknown,  // anything else, the empty line included
  };
  Kind kind = Kind::kUnknown;
  std::string login;  // kAdmission
  std::string password;
};

// Parses one line, without its newline. Words are separated by spaces, tabs or carriage returns
// (a line ended by "\r\n" reads as the same command); "bid" and "exit" take no words after them.
Command ParseCommand(std::string_view line);

// The line as it may be written out (transcripts, results, summaries): an admission keeps its
// first two words and everything after the login reads "********"; any other line is kept whole.
std::string WithoutPassword(std::string_view line);

// Whether a given password is the expected one, in a time that depends on their lengths only,
// never on where they first differ.
bool SamePassword(std::string_view given, std::string_view expected);

}  // namespace market

#endif  // ENGINE_COMMANDS_H_
