// Compact JSON written by hand: the packed columns as SQL reads them (session_codec.h), arrays and
// objects of integers, reals, strings and nulls, appended to one buffer with no spaces. Cheap
// enough to run once per row a query reads, where a document library would cost more than the
// decoding itself.
#ifndef TOURNAMENT_JSON_TEXT_H_
#define TOURNAMENT_JSON_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tournament {

// Appends values separated by commas as JSON requires. Strings are quoted with '"' and '\' and
// every byte below 0x20 escaped, but for NUL, which SQLite's JSON functions would end the string
// at: it is written as U+FFFD. Other bytes (UTF-8 or not) are kept as they are, as SQLite's JSON
// functions read them back. The caller balances Open and Close.
class JsonText {
 public:
  JsonText() = default;
  // Writes into `buffer`'s memory, its content dropped: a buffer handed back reuses its capacity.
  explicit JsonText(std::string buffer) : buffer_(std::move(buffer)) {}

  JsonText& OpenArray() { return Punctuate('['); }
  JsonText& CloseArray() { return Close(']'); }
  JsonText& OpenObject() { return Punctuate('{'); }
  JsonText& CloseObject() { return Close('}'); }
  // An object member's name; its value follows.
  JsonText& Key(std::string_view name);

  JsonText& Int(int64_t value) {
    char* at = Room(20);
    if (value >= 0 && value < 10) {  // most flags and counts: one digit
      *at = static_cast<char>('0' + value);
      ++used_;
      return *this;
    }
    return Digits(at, value);
  }
  JsonText& Bool(bool value) { return Int(value ? 1 : 0); }  // 0 or 1, as SQLite stores flags
  JsonText& Real(double value);                              // null when not finite
  JsonText& String(std::string_view value);
  JsonText& Null();
  template <typename T>
  JsonText& Maybe(const std::optional<T>& value) {
    if (!value) return Null();
    if constexpr (std::is_same_v<T, double>) {
      return Real(*value);
    } else if constexpr (std::is_same_v<T, std::string>) {
      return String(*value);
    } else {
      return Int(static_cast<int64_t>(*value));
    }
  }

  // The text so far; Take leaves the writer empty.
  std::string_view text() const { return {buffer_.data(), used_}; }
  std::string Take();

 private:
  // Room for `bytes` more after a separating comma, written at the returned position.
  char* Room(size_t bytes) {
    if (buffer_.size() < used_ + 1 + bytes) Grow(used_ + 1 + bytes);
    if (used_ > 0) {
      const char last = buffer_[used_ - 1];
      if (last != '[' && last != '{' && last != ':') buffer_[used_++] = ',';
    }
    return buffer_.data() + used_;
  }
  void Grow(size_t bytes);
  JsonText& Digits(char* at, int64_t value);
  // Writes the rest of a string from `out` on, escaped, and its closing quote.
  JsonText& Escaped(char* out, std::string_view value);
  JsonText& Punctuate(char c) {
    *Room(1) = c;
    ++used_;
    return *this;
  }
  JsonText& Close(char c);

  std::string buffer_;  // its first used_ bytes are the text
  size_t used_ = 0;
};

}  // namespace tournament

#endif  // TOURNAMENT_JSON_TEXT_H_
