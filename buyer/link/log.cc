#include "buyer/link/log.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

constexpr size_t kLogBufferSize = 64 * 1024;

char log_buffer[kLogBufferSize];
size_t log_used = 0;
LogSink log_sink = nullptr;
// -1 until the first blocking read asks; then whether standard output is a terminal.
int stdout_interactive = -1;
// Set once standard output refuses bytes (its reader has gone). The agent keeps trading; its
// log has nowhere to go, so further bytes are dropped instead of failing every write again.
bool stdout_broken = false;

void WriteAll(const char* data, size_t size) {
  if (log_sink != nullptr) {
    log_sink(data, size);
    return;
  }
  while (size > 0 && !stdout_broken) {
    ssize_t n = write(STDOUT_FILENO, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      stdout_broken = true;
      return;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace

void LogFlush() {
  if (log_used == 0) return;
  WriteAll(log_buffer, log_used);
  log_used = 0;
}

void LogFlushIfInteractive() {
  if (stdout_interactive < 0) stdout_interactive = isatty(STDOUT_FILENO) ? 1 : 0;
  if (stdout_interactive == 1 && log_sink == nullptr) LogFlush();
}

char* LogReserve(size_t size) {
  if (size > kLogBufferSize - log_used) LogFlush();
  return log_buffer + log_used;
}

void LogCommit(size_t used) { log_used += used; }

void LogWrite(const char* data, size_t size) {
  if (size > kLogBufferSize - log_used) {
    LogFlush();
    if (size >= kLogBufferSize) {
      WriteAll(data, size);
      return;
    }
  }
  std::memcpy(log_buffer + log_used, data, size);
  log_used += size;
}

void LogText(const char* text) { LogWrite(text, std::strlen(text)); }

size_t FormatInt(int32_t value, char* out) {
  // Two digits at a time from a table; the magnitude is unsigned so INT32_MIN needs no care.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  char* end = digits + sizeof digits;
  char* p = end;
  while (magnitude >= 100) {
    uint32_t pair = (magnitude % 100) * 2;
    magnitude /= 100;
    *--p = kPairs[pair + 1];
    *--p = kPairs[pair];
  }
  if (magnitude >= 10) {
    *--p = kPairs[magnitude * 2 + 1];
    *--p = kPairs[magnitude * 2];
  } else {
    *--p = static_cast<char>('0' + magnitude);
  }
  size_t length = 0;
  if (value < 0) out[length++] = '-';
  std::memcpy(out + length, p, static_cast<size_t>(end - p));
  return length + static_cast<size_t>(end - p);
}

void LogInt(int32_t value) {
  char text[12];
  LogWrite(text, FormatInt(value, text));
}

void SetLogSink(LogSink sink) {
  LogFlush();
  log_sink = sink;
}

void ResetLog() {
  SetLogSink(nullptr);
  stdout_interactive = -1;
  stdout_broken = false;
}
