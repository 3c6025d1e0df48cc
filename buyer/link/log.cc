#include "buyer/link/log.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

constexpr size_t kLogBufferSize = 64 * 1024;

char log_buffer[kLogBufferSize];
size_t log_used = 0;
LogSink log_sink = nullptr;
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
  // Work on the magnitude as unsigned so that INT32_MIN needs no special case.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[10];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t len = 0;
  if (value < 0) out[len++] = '-';
  while (n > 0) out[len++] = digits[--n];
  return len;
}

void LogInt(int32_t value) {
  char text[12];
  LogWrite(text, FormatInt(value, text));
}

void SetLogSink(LogSink sink) {
  LogFlush();
  log_sink = sink;
}
