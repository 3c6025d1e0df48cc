// A small seeded random generator of the market's own, so that a session's outcome depends only on
// the scenario and the seed, never on the standard library's distributions.
#ifndef ENGINE_RNG_H_
#define ENGINE_RNG_H_

#include <cstdint>
#include <initializer_list>

namespace market {

// One step of the splitmix64 sequence: advances *state and returns the next output.
inline uint64_t SplitMix64(uint64_t* state) {
  uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// A seed derived from a base seed and a path of small numbers (auction, good, rival, ...). Equal
// inputs give equal seeds; any change in one part gives an unrelated seed. The market draws each
// decision from its own derived seed, so one decision never shifts the draws of another.
inline uint64_t DeriveSeed(uint64_t seed, std::initializer_list<uint64_t> path) {
  uint64_t state = seed;
  uint64_t mixed = SplitMix64(&state);
  for (uint64_t part : path) {
    state = mixed ^ (part * 0xd1342543de82ef95ULL);
    mixed = SplitMix64(&state);
  }
  return mixed;
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t Next() { return SplitMix64(&state_); }

  // Uniform in [0, n); n must be at least 1. Rejection sampling: no modulo bias.
  uint64_t Below(uint64_t n) {
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;  // multiples of n fit below this
    uint64_t x = Next();
    while (x >= limit) x = Next();
    return x % n;
  }

  // Uniform in [low, high]; low <= high, and high - low below 2^63.
  int64_t Between(int64_t low, int64_t high) {
    const uint64_t span = static_cast<uint64_t>(high - low) + 1;
    return low + static_cast<int64_t>(Below(span));
  }

 private:
  uint64_t state_;
};

}  // namespace market

#endif  // ENGINE_RNG_H_
