// Small helpers shared by the benchmark programs: clock, whole-file and whole-buffer I/O, result
// lines, and starting a gateway child the way the agent starts its own.
#ifndef BENCH_BENCH_SUPPORT_H_
#define BENCH_BENCH_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

namespace bench {

// Monotonic clock in nanoseconds.
int64_t NowNs();

// The environment variable's value, or fallback when it is unset or empty.
std::string Env(const char* name, const char* fallback = "");
// The environment variable as an integer, or fallback when it is unset, empty or not a number.
int64_t EnvInt(const char* name, int64_t fallback);

// Writes all bytes, retrying on EINTR and short writes; false on error.
bool WriteAll(int fd, const char* data, size_t size);

// Reads a whole file into *data; false (with a message on standard error) on failure.
bool ReadWholeFile(const std::string& path, std::string* data);
// Replaces a file's contents; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& data);
// Appends one line (a newline is added) to a file; false on failure.
bool AppendLine(const std::string& path, const std::string& line);

// Peak resident set (VmHWM) of a live process in KiB, or -1 when it cannot be read.
int64_t PeakResidentKb(pid_t pid);

// Starts "RemoteControl" from PATH with the same argument vector the agent uses, its standard
// input and output joined to two new pipes. *to_gateway receives the write end of its input,
// *from_gateway the read end of its output. Ignores SIGPIPE in the caller. Returns the child's
// pid, or -1 on failure.
pid_t StartGateway(int* to_gateway, int* from_gateway);
// Waits for a child; returns its wait status, or -1.
int WaitChild(pid_t pid);

}  // namespace bench

#endif  // BENCH_BENCH_SUPPORT_H_
