// Self-deletion: the interpreter's command line read back, the 9x family's OEM paths and
// script name, and a copy of this test program that deletes itself and its folder the
// way the removal program does at its end.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "external/external.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

const char kChildVariable[] = "TALLOWIN_SELFDELETE_CHILD";

// Points the temporary folder of this process (and of its children) elsewhere.
struct ScopedTemp {
  explicit ScopedTemp(const std::string &folder) { Set(folder.c_str()); }
  ~ScopedTemp() { Set(saved.empty() ? nullptr : saved.c_str()); }
  static void Set(const char *folder) {
    for (const char *name : {"TMP", "TEMP"}) SetEnvironmentVariableA(name, folder);
  }
  const std::string saved = getenv("TMP") ? getenv("TMP") : "";
};

// What the interpreter would be given for `program`, or "" when nothing would start.
std::wstring CommandFor(const std::wstring &program) {
  wchar_t line[2048];
  return BuildSelfDeletionCommand(line, 2048, L"C:\\windows\\system32", program.c_str()) ? line
                                                                                         : L"";
}

// `parents`: the folders removed after the program's, nearest first.
std::wstring Expected(const std::wstring &program, const std::wstring &folder,
                      const std::vector<std::wstring> &parents = {}) {
  const std::wstring system = L"\"C:\\windows\\system32\\", quoted = L"\"" + program + L"\"";
  std::wstring removals = L"rmdir \"" + folder + L"\" >nul 2>nul";
  for (const std::wstring &parent : parents)
    removals += L" && rmdir \"" + parent + L"\" >nul 2>nul";
  return system + L"cmd.exe\" /q /d /e:on /v:off /s /c \"for /l %i in (1,1,60) do ((if exist \"" +
         program + L"\\*\" exit) & del " + quoted + L" >nul 2>nul & (if not exist " + quoted +
         L" (" + removals + L" & exit)) & " + system + L"ping.exe\" -n 2 127.0.0.1 >nul)\"";
}

TEST(SelfDeletionCommand, GivesEachPathLiterallyOrInItsShortForm) {
  testenv::ScopedTestDir dir("selfdelete-line");
  wchar_t root[MAX_PATH];
  ASSERT_TRUE(MultiByteToWideChar(CP_ACP, 0, dir.path().c_str(), -1, root, MAX_PATH));
  // Quoted, the first is literal. A '%' could name a variable: then the short form is
  // given, but "100%" is its own short name.
  enum Given { kLiteral, kShort, kNothing };
  const struct {
    std::wstring folder;
    Given given;
  } cases[] = {{L"A&B (x) ^y !z! \u201Cq\u201D S\u00E3o \u00E9", kLiteral},
               {L"Tools and more 100%", kShort},
               {L"100%", kNothing}};
  for (const auto &c : cases) {
    const std::wstring folder = std::wstring(root) + L"\\" + c.folder,
                       program = folder + L"\\uninstall.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    HANDLE file = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    wchar_t shortPath[MAX_PATH] = L"";
    GetShortPathNameW(program.c_str(), shortPath, MAX_PATH);
    const std::wstring given = c.given == kShort ? shortPath : program;
    ASSERT_TRUE(c.given != kShort || given.find(L'%') == std::wstring::npos);
    EXPECT_EQ(c.given == kNothing ? L"" : Expected(given, given.substr(0, given.rfind(L'\\'))),
              CommandFor(program));
  }
  // No short form to fall back on: nothing starts. A drive root stays a root.
  EXPECT_EQ(L"", CommandFor(std::wstring(root) + L"\\missing 100%\\uninstall.exe"));
  EXPECT_EQ(Expected(L"C:\\uninstall.exe", L"C:\\"), CommandFor(L"C:\\uninstall.exe"));
  // Parents after the folder, never up to the drive root.
  wchar_t line[2048];
  const std::wstring program = L"C:\\P F\\Vendor\\Product\\uninstall.exe";
  ASSERT_TRUE(BuildSelfDeletionCommand(line, 2048, L"C:\\windows\\system32", program.c_str(), 5));
  EXPECT_EQ(Expected(program, L"C:\\P F\\Vendor\\Product", {L"C:\\P F\\Vendor", L"C:\\P F"}), line);
}

// The 9x family's script is read in the OEM code page: a character that has no OEM form
// would be best-fitted to another (a quote that breaks the quoting, "Sao" for "São").
TEST(SelfDeletionOnNineX, PathsThatChangeInTheOemCodePageTakeTheirShortForm) {
  testenv::ScopedTestDir dir("selfdelete-oem");
  ASSERT_EQ(437u, GetOEMCP()) << "the cases assume the OEM code page 437";
  const struct {
    std::string name;
    bool survives;
  } cases[] = {{"caf\xe9 & 100%", true}, {"S\xe3o", false}, {"\x93q\x94", false}};
  for (const auto &c : cases) {
    const std::string path = dir / c.name;
    ASSERT_TRUE(testenv::MakeDirs(path));
    char expected[MAX_PATH], buffer[MAX_PATH];
    ASSERT_TRUE(c.survives || GetShortPathNameA(path.c_str(), expected, MAX_PATH));
    CharToOemA(c.survives ? path.c_str() : expected, expected);
    lstrcpyA(buffer, path.c_str());
    ASSERT_TRUE(ToOemPath(buffer)) << c.name;
    EXPECT_STREQ(expected, buffer) << c.name;
  }
  char missing[MAX_PATH];
  lstrcpyA(missing, (dir / "S\xe3o missing").c_str());
  EXPECT_FALSE(ToOemPath(missing));

  // Its script takes the first free name in the temporary folder.
  ScopedTemp temp(dir.path());
  testenv::WriteText(dir / "delme1.bat", "one");
  char path[MAX_PATH];
  HANDLE file = CreateBatchFile(path, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / "delme2.bat", std::string(path));
}

