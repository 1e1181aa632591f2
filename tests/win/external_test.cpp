// The pre-removal program and the closing document, with a probe program of ours that
// records how it was started (what a whole run gives it, the table's rows show); the
// self-deletion's command line read back, and the 9x family's OEM paths.
#include "external/external.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <ole2.h>

#include <string>
#include <vector>

#include "support/testenv.h"

namespace {

using Lines = std::vector<std::string>;

// The probe's marker once it has appeared: its current folder, its command line, then
// each argument. Empty when it did not appear within the time.
Lines WaitForMarker(const std::string &path, DWORD timeoutMs = 15000) {
  for (DWORD waited = 0; !testenv::FileExists(path); waited += 50) {
    if (waited >= timeoutMs) return {};
    Sleep(50);
  }
  return testenv::ReadLines(path);
}

const std::string kClasses = "Software\\Classes\\";

// A folder of the test's own, the probe's marker in it and the current folder there; the
// test's classes go at the end.
class ExternalTest : public ::testing::Test {
 protected:
  ExternalTest() { SetCurrentDirectoryA(dir_.path().c_str()); }
  ~ExternalTest() override {
    for (const char *key : {".tallowindoc", "TallowinTest.Document"})
      for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        testenv::DeleteRegTree(root, kClasses + key);
  }
  testenv::ScopedTestDir dir_{"external"};
  std::string marker_ = dir_ / "marker.txt";
};

// The program starts in its own folder with its command line whole, or not at all when the
// line would be cut; this process's current folder comes back.
TEST_F(ExternalTest, ThePreRemovalProgramStartsWholeOrNotAtAll) {
  const std::string folder = dir_ / "Product Tools", program = folder + "\\pre removal.exe";
  ASSERT_TRUE(testenv::MakeDirs(folder));
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\preremoval_probe.exe").c_str(),
                        program.c_str(), FALSE));
  testenv::ProbeEnv env(marker_, 1500);
  EXPECT_EQ(0, StartPreRemovalProgram((folder + "\\missing.exe").c_str(), "", 1));
  std::string arguments(520 - program.size() - 3, 'a');
  EXPECT_EQ(0, StartPreRemovalProgram(program.c_str(), arguments.c_str(), 1));
  arguments.pop_back();
  EXPECT_EQ(1, StartPreRemovalProgram(program.c_str(), arguments.c_str(), 1));
  EXPECT_EQ(Lines({folder, "\"" + program + "\" " + arguments, arguments}),
            WaitForMarker(marker_, 0));
  EXPECT_EQ(dir_.path(), testenv::CurrentFolder());
}

DWORD WINAPI OpenWithoutCom(void *document) {
  OpenClosingDocument(static_cast<const char *>(document), ".tallowindoc");
  return 0;
}

// Elevated, as the test prefix runs, the document is handed to the desktop's shell. Its
// handler starts without this process's environment, where the probe's settings name
// another marker: it is the shell's child, not ours. It opens in the document's folder.
// When that shell cannot be asked (on a thread without COM, where the first call fails),
// nothing opens, not through the shell and not through the class's command.
TEST_F(ExternalTest, ElevatedOnlyTheDesktopsShellOpensTheDocument) {
  ASSERT_TRUE(RunsElevated());
  // A class whose open command starts the probe. Windows merges HKCU\Software\Classes into
  // the classes root; Wine 8 does not, so the class goes under both users' roots.
  const std::string probe = "\"" + testenv::TestProgramDir() + "\\preremoval_probe.exe\" \"%1\"";
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    ASSERT_TRUE(
        testenv::SetRegString(root, kClasses + ".tallowindoc", "", "TallowinTest.Document"));
    ASSERT_TRUE(testenv::SetRegString(
        root, kClasses + "TallowinTest.Document\\shell\\open\\command", "", probe));
  }
  const std::string folder = dir_ / "Read Me", document = folder + "\\closing notes.tallowindoc",
                    opened = document + ".opened";
  ASSERT_TRUE(testenv::MakeDirs(folder) && testenv::WriteText(document, "notes"));
  testenv::ProbeEnv env(marker_, 0);
  HANDLE thread =
      CreateThread(nullptr, 0, OpenWithoutCom, const_cast<char *>(document.c_str()), 0, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 15000));
  CloseHandle(thread);
  EXPECT_TRUE(WaitForMarker(marker_, 1500).empty() && WaitForMarker(opened, 0).empty());

  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));  // as the run does at its start
  OpenClosingDocument(document.c_str(), ".tallowindoc");
  Lines lines = WaitForMarker(opened);
  OleUninitialize();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(folder, lines[0]);
  EXPECT_EQ(document, lines[2]);
  EXPECT_FALSE(testenv::FileExists(marker_));
  // The probe may still be ending in that folder; let it go before the cleanup.
  for (int i = 0; i < 100 && testenv::PathExists(folder); ++i, Sleep(50))
    testenv::RemoveTree(folder);
}

// What the interpreter would be given for `program`, or "" when nothing would start.
std::wstring CommandFor(const std::wstring &program, DWORD parents = 0) {
  wchar_t line[2048];
  return BuildSelfDeletionCommand(line, 2048, L"C:\\windows\\system32", program.c_str(), parents)
             ? line
             : L"";
}

bool Has(const std::wstring &line, const std::wstring &part) {
  return line.find(part) != std::wstring::npos;
}

// Each try deletes the program only while its path is no folder, then removes its folder.
TEST(SelfDeletionCommand, GivesEachPathLiterallyOrInItsShortForm) {
  testenv::ScopedTestDir dir("selfdelete-line");
  // Quoted, the first is literal. A '%' could name a variable: then the short form is
  // given, but "100%" is its own short name.
  enum Given { kLiteral, kShort, kNothing };
  const struct {
    std::string folder;  // in code page 1252
    Given given;
  } cases[] = {{"A&B (x) ^y !z! \x93q\x94 S\xE3o \xE9", kLiteral},
               {"Tools and more 100%", kShort},
               {"100%", kNothing}};
  for (const auto &c : cases) {
    ASSERT_TRUE(testenv::MakeTree(dir.path(), {c.folder + "\\uninstall.exe"}));
    wchar_t program[MAX_PATH], shortPath[MAX_PATH] = L"";
    MultiByteToWideChar(CP_ACP, 0, (dir / c.folder + "\\uninstall.exe").c_str(), -1, program,
                        MAX_PATH);
    GetShortPathNameW(program, shortPath, MAX_PATH);
    const std::wstring given = c.given == kShort ? shortPath : program, line = CommandFor(program);
    EXPECT_EQ(c.given == kNothing, line.empty());
    if (c.given == kNothing) continue;
    EXPECT_TRUE(Has(line, L"(if exist \"" + given + L"\\*\" exit) & del \"" + given + L"\""));
    EXPECT_TRUE(Has(line, L"(rmdir \"" + given.substr(0, given.rfind(L'\\')) + L"\" "));
  }
  // No short form to fall back on: nothing starts. A drive root stays a root.
  EXPECT_EQ(L"", CommandFor(L"C:\\tallowin-missing 100%\\uninstall.exe"));
  EXPECT_TRUE(Has(CommandFor(L"C:\\uninstall.exe"), L"(rmdir \"C:\\\" "));
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
}

}  // namespace
