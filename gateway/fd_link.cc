#include "gateway/fd_link.h"

#include <cerrno>

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

bool FdLink::WaitForInput(std::optional<session::Nanos> timeout) {
  pollfd fd{fds_.in, POLLIN, 0};
  return poll(&fd, 1, PollTimeout(timeout)) > 0;
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

bool FdLink::Write(std::string_view bytes) { return wire::WriteAll(fds_.out, bytes); }

void FdLink::CloseOutput() { close(fds_.out); }

void FdLink::WriteError(std::string_view text) { wire::WriteAll(fds_.err, text); }

bool FdLink::ErrorIsTerminal() const { return isatty(fds_.err) == 1; }

}  // namespace gateway
