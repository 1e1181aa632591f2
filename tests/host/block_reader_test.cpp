#include "block_reader.h"

#include <gtest/gtest.h>

#include "format/block_writer.h"

using namespace blockfmt;
using tallowin::ReadBlockAt;
using tallowin::ReadBlockResult;

namespace {

bool Read(const std::vector<uint8_t> &block, ReadBlockResult *r, std::string *error) {
  return ReadBlockAt(block.data(), block.size(), 0, r, error);
}

std::vector<uint8_t> Options12() { return std::vector<uint8_t>(12, 0); }

TEST(ReadBlock, MergesRecordsAsTheStubDoes) {
  RecordWriter w;
  w.Record(TAG_MESSAGES, EncodeMessages({"old"}));
  w.Record(TAG_FILES, EncodeFiles({{".", "a", 0}, {".", "b", 0}, {".", "c", 0}}));
  w.Record(TAG_SKIPPED, {1, 2, 3});
  w.Record(TAG_FILES, EncodeFiles({{".", "d", FE_FONT}, {".", "e", 0}}));
  w.Record(TAG_MESSAGES, {});            // size 0: never dispatched
  w.Record(TAG_MESSAGES, {1, 0, 0, 0});  // no strings: the old table stays
  w.Record(TAG_PATTERNS, EncodePatterns({"p1", "p2"}));
  w.Record(TAG_PATTERNS, EncodePatterns({"p3"}));
  w.Record(TAG_OPTIONS, EncodeOptions({OPT_WAIT, "", ""}));
  w.Record(TAG_OPTIONS, {});  // size 0 leaves the first in force
  w.Record(TAG_MESSAGES, EncodeMessages({"new", "t"}));
  w.Record(TAG_REGISTRY, {0, 0, 0, 0});  // count 0 adds nothing
  w.End();
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
  EXPECT_FALSE(r.notes.empty());  // the skipped record and the replaced table
}

TEST(ReadBlock, MinimalBlockAndOddButValidRecords) {
  RecordWriter w;
  w.Record(TAG_OPTIONS, Options12());
  w.Record(0x4242, {9});
  w.RawRecord(TAG_FILES, RF_NOT_LOADABLE, 5, {0, 0, 0, 0, 0});  // flag ignored on lists
  w.Record(TAG_MESSAGES, {2, 0, 1, 0, 1, 0, 'x', 0xEE});        // second table skipped
  w.Record(TAG_END, {1, 2});                                    // its body is skipped
  ReadBlockResult r;
  std::string error;
  ASSERT_TRUE(Read(w.bytes(), &r, &error)) << error;
  EXPECT_TRUE(r.block.hasOptions);
  EXPECT_EQ(r.block.messages, std::vector<std::string>{"x"});

  RecordWriter empty;
  empty.End();
  ASSERT_TRUE(Read(empty.bytes(), &r, &error));
  EXPECT_FALSE(r.block.hasOptions);
}

TEST(ReadBlock, DamageNamesTheRecordAndOffset) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char *expect;
  };
  auto one = [](uint16_t tag, const std::vector<uint8_t> &body, uint8_t flags = 0) {
    RecordWriter w;
    w.Record(TAG_OPTIONS, Options12());
    w.Record(tag, body, flags);
    w.End();
    return w.bytes();
  };
  std::vector<uint8_t> noEnd;
  {
    RecordWriter w;
    w.Record(TAG_OPTIONS, Options12());
    noEnd = w.bytes();
  }
  std::vector<uint8_t> pastEnd = noEnd;
  pastEnd.insert(pastEnd.end(), {0x35, 0x12, 0, 0, 0xFF, 0, 0, 0, 1});
  const std::string tooLong(519, 'x');
  const Case cases[] = {
      {noEnd, "record 1 at offset 20 (0x00000014): header cut short"},
      {pastEnd, "record 1 (tag 0x1235) at offset 20 (0x00000014): body of 255 bytes runs past"},
      {one(TAG_FILES, {0xFF, 0xFF, 0, 0, 0}), "record 1 (tag 0x1235) at offset 20"},
      {one(TAG_FILES, {1, 0, 0, 0, 9, 0, 'a', 'b', 'c', 'd'}), "file entry runs past the end"},
      {one(TAG_FILES, EncodeFiles({{tooLong, "", 0}})), "518-byte limit"},
      {one(TAG_FOLDERS, {1, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0}), "folder entry runs past"},
      {one(TAG_FOLDERS, {1, 0, 0, 0, 0, 0, 0}), "folder count larger"},
      {one(TAG_REGISTRY, EncodeRegistry({{ROOT_HKLM, std::string(520, 'k')}})), "519-byte"},
      {one(TAG_REGISTRY, {1, 0, 0, 0, 2, 0, 0, 0x80, 1, 0, 0}), "NUL byte"},
      {one(TAG_MESSAGES, {1, 0, 2, 0, 1, 0, 'a'}), "message text runs past"},
      {one(TAG_MESSAGES, {1}), "too short for its table count"},
      {one(TAG_OPTIONS, {0, 0, 0, 0}), "shorter than 12 bytes"},
      {one(TAG_OPTIONS, {0, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 'a'}), "not terminated"},
      {one(TAG_OPTIONS, {0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0}), "offset outside"},
      {one(TAG_OPTIONS, {0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0}), "offset outside"},
      {one(TAG_OPTIONS, Options12(), RF_NOT_LOADABLE), "not loadable"},
      {one(TAG_PATTERNS, {'a', 0, 0}, RF_NOT_LOADABLE), "not loadable"},
  };
  for (const Case &c : cases) {
    ReadBlockResult r;
    std::string error;
    EXPECT_FALSE(Read(c.bytes, &r, &error)) << c.expect;
    EXPECT_NE(error.find(c.expect), std::string::npos) << error;
  }
}

