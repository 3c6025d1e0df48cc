// The throughput floor: a program started like the agent that does only the agent's I/O, as
// cheaply as it can be done. Before it starts the gateway it loads the agent's captured log into
// memory. It starts RemoteControl on two pipes, logs in, reads the gateway's output in 4096-byte
// reads, sends "bid\n" once the input has passed each recorded bid offset, and after each read
// brings its standard output level with its input (the same fraction of the capture as of the
// stream), in writes of exactly PIECE bytes straight from memory; the remainder below one piece
// waits for the next read. At end of input it writes the rest, closes the command pipe and waits
// for the gateway. bench/run.sh runs it with several piece sizes and keeps the fastest.
//
//   io_baseline STREAM CAPTURE BIDS [PIECE]     (PIECE: bytes per write, default 4096)
//
// Exit status 0 when the gateway exited 0.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_support.h"

namespace {

uint64_t FileSize(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    std::fprintf(stderr, "io_baseline: cannot stat %s\n", path);
    std::exit(90);
  }
  return static_cast<uint64_t>(info.st_size);
}

// Writes a capture held in memory to standard output in pieces of one fixed size.
class CaptureWriter {
 public:
  CaptureWriter(std::string capture, size_t piece) : capture_(std::move(capture)), piece_(piece) {}

  // Writes whole pieces while they end at or before target.
  void WritePiecesUpTo(uint64_t target) {
    while (done_ + piece_ <= target) Write(piece_);
  }
  // Writes everything left.
  void WriteRest() {
    while (done_ < capture_.size()) Write(std::min(piece_, capture_.size() - done_));
  }
  uint64_t size() const { return capture_.size(); }

 private:
  void Write(size_t size) {
    // A reader that went away drops the log, as the agent does.
    if (!broken_ && !bench::WriteAll(1, capture_.data() + done_, size)) broken_ = true;
    done_ += size;
  }

  std::string capture_;
  size_t piece_;
  size_t done_ = 0;
  bool broken_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: io_baseline STREAM CAPTURE BIDS [PIECE]\n");
    return 2;
  }
  const uint64_t stream_size = FileSize(argv[1]);
  std::string capture;
  if (!bench::ReadWholeFile(argv[2], &capture)) return 90;
  long long piece = argc == 5 ? std::atoll(argv[4]) : 4096;
  if (piece < 1 || piece > (1 << 24)) {
    std::fprintf(stderr, "io_baseline: PIECE must be 1 to 16777216 bytes\n");
    return 2;
  }
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
  CaptureWriter log(std::move(capture), static_cast<size_t>(piece));
  const uint64_t capture_size = log.size();

  int commands = -1;
  int panel = -1;
  pid_t gateway = bench::StartGateway(&commands, &panel);
  if (gateway < 0) return 1;
  static const char login[] = "admission CLogin TGatekeep\n";
  bool gateway_reads = bench::WriteAll(commands, login, sizeof login - 1);
  char input[4096];
  uint64_t consumed = 0;
  size_t next_bid = 0;
  for (;;) {
    ssize_t n = read(panel, input, sizeof input);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    consumed += static_cast<uint64_t>(n);
    while (gateway_reads && next_bid < bids.size() && bids[next_bid] <= consumed) {
      gateway_reads = bench::WriteAll(commands, "bid\n", 4);
      ++next_bid;
    }
    // long double holds 64-bit integers exactly, so the product cannot overflow.
    uint64_t target = stream_size == 0
                          ? capture_size
                          : static_cast<uint64_t>(static_cast<long double>(capture_size) *
                                                  static_cast<long double>(consumed) /
                                                  static_cast<long double>(stream_size));
    log.WritePiecesUpTo(target);
  }
  log.WriteRest();
  close(commands);
  int status = bench::WaitChild(gateway);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
