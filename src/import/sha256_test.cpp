#include "import/sha256.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace tavrin {
namespace {

std::string Digest(std::string_view message, std::size_t piece) {
  Sha256 hash;
  for (std::size_t at = 0; at < message.size(); at += piece) hash.Update(message.substr(at, piece));
  return hash.HexDigest();
}

TEST(Sha256, StandardVectorsWholeAndInPiecesOfEverySize) {
  const std::string million(1000000, 'a');
  const std::vector<std::pair<std::string_view, std::string>> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [message, digest] : vectors) {
    SCOPED_TRACE(message.substr(0, 16));
    // Pieces that end inside a block, on its edge and across several blocks.
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{65},
                              std::size_t{4096}, std::size_t{1} << 20}) {
      if (piece == 1 && message.size() > 1000) continue;
      EXPECT_EQ(Digest(message, piece), digest) << "pieces of " << piece;
    }
  }
}

TEST(Sha256, FilesAreHashedAsTheyStreamAndMissingOnesFail) {
  test::TempDir dir;
  // Larger than one read, so that the hash spans reads.
  std::string bytes;
  for (int i = 0; bytes.size() < 200000; ++i) bytes += "line " + std::to_string(i) + "\r\n";
  test::WriteFile(dir.path() / "script.tvr", bytes);
  std::string hex;
  ASSERT_TRUE(HashFile(*Env::Default(), (dir.path() / "script.tvr").string(), &hex));
  EXPECT_EQ(hex, Digest(bytes, bytes.size()));
  EXPECT_FALSE(HashFile(*Env::Default(), (dir.path() / "missing.tvr").string(), &hex));
}

}  // namespace
}  // namespace tavrin
