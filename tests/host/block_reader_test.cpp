// The tool's block reader (behind dump and check): records merged as the stub merges them,
// damage found with its reason. The damaged blocks of the shared table come first; then
// TALLOWIN_FUZZ_CASES mutated blocks (a short run by default). Built with AddressSanitizer
// and UBSan by `make fuzz`, any read outside the image aborts the run.
#include "block_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>

#include "damaged_blocks.h"
#include "format/block_writer.h"
#include "fuzz_mutator.h"

using namespace blockfmt;
using tallowin::ReadBlockResult;
using Bytes = std::vector<uint8_t>;

namespace {

// The reader over a copy of exactly the block's bytes (so ASan sees any overrun) at
// offset 16 behind filler, as a stub image would hold it.
bool Read(const Bytes &block, ReadBlockResult *r, std::string *error) {
  std::unique_ptr<uint8_t[]> image(new uint8_t[16 + block.size()]);
  std::fill(image.get(), image.get() + 16, 0xCC);
  std::copy(block.begin(), block.end(), image.get() + 16);
  error->clear();
  return tallowin::ReadBlockAt(image.get(), 16 + block.size(), 16, r, error);
}

TEST(ReadBlock, MergesRecordsAsTheStubDoes) {
  RecordWriter w;
  w.Record(TAG_MESSAGES, EncodeMessages({"old"}));
  w.Record(TAG_FILES, EncodeFiles({{".", "a", 0}, {".", "b", 0}, {".", "c", 0}}));
  w.Record(0x4242, {9});
  // The not-loadable flag means nothing on a list record.
  w.Record(TAG_FILES, EncodeFiles({{".", "d", FE_FONT}, {".", "e", 0}}), RF_NOT_LOADABLE);
  w.Record(TAG_MESSAGES, {});            // size 0: never dispatched
  w.Record(TAG_MESSAGES, {1, 0, 0, 0});  // no strings: the old table stays
  w.Record(TAG_PATTERNS, EncodePatterns({"p1", "p2"}));
  w.Record(TAG_PATTERNS, EncodePatterns({"p3"}));
  w.Record(TAG_OPTIONS, EncodeOptions({OPT_WAIT, "", ""}));
  w.Record(TAG_OPTIONS, {});  // size 0 leaves the first in force
  w.Record(TAG_MESSAGES, {2, 0, 2, 0, 3, 0, 'n', 'e', 'w', 1, 0, 't', 0xEE});  // one table read
  w.Record(TAG_REGISTRY, {0, 0, 0, 0});  // count 0 adds nothing
  // Its body is skipped, even one that runs past the file's end, and it ends the block.
  w.RawRecord(TAG_END, 0, 1000, {1, 2});
  w.Record(TAG_FILES, EncodeFiles({{".", "after the end", 0}}));
  ReadBlockResult r;
  std::string error;
  ASSERT_TRUE(Read(w.bytes(), &r, &error)) << error;
  ASSERT_EQ(r.block.files.size(), 5u);
  EXPECT_EQ(r.block.files[3].name, "d");
  EXPECT_EQ(r.block.files[3].flags, FE_FONT);
  EXPECT_EQ(r.block.messages, (std::vector<std::string>{"new", "t"}));
  EXPECT_EQ(r.block.patterns, (std::vector<std::string>{"p1", "p2", "p3"}));
  EXPECT_TRUE(r.block.hasOptions);
  EXPECT_EQ(r.block.options.flags, OPT_WAIT);
  EXPECT_TRUE(r.block.registry.empty());
  EXPECT_EQ(r.notes.size(), 5u) << ::testing::PrintToString(r.notes);

  // A block written without options has no options record, nor records for empty lists.
  Block none;
  none.hasOptions = false;
  Bytes empty;
  ASSERT_TRUE(EncodeBlock(none, &empty, &error));
  EXPECT_EQ(empty.size(), kHeaderSize);
  ASSERT_TRUE(Read(empty, &r, &error));
  EXPECT_FALSE(r.block.hasOptions);
}

TEST(ReadBlock, PatternListsMergeLikeTheStub) {
  // The program ends a list that lacks its closing empty text, or the last text's NUL,
  // with its spare NUL bytes: those lists read, with a note. A list whose last text is
  // unterminated takes no further pattern records.
  const struct {
    std::vector<Bytes> bodies;
    std::vector<std::string> patterns;
    size_t notes;
  } cases[] = {
      {{{'a', 0, 0, 'h', 0, 0}, {'b', 0, 0}}, {"a"}, 1},  // text after the end stays hidden
      {{{'a', 0}}, {"a"}, 1},
      {{{'a', 0, 'b', 'c'}}, {"a", "bc"}, 1},
      {{{'a', 0}, {'b', 0, 0}}, {"ab"}, 0},  // the next body takes the place of the last NUL
      {{{'a'}, {'b', 0, 0}}, {"a"}, 2},
  };
  for (const auto &c : cases) {
    RecordWriter w;
    for (const Bytes &body : c.bodies) w.Record(TAG_PATTERNS, body);
    w.Record(TAG_OPTIONS, Bytes(12, 0));
    w.End();
    ReadBlockResult r;
    std::string error;
    ASSERT_TRUE(Read(w.bytes(), &r, &error)) << error;
    EXPECT_EQ(c.patterns, r.block.patterns);
    EXPECT_EQ(c.notes, r.notes.size()) << ::testing::PrintToString(r.notes);
  }
}

// Every prefix of a valid block with every record kind is damaged, up to the end record's
// last byte. Changed bytes are left to the dump fuzzer.
TEST(ReadBlock, EveryTruncatedBlockIsDamaged) {
  const Bytes block = fuzz::SeedBlocks().at(0);
  std::string error;
  for (size_t n = 0; n <= block.size(); ++n) {
    ReadBlockResult r;
    EXPECT_EQ(Read(Bytes(block.begin(), block.begin() + n), &r, &error), n == block.size()) << n;
  }
}

TEST(ReadBlock, DamagedBlocksAreDamagedForTheirReason) {
  for (const damaged::Case &c : damaged::Cases()) {
    ReadBlockResult r;
    std::string reason;
    EXPECT_FALSE(Read(c.block, &r, &reason)) << c.what;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
  }
}

TEST(ReadBlock, MutatedBlocksAreReadOrDamagedWithAReason) {
  // An unmutated seed must read: otherwise every case only tests the first header.
  const std::vector<Bytes> seeds = fuzz::SeedBlocks();
  ASSERT_EQ(3u, seeds.size());
  ReadBlockResult r;
  std::string error;
  for (size_t i = 0; i < seeds.size(); ++i) ASSERT_TRUE(Read(seeds[i], &r, &error)) << i << error;
  const long cases = fuzz::CaseCount(5000000);
  long damaged = 0, read = 0, failures = 0;
  for (long i = 0; i < cases && failures < 10; ++i) {
    const bool ok = Read(fuzz::MakeCase(seeds, i), &r, &error);
    ++(ok ? read : damaged);
    if (ok == error.empty()) continue;
    // The case is rebuilt from its number alone (fuzz::MakeCase), to become a table row.
    ADD_FAILURE() << "case " << i << (ok ? ": read with an error set: " : ": damaged, no reason")
                  << error;
    ++failures;
  }
  printf("dump parser: %ld cases (%ld read, %ld damaged)\n", cases, read, damaged);
  // Mutations that never leave a block readable, or never damage one, test nothing.
  if (cases >= 1000) {
    EXPECT_GT(damaged, cases / 20);
    EXPECT_GT(read, cases / 20);
  }
}

}  // namespace
