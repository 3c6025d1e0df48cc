#include "wire/transcript.h"

#include "wire/escape.h"
#include "wire/private_file.h"

namespace wire {

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const std::string& path) {
  file_ = OpenPrivate(path);
  return file_ != nullptr;
}

void Transcript::Write(Nanos at, char direction, std::string_view text) {
  if (file_ == nullptr) return;
  const long long micros = at.count() / 1000;
  if (std::fprintf(file_, "%lld.%06lld %c %s\n", micros / 1'000'000, micros % 1'000'000, direction,
                   Printable(text).c_str()) < 0) {
    failed_ = true;
  }
  // Events are rare and tell how a session ended: out at once. Traffic waits for Flush.
  if (direction == '!') Flush();
}

void Transcript::Flush() {
  if (file_ != nullptr && std::fflush(file_) != 0) failed_ = true;
}

bool Transcript::Close() {
  if (file_ == nullptr) return !failed_;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

}  // namespace wire
