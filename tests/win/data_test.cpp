// The record walk and the body readers, on real block files read through the Win32 API.
#include "data/data.h"

#include <gtest/gtest.h>

#include "support/testenv.h"

using namespace blockfmt;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Str(const std::string &s) {
  return Cat({U16(uint16_t(s.size())), Bytes(s.begin(), s.end())});
}
Bytes U8(uint8_t v) { return {v}; }
Bytes File(const std::string &folder, const std::string &name, uint8_t flags) {
  return Cat({Str(folder), Str(name), U8(flags)});
}
Bytes ZeroOptions() { return Bytes(kOptionsFixedSize, 0); }
Bytes Table(const std::vector<std::string> &texts) {
  Bytes out = Cat({U16(1), U16(uint16_t(texts.size()))});
  for (const auto &t : texts) out = Cat({out, Str(t)});
  return out;
}

struct Rec {
  uint16_t tag;
  Bytes body;
  uint8_t flags = 0;
  uint32_t size = UINT32_MAX;  // the body's own size unless given
};

// The records, then options of all zeros and the end record.
Bytes Block(const std::vector<Rec> &records) {
  RecordWriter w;
  for (const Rec &r : records)
    w.RawRecord(r.tag, r.flags, r.size == UINT32_MAX ? uint32_t(r.body.size()) : r.size, r.body);
  w.Record(TAG_OPTIONS, ZeroOptions());
  w.End();
  return w.bytes();
}

// The loaded lists, one entry a line, fields between bars.
std::string Lists() {
  std::string out;
  char root[16];
  for (DWORD i = 0; i < g.fileCount; ++i)
    out += std::string("file ") + g.files[i]->folder + "|" + g.files[i]->name + "|" +
           std::to_string(g.files[i]->flags) + "\n";
  for (DWORD i = 0; i < g.folderCount; ++i)
    out += "folder " + std::to_string(g.folders[i]->levels) + "|" + g.folders[i]->folder + "|" +
           g.folders[i]->secondFolder + "|" + g.folders[i]->name + "\n";
  for (DWORD i = 0; i < g.registryCount; ++i) {
    wsprintfA(root, "%lX|", g.registryEntries[i]->root);
    out += "registry " + std::string(root) + g.registryEntries[i]->path + "\n";
  }
  return out;
}

class ReaderTest : public ::testing::Test {
 protected:
  ~ReaderTest() override { testenv::ReleaseRunState(); }

  // Each read starts from a fresh run state.
  int Read(const Bytes &block) {
    testenv::ReleaseRunState();
    testenv::PrepareRunState(dir_.path());
    std::string path = dir_ / "block.bin";
    DWORD offset = testenv::WriteBlockFile(path, block);
    return ReadBlockFile(path.c_str(), offset);
  }

  testenv::ScopedTestDir dir_{"reader"};
};

TEST_F(ReaderTest, EmptyAndUnknownRecordsAreSkippedOptionsReplaceAndTheEndRecordEnds) {
  auto options = [](uint32_t flags, uint32_t pre, uint32_t doc, const char *text) {
    return Cat({U32(flags), U32(pre), U32(doc), Bytes(text, text + strlen(text) + 1)});
  };
  EXPECT_EQ(LOAD_NO_FILE, ReadBlockFile((dir_ / "absent.bin").c_str(), 0));
  ASSERT_EQ(LOAD_OK, Read(Block({{TAG_FILES, {}},
                                 {TAG_MESSAGES, {}},
                                 {TAG_SKIPPED, {1, 2, 3}},
                                 {0x4242, {9, 9}},
                                 {TAG_OPTIONS, options(1, 12, 0, "run.exe")},
                                 {TAG_OPTIONS, options(2, 0, 12, "doc.htm")},
                                 {TAG_OPTIONS, {}},  // empty: the second stays in force
                                 // An end record's body is skipped, never read: the bytes
                                 // after it, and the zero options behind, do not matter.
                                 {TAG_END, {1, 2, 3, 4}},
                                 {TAG_FILES, {}, 0, 99}})));
  EXPECT_EQ("", Lists());
  EXPECT_EQ(nullptr, g.messages);
  EXPECT_EQ(nullptr, g.patterns);
  ASSERT_NE(nullptr, g.options);
  EXPECT_EQ(2u, g.options->flags);
  EXPECT_EQ(nullptr, OptionText(g.options->preRemovalOffset));
  EXPECT_STREQ("doc.htm", OptionText(g.options->closingDocumentOffset));
}

