// The throughput baseline: a program started like the agent that does only the agent's I/O. It
// starts RemoteControl on two pipes, logs in, reads the gateway's output in 4096-byte reads,
// sends "bid\n" once the input has passed each recorded bid offset, and writes a captured copy of
// the agent's log to standard output: after each read its output is brought level with its input
// (the same fraction of the capture as of the stream), written before the next read as the agent
// flushes its log before each blocking read, in pieces of at most 64 KiB. At end of input it
// writes the rest, closes the command pipe and waits for the gateway.
//
//   io_baseline STREAM CAPTURE BIDS
//
// Exit status 0 when the gateway exited 0.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_support.h"

namespace {

constexpr size_t kLogPiece = 64 * 1024;

uint64_t FileSize(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    std::fprintf(stderr, "io_baseline: cannot stat %s\n", path);
    std::exit(90);
  }
  return static_cast<uint64_t>(info.st_size);
}

// Copies capture bytes to standard output up to a target offset, in pieces of at most kLogPiece.
class CaptureWriter {
 public:
  explicit CaptureWriter(const char* path) : fd_(open(path, O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) {
      std::fprintf(stderr, "io_baseline: cannot open %s\n", path);
      std::exit(90);
    }
  }
  void WriteUpTo(uint64_t target) {
    while (done_ < target) {
      size_t piece = static_cast<size_t>(std::min<uint64_t>(kLogPiece, target - done_));
      ssize_t n = pread(fd_, buffer_, piece, static_cast<off_t>(done_));
      if (n <= 0) std::exit(92);
      // A reader that went away drops the log, as the agent does.
      if (!broken_ && !bench::WriteAll(1, buffer_, static_cast<size_t>(n))) broken_ = true;
      done_ += static_cast<uint64_t>(n);
    }
  }

 private:
  int fd_;
  uint64_t done_ = 0;
  bool broken_ = false;
  char buffer_[kLogPiece];
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: io_baseline STREAM CAPTURE BIDS\n");
    return 2;
  }
  const uint64_t stream_size = FileSize(argv[1]);
  const uint64_t capture_size = FileSize(argv[2]);
  std::string bid_text;
  if (!bench::ReadWholeFile(argv[3], &bid_text)) return 90;
  std::vector<uint64_t> bids;
  for (const char* p = bid_text.c_str(); *p != '\0';) {
    char* end = nullptr;
    uint64_t offset = std::strtoull(p, &end, 10);
    if (end == p) break;
    bids.push_back(offset);
    for (p = end; *p == '\n';) ++p;
  }
  static CaptureWriter log(argv[2]);

  int commands = -1;
  int panel = -1;
  pid_t gateway = bench::StartGateway(&commands, &panel);
  if (gateway < 0) return 1;
  static const char login[] = "admission CLogin TGatekeep\n";
  bool gateway_reads = bench::WriteAll(commands, login, sizeof login - 1);
  char input[4096];
  uint64_t consumed = 0;
  uint64_t target = 0;
  size_t next_bid = 0;
  for (;;) {
    log.WriteUpTo(target);
    ssize_t n = read(panel, input, sizeof input);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    consumed += static_cast<uint64_t>(n);
    while (gateway_reads && next_bid < bids.size() && bids[next_bid] <= consumed) {
      gateway_reads = bench::WriteAll(commands, "bid\n", 4);
      ++next_bid;
    }
    // long double holds 64-bit integers exactly, so the product cannot overflow.
    target = stream_size == 0 ? capture_size
                              : static_cast<uint64_t>(static_cast<long double>(capture_size) *
                                                      static_cast<long double>(consumed) /
                                                      static_cast<long double>(stream_size));
    if (target > capture_size) target = capture_size;
  }
  log.WriteUpTo(capture_size);
  close(commands);
  int status = bench::WaitChild(gateway);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
