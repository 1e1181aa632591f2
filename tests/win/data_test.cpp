// The record walk and the body readers, on real block files read through the Win32 API.
#include "data/data.h"

#include <gtest/gtest.h>

#include "support/testenv.h"

using blockfmt::RecordWriter;
using testenv::ScopedTestDir;

namespace {

std::vector<uint8_t> U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
std::vector<uint8_t> U32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::vector<uint8_t> Str(const std::string &s) {
  return Cat({U16(uint16_t(s.size())), std::vector<uint8_t>(s.begin(), s.end())});
}
std::vector<uint8_t> ZeroOptions() { return std::vector<uint8_t>(12, 0); }

class ReaderTest : public ::testing::Test {
 protected:
  ReaderTest() : dir_("reader") { testenv::PrepareRunState(dir_.path()); }
  ~ReaderTest() override { testenv::ReleaseRunState(); }

  int Read(const std::vector<uint8_t> &block) {
    std::string path = dir_ / "block.bin";
    DWORD offset = testenv::WriteBlockFile(path, block);
    return ReadBlockAt(path.c_str(), offset);
  }

  ScopedTestDir dir_;
};

TEST_F(ReaderTest, MinimalBlockReadsWithEmptyListsAndZeroOptions) {
  RecordWriter w;
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  EXPECT_EQ(nullptr, g.messages);
  EXPECT_EQ(0u, g.fileCount + g.folderCount + g.registryCount);
  EXPECT_EQ(nullptr, g.patterns);
  ASSERT_NE(nullptr, g.options);
  EXPECT_EQ(0u, g.options->flags);
  EXPECT_STREQ("", GetMessageText(0));
}

TEST_F(ReaderTest, HeaderCutShortOrMissingEndRecordIsCode8) {
  EXPECT_EQ(LOAD_READ_FAILED, Read({}));  // nothing appended at all
  RecordWriter w;
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.Record(blockfmt::TAG_FILES, Cat({U32(1), Str("."), Str("a.txt"), {0}}));
  EXPECT_EQ(LOAD_READ_FAILED, Read(w.bytes()));
  // Everything before the end of the file was still loaded.
  EXPECT_EQ(1u, g.fileCount);
}

TEST_F(ReaderTest, SizeZeroRecordsAreSkippedWhateverTheirTag) {
  RecordWriter w;
  w.RawRecord(blockfmt::TAG_FILES, 0, 0, {});
  w.RawRecord(blockfmt::TAG_MESSAGES, 0, 0, {});
  w.RawRecord(blockfmt::TAG_SKIPPED, 0, 3, {1, 2, 3});
  w.RawRecord(0x4242, 0, 2, {9, 9});
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  // An end record's body is skipped, never read: the bytes after it do not matter.
  w.RawRecord(blockfmt::TAG_END, 0, 4, {1, 2, 3, 4});
  w.RawRecord(blockfmt::TAG_FILES, 0, 99, {});
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  EXPECT_EQ(0u, g.fileCount);
}

TEST_F(ReaderTest, ListsConcatenateAcrossRecordsInFileOrder) {
  RecordWriter w;
  w.Record(blockfmt::TAG_FILES, Cat({U32(3),
                                     Str("."),
                                     Str("a"),
                                     {1},
                                     Str(".\\sub"),
                                     Str("b"),
                                     {2},
                                     Str("C:\\x"),
                                     Str(""),
                                     {8}}));
  w.Record(blockfmt::TAG_FILES,
           Cat({U32(2), Str("D:\\y"), Str("d"), {4}, Str("."), Str("e"), {0}}));
  w.Record(blockfmt::TAG_FOLDERS, Cat({U32(1), {2}, Str("C:\\p\\q"), Str("C:\\r"), Str("n.txt")}));
  w.Record(blockfmt::TAG_REGISTRY, Cat({U32(0)}));
  w.Record(blockfmt::TAG_REGISTRY, Cat({U32(1), U32(blockfmt::ROOT_HKCU), Str("Software\\\\V")}));
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  ASSERT_EQ(5u, g.fileCount);
  const char *names[] = {"a", "b", "", "d", "e"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(names[i], g.files[i]->name) << i;
  EXPECT_STREQ(".\\sub", g.files[1]->folder);
  EXPECT_EQ(4, g.files[3]->flags);
  ASSERT_EQ(1u, g.folderCount);
  EXPECT_EQ(2u, g.folders[0]->levels);
  EXPECT_STREQ("C:\\p\\q", g.folders[0]->folder);
  EXPECT_STREQ("C:\\r", g.folders[0]->secondFolder);
  EXPECT_STREQ("n.txt", g.folders[0]->name);
  ASSERT_EQ(1u, g.registryCount);
  EXPECT_EQ(blockfmt::ROOT_HKCU, g.registryEntries[0]->root);
  EXPECT_STREQ("Software\\\\V", g.registryEntries[0]->path);
}

TEST_F(ReaderTest, LongListsReadWholeAcrossTheReadingBufferAndStopAtTheirBody) {
  // Entries of every length from 1 to 517 bytes, so fields fall across the buffer's
  // edges at every offset; the folder record behind must be read from its own start.
  std::vector<uint8_t> body = U32(600);
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) {
    names.push_back(std::to_string(i) + std::string(1 + (i * 37) % 510, 'a' + i % 26));
    body = Cat({body, Str(".\\d" + std::to_string(i % 7)), Str(names.back()), {uint8_t(i)}});
  }
  ASSERT_GT(body.size(), 40000u);
  RecordWriter w;
  w.Record(blockfmt::TAG_FILES, body);
  w.Record(blockfmt::TAG_FOLDERS, Cat({U32(1), {3}, Str("C:\\p"), Str(""), Str("n")}));
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  ASSERT_EQ(600u, g.fileCount);
  for (DWORD i = 0; i < 600; ++i) {
    EXPECT_EQ(names[i], g.files[i]->name) << i;
    EXPECT_EQ(".\\d" + std::to_string(i % 7), g.files[i]->folder) << i;
    EXPECT_EQ(uint8_t(i), g.files[i]->flags) << i;
  }
  ASSERT_EQ(1u, g.folderCount);
  EXPECT_STREQ("C:\\p", g.folders[0]->folder);

  // The same list one byte short: its last flag would come from the next record.
  testenv::ReleaseRunState();
  testenv::PrepareRunState(dir_.path());
  body.pop_back();
  RecordWriter cut;
  cut.Record(blockfmt::TAG_FILES, body);
  cut.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  cut.End();
  EXPECT_EQ(LOAD_READ_FAILED, Read(cut.bytes()));
  EXPECT_EQ(0u, g.fileCount);
}

TEST_F(ReaderTest, MessageTablesReplaceOnlyWhenTheyHoldStrings) {
  RecordWriter w;
  // Two tables in one body: only the first is read.
  w.Record(blockfmt::TAG_MESSAGES,
           Cat({U16(2), U16(3), Str("cap"), Str(""), Str("two"), U16(1), Str("other")}));
  w.Record(blockfmt::TAG_MESSAGES, Cat({U16(1), U16(0)}));  // no strings: the first stays
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  EXPECT_STREQ("cap", GetMessageText(0));
  EXPECT_STREQ("", GetMessageText(1));
  EXPECT_STREQ("two", GetMessageText(2));  // an empty message keeps the numbers after it
  EXPECT_STREQ("", GetMessageText(3));
  EXPECT_STREQ("", GetMessageText(15));

  testenv::ReleaseRunState();
  testenv::PrepareRunState(dir_.path());
  RecordWriter v;
  v.Record(blockfmt::TAG_MESSAGES, Cat({U16(1), U16(1), Str("first")}));
  v.Record(blockfmt::TAG_MESSAGES, Cat({U16(1), U16(1), Str("second")}));
  v.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  v.End();
  ASSERT_EQ(LOAD_OK, Read(v.bytes()));
  EXPECT_STREQ("second", GetMessageText(0));
}

TEST_F(ReaderTest, WholeLoadedRecordsHonourTheFlagBit) {
  RecordWriter w;
  w.Record(blockfmt::TAG_FILES, Cat({U32(1), Str("."), Str("a"), {0}}), 1);  // ignored bit
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  EXPECT_EQ(1u, g.fileCount);

  for (uint16_t tag : {blockfmt::TAG_PATTERNS, blockfmt::TAG_OPTIONS}) {
    testenv::ReleaseRunState();
    testenv::PrepareRunState(dir_.path());
    RecordWriter v;
    v.Record(tag, tag == blockfmt::TAG_OPTIONS ? ZeroOptions() : std::vector<uint8_t>{'a', 0, 0},
             1);
    v.End();
    EXPECT_EQ(LOAD_BODY_FAILED, Read(v.bytes())) << tag;
  }
}

TEST_F(ReaderTest, OptionsRecordsReplaceAndAreValidated) {
  auto options = [](uint32_t flags, uint32_t pre, uint32_t doc, const std::string &texts) {
    return Cat({U32(flags), U32(pre), U32(doc), std::vector<uint8_t>(texts.begin(), texts.end())});
  };
  RecordWriter w;
  w.Record(blockfmt::TAG_OPTIONS, options(1, 12, 0, std::string("run.exe\0", 8)));
  w.Record(blockfmt::TAG_OPTIONS, options(2, 0, 12, std::string("doc.htm\0", 8)));
  w.RawRecord(blockfmt::TAG_OPTIONS, 0, 0, {});  // empty: the second stays in force
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  EXPECT_EQ(2u, g.options->flags);
  EXPECT_EQ(nullptr, OptionText(g.options->preRemovalOffset));
  EXPECT_STREQ("doc.htm", OptionText(g.options->closingDocumentOffset));

  const std::vector<std::vector<uint8_t>> damaged = {
      std::vector<uint8_t>(8, 0),                // shorter than 12 bytes
      options(0, 40, 0, std::string("x\0", 2)),  // offset outside the body
      options(0, 12, 0, "unterminated"),         // no NUL inside the body
      options(0, 4, 0, std::string("\0", 1)),    // points into the fixed fields
  };
  for (const auto &body : damaged) {
    testenv::ReleaseRunState();
    testenv::PrepareRunState(dir_.path());
    RecordWriter v;
    v.Record(blockfmt::TAG_OPTIONS, body);
    v.End();
    EXPECT_EQ(LOAD_READ_FAILED, Read(v.bytes()));
    EXPECT_EQ(nullptr, g.options);
  }
}

TEST_F(ReaderTest, PatternRecordsMergeAndAlwaysEndWithAnEmptyText) {
  RecordWriter w;
  w.Record(blockfmt::TAG_PATTERNS, {'a', 0, 'b', 0, 'c', 0, 0});
  w.Record(blockfmt::TAG_PATTERNS, {'d', 0, 'e', 0, 'f', 0, 0});
  w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  w.End();
  ASSERT_EQ(LOAD_OK, Read(w.bytes()));
  ASSERT_EQ(13u, g.patternsLength);
  EXPECT_EQ(0, memcmp(g.patterns, "a\0b\0c\0d\0e\0f\0\0", 13));

  // A first body without a final NUL takes no later bodies, and the list still ends.
  testenv::ReleaseRunState();
  testenv::PrepareRunState(dir_.path());
  RecordWriter v;
  v.Record(blockfmt::TAG_PATTERNS, {'*', '.', 't'});
  v.Record(blockfmt::TAG_PATTERNS, {'x', 0, 0});
  v.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
  v.End();
  ASSERT_EQ(LOAD_OK, Read(v.bytes()));
  EXPECT_EQ(3u, g.patternsLength);
  EXPECT_EQ(0, memcmp(g.patterns, "*.t\0\0", 5));
}

TEST_F(ReaderTest, DamagedBodiesEndTheReadingWithCode8) {
  struct Case {
    const char *what;
    uint16_t tag;
    std::vector<uint8_t> body;
  };
  const std::string big(519, 'x');
  const std::vector<Case> cases = {
      {"file strings over 518 bytes", blockfmt::TAG_FILES, Cat({U32(1), Str(big), Str(""), {0}})},
      {"file name pushes the pair over 518", blockfmt::TAG_FILES,
       Cat({U32(1), Str(std::string(300, 'a')), Str(std::string(219, 'b')), {0}})},
      {"folder strings over 777", blockfmt::TAG_FOLDERS,
       Cat({U32(1), {0}, Str(std::string(400, 'a')), Str(std::string(378, 'b')), Str("")})},
      {"registry path over 519", blockfmt::TAG_REGISTRY,
       Cat({U32(1), U32(0x80000001u), Str(std::string(520, 'k'))})},
      {"count the body cannot hold", blockfmt::TAG_FILES,
       Cat({U32(0x40000000u), Str("."), Str("a"), {0}})},
      {"count that would overflow the array size", blockfmt::TAG_REGISTRY,
       Cat({U32(0xFFFFFFFFu), U32(1), Str("k")})},
      {"entry longer than its body", blockfmt::TAG_FILES, Cat({U32(1), U16(50), {'a', 'b'}})},
      {"message count beyond the body", blockfmt::TAG_MESSAGES, Cat({U16(1), U16(900), Str("a")})},
      {"message text beyond the body", blockfmt::TAG_MESSAGES, Cat({U16(1), U16(1), U16(40)})},
  };
  for (const auto &c : cases) {
    testenv::ReleaseRunState();
    testenv::PrepareRunState(dir_.path());
    RecordWriter w;
    w.Record(c.tag, c.body);
    w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
    w.End();
    EXPECT_EQ(LOAD_READ_FAILED, Read(w.bytes())) << c.what;
    EXPECT_EQ(0u, g.fileCount + g.folderCount + g.registryCount) << c.what;
  }
}

TEST_F(ReaderTest, RecordSizesThatPassTheFileEndOrWrapAreDamaged) {
  for (uint32_t size : {1000u, 0xFFFFFFF8u, 0x7FFFFFF0u}) {
    testenv::ReleaseRunState();
    testenv::PrepareRunState(dir_.path());
    RecordWriter w;
    w.RawRecord(blockfmt::TAG_SKIPPED, 0, size, {1, 2, 3, 4});
    w.Record(blockfmt::TAG_OPTIONS, ZeroOptions());
    w.End();
    EXPECT_EQ(LOAD_READ_FAILED, Read(w.bytes())) << size;
  }
}

TEST_F(ReaderTest, MissingFileIsAFailureWithoutCode) {
  EXPECT_EQ(LOAD_NO_FILE, ReadBlockAt((dir_ / "absent.bin").c_str(), 0));
}

TEST_F(ReaderTest, LoadRecordBodyFreesAShortBody) {
  std::string path = dir_ / "short.bin";
  testenv::WriteBytes(path, {1, 2, 3});
  HANDLE file = OpenExisting(path.c_str(), ModeRead);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  void *body = reinterpret_cast<void *>(1);
  DWORD size = 0;
  EXPECT_EQ(LOAD_BODY_FAILED, LoadRecordBody(file, 0, 10, &body, &size));
  EXPECT_EQ(nullptr, body);
  EXPECT_EQ(10u, size);
  SeekTo(file, 0);
  EXPECT_EQ(LOAD_OK, LoadRecordBody(file, 0, 3, &body, nullptr));
  EXPECT_EQ(0, memcmp(body, "\1\2\3", 3));
  FreeAndNull(&body);
  CloseFile(file);
}

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    AllocZeroedT(4 * sizeof(char *), &g.messages);
    Set(0, "caption");
    Set(1, "remove %s now? 100%% sure %d %x");
    Set(2, "no conversion 100%% %d");
  }
  void TearDown() override { FreeRemovalData(); }
  void Set(int i, const std::string &text) {
    AllocZeroedT(text.size() + 1, &g.messages[i]);
    memcpy(g.messages[i], text.c_str(), text.size());
  }
  char buffer[1024];
};

