// The end of a stream that may hold a secret (an agent's standard error, which may print its
// password): each whole occurrence of the secret is replaced by "***" as the stream arrives, and
// only then is the stream cut to its last bytes, so no cut can keep a part of the secret.
#ifndef TOURNAMENT_MASKED_TAIL_H_
#define TOURNAMENT_MASKED_TAIL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tournament {

class MaskedTail {
 public:
  // Keeps the last `keep` bytes of the masked stream; an empty secret masks nothing.
  MaskedTail(std::string secret, size_t keep);

  void Append(std::string_view data);

  // The last `keep` bytes of the stream so far, masked as if it ended here: the same as masking
  // the whole stream (MaskPassword) and then cutting it.
  std::string Text() const;

 private:
  void Keep(std::string_view masked);

  std::string secret_;
  size_t keep_;
  std::string tail_;     // masked, at most keep_ bytes
  std::string pending_;  // fewer bytes than the secret, which may be the start of one
};

}  // namespace tournament

#endif  // TOURNAMENT_MASKED_TAIL_H_
