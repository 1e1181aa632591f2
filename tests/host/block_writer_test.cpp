#include "format/block_writer.h"

#include <gtest/gtest.h>
#include <string.h>

#include "support.h"

using namespace blockfmt;
using hosttest::FakeStub;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(EncodeBlock, RefusesWhatTheReaderWouldOverflowCutOrMisread) {
  using S = std::string;
  Block limits;  // every text at the reader's limit
  limits.messages = {S(65535, 'm')};
  limits.files = {{S(500, 'f'), S(18, 'n'), 0}};
  limits.folders = {{0, S(300, 'a'), S(300, 'b'), S(177, 'c')}};
  limits.registry = {{ROOT_HKCU, S(519, 'k')}};
  limits.patterns = {"*.x"};
  Bytes out;
  std::string error;
  ASSERT_TRUE(EncodeBlock(limits, &out, &error)) << error;
  const struct {
    void (*change)(Block &);
    const char *error;
  } cases[] = {
      {[](Block &b) { b.files[0].name += 'n'; }, "files[0] folder + name: 519 bytes, at most 518 "},
      {[](Block &b) { b.files[0].name += '\0'; }, "files[0].name: contains a NUL byte"},
      {[](Block &b) { b.folders[0].name += 'c'; }, "folders[0] folder + secondFolder + name: 778"},
      {[](Block &b) { b.messages[0] += 'm'; }, "messages[0]: 65536 bytes, at most 65535"},
      {[](Block &b) { b.messages.resize(65536); }, "messages: 65536 texts, at most 65535"},
      // An empty pattern would end the list and hide "b".
      {[](Block &b) { b.patterns.push_back(""), b.patterns.push_back("b"); },
       "patterns[1]: empty pattern"},
      {[](Block &b) { b.patterns[0] += '\0'; }, "patterns[0]: contains a NUL byte"},
      {[](Block &b) { b.options.preRemoval.assign(kMarker, kMarker + 6); },
       "block: its texts contain the locator marker bytes"},
  };
  for (const auto &c : cases) {
    Block b = limits;
    c.change(b);
    out = {7};
    EXPECT_FALSE(EncodeBlock(b, &out, &error)) << c.error;
    EXPECT_EQ(error.find(c.error), 0u) << error;
    EXPECT_EQ(out, Bytes{7}) << c.error;
  }
}

TEST(AppendBlockToStub, RefusesBadStubsAndWritesNothing) {
  const struct {
    void (*change)(Bytes &);
    const char *error;
  } cases[] = {
      {[](Bytes &s) { s[0] = 'X'; }, "stub is not a PE program (no MZ/PE signature)"},
      // A PE header offset past the end.
      {[](Bytes &s) { s[0x3C] = 0xF0, s[0x3D] = 0xFF; }, "stub is not a PE program"},
      {[](Bytes &s) { memset(&s[0x100], 0, 6); }, "locator marker not found"},
      {[](Bytes &s) { memcpy(&s[506], &s[0x100], 6), memset(&s[0x100], 0, 6); },
       "locator marker too close to the end of the file"},
      // Cutting at an offset before the locator would cut the locator itself.
      {[](Bytes &s) { s[0x106] = 0x80, s[0x107] = 0x00; },
       "stub's locator offset 128 points inside the program, not at a block"},
  };
  for (const auto &c : cases) {
    Bytes stub = FakeStub(), out{7};
    std::string error;
    c.change(stub);
    EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error)) << c.error;
    EXPECT_EQ(error.find(c.error), 0u) << error;
    EXPECT_EQ(out, Bytes{7}) << c.error;
  }
}

}  // namespace