TEST_F(MessageTest, ComposeSubstitutesOnlyStringsAndPercentPairs) {
  ComposeMessage(buffer, 1, "C:\\a%s%d");
  // The argument is never itself a format; stray conversions stay as written.
  EXPECT_STREQ("remove C:\\a%s%d now? 100% sure %d %x", buffer);
  ComposeMessage(buffer, 2, "ignored");
  EXPECT_STREQ("no conversion 100%% %d", buffer);
  ComposeMessage(buffer, 9, "x");
  EXPECT_STREQ("", buffer);
}

TEST_F(MessageTest, ComposedTextIsCutAt1023Characters) {
  std::string arg(3000, 'p');
  ComposeMessage(buffer, 1, arg.c_str());
  EXPECT_EQ(1023u, strlen(buffer));
  EXPECT_EQ(0, strncmp(buffer, "remove ppp", 10));
}

TEST_F(MessageTest, LookupBeyondTheTableOrWithoutOneIsEmpty) {
  EXPECT_STREQ("caption", GetMessageText(0));
  EXPECT_STREQ("", GetMessageText(3));  // the null slot ends the table
  EXPECT_STREQ("", GetMessageText(1000));
  FreeRemovalData();
  EXPECT_NE(nullptr, GetMessageText(0));
  EXPECT_STREQ("", GetMessageText(0));
}

}  // namespace
