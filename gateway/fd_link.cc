#include "gateway/fd_link.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <poll.h>
#include <unistd.h>

#include "wire/write_all.h"

namespace gateway {
namespace {

// In whole milliseconds, rounded up: waking before a deadline would only loop. -1: no bound.
int PollTimeout(std::optional<session::Nanos> timeout) {
  if (!timeout) return -1;
  const long long nanos = timeout->count();
  return nanos <= 0 ? 0 : static_cast<int>((nanos + 999'999) / 1'000'000);
}

}  // namespace

bool FdLink::WaitForInput(std::optional<session::Nanos> timeout, bool output_waiting) {
  pollfd fds[2] = {{fds_.in, POLLIN, 0}, {fds_.out, POLLOUT, 0}};
  if (poll(fds, output_waiting ? 2 : 1, PollTimeout(timeout)) <= 0) return false;
  return fds[0].revents != 0;
}

void FdLink::Sleep(session::Nanos timeout) {
  const int ms = PollTimeout(timeout);
  if (ms > 0) poll(nullptr, 0, ms);
}

AgentLink::Read FdLink::ReadInput(std::string* bytes) {
  char buffer[4096];
  const ssize_t n = read(fds_.in, buffer, sizeof buffer);
  if (n > 0) {
    bytes->append(buffer, static_cast<size_t>(n));
    return Read::kData;
  }
  if (n == 0) return Read::kEnd;
  if (errno == EINTR || errno == EAGAIN) return Read::kAgain;
  return Read::kFailed;
}

std::optional<size_t> FdLink::WriteSome(std::string_view bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    pollfd fd{fds_.out, POLLOUT, 0};
    const int ready = poll(&fd, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if ((fd.revents & (POLLERR | POLLNVAL)) != 0) return std::nullopt;
    const size_t piece = std::min<size_t>(bytes.size() - written, PIPE_BUF);
    const ssize_t n = write(fds_.out, bytes.data() + written, piece);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return std::nullopt;
    }
    written += static_cast<size_t>(n);
  }
  return written;
}

void FdLink::CloseOutput() { close(fds_.out); }

void FdLink::WriteError(std::string_view text) { wire::WriteAll(fds_.err, text); }

bool FdLink::ErrorIsTerminal() const { return isatty(fds_.err) == 1; }

}  // namespace gateway
