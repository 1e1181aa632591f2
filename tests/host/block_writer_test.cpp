#include "format/block_writer.h"

#include <gtest/gtest.h>
#include <string.h>

#include "support.h"

using namespace blockfmt;
using hosttest::FakeStub;
using hosttest::U32At;

namespace {

// Tags of the records of an encoded block, in order.
std::vector<uint16_t> Tags(const std::vector<uint8_t> &block) {
  std::vector<uint16_t> tags;
  size_t pos = 0;
  while (pos + kHeaderSize <= block.size()) {
    tags.push_back(static_cast<uint16_t>(block[pos] | block[pos + 1] << 8));
    pos += kHeaderSize + U32At(block, pos + 4);
  }
  EXPECT_EQ(pos, block.size());
  return tags;
}

TEST(EncodeBlock, WritesRecordsInReaderOrderAndSkipsEmptyLists) {
  Block b;
  b.messages = {"cap", "ok?"};
  b.registry.push_back({ROOT_HKCU, "Software\\X"});
  b.patterns = {"*.log"};
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(EncodeBlock(b, &out, &error)) << error;
  EXPECT_EQ(Tags(out), (std::vector<uint16_t>{TAG_MESSAGES, TAG_REGISTRY, TAG_PATTERNS, TAG_OPTIONS,
                                              TAG_END}));
  // Messages: table count 1, string count 2, counted strings.
  const std::vector<uint8_t> messages{0x34, 0x12, 0, 0,   14,  0,   0, 0, 1,   0,   2,
                                      0,    3,    0, 'c', 'a', 'p', 3, 0, 'o', 'k', '?'};
  EXPECT_TRUE(std::equal(messages.begin(), messages.end(), out.begin()));
  // The end record has no body and ends the block.
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 8, out.end()),
            (std::vector<uint8_t>{0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));

  b.hasOptions = false;
  b.messages.clear();
  ASSERT_TRUE(EncodeBlock(b, &out, &error));
  EXPECT_EQ(Tags(out), (std::vector<uint16_t>{TAG_REGISTRY, TAG_PATTERNS, TAG_END}));
}

TEST(EncodeBlock, EntryBodiesFieldByField) {
  EXPECT_EQ(EncodeFiles({{".\\a", "b", FE_SHARED | FE_FONT}}),
            (std::vector<uint8_t>{1, 0, 0, 0, 3, 0, '.', '\\', 'a', 1, 0, 'b', 3}));
  EXPECT_EQ(EncodeFolders({{2, "C:\\p", "", "f"}}),
            (std::vector<uint8_t>{1, 0, 0, 0, 2, 4, 0, 'C', ':', '\\', 'p', 0, 0, 1, 0, 'f'}));
  EXPECT_EQ(EncodeRegistry({{ROOT_HKLM, "K"}}),
            (std::vector<uint8_t>{1, 0, 0, 0, 0x02, 0, 0, 0x80, 1, 0, 'K'}));
  EXPECT_EQ(EncodePatterns({"a", "bc"}), (std::vector<uint8_t>{'a', 0, 'b', 'c', 0, 0}));
}

TEST(EncodeBlock, OptionsOffsetsCountFromTheBodyStart) {
  Options o;
  o.flags = OPT_WAIT | OPT_THEMED_CONTROLS;
  o.closingDocument = "doc";
  std::vector<uint8_t> body = EncodeOptions(o);
  ASSERT_EQ(body.size(), 16u);
  EXPECT_EQ(U32At(body, 0), 3u);
  EXPECT_EQ(U32At(body, 4), 0u);  // no pre-removal program
  EXPECT_EQ(U32At(body, 8), 12u);
  EXPECT_EQ(memcmp(&body[12], "doc", 4), 0);

  o.preRemoval = "x.exe /s";
  body = EncodeOptions(o);
  EXPECT_EQ(U32At(body, 4), 12u);
  EXPECT_EQ(U32At(body, 8), 21u);
  EXPECT_EQ(body.size(), 25u);
  EXPECT_EQ(EncodeOptions(Options()), std::vector<uint8_t>(12, 0));
}

TEST(EncodeBlock, RejectsStringsOverTheReaderLimits) {
  std::vector<uint8_t> out;
  std::string error;
  auto encodes = [&](const Block &b) { return EncodeBlock(b, &out, &error); };
  Block b;
  b.files.push_back({std::string(500, 'f'), std::string(18, 'n'), 0});
  EXPECT_TRUE(encodes(b)) << error;
  b.files[0].name += 'n';
  EXPECT_FALSE(encodes(b));
  EXPECT_NE(error.find("files[0]"), std::string::npos) << error;

  b = Block();
  b.folders.push_back({0, std::string(300, 'a'), std::string(300, 'b'), std::string(177, 'c')});
  EXPECT_TRUE(encodes(b)) << error;
  b.folders[0].name += 'c';
  EXPECT_FALSE(encodes(b));

  b = Block();
  b.registry.push_back({ROOT_HKCU, std::string(519, 'k')});
  EXPECT_TRUE(encodes(b)) << error;
  b.registry[0].path += 'k';
  EXPECT_FALSE(encodes(b));
  EXPECT_NE(error.find("registry[0]"), std::string::npos) << error;

  b = Block();
  b.messages = {std::string(65535, 'm')};
  EXPECT_TRUE(encodes(b));
  b.messages[0] += 'm';
  EXPECT_FALSE(encodes(b));
  b.messages = std::vector<std::string>(65536, "m");
  EXPECT_FALSE(encodes(b));
}

