// Self-deletion: the interpreter's command line read back, and the 9x family's OEM paths and
// script name.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "external/external.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

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
    const std::wstring given = c.given == kShort ? shortPath : program, line = CommandFor(program);
    EXPECT_EQ(c.given == kNothing, line.empty());
    if (c.given == kNothing) continue;
    EXPECT_TRUE(Has(line, L"(if exist \"" + given + L"\\*\" exit) & del \"" + given + L"\""));
    EXPECT_TRUE(Has(line, L"(rmdir \"" + given.substr(0, given.rfind(L'\\')) + L"\" "));
  }
  // No short form to fall back on: nothing starts. A drive root stays a root.
  EXPECT_EQ(L"", CommandFor(std::wstring(root) + L"\\missing 100%\\uninstall.exe"));
  EXPECT_TRUE(Has(CommandFor(L"C:\\uninstall.exe"), L"(rmdir \"C:\\\" "));
  // Parents after the folder, never up to the drive root.
  const std::wstring line = CommandFor(L"C:\\P F\\Vendor\\Product\\uninstall.exe", 5);
  EXPECT_TRUE(Has(line,
                  L"(rmdir \"C:\\P F\\Vendor\\Product\" >nul 2>nul && rmdir \"C:\\P F\\Vendor\" "
                  L">nul 2>nul && rmdir \"C:\\P F\" >nul 2>nul & exit)"))
      << line;
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
  testenv::WriteText(dir / "delme1.bat", "one");
  const std::string saved = getenv("TMP") ? getenv("TMP") : "";
  SetEnvironmentVariableA("TMP", dir.path().c_str());  // read before TEMP
  char path[MAX_PATH];
  HANDLE file = CreateBatchFile(path, "delme%d.bat");
  SetEnvironmentVariableA("TMP", saved.empty() ? nullptr : saved.c_str());
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / "delme2.bat", std::string(path));
}

}  // namespace
