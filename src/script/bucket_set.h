#pragma once
// A set of bucket numbers with a fast "next member at or after i": a bitmap
// with a summary word per 64 words, so even a million-bucket table is walked
// in steps proportional to the buckets in use.

#include <bit>
#include <cstdint>
#include <vector>

namespace tavrin {

class BucketSet {
 public:
  static constexpr std::int32_t kNone = -1;

  explicit BucketSet(std::int32_t size)
      : words_((static_cast<std::size_t>(size) + 63) / 64),
        summary_((words_.size() + 63) / 64) {}

  void Insert(std::int32_t i) {
    std::size_t w = static_cast<std::size_t>(i) / 64;
    words_[w] |= Bit(i);
    summary_[w / 64] |= Bit(static_cast<std::int32_t>(w));
  }

  void Remove(std::int32_t i) {
    std::size_t w = static_cast<std::size_t>(i) / 64;
    words_[w] &= ~Bit(i);
    if (words_[w] == 0) summary_[w / 64] &= ~Bit(static_cast<std::int32_t>(w));
  }

  /// The smallest member >= i, or kNone.
  std::int32_t Next(std::int32_t i) const {
    if (i < 0) i = 0;
    std::size_t w = static_cast<std::size_t>(i) / 64;
    if (w >= words_.size()) return kNone;
    std::uint64_t here = words_[w] & (~std::uint64_t{0} << (i % 64));
    if (here) return Member(w, here);
    // Find the next non-empty word through the summary.
    std::size_t next_word = w + 1;
    for (std::size_t s = next_word / 64; s < summary_.size(); ++s) {
      std::uint64_t bits = summary_[s];
      if (s == next_word / 64) bits &= next_word % 64 == 0 ? ~std::uint64_t{0}
                                                            : (~std::uint64_t{0} << (next_word % 64));
      if (bits) {
        std::size_t found = s * 64 + static_cast<std::size_t>(std::countr_zero(bits));
        return Member(found, words_[found]);
      }
    }
    return kNone;
  }

 private:
  static std::uint64_t Bit(std::int32_t i) { return std::uint64_t{1} << (i % 64); }
  static std::int32_t Member(std::size_t word, std::uint64_t bits) {
    return static_cast<std::int32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
  }

  std::vector<std::uint64_t> words_;
  std::vector<std::uint64_t> summary_;
};

}  // namespace tavrin