TEST_F(ReaderTest, DamagedBlocksEndTheReadingWithTheirCodeAndKeepNothing) {
  auto options = [](uint32_t pre, const std::string &texts) {
    return Cat({U32(0), U32(pre), U32(0), Bytes(texts.begin(), texts.end())});
  };
  auto text = [](size_t n, char c) { return Str(std::string(n, c)); };
  struct Case {
    const char *what;
    uint16_t tag;
    Bytes body;
    uint8_t flags = 0;
    uint32_t size = UINT32_MAX;
    int code = LOAD_READ_FAILED;
  };
  const Case cases[] = {
      {"file strings over 518 bytes", TAG_FILES, Cat({U32(1), File(std::string(519, 'x'), "", 0)})},
      {"file name pushes the pair over 518", TAG_FILES,
       Cat({U32(1), File(std::string(300, 'a'), std::string(219, 'b'), 0)})},
      {"folder strings over 777", TAG_FOLDERS,
       Cat({U32(1), U8(0), text(400, 'a'), text(378, 'b'), Str("")})},
      {"registry path over 519", TAG_REGISTRY, Cat({U32(1), U32(ROOT_HKCU), text(520, 'k')})},
      {"count the body cannot hold", TAG_FILES, Cat({U32(0x40000000u), File(".", "a", 0)})},
      {"count that would overflow the array size", TAG_REGISTRY,
       Cat({U32(0xFFFFFFFFu), U32(1), Str("k")})},
      {"entry longer than its body", TAG_FILES, Cat({U32(1), U16(50), U8(0x61), U8(0x62)})},
      {"message count beyond the body", TAG_MESSAGES, Cat({U16(1), U16(900), Str("a")})},
      {"message text beyond the body", TAG_MESSAGES, Cat({U16(1), U16(1), U16(40)})},
      {"size past the file end", TAG_SKIPPED, U32(0), 0, 1000},
      {"size that wraps the position", TAG_SKIPPED, U32(0), 0, 0xFFFFFFF8u},
      {"size past 2 GiB", TAG_SKIPPED, U32(0), 0, 0x7FFFFFF0u},
      {"options shorter than 12 bytes", TAG_OPTIONS, Bytes(8, 0)},
      {"options offset outside the body", TAG_OPTIONS, options(40, std::string("x\0", 2))},
      {"options text without NUL", TAG_OPTIONS, options(12, "unterminated")},
      {"options offset into the fixed fields", TAG_OPTIONS, options(4, std::string("\0", 1))},
      {"patterns with the not-loadable bit", TAG_PATTERNS, {'a', 0, 0}, 1, 3, LOAD_BODY_FAILED},
      {"options with the not-loadable bit", TAG_OPTIONS, ZeroOptions(), 1, 12, LOAD_BODY_FAILED},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.code, Read(Block({{c.tag, c.body, c.flags, c.size}}))) << c.what;
    EXPECT_EQ("", Lists()) << c.what;
    EXPECT_EQ(nullptr, g.options) << c.what;
    EXPECT_EQ(nullptr, g.patterns) << c.what;
  }

  EXPECT_EQ(LOAD_READ_FAILED, Read({}));  // nothing appended at all
  // Without an end record the file's end is damage, but what came before was loaded.
  RecordWriter w;
  w.Record(TAG_FILES, Cat({U32(1), File(".", "a.txt", 0)}));
  EXPECT_EQ(LOAD_READ_FAILED, Read(w.bytes()));
  EXPECT_EQ("file .|a.txt|0\n", Lists());
}

