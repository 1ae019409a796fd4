#include "driver/own_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

// A writable argument vector, as main gets it.
class Argv {
 public:
  explicit Argv(std::vector<std::string> args) : texts_(std::move(args)) {
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(texts_.size()); }
  char** argv() { return pointers_.data(); }
  std::vector<std::string> now() const {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i + 1 < pointers_.size(); ++i) texts.emplace_back(pointers_[i]);
    return texts;
  }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

using V = std::vector<std::string>;

V Blanked(V args) {
  Argv argv(std::move(args));
  BlankPasswords(argv.argc(), argv.argv());
  return argv.now();
}

TEST(BlankPasswords, EveryFormTheScannerTakes) {
  EXPECT_EQ(Blanked({"t", "-I", "-P", "secret", "-S", "h"}),
            (V{"t", "-I", "-P", "xxxxxx", "-S", "h"}));
  EXPECT_EQ(Blanked({"t", "-Psecret", "-I"}), (V{"t", "-Pxxxxxx", "-I"}));
  EXPECT_EQ(Blanked({"t", "-lIP", "secret"}), (V{"t", "-lIP", "xxxxxx"}));
  EXPECT_EQ(Blanked({"t", "/IPsecret"}), (V{"t", "/IPxxxxxx"}));
  // Given twice, both copies go.
  EXPECT_EQ(Blanked({"t", "-P", "one", "-P", "two"}), (V{"t", "-P", "xxx", "-P", "xxx"}));
  // Arguments that are no password to the driver stay as they are.
  EXPECT_EQ(Blanked({"t", "-D", "-P", "secret"}), (V{"t", "-D", "-P", "secret"}));
  EXPECT_EQ(Blanked({"t", "-U", "-P", "-I"}), (V{"t", "-U", "-P", "-I"}));
  EXPECT_EQ(Blanked({"t", "-P", "-P", "-I"}), (V{"t", "-P", "xx", "-I"}));
  EXPECT_EQ(Blanked({"t", "-I", "file", "-P", "secret"}), (V{"t", "-I", "file", "-P", "secret"}));
  EXPECT_EQ(Blanked({"t", "-P", ""}), (V{"t", "-P", ""}));
  EXPECT_EQ(Blanked({"t", "-P"}), (V{"t", "-P"}));
}

TEST(OwnArguments, TheRunReadsTheCopyTakenBeforeTheBlanking) {
  Argv argv({"tavrin", "-IPsecret", "-U", "u"});
  const OwnArguments own(argv.argc(), argv.argv());
  EXPECT_EQ(argv.now(), (V{"tavrin", "-IPxxxxxx", "-U", "u"}));
  ASSERT_EQ(own.argc(), 4);
  EXPECT_EQ(V(own.argv(), own.argv() + own.argc()), (V{"tavrin", "-IPsecret", "-U", "u"}));
  EXPECT_EQ(own.argv()[4], nullptr);
}

}  // namespace
}  // namespace tavrin
