// A block made by the tool, read back by the stub's own reader, and round-tripped.
#include <gtest/gtest.h>

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

// Signing appends a certificate table behind the block and points the header at it: the
// stub's reader stops at the end record and never gets there. (A table of the signing
// tool's shape; its content is no concern of the reader.)
TEST(ToolBlock, StubReaderLoadsWhatThePackCommandWroteAndASignatureAppended) {
  testenv::ScopedTestDir dir("toolblock");
  std::vector<uint8_t> stub, image, sample;
  ASSERT_TRUE(testenv::ReadBytes(testenv::StubPath(), &stub));
  ASSERT_TRUE(testenv::ReadBytes(testenv::BinDir() + "\\tools\\sample-product.json", &sample));
  tallowin::Fault fault;
  ASSERT_TRUE(tallowin::PackImage(std::string(sample.begin(), sample.end()), stub, &image, &fault))
      << fault.Text();
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
  // The rest the fuzzer holds against the tool's reader.
  tallowin::ReadBlockResult read;
  ASSERT_TRUE(tallowin::ReadBlockFromImage(image, &read, &err)) << err;
  testenv::PrepareRunState(dir.path());
  ASSERT_EQ(LOAD_OK, ReadBlockFile(exe.c_str(), read.blockOffset));
  EXPECT_EQ(read.block.files.size(), g.fileCount);
  EXPECT_EQ(blockfmt::FE_CHECK_IN_USE, g.files[0]->flags);
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

// Whether the key, and the value when one is named, is in the registry view given.
bool Has(HKEY root, const std::string &key, REGSAM view, const char *value = nullptr) {
  HKEY k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  const bool found = !value || RegQueryValueExA(k, value, nullptr, nullptr, nullptr, nullptr) == 0;
  RegCloseKey(k);
  return found;
}

// The installer's entry, put in place as installers do, is gone after a run with the
// entry's own quiet command: through a 32-bit installer's reg, which imports into the
// 32-bit view, and through --write, which writes the view of the stub at --exe, whatever
// this tool's own, with the day of the install that the list of programs shows. The 64-bit
// stub looks in both views.
TEST(ToolBlock, SilentRunRemovesTheUninstallEntryWhereTheInstallerPutIt) {
  testenv::ScopedTestDir dir("toolentry");
  const std::string machine = dir / "machine.json", reg = dir / "entry.reg",
                    key = std::string(tallowin::kUninstallKey) + "\\TallowinSampleNotes";
  std::vector<uint8_t> sample;
  ASSERT_TRUE(testenv::ReadBytes(testenv::BinDir() + "\\tools\\sample-product.json", &sample));
  std::string text(sample.begin(), sample.end()), out, err;
  text.replace(text.find("\"user\""), 6, "\"machine\"");
  ASSERT_TRUE(testenv::WriteText(machine, text));
  const std::string stub32 = testenv::BinDir() + "\\..\\win32\\uninstall.exe";
  ASSERT_EQ(0, Tool({"uninstall-entry", machine, "--exe", stub32, "--write"}, &out, &err)) << err;
  EXPECT_TRUE(Has(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY, "InstallDate"));
  EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    const bool imported = view == KEY_WOW64_32KEY;
    SCOPED_TRACE(imported ? "reg import /reg:32" : "--write");
    // A folder of its own each time: the self-deletion removes the last one meanwhile.
    const std::string folder = dir / (imported ? "r32" : "r64"), exe = folder + "\\uninstall.exe";
    ASSERT_TRUE(testenv::MakeDirs(folder));
    ASSERT_EQ(0, Tool({"pack", machine, "--stub", testenv::StubPath(), "-o", exe}, &out, &err))
        << err;
    if (imported) {
      ASSERT_EQ(0, Tool({"uninstall-entry", machine, "--exe", exe, "-o", reg}, &out, &err)) << err;
      ASSERT_EQ(0u, testenv::RunAndWait("reg.exe import \"" + reg + "\" /reg:32"));
    } else {
      ASSERT_EQ(0, Tool({"uninstall-entry", machine, "--exe", exe, "--write"}, &out, &err)) << err;
    }
    ASSERT_TRUE(Has(HKEY_LOCAL_MACHINE, key, view, imported ? nullptr : "InstallDate"));
    EXPECT_EQ(imported, !Has(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
    EXPECT_FALSE(Has(HKEY_LOCAL_MACHINE, key, view));
    for (REGSAM each : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), each, 0);
    for (int i = 0; i < 100 && testenv::DirExists(folder); ++i) Sleep(50);
    EXPECT_FALSE(testenv::DirExists(folder));
  }
}

// A product staged with nested folders and names of code page 1252 and installed below
// Program Files, with a shared component below Common Files and files in the folder the
// installer's user chose: the Windows tool scans the staged tree onto a base that lists the
// others, then packs on the target, expanding as the uninstaller there would (it refuses
// the macros without --on-target, and the 32-bit stub, whose Program Files it cannot see).
TEST(ToolBlock, ScannedPackedOnTheTargetAndRemovedSilently) {
  ASSERT_EQ(1252u, GetACP());  // the names below are its bytes
  testenv::ScopedTestDir dir("scan");
  char programs[MAX_PATH], common[MAX_PATH];
  DWORD size = sizeof common;
  ASSERT_LT(ExpandEnvironmentStringsA("%ProgramFiles%", programs, MAX_PATH), DWORD{MAX_PATH});
  ASSERT_EQ(ERROR_SUCCESS,
            RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                         "CommonFilesDir", RRF_RT_REG_SZ, nullptr, common, &size));
  const std::string install = std::string(programs) + "\\Tallowin Scan Test",
                    shared = std::string(common) + "\\Tallowin Scan Test", base = dir / "base.json",
                    manifest = dir / "product.json", exe = install + "\\uninstall.exe";
  const std::vector<std::string> staged = {
      "Mod\xFCl\\\xC9"
      "b\xE8ne\\fa\xE7"
      "ade.dat",
      "Mod\xFCl\\a.dat", "b.dat"};
  ASSERT_TRUE(testenv::MakeTree(dir / "stage", staged));
  ASSERT_TRUE(testenv::MakeTree(install, staged));
  ASSERT_TRUE(testenv::MakeTree(install, {"data\\d.dat", "own.dat"}));
  ASSERT_TRUE(testenv::MakeTree(shared, {"shared.dat"}));
  ASSERT_TRUE(testenv::WriteText(base, R"({"messages": ["<0>"], "files": [
      {"folder": "#CommonFiles#\\Tallowin Scan Test", "name": ""},
      {"folder": "#commonfiles#\\Tallowin Scan Test", "name": "shared.dat"},
      {"folder": "${INSTDIR}\\data", "name": ""},
      {"folder": "${INSTDIR}\\data", "name": "d.dat"},
      {"folder": "#InstallDir#", "name": "own.dat"}]})"));
  std::string out, err;
  ASSERT_EQ(0, Tool({"scan", dir / "stage", "--base", base, "-o", manifest}, nullptr, &err)) << err;
  std::vector<std::string> pack = {"pack", manifest, "--stub", testenv::StubPath(),
                                   "-o",   exe,      "--set",  "INSTDIR=" + install};
  EXPECT_EQ(2, Tool(pack, nullptr, &err));
  EXPECT_NE(std::string::npos, err.find("$.files[0].folder: folder macros in file and folder "
                                        "entries are expanded only when packing on the target"))
      << err;
  pack.push_back("--on-target");
  pack[3] = testenv::BinDir() + "\\..\\win32\\uninstall.exe";
  EXPECT_EQ(2, Tool(pack, nullptr, &err));
  EXPECT_NE(std::string::npos, err.find("the stub is the 32-bit build")) << err;
  pack[3] = testenv::StubPath();
  ASSERT_EQ(0, Tool(pack, nullptr, &err)) << err;
  ASSERT_EQ(0, Tool({"dump", exe}, &out));
  for (std::string folder : {shared, install + "\\data", install}) {
    for (size_t at = 0; (at = folder.find('\\', at)) != std::string::npos; at += 2)
      folder.insert(at, "\\");
    EXPECT_NE(std::string::npos, out.find("\"folder\": \"" + folder + "\"")) << out;
  }
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
  EXPECT_FALSE(testenv::PathExists(shared));
  testenv::ExpectTree(install, {}, {"data", "own.dat", "b.dat", "Mod\xFCl"});
  testenv::RemoveTree(shared);
  testenv::RemoveTree(install);
}

}  // namespace