TEST_F(ReaderTest, ListsAndPatternsConcatenateAcrossRecordsInFileOrder) {
  const Bytes files =
      Cat({U32(3), File(".", "a", 1), File(".\\sub", "b", 2), File("C:\\x", "", 8)});
  ASSERT_EQ(
      LOAD_OK,
      Read(Block({{TAG_FILES, files},
                  // The not-loadable bit means nothing on a list record.
                  {TAG_FILES, Cat({U32(2), File("D:\\y", "d", 4), File(".", "e", 0)}), 1},
                  {TAG_FOLDERS, Cat({U32(1), U8(2), Str("C:\\p\\q"), Str("C:\\r"), Str("n")})},
                  {TAG_REGISTRY, U32(0)},
                  {TAG_REGISTRY, Cat({U32(1), U32(ROOT_HKCU), Str("Software\\\\V")})},
                  {TAG_PATTERNS, {'a', 0, 'b', 0, 'c', 0, 0}},
                  {TAG_PATTERNS, {'d', 0, 'e', 0, 'f', 0, 0}}})));
  EXPECT_EQ(
      "file .|a|1\nfile .\\sub|b|2\nfile C:\\x||8\nfile D:\\y|d|4\nfile .|e|0\n"
      "folder 2|C:\\p\\q|C:\\r|n\nregistry 80000001|Software\\\\V\n",
      Lists());
  ASSERT_EQ(13u, g.patternsLength);
  EXPECT_EQ(0, memcmp(g.patterns, "a\0b\0c\0d\0e\0f\0\0", 13));

  // A first body without a final NUL takes no later bodies, and the list still ends.
  ASSERT_EQ(LOAD_OK, Read(Block({{TAG_PATTERNS, {'*', '.', 't'}}, {TAG_PATTERNS, {'x', 0, 0}}})));
  EXPECT_EQ(3u, g.patternsLength);
  EXPECT_EQ(0, memcmp(g.patterns, "*.t\0\0", 5));
}

TEST_F(ReaderTest, LongListsReadWholeAcrossTheReadingBufferAndStopAtTheirBody) {
  // Entries of every length from 1 to 517 bytes, so fields fall across the buffer's
  // edges at every offset; the folder record behind must be read from its own start.
  Bytes body = U32(600);
  std::string expected;
  for (int i = 0; i < 600; ++i) {
    std::string folder = ".\\d" + std::to_string(i % 7);
    std::string name = std::to_string(i) + std::string(1 + (i * 37) % 510, 'a' + i % 26);
    body = Cat({body, File(folder, name, uint8_t(i))});
    expected += "file " + folder + "|" + name + "|" + std::to_string(uint8_t(i)) + "\n";
  }
  ASSERT_GT(body.size(), 40000u);
  ASSERT_EQ(LOAD_OK,
            Read(Block({{TAG_FILES, body},
                        {TAG_FOLDERS, Cat({U32(1), U8(3), Str("C:\\p"), Str(""), Str("n")})}})));
  EXPECT_EQ(expected + "folder 3|C:\\p||n\n", Lists());

  // The same list one byte short: its last flag would come from the next record.
  body.pop_back();
  EXPECT_EQ(LOAD_READ_FAILED, Read(Block({{TAG_FILES, body}})));
  EXPECT_EQ("", Lists());
}

TEST_F(ReaderTest, MessageTablesReplaceOnlyWhenTheyHoldStringsAndComposeWithinTheBuffer) {
  // Two tables in one body: only the first is read. A table without strings keeps it.
  ASSERT_EQ(LOAD_OK, Read(Block({{TAG_MESSAGES, Cat({U16(2), U16(3), Str("cap"), Str(""),
                                                     Str("two"), U16(1), Str("other")})},
                                 {TAG_MESSAGES, Cat({U16(1), U16(0)})}})));
  EXPECT_STREQ("cap", GetMessageText(0));
  EXPECT_STREQ("", GetMessageText(1));
  EXPECT_STREQ("two", GetMessageText(2));  // an empty message keeps the numbers after it
  EXPECT_STREQ("", GetMessageText(3));     // the null slot ends the table
  EXPECT_STREQ("", GetMessageText(1000));
  FreeRemovalData();
  ASSERT_NE(nullptr, GetMessageText(0));
  EXPECT_STREQ("", GetMessageText(0));

  // A later table replaces the first. Only a text with "%s" is composed.
  ASSERT_EQ(LOAD_OK, Read(Block({{TAG_MESSAGES, Table({"first"})},
                                 {TAG_MESSAGES, Table({"caption", "remove %s now? 100%% sure %d %x",
                                                       "no conversion 100%% %d"})}})));
  EXPECT_STREQ("caption", GetMessageText(0));
  char buffer[1100];
  ComposeMessage(buffer, 1, "C:\\a%s%d");
  // The argument is never itself a format; stray conversions stay as written.
  EXPECT_STREQ("remove C:\\a%s%d now? 100% sure %d %x", buffer);
  ComposeMessage(buffer, 2, "ignored");
  EXPECT_STREQ("no conversion 100%% %d", buffer);

  memset(buffer, '#', sizeof buffer);
  std::string arg(3000, 'p');
  ComposeMessage(buffer, 1, arg.c_str());
  EXPECT_EQ(1023u, strlen(buffer));
  EXPECT_EQ(0, strncmp(buffer, "remove ppp", 10));
  EXPECT_EQ('#', buffer[1024]);
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

}  // namespace
