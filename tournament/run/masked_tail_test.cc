#include "tournament/run/masked_tail.h"

#include <gtest/gtest.h>

#include <random>

#include "tournament/file/tournament_file.h"

namespace tournament {
namespace {

std::string Feed(MaskedTail tail, std::string_view stream, size_t chunk) {
  for (size_t at = 0; at < stream.size(); at += chunk) tail.Append(stream.substr(at, chunk));
  return tail.Text();
}

// The cut falls inside the password: nothing of it is kept, however the stream arrives.
TEST(MaskedTail, ACutInsideThePasswordKeepsNoPartOfIt) {
  const std::string stream = "login Zq9SecretPw\n" + std::string(2040, 'x');
  for (const size_t chunk : {size_t{1}, size_t{3}, size_t{7}, size_t{4096}}) {
    const std::string kept = Feed(MaskedTail("Zq9SecretPw", 2048), stream, chunk);
    EXPECT_EQ(kept, ("login ***\n" + std::string(2040, 'x')).substr(2));
    for (size_t n = 3; n <= 11; ++n) {
      EXPECT_EQ(kept.find(std::string("Zq9SecretPw").substr(11 - n)), std::string::npos)
          << chunk << " " << n;
    }
  }
}

// Any stream, any password, any chunks: the tail is the masked whole stream's last bytes.
TEST(MaskedTail, EqualsMaskingTheWholeStreamThenCutting) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string password(1 + rng() % 5, 'a');
    for (char& c : password) c = static_cast<char>('a' + rng() % 2);
    std::string stream(rng() % 60, 'a');
    for (char& c : stream) c = static_cast<char>('a' + rng() % 3);
    const size_t keep = 1 + rng() % 20;
    MaskedTail tail(password, keep);
    for (size_t at = 0; at < stream.size();) {
      const size_t n = 1 + rng() % 8;
      tail.Append(std::string_view(stream).substr(at, n));
      at += n;
    }
    std::string whole = MaskPassword(stream, password);
    if (whole.size() > keep) whole.erase(0, whole.size() - keep);
    ASSERT_EQ(tail.Text(), whole) << password << " in " << stream << " keep " << keep;
  }
  EXPECT_EQ(Feed(MaskedTail("", 4), "abcdef", 2), "cdef");
}

}  // namespace
}  // namespace tournament
