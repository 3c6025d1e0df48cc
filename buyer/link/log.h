// The agent's log: every byte the agent prints goes through one buffer to standard output, or to
// a sink that a test installs. Bytes are handed out in writes of exactly LOG_PIECE_SIZE bytes as
// soon as that many wait, and the rest (less than one piece) at exit; when standard output is a
// terminal, also before the agent blocks on its input, so a person watching sees everything read
// so far. Into a pipe or a file the log is not flushed between reads: that would put a write
// system call between every bid and the agent's next read of the market.
#ifndef BUYER_LINK_LOG_H_
#define BUYER_LINK_LOG_H_

#include <cstddef>
#include <cstdint>

// Receives flushed log bytes instead of standard output.
using LogSink = void (*)(const char* data, size_t size);

// Appends bytes to the log.
void LogWrite(const char* data, size_t size);
// Appends a zero-terminated text.
void LogText(const char* text);
// Appends a signed 32-bit integer in decimal, as "%d" prints it.
void LogInt(int32_t value);
// Hands everything buffered to the sink (standard output by default) at once.
void LogFlush();
// Called before a read that may block: flushes when standard output is a terminal.
void LogFlushIfInteractive();

// Bytes per write to standard output: half a pipe's 64 KiB capacity, so the reader drains one
// piece while the agent fills the next instead of the two taking turns, with few system calls.
constexpr size_t LOG_PIECE_SIZE = 32 * 1024;
// Bytes that may be reserved at once.
constexpr size_t LOG_RESERVE_MAX = 4096 + 64;
// Room for at least size bytes at the end of the log buffer. Write into it, then LogCommit the
// bytes actually used; nothing else may log between. A size above LOG_RESERVE_MAX is served from
// a buffer of its own (slower, same bytes). Reserving again before committing, or committing
// more than was reserved, ends the process with a one-line message on standard error.
char* LogReserve(size_t size);
void LogCommit(size_t used);
// Installs a sink; nullptr restores standard output. Flushes what was buffered first.
void SetLogSink(LogSink sink);
// Returns the log to its state at process start (for tests): flushes what was buffered, restores
// standard output as the sink and forgets whether it is a terminal and whether it refused bytes.
void ResetLog();

// Formats value in decimal, as "%d" does, into out (at least 11 bytes); returns the number of
// characters.
size_t FormatInt(int32_t value, char* out);

#endif  // BUYER_LINK_LOG_H_
