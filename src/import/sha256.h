#pragma once
// SHA-256 (FIPS 180-4), fed in pieces: the import journal knows a script by
// the hash of its bytes, and a script of any size is hashed as it streams by.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/env.h"

namespace tavrin {

class Sha256 {
 public:
  Sha256();

  /// Adds the next bytes of the message.
  void Update(std::string_view bytes);

  /// The digest of everything added, as 64 lowercase hex digits. Ends the
  /// message: call it once.
  std::string HexDigest();

 private:
  void Compress(const unsigned char* block);

  std::array<std::uint32_t, 8> state_;
  std::array<unsigned char, 64> block_{};
  std::size_t filled_ = 0;    // bytes waiting in block_
  std::uint64_t length_ = 0;  // bytes added in all
};

/// Stores in `*hex` the SHA-256 of the file at `path`, read through `env` a
/// piece at a time. False when the file cannot be opened or read.
bool HashFile(Env& env, const std::string& path, std::string* hex);

}  // namespace tavrin
