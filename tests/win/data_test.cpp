// The record walk and the body readers, on real block files read through the Win32 API.
// The damaged blocks and lists spread over several records are read by the fuzzer, against
// the tool's reader.
#include "data/data.h"

#include <gtest/gtest.h>

#include "../host/damaged_blocks.h"
#include "support/testenv.h"

using namespace blockfmt;

namespace {

using damaged::Block;
using damaged::Bytes;
using damaged::Cat;
using damaged::File;
using damaged::Str;
using damaged::U16;
using damaged::U32;

Bytes Table(const std::vector<std::string> &texts) {
  Bytes out = Cat({U16(1), U16(uint16_t(texts.size()))});
  for (const auto &t : texts) out = Cat({out, Str(t)});
  return out;
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
                        {TAG_FOLDERS, Cat({U32(1), Bytes{3}, Str("C:\\p"), Str(""), Str("n")})}})));
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

}  // namespace
