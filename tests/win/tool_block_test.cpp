// A block made by the tool, read back by the stub's own reader, and round-tripped.
#include <gtest/gtest.h>

#include <chrono>

#include "../host/codepage_cases.h"
#include "../host/support.h"
#include "block_reader.h"
#include "codepage.h"
#include "data/data.h"
#include "file_io.h"
#include "pe_image.h"
#include "support/testenv.h"
#include "tallowin.h"

namespace {

using hosttest::Tool;

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
  std::vector<uint8_t> stub, image;
  ASSERT_TRUE(testenv::ReadBytes(testenv::StubPath(), &stub));
  tallowin::Fault fault;
  ASSERT_TRUE(tallowin::PackImage(kManifest, stub, &image, &fault)) << fault.Text();
  const std::string exe = dir / "uninstall.exe";
  std::string err;
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

// Two staged names are one on Windows when its upcase table makes them equal: the tool
// folds every character a code page holds as the table does.
TEST(ToolBlock, FoldsCaseAsTheSystemsUpcaseTable) {
  using Upcase = WCHAR(WINAPI *)(WCHAR);
  const auto upcase = reinterpret_cast<Upcase>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(nullptr, upcase);
  for (wchar_t c = 0x80; c < 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string utf8, upper, bytes, why;
    const wchar_t u = upcase(c);
    ASSERT_TRUE(tallowin::WideToUtf8(std::wstring(1, c), &utf8));
    ASSERT_TRUE(tallowin::WideToUtf8(std::wstring(1, u), &upper));
    bool held = false;
    for (int cp : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
      held = held || tallowin::Utf8ToCodePage(utf8, cp, &bytes, &why);
    if (held) {
      EXPECT_EQ(upper, tallowin::FoldCase(utf8)) << std::hex << int(c);
    }
  }
}

// Whether the key is in the registry view given (0: this program's own).
bool HasKeyInView(HKEY root, const std::string &key, REGSAM view) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
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
    ASSERT_EQ(0, Tool({"pack", row.manifest, "--stub", testenv::StubPath(), "-o", exe}, &out, &err))
        << err;
    if (row.import) {
      ASSERT_EQ(0, Tool({"uninstall-entry", row.manifest, "--exe", exe, "-o", reg}, &out, &err))
          << err;
      ASSERT_EQ(0u, testenv::RunAndWait("reg.exe import \"" + reg + "\"" + row.import));
    } else {
      ASSERT_EQ(0, Tool({"uninstall-entry", row.manifest, "--exe", exe, "--write"}, &out, &err))
          << err;
    }
    ASSERT_TRUE(HasKeyInView(row.root, key, row.view));
    // With the day of the install, which the list of programs shows.
    if (!row.import) {
      HKEY k;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(row.root, key.c_str(), 0, KEY_READ | row.view, &k));
      EXPECT_EQ(ERROR_SUCCESS,
                RegQueryValueExA(k, "InstallDate", nullptr, nullptr, nullptr, nullptr));
      RegCloseKey(k);
    }
    EXPECT_EQ(row.view == KEY_WOW64_32KEY, !HasKeyInView(row.root, key, KEY_WOW64_64KEY));
    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
    EXPECT_FALSE(HasKeyInView(row.root, key, row.view));
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      RegDeleteKeyExA(row.root, key.c_str(), view, 0);
    for (int i = 0; i < 100 && testenv::DirExists(folder); ++i) Sleep(50);
    EXPECT_FALSE(testenv::DirExists(folder));
  }
}

// A product installed below Program Files, its manifest made by the Windows tool.
class ScannedProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    ASSERT_LT(ExpandEnvironmentStringsA("%ProgramFiles%", folder, MAX_PATH), DWORD{MAX_PATH});
    install_ = std::string(folder) + "\\Tallowin Scan Test";
    exe_ = install_ + "\\uninstall.exe";
    // A base that checks clean: every message, the uninstall entry.
    std::string base = R"({"codePage": 1252, "messages": [)";
    for (const std::string &m : testenv::StandardMessages())
      base += (base.back() == '[' ? "\"" : ", \"") + m + "\"";
    base += R"(], "uninstallEntry": {"id": "TallowinScanTest", "displayName": "T",
        "displayVersion": "1", "publisher": "T", "scope": "user"}})";
    ASSERT_TRUE(testenv::WriteText(base_, base));
  }
  void TearDown() override { testenv::RemoveTree(install_); }

  testenv::ScopedTestDir dir_{"scan"};
  std::string install_, exe_, base_ = dir_ / "base.json", manifest_ = dir_ / "product.json";
};