// Runs only inside the copy that the test below starts.
TEST(SelfDeleteChild, StartsTheInterpreter) {
  if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) GTEST_SKIP();
  std::string own = testenv::OwnPath();
  // Held open without delete sharing, the file resists the script's first tries as a
  // running program's file does.
  HANDLE hold =
      CreateFileA(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  testenv::PrepareRunState(own.substr(0, own.rfind('\\')));
  StartSelfDeletion();
  Sleep(2500);
  EXPECT_TRUE(testenv::FileExists(own));
  CloseHandle(hold);
}

TEST(SelfDeletion, RemovesTheProgramAndTheFolderOnlyWhenEmpty) {
  testenv::ScopedTestDir dir("selfdelete");
  char folder[MAX_PATH];
  ExpandEnvironmentStringsA("%ProgramFiles%", folder, MAX_PATH);
  const std::string programFiles = folder, install = programFiles + "\\A&B 100% !x! \x93q\x94 \xe9";
  // Names that a command which split or expanded the path would reach instead.
  const std::string siblings[] = {programFiles + "\\A", programFiles + "\\A&B 100"};
  for (const std::string &sibling : siblings) testenv::MakeDirs(sibling);
  for (bool leftover : {false, true}) {
    const std::string temp = dir / (std::string("t&mp 100% \xe9t\xe9") + (leftover ? "2" : ""));
    testenv::MakeDirs(temp);
    testenv::MakeDirs(install);
    if (leftover) testenv::WriteText(install + "\\leftover.txt", "kept");
    const std::string exe = install + "\\uninstall.exe";
    ScopedTemp scoped(temp);
    EXPECT_EQ(0u, testenv::RunCopyOfThisProgram(exe, "SelfDeleteChild.*", kChildVariable));
    for (int i = 0; i < 200 && testenv::FileExists(exe); ++i) Sleep(50);
    EXPECT_FALSE(testenv::FileExists(exe)) << "the program file is still there";
    // Nothing is written anywhere: the temporary folder stays empty.
    EXPECT_TRUE(RemoveDirectoryA(temp.c_str())) << "something was left in " << temp;
    for (int i = 0; i < 100 && !leftover && testenv::DirExists(install); ++i) Sleep(50);
    EXPECT_EQ(leftover, testenv::DirExists(install)) << leftover;
    EXPECT_EQ(leftover, testenv::FileExists(install + "\\leftover.txt"));
  }
  for (const std::string &sibling : siblings) EXPECT_TRUE(testenv::DirExists(sibling)) << sibling;
  EXPECT_TRUE(testenv::DirExists(programFiles));
  testenv::RemoveTree(install);
  for (const std::string &sibling : siblings) RemoveDirectoryA(sibling.c_str());
}

// A product in Program Files\Vendor\Product with a vendor key: its folder entry climbs
// to the vendor's folder, which the program itself keeps until the self-deletion, and the
// vendor key goes if empty. A vendor folder and key holding another product stay.
TEST(SelfDeletion, RemovesTheVendorFolderAndKeyUnlessAnotherProductIsThere) {
  char programFiles[MAX_PATH];
  ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  for (bool other : {false, true}) {
    SCOPED_TRACE(other ? "another product" : "alone");
    const std::string name = other ? "TallowinVendorB" : "TallowinVendorA",
                      vendor = std::string(programFiles) + "\\" + name,
                      install = vendor + "\\Product", exe = install + "\\uninstall.exe",
                      key = "Software\\" + name;
    ASSERT_TRUE(testenv::MakeDirs(install));
    ASSERT_TRUE(testenv::SetRegString(HKEY_LOCAL_MACHINE, key + "\\Product", "v", "1"));
    if (other) {
      ASSERT_TRUE(testenv::MakeDirs(vendor + "\\Other"));
      ASSERT_TRUE(testenv::WriteText(vendor + "\\Other\\other.exe", "other"));
      ASSERT_TRUE(testenv::SetRegString(HKEY_LOCAL_MACHINE, key + "\\Other", "v", "1"));
    }
    blockfmt::Block block;
    block.messages = testenv::StandardMessages();
    block.folders.push_back({1, install, "", ""});
    block.registry.push_back({blockfmt::ROOT_HKLM, key + "\\Product", false});
    block.registry.push_back({blockfmt::ROOT_HKLM, key, true});
    ASSERT_TRUE(testenv::InstallStub(exe, block));
    const std::string log = vendor + ".log";
    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /S /LOG=\"" + log + "\""));
    std::vector<uint8_t> written;
    ASSERT_TRUE(testenv::ReadBytes(log, &written));
    EXPECT_NE(std::string::npos, std::string(written.begin(), written.end())
                                     .find("\r\nscheduled-self-delete " + vendor + "\r\n"));
    DeleteFileA(log.c_str());
    for (int i = 0; i < 200 && testenv::DirExists(other ? install : vendor); ++i) Sleep(50);
    EXPECT_FALSE(testenv::DirExists(install));
    EXPECT_EQ(other, testenv::DirExists(vendor));
    EXPECT_EQ(other, testenv::FileExists(vendor + "\\Other\\other.exe"));
    EXPECT_FALSE(testenv::RegKeyExists(HKEY_LOCAL_MACHINE, key + "\\Product"));
    EXPECT_EQ(other, testenv::RegValueExists(HKEY_LOCAL_MACHINE, key + "\\Other", "v"));
    testenv::RemoveTree(vendor);
    testenv::DeleteRegTree(HKEY_LOCAL_MACHINE, key);
  }
}

}  // namespace
