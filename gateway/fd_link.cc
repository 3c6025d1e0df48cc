#include "gateway/fd_link.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <poll.h>
#include <unistd.h>

#include "wire/write_all.h"

namespace gateway {
namespace {

// For ppoll(2), to the nanosecond (it never wakes early); null: no bound.
timespec* PollTimeout(std::optional<session::Nanos> timeout, timespec* ts) {
  if (!timeout) return nullptr;
  const long long nanos = std::max<long long>(0, timeout->count());
  ts->tv_sec = static_cast<time_t>(nanos / 1'000'000'000);
  ts->tv_nsec = static_cast<long>(nanos % 1'000'000'000);
  return ts;
}

}  // namespace

bool FdLink::WaitForInput(std::optional<session::Nanos> timeout, bool output_waiting) {
  pollfd fds[2] = {{fds_.in, POLLIN, 0}, {fds_.out, POLLOUT, 0}};
  timespec ts{};
  if (ppoll(fds, output_waiting ? 2 : 1, PollTimeout(timeout, &ts), nullptr) <= 0) return false;
  return fds[0].revents != 0;
}

void FdLink::Sleep(session::Nanos timeout) {
  timespec ts{};
  if (timeout > session::Nanos{0}) ppoll(nullptr, 0, PollTimeout(timeout, &ts), nullptr);
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

bool FdLink::WatchAgent(std::string* why) {
  const std::optional<pid_t> agent = AgentWatch::FindAgent(fds_.in, why);
  if (!agent) return false;
  watch_ = AgentWatch::Open(*agent, fds_.out, fds_.in, why);
  return watch_.has_value();
}

bool FdLink::AgentIdle() { return watch_ && watch_->Idle(); }

}  // namespace gateway
