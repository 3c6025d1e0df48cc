// Splits the bytes of a command stream into lines, with a bound on a line's length: a line longer
// than the bound is reported as overlong with its first bytes only, and the rest of it is dropped
// as it arrives, so memory never grows with what a peer sends.
#ifndef WIRE_LINE_READER_H_
#define WIRE_LINE_READER_H_

#include <string>
#include <string_view>
#include <vector>

namespace wire {

struct Line {
  std::string text;  // without its newline; for an overlong line, its first max_length bytes
  bool overlong = false;
};

class LineReader {
 public:
  explicit LineReader(size_t max_length = 4096) : max_length_(max_length) {}

  // Adds bytes read; appends each line completed by them to *lines.
  void Feed(std::string_view bytes, std::vector<Line>* lines);

  // End of input: a last line without its newline, if any, is appended to *lines.
  void Finish(std::vector<Line>* lines);

  // True while part of a line has been fed and its newline has not come yet.
  bool partial() const { return !pending_.empty() || overlong_; }

 private:
  size_t max_length_;
  std::string pending_;
  bool overlong_ = false;
};

}  // namespace wire

#endif  // WIRE_LINE_READER_H_
