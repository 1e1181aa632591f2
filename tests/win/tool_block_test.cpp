// A block made by the tool, read back by the stub's own reader, and round-tripped.
#include <gtest/gtest.h>

#include "../host/codepage_cases.h"
#include "block_reader.h"
#include "data/data.h"
#include "pe_image.h"
#include "support/testenv.h"
#include "tallowin.h"

namespace {

const char kManifest[] = R"({
  "codePage": 1252,
  "messages": ["Caption", "Remove it?", "Done", "Y", "YA", "N", "NA", "mem %s", "read %s",
               "ro %s", "shared %s", "s11", "s12", "s13", "s14", "in use"],
  "files": [
    {"folder": ".", "name": "app.exe", "flags": ["checkInUse"]},
    {"folder": ".\\lib", "name": "caf\u00e9.dll", "flags": ["shared", "selfRegister"]},
    {"folder": "C:\\Fonts", "name": "x.ttf", "flags": ["font"]}
  ],
  "registry": [
    {"root": "HKEY_CURRENT_USER", "key": "Software\\Vendor\\Product"},
    {"root": "HKLM", "key": "Software\\Vendor", "value": "Setting"}
  ],
  "options": {"wait": true, "preRemoval": "cleanup.exe", "closingDocument": "https://example.invalid/bye"}
})";

// Signing appends a certificate table behind the block and points the header at it: the
// stub's reader stops at the end record and never gets there. (A table of the signing
// tool's shape; its content is no concern of the reader.)
TEST(ToolBlock, StubReaderLoadsWhatThePackCommandWroteAndASignatureAppended) {
  testenv::ScopedTestDir dir("toolblock");
  std::vector<uint8_t> stub, packed, image;
  ASSERT_TRUE(testenv::ReadBytes(testenv::StubPath(), &stub));
  tallowin::Fault fault;
  ASSERT_TRUE(tallowin::PackImage(kManifest, stub, &packed, &fault)) << fault.Text();
  const std::string exe = dir / "uninstall.exe";
  ASSERT_TRUE(testenv::WriteBytes(exe, packed));
  // dump gives a manifest that packs onto the real stub to the very same bytes.
  std::string out, err;
  ASSERT_EQ(0, tallowin::RunCommandLine({"tallowin", "dump", exe}, &out, &err)) << err;
  ASSERT_TRUE(tallowin::PackImage(out, stub, &image, &fault)) << fault.Text();
  EXPECT_TRUE(image == packed);

  tallowin::PeHeaders h;
  ASSERT_TRUE(tallowin::ReadPeHeaders(image, &h, &fault)) << fault.Text();
  ASSERT_NE(0u, h.securityAt);
  image.resize((image.size() + 7) & ~size_t{7});
  const uint32_t fields[4] = {static_cast<uint32_t>(image.size()), 1024, 1024, 0x00020200};
  for (int i = 0; i < 16; ++i) {
    const uint8_t byte = static_cast<uint8_t>(fields[i / 4] >> (8 * (i % 4)));
    if (i < 8)
      image[h.securityAt + i] = byte;  // the entry: offset and size
    else
      image.push_back(byte);  // the table's header: length, revision, type
  }
  image.resize(image.size() + 1016, 0x5A);
  ASSERT_TRUE(testenv::WriteBytes(exe, image));
  EXPECT_EQ(0, tallowin::RunCommandLine({"tallowin", "dump", exe}, &out, &err)) << err;
  EXPECT_NE(std::string::npos, err.find(", signed (certificate table of 1024 bytes)")) << err;

  // The manifest's names mean the stub's bits: a pack that mixed two up would still dump
  // and pack again to the same bytes. The rest the fuzzer holds against the tool's reader.
  tallowin::ReadBlockResult read;
  ASSERT_TRUE(tallowin::ReadBlockFromImage(image, &read, &err)) << err;
  testenv::PrepareRunState(dir.path());
  ASSERT_EQ(LOAD_OK, ReadBlockFile(exe.c_str(), read.blockOffset));
  ASSERT_EQ(3u, g.fileCount);
  EXPECT_EQ(blockfmt::FE_CHECK_IN_USE, g.files[0]->flags);
  EXPECT_EQ(blockfmt::FE_SHARED | blockfmt::FE_SELFREG, g.files[1]->flags);
  EXPECT_EQ(blockfmt::FE_FONT, g.files[2]->flags);
  ASSERT_EQ(2u, g.registryCount);
  EXPECT_EQ(blockfmt::ROOT_HKCU, g.registryEntries[0]->root);
  EXPECT_EQ(blockfmt::OPT_WAIT, g.options->flags);
  testenv::ReleaseRunState();
}

// The Windows build writes and reads the same bytes as the Linux build, which passes the
// same table through iconv.
TEST(ToolBlock, ConvertsTextsAsTheLinuxBuild) {
  codepagecases::ExpectConversionsAsWindowsMakesThem();
}

// The installer's entry, imported by the system's own tool, is gone after a run with the
// entry's own quiet command.
TEST(ToolBlock, SilentRunRemovesTheImportedUninstallEntry) {
  testenv::ScopedTestDir dir("toolentry");
  const std::string sample = testenv::BinDir() + "\\tools\\sample-product.json",
                    exe = dir / "uninstall.exe", reg = dir / "entry.reg",
                    key = std::string(tallowin::kUninstallKey) + "\\TallowinSampleNotes";
  std::string out, err;
  auto tool = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tallowin");
    return tallowin::RunCommandLine(arguments, &out, &err);
  };
  ASSERT_EQ(0, tool({"pack", sample, "--stub", testenv::StubPath(), "-o", exe})) << err;
  ASSERT_EQ(0, tool({"uninstall-entry", sample, "--exe", exe, "-o", reg})) << err;
  ASSERT_EQ(0u, testenv::RunAndWait("reg.exe import \"" + reg + "\""));
  ASSERT_TRUE(testenv::RegKeyExists(HKEY_CURRENT_USER, key));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, key));
  // --write puts the same entry in place without the file.
  EXPECT_EQ(0, tool({"uninstall-entry", sample, "--exe", exe, "--write"})) << err;
  DWORD noModify = 0;
  EXPECT_TRUE(testenv::GetRegDword(HKEY_CURRENT_USER, key, "NoModify", &noModify));
  EXPECT_EQ(1u, noModify);
  // With the day of the install, which the list of programs shows.
  EXPECT_TRUE(testenv::RegValueExists(HKEY_CURRENT_USER, key, "InstallDate"));
  testenv::DeleteRegTree(HKEY_CURRENT_USER, key);
}

}  // namespace
