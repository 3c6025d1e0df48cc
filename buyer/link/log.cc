#include "buyer/link/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <unistd.h>

namespace {

constexpr size_t kLogBufferSize = 64 * 1024;
// A write as large as a pipe's capacity (64 KiB) returns only once the reader has drained the
// whole pipe, and agent and reader take turns; smaller pieces let them overlap.
constexpr size_t kLogPiece = LOG_PIECE_SIZE;
static_assert(kLogBufferSize % kLogPiece == 0 && kLogBufferSize - kLogPiece >= LOG_RESERVE_MAX);

char log_buffer[kLogBufferSize];
// log_buffer[0, log_written) has been handed out; [log_written, log_used) waits. Between calls
// fewer than kLogPiece bytes wait, unless the buffer is held for a reservation.
size_t log_used = 0;
size_t log_written = 0;
// Whether a reservation is being filled, its size, and its own buffer when it was larger than
// LOG_RESERVE_MAX.
bool log_reserving = false;
size_t log_reserved = 0;
std::unique_ptr<char[]> log_oversized;
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

// Hands out every whole piece that waits, one write each.
void WritePieces() {
  while (log_used - log_written >= kLogPiece) {
    WriteAll(log_buffer + log_written, kLogPiece);
    log_written += kLogPiece;
  }
}

// Called after bytes were appended.
inline void Appended() {
  if (log_used - log_written >= kLogPiece) WritePieces();
}

// Moves the bytes that wait (less than one piece) to the start of the buffer, so the free room
// is at least kLogBufferSize - kLogPiece and writes stay whole pieces.
void MakeRoom() {
  WritePieces();
  size_t waiting = log_used - log_written;
  std::memmove(log_buffer, log_buffer + log_written, waiting);
  log_used = waiting;
  log_written = 0;
}

// A caller broke the reservation contract; bytes may already lie beyond what was reserved, so
// nothing more is written.
[[noreturn]] void ContractFailed(const char* what) {
  std::fprintf(stderr, "buyer: log: %s\n", what);
  std::abort();
}

}  // namespace

void LogFlush() {
  if (log_used > log_written) WriteAll(log_buffer + log_written, log_used - log_written);
  log_used = 0;
  log_written = 0;
}

void LogFlushIfInteractive() {
  if (stdout_interactive < 0) stdout_interactive = isatty(STDOUT_FILENO) ? 1 : 0;
  if (stdout_interactive == 1 && log_sink == nullptr) LogFlush();
}

char* LogReserve(size_t size) {
  if (log_reserving) ContractFailed("a reservation made before the last one was committed");
  log_reserving = true;
  log_reserved = size;
  if (size > LOG_RESERVE_MAX) {
    // Beyond the contract, so possibly beyond the buffer: the bytes go through a buffer of their
    // own and reach the log, in order, when committed.
    log_oversized.reset(new char[size]);
    return log_oversized.get();
  }
  if (size > kLogBufferSize - log_used) MakeRoom();
  return log_buffer + log_used;
}

void LogCommit(size_t used) {
  if (!log_reserving || used > log_reserved) {
    ContractFailed("a commit of more bytes than were reserved");
  }
  log_reserving = false;
  if (log_oversized) {
    std::unique_ptr<char[]> oversized = std::move(log_oversized);
    LogWrite(oversized.get(), used);
    return;
  }
  log_used += used;
  Appended();
}

void LogWrite(const char* data, size_t size) {
  if (size <= kLogBufferSize - log_used) {
    std::memcpy(log_buffer + log_used, data, size);
    log_used += size;
    Appended();
    return;
  }
  // Larger than the room left: through the buffer in parts, so writes stay whole pieces.
  while (size > 0) {
    if (log_used == kLogBufferSize) MakeRoom();
    size_t part = std::min(size, kLogBufferSize - log_used);
    std::memcpy(log_buffer + log_used, data, part);
    log_used += part;
    data += part;
    size -= part;
    Appended();
  }
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