TEST(EncodeBlock, RejectsTextsTheReaderWouldCutOrMisread) {
  std::vector<uint8_t> out;
  std::string error;
  Block b;
  b.patterns = {"a", "", "b"};  // the empty one would hide "b"
  EXPECT_FALSE(EncodeBlock(b, &out, &error));
  b.patterns = {std::string("a\0b", 3)};
  EXPECT_FALSE(EncodeBlock(b, &out, &error));
  b = Block();
  b.files.push_back({".", std::string("x\0y", 3), 0});
  EXPECT_FALSE(EncodeBlock(b, &out, &error));
  b = Block();
  b.options.preRemoval = "run " + std::string(reinterpret_cast<const char *>(kMarker), 6);
  EXPECT_FALSE(EncodeBlock(b, &out, &error));
  EXPECT_NE(error.find("marker"), std::string::npos);
}

TEST(FindLocator, MarkerMustOccurExactlyOnce) {
  std::string error;
  std::vector<uint8_t> stub = FakeStub();
  EXPECT_EQ(FindLocator(stub, &error), 0x100);
  std::vector<uint8_t> none(512, 0);
  EXPECT_EQ(FindLocator(none, &error), -1);
  EXPECT_NE(error.find("not found"), std::string::npos);
  memcpy(&stub[0x180], kMarker, 6);
  EXPECT_EQ(FindLocator(stub, &error), -1);
  EXPECT_NE(error.find("more than once"), std::string::npos);
  // A marker without room for its offset is no locator.
  std::vector<uint8_t> tail(16, 0);
  memcpy(&tail[8], kMarker, 6);
  EXPECT_EQ(FindLocator(tail, &error), -1);
}

TEST(AppendBlockToStub, AppendsAndSetsTheOffset) {
  const std::vector<uint8_t> stub = FakeStub(512);
  const std::vector<uint8_t> block{1, 2, 3, 4};
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(AppendBlockToStub(stub, block, &out, &error)) << error;
  ASSERT_EQ(out.size(), 516u);
  EXPECT_EQ(U32At(out, 0x106), 512u);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), out.begin() + 512));

  // A stub that already carries a block loses it: the new one takes its place.
  std::vector<uint8_t> again;
  ASSERT_TRUE(AppendBlockToStub(out, {9, 9}, &again, &error)) << error;
  EXPECT_EQ(again.size(), 514u);
  EXPECT_EQ(U32At(again, 0x106), 512u);
  EXPECT_EQ(again[512], 9);

  // Offset 0 (an unstamped stub) appends at the end.
  std::vector<uint8_t> unstamped = FakeStub(512);
  memset(&unstamped[0x106], 0, 4);
  ASSERT_TRUE(AppendBlockToStub(unstamped, block, &out, &error));
  EXPECT_EQ(U32At(out, 0x106), 512u);
  EXPECT_EQ(out.size(), 516u);
}

TEST(AppendBlockToStub, RejectsBadStubs) {
  std::vector<uint8_t> out{7};
  std::string error;
  std::vector<uint8_t> stub = FakeStub();
  stub[0] = 'X';
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));
  EXPECT_NE(error.find("PE"), std::string::npos);
  stub = FakeStub();
  stub[0x41] = 'X';
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));
  stub = FakeStub();
  stub[0x3C] = 0xF0;  // PE header offset past the end
  stub[0x3D] = 0xFF;
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));

  stub = FakeStub();
  memcpy(&stub[0x150], kMarker, 6);
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));
  EXPECT_NE(error.find("more than once"), std::string::npos);
  stub = FakeStub();
  memset(&stub[0x100], 0, 6);
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));

  // An offset inside the program, before its own locator, cannot be a block's start.
  stub = FakeStub();
  stub[0x106] = 0x80;
  stub[0x107] = stub[0x108] = stub[0x109] = 0;
  EXPECT_FALSE(AppendBlockToStub(stub, {1}, &out, &error));
  EXPECT_EQ(out, std::vector<uint8_t>{7});
}

TEST(AppendBlockToStub, KeepsACarriedBlockWithAMarkerCopyReplaceable) {
  // Another writer's block may hold the marker bytes; the first copy is the locator.
  std::vector<uint8_t> packed = FakeStub(512);
  packed.insert(packed.end(), kMarker, kMarker + 6);
  std::vector<uint8_t> out;
  std::string error;
  ASSERT_TRUE(AppendBlockToStub(packed, {5}, &out, &error)) << error;
  EXPECT_EQ(out.size(), 513u);
  EXPECT_EQ(U32At(out, 0x106), 512u);
}

TEST(RecordWriter, RawRecordDeclaresAnySize) {
  RecordWriter w;
  w.RawRecord(TAG_FILES, RF_NOT_LOADABLE, 99, {1, 2});
  w.End();
  EXPECT_EQ(w.bytes(), (std::vector<uint8_t>{0x35, 0x12, 1, 0, 99, 0, 0, 0, 1, 2, 0x7F, 0x7F, 0, 0,
                                             0, 0, 0, 0}));
}

}  // namespace