TEST_F(ScannedProduct, TwoThousandStagedFilesScannedCheckedPackedAndRemovedSilently) {
  ASSERT_EQ(1252u, GetACP());  // the names below are its bytes
  std::vector<std::string> names, folders;
  for (int a = 0; a < 5; ++a) {
    folders.push_back("Mod\xFCl " + std::to_string(a));
    for (int b = 0; b < 10; ++b)
      for (int c = 0; c < 41; ++c)
        names.push_back(folders.back() +
                        "\\\xC9"
                        "b\xE8ne " +
                        std::to_string(b) +
                        "\\fa\xE7"
                        "ade " +
                        std::to_string(c) + ".dat");
  }
  ASSERT_TRUE(testenv::MakeTree(dir_ / "stage", names));
  ASSERT_TRUE(testenv::MakeTree(install_, names));
  const auto start = std::chrono::steady_clock::now();
  std::string report;
  ASSERT_EQ(0, Tool({"scan", dir_ / "stage", "--base", base_, "-o", manifest_}, nullptr, &report))
      << report;
  const auto took = std::chrono::steady_clock::now() - start;
  printf(
      "scan of %zu files: %lld ms\n", names.size(),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  EXPECT_EQ(0, Tool({"check", manifest_}, &report)) << report;
  ASSERT_EQ(0, Tool({"pack", manifest_, "--stub", testenv::StubPath(), "-o", exe_}));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /S", 300000));
  testenv::ExpectTree(install_, {}, names);
  testenv::ExpectTree(install_, {}, folders);
}

// A shared component below Common Files and files in the folder the installer's user
// chose: the Windows tool packs them on the target, expanded as the uninstaller there
// would; without --on-target it refuses them.
TEST_F(ScannedProduct, PackedOnTheTargetWithFolderMacrosAndTheChosenFolder) {
  char common[MAX_PATH];
  DWORD size = sizeof common;
  ASSERT_EQ(ERROR_SUCCESS,
            RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                         "CommonFilesDir", RRF_RT_REG_SZ, nullptr, common, &size));
  const std::string shared = std::string(common) + "\\Tallowin Scan Test";
  const std::string manifest = dir_ / "target.json";
  ASSERT_TRUE(testenv::WriteText(manifest, R"({"messages": ["<0>"], "files": [
      {"folder": "#CommonFiles#\\Tallowin Scan Test", "name": ""},
      {"folder": "#commonfiles#\\Tallowin Scan Test", "name": "shared.dat"},
      {"folder": "${INSTDIR}\\data", "name": ""},
      {"folder": "${INSTDIR}\\data", "name": "d.dat"},
      {"folder": "#InstallDir#", "name": "own.dat"}]})"));
  ASSERT_TRUE(testenv::MakeTree(shared, {"shared.dat"}));
  ASSERT_TRUE(testenv::MakeTree(install_, {"data\\d.dat", "own.dat"}));
  const std::vector<std::string> pack = {"pack", manifest, "--stub", testenv::StubPath(),
                                         "-o",   exe_,     "--set",  "INSTDIR=" + install_};
  std::string out, err;
  EXPECT_EQ(2, Tool(pack, nullptr, &err));
  EXPECT_NE(std::string::npos, err.find("$.files[0].folder: folder macros in file and folder "
                                        "entries are expanded only when packing on the target"))
      << err;
  std::vector<std::string> onTarget = pack;
  onTarget.push_back("--on-target");
  // The 32-bit stub sees the 32-bit Program Files: this 64-bit tool cannot expand for it.
  std::vector<std::string> otherStub = onTarget;
  otherStub[3] = testenv::BinDir() + "\\..\\win32\\uninstall.exe";
  EXPECT_EQ(2, Tool(otherStub, nullptr, &err));
  EXPECT_NE(std::string::npos, err.find("the stub is the 32-bit build")) << err;
  ASSERT_EQ(0, Tool(onTarget, nullptr, &err)) << err;
  ASSERT_EQ(0, Tool({"dump", exe_}, &out));
  for (const std::string &folder : {shared, install_ + "\\data", install_}) {
    std::string json = folder;
    for (size_t at = 0; (at = json.find('\\', at)) != std::string::npos; at += 2)
      json.insert(at, "\\");
    EXPECT_NE(std::string::npos, out.find("\"folder\": \"" + json + "\"")) << out;
  }
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /S"));
  EXPECT_FALSE(testenv::PathExists(shared));
  testenv::ExpectTree(install_, {}, {"data", "own.dat"});
  testenv::RemoveTree(shared);
}

}  // namespace
