#pragma once
// Seeded pseudo-random numbers with our own range reduction (splitmix64), so
// that one seed gives byte-identical batches with every compiler and standard
// library; the standard distributions do not promise that.

#include <cstdint>

namespace batchgen {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  /// A number in [low, high]. The modulo bias is far below what matters here.
  std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
    return low + Next() % (high - low + 1);
  }

  /// True with a chance of `per_mille` in a thousand.
  bool Chance(unsigned per_mille) { return Next() % 1000 < per_mille; }

 private:
  std::uint64_t state_;
};

}  // namespace batchgen
