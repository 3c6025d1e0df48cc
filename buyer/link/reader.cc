#include "buyer/link/reader.h"

#include <cstring>

#include "buyer/link/log.h"

namespace {

struct ReaderState {
  char buffer[READ_BUFFER_SIZE];
  int position;
  // Bytes not yet handed out; below 0 once the input has ended.
  ssize_t count;
  // The character that ended the previous word, or -1 when end of input ended it.
  int ending;
  bool ran_out;
  char word[WORD_BUFFER_SIZE];
};

ReaderState reader;

inline bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Echoes a word as "%s ": its text up to a NUL, then one space, in one piece.
void Echo(const char* word, size_t length) {
  size_t text = strnlen(word, length);
  char* out = LogReserve(text + 1);
  std::memcpy(out, word, text);
  out[text] = ' ';
  LogCommit(text + 1);
}

}  // namespace

int Get_Char(Input& input) {
  if (reader.count == 0) {
    LogFlushIfInteractive();
    reader.count = input.read(input.context, reader.buffer, READ_BUFFER_SIZE);
    reader.position = 0;
    // A broken source that claims more than it was asked for is cut to the buffer.
    if (reader.count > READ_BUFFER_SIZE) reader.count = READ_BUFFER_SIZE;
  }
  if (reader.count <= 0) {
    // The count stays below 0 from now on, so no further read is made.
    reader.count = -1;
    return -1;
  }
  --reader.count;
  return static_cast<unsigned char>(reader.buffer[reader.position++]);
}

const char* GetWord(Input& input) {
  if (reader.ending == '\n') {
    reader.ending = 0;
    reader.word[0] = '\0';
    return reader.word;
  }
  int c = Get_Char(input);
  while (IsSpace(c)) c = Get_Char(input);
  if (c < 0) {
    reader.ending = -1;
    reader.ran_out = true;
    reader.word[0] = '\0';
    return reader.word;
  }
  constexpr size_t kLongest = WORD_BUFFER_SIZE - 1;
  size_t length = 0;
  reader.word[length++] = static_cast<char>(c);
  for (;;) {
    // Take the word's bytes straight from the read buffer, up to whitespace or the buffer's end;
    // bytes past the longest word are consumed and dropped.
    const char* run = reader.buffer + reader.position;
    const char* end = run + reader.count;
    const char* stop = run;
    while (stop < end && !IsSpace(static_cast<unsigned char>(*stop))) ++stop;
    size_t taken = static_cast<size_t>(stop - run);
    size_t kept = taken < kLongest - length ? taken : kLongest - length;
    std::memcpy(reader.word + length, run, kept);
    length += kept;
    reader.position += static_cast<int>(taken);
    reader.count -= static_cast<ssize_t>(taken);
    if (stop < end) {
      c = Get_Char(input);  // the whitespace that ends the word
      break;
    }
    c = Get_Char(input);  // the buffer is used up: read on
    if (c < 0 || IsSpace(c)) break;
    if (length < kLongest) reader.word[length++] = static_cast<char>(c);
  }
  reader.word[length] = '\0';
  reader.ending = c;
  Echo(reader.word, length);
  return reader.word;
}

const char* GetSymbolicParameter(Input& input) { return GetWord(input); }

int32_t GetNumericParameter(Input& input) { return ParseNumber(GetWord(input)); }

int32_t ParseNumber(const char* text) {
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  // Accumulate the magnitude up to one past INT32_MAX's; further digits cannot bring it back.
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

bool InputEnded() { return reader.count < 0; }

bool InputRanOut() { return reader.ran_out; }

void ResetReader() { std::memset(&reader, 0, sizeof reader); }
