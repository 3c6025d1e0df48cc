// The agent's log: every byte the agent prints goes through one buffer to standard output, or to
// a sink that a test installs. The buffer is flushed when full, before the agent blocks on its
// input (so a person watching sees everything read so far), and at exit.
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
// Hands everything buffered to the sink (standard output by default).
void LogFlush();
// Installs a sink; nullptr restores standard output. Flushes what was buffered first.
void SetLogSink(LogSink sink);

// Formats value in decimal into out (at least 12 bytes); returns the number of characters.
size_t FormatInt(int32_t value, char* out);

#endif  // BUYER_LINK_LOG_H_
