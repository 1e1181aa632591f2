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

}  // namespace
