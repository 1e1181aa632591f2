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

// Whether the key is in the registry view given (0: this program's own).
bool HasKeyInView(HKEY root, const std::string &key, REGSAM view) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// The list of programs that Wine's own uninstaller shows ("id|||name" lines).
std::string WineProgramList(const std::string &file) {
  testenv::RunAndWait("cmd.exe /c uninstaller.exe --list > \"" + file + "\"");
  std::vector<uint8_t> bytes;
  testenv::ReadBytes(file, &bytes);
  return std::string(bytes.begin(), bytes.end());
}

// The installer's entry, put in place as installers do, is gone after a run with the
// entry's own quiet command: per user through the system's reg; per machine through a
// 32-bit installer's reg, which imports into the 32-bit view, and through --write, which
// writes the view of the stub at --exe. The 64-bit stub looks in both views.
TEST(ToolBlock, SilentRunRemovesTheUninstallEntryWhereTheInstallerPutIt) {
  testenv::ScopedTestDir dir("toolentry");
  const std::string user = testenv::BinDir() + "\\tools\\sample-product.json",
                    machine = dir / "machine.json", reg = dir / "entry.reg",
                    key = std::string(tallowin::kUninstallKey) + "\\TallowinSampleNotes";
  std::vector<uint8_t> sample;
  ASSERT_TRUE(testenv::ReadBytes(user, &sample));
  std::string text(sample.begin(), sample.end());
  text.replace(text.find("\"user\""), 6, "\"machine\"");
  ASSERT_TRUE(testenv::WriteText(machine, text));
  std::string out, err;
  auto tool = [&](std::initializer_list<std::string> arguments) {
    std::vector<std::string> line = {"tallowin"};
    line.insert(line.end(), arguments);
    return tallowin::RunCommandLine(line, &out, &err);
  };
  const struct {
    const std::string &manifest;
    HKEY root;
    const char *import;  // reg import's switches; null: --write
    REGSAM view;
  } rows[] = {{user, HKEY_CURRENT_USER, "", 0},
              {machine, HKEY_LOCAL_MACHINE, " /reg:32", KEY_WOW64_32KEY},
              {machine, HKEY_LOCAL_MACHINE, nullptr, KEY_WOW64_64KEY}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.import ? row.import : "--write");
    // A folder of its own each time: the self-deletion removes the last one meanwhile. The
    // per-user product lies where per-user products go.
    char local[MAX_PATH];
    ExpandEnvironmentStringsA("%LOCALAPPDATA%\\Programs", local, MAX_PATH);
    const std::string folder = row.root == HKEY_CURRENT_USER
                                   ? std::string(local) + "\\Tallowin Sample Notes"
                                   : dir / ("r" + std::to_string(&row - rows)),
                      exe = folder + "\\uninstall.exe";
    ASSERT_TRUE(testenv::MakeDirs(folder));
    ASSERT_EQ(0, tool({"pack", row.manifest, "--stub", testenv::StubPath(), "-o", exe})) << err;
    if (row.import) {
      ASSERT_EQ(0, tool({"uninstall-entry", row.manifest, "--exe", exe})) << err;
      ASSERT_TRUE(testenv::WriteText(reg, out));
      ASSERT_EQ(0u, testenv::RunAndWait("reg.exe import \"" + reg + "\"" + row.import));
    } else {
      ASSERT_EQ(0, tool({"uninstall-entry", row.manifest, "--exe", exe, "--write"})) << err;
    }
    ASSERT_TRUE(HasKeyInView(row.root, key, row.view));
    EXPECT_EQ(row.view == KEY_WOW64_32KEY, !HasKeyInView(row.root, key, KEY_WOW64_64KEY));
    // Wine's list holds the user's entries and the machine's of both views.
    EXPECT_NE(std::string::npos, WineProgramList(dir / "list.txt").find("TallowinSampleNotes|"));
    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
    EXPECT_FALSE(HasKeyInView(row.root, key, row.view));
    EXPECT_EQ(std::string::npos, WineProgramList(dir / "list.txt").find("TallowinSampleNotes|"));
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      RegDeleteKeyExA(row.root, key.c_str(), view, 0);
    for (int i = 0; i < 100 && testenv::DirExists(folder); ++i) Sleep(50);
    EXPECT_FALSE(testenv::DirExists(folder));
  }
}

}  // namespace