TEST(ReadBlock, PatternListsMergeLikeTheStub) {
  RecordWriter w;
  w.Record(TAG_PATTERNS, {'a', 0, 0, 'h', 0, 0});  // text after the end stays hidden
  w.Record(TAG_PATTERNS, {'b', 0, 0});
  w.Record(TAG_OPTIONS, Options12());
  w.End();
  ReadBlockResult r;
  std::string error;
  ASSERT_TRUE(Read(w.bytes(), &r, &error)) << error;
  EXPECT_EQ(r.block.patterns, std::vector<std::string>{"a"});

  // The program ends a list that lacks its closing empty text, or the last text's NUL,
  // with its spare NUL bytes: those lists read, with a note. A list whose last text is
  // unterminated takes no further pattern records.
  struct Case {
    std::vector<std::vector<uint8_t>> bodies;
    std::vector<std::string> patterns;
    size_t notes;
  };
  const Case cases[] = {
      {{{'a', 0}}, {"a"}, 1},
      {{{'a', 0, 'b', 'c'}}, {"a", "bc"}, 1},
      {{{'a', 0}, {'b', 0, 0}}, {"ab"}, 0},  // the next body takes the place of the last NUL
      {{{'a'}, {'b', 0, 0}}, {"a"}, 2},
  };
  for (const Case &c : cases) {
    RecordWriter v;
    for (const auto &body : c.bodies) v.Record(TAG_PATTERNS, body);
    v.Record(TAG_OPTIONS, Options12());
    v.End();
    ASSERT_TRUE(Read(v.bytes(), &r, &error)) << error;
    EXPECT_EQ(c.patterns, r.block.patterns);
    EXPECT_EQ(c.notes, r.notes.size()) << c.patterns.size();
  }
}

// Every prefix and every single-byte change of a valid block reads or fails cleanly.
TEST(ReadBlock, SurvivesTruncationAndCorruption) {
  Block b;
  b.messages = {"c", "q %s"};
  b.files = {{".", "f", FE_SHARED}};
  b.folders = {{1, "C:\\a", "C:\\b", "n"}};
  b.registry = {{ROOT_HKCU, "S\\\\v"}};
  b.patterns = {"*.x"};
  b.options.preRemoval = "pre";
  b.options.closingDocument = "doc";
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(EncodeBlock(b, &block, &error));
  for (size_t n = 0; n <= block.size(); ++n) {
    std::vector<uint8_t> cut(block.begin(), block.begin() + n);
    ReadBlockResult r;
    EXPECT_EQ(Read(cut, &r, &error), n == block.size()) << n;
  }
  for (size_t i = 0; i < block.size(); ++i) {
    for (uint8_t v : {0x00, 0x01, 0x7F, 0xFF}) {
      std::vector<uint8_t> bad = block;
      bad[i] = v;
      ReadBlockResult r;
      Read(bad, &r, &error);  // must not crash or read out of bounds (run under ASan)
    }
  }
}

}  // namespace
