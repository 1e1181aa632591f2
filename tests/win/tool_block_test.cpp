// The Windows tool: its conversions and case folding against the system's, its uninstall
// entry and its scan on the target, each removed by the stub's silent run.
#include <gtest/gtest.h>

#include "../host/codepage_cases.h"
#include "../host/support.h"
#include "codepage.h"
#include "file_io.h"
#include "support/testenv.h"
#include "tallowin.h"

namespace {

using hosttest::Tool;

// The Windows build converts as the Linux build, which passes the same table through iconv.
// Two staged names are one on Windows when its upcase table makes them equal: the tool
// folds every character a code page holds as the table does.
TEST(ToolBlock, ConvertsAndFoldsCaseAsTheSystem) {
  codepagecases::ExpectConversionsAsWindowsMakesThem();
  using Upcase = WCHAR(WINAPI *)(WCHAR);
  const auto upcase = reinterpret_cast<Upcase>(reinterpret_cast<void *>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(nullptr, upcase);
  for (wchar_t c = 0x80; c < 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string utf8, upper, bytes, why;
    ASSERT_TRUE(tallowin::WideToUtf8(std::wstring(1, c), &utf8));
    ASSERT_TRUE(tallowin::WideToUtf8(std::wstring(1, upcase(c)), &upper));
    bool held = false;
    for (int cp : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
      held = held || tallowin::Utf8ToCodePage(utf8, cp, &bytes, &why);
    if (held) {
      EXPECT_EQ(upper, tallowin::FoldCase(utf8)) << std::hex << int(c);
    }
  }
}

// The installer's entry, put in place as installers do, is gone after a run with the
// entry's own quiet command: through a 32-bit installer's reg, which imports into the
// 32-bit view. --write writes the view of the stub at --exe, whatever this tool's own, with
// the day of the install that the list of programs shows.
TEST(ToolBlock, SilentRunRemovesTheUninstallEntryWhereTheInstallerPutIt) {
  testenv::ScopedTestDir dir("toolentry");
  const std::string machine = dir / "machine.json", reg = dir / "entry.reg",
                    key = std::string(tallowin::kUninstallKey) + "\\TallowinSampleNotes";
  const std::wstring entry(key.begin(), key.end());
  std::string out, err;
  ASSERT_TRUE(
      hosttest::WritePerMachine(testenv::BinDir() + "\\tools\\sample-product.json", machine));
  const std::string stub32 = testenv::BinDir() + "\\..\\win32\\uninstall.exe";
  ASSERT_EQ(0, Tool({"uninstall-entry", machine, "--exe", stub32, "--write"}, &out, &err)) << err;
  EXPECT_TRUE(testenv::RegHas(HKEY_LOCAL_MACHINE, entry, KEY_WOW64_32KEY, L"InstallDate"));
  EXPECT_FALSE(testenv::RegHas(HKEY_LOCAL_MACHINE, entry, KEY_WOW64_64KEY));
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
  // A folder of its own: the self-deletion removes it.
  const std::string folder = dir / "r32", exe = folder + "\\uninstall.exe";
  ASSERT_TRUE(testenv::MakeDirs(folder));
  ASSERT_EQ(0, Tool({"pack", machine, "--stub", testenv::StubPath(), "-o", exe}, &out, &err))
      << err;
  ASSERT_EQ(0, Tool({"uninstall-entry", machine, "--exe", exe, "-o", reg}, &out, &err)) << err;
  ASSERT_EQ(0u, testenv::RunAndWait("reg.exe import \"" + reg + "\" /reg:32"));
  ASSERT_TRUE(testenv::RegHas(HKEY_LOCAL_MACHINE, entry, KEY_WOW64_32KEY));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S"));
  EXPECT_FALSE(testenv::RegHas(HKEY_LOCAL_MACHINE, entry, KEY_WOW64_32KEY));
  for (REGSAM each : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), each, 0);
  for (int i = 0; i < 100 && testenv::DirExists(folder); ++i) Sleep(50);
  EXPECT_FALSE(testenv::DirExists(folder));
}

// A product staged with nested folders and names of code page 1252 and installed below
// Program Files, with a shared component below Common Files and files in the folder the
// installer's user chose: the Windows tool scans the staged tree onto a base that lists the
// others, then packs on the target, expanding as the uninstaller there would (it refuses
// the 32-bit stub, whose Program Files it cannot see).
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
  const std::vector<std::string> staged = {"Mod\374l\\\311b\350ne\\fa\347ade.dat",
                                           "Mod\374l\\a.dat", "b.dat"};
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
  std::vector<std::string> pack = {
      "pack",       manifest, "--stub", testenv::BinDir() + "\\..\\win32\\uninstall.exe",
      "-o",         exe,      "--set",  "INSTDIR=" + install,
      "--on-target"};
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
  for (const char *gone : {"data", "own.dat", "b.dat", "Mod\374l"})
    EXPECT_FALSE(testenv::PathExists(install + "\\" + gone)) << gone;
  testenv::RemoveTree(shared);
  testenv::RemoveTree(install);
}

}  // namespace
