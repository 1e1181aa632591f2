// Folder macros and the protected folders against the real system, and the registry roots.
#include "paths/paths.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "passes/passes.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

std::string Strip(std::string s) {
  if (s.size() >= 4 && s.back() == '\\') s.pop_back();
  return s;
}

// The folder as the shell reports it through another entry point than the one under test.
std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = "";
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return "";
  return Strip(path);
}

// Expands through the sizing call and a filling call of exactly that size.
std::string Expand(const std::string &source) {
  DWORD n = ExpandFolderMacros(nullptr, source.c_str(), 0);
  std::string out(n + 1, 'X');
  EXPECT_EQ(n, ExpandFolderMacros(&out[0], source.c_str(), n + 1)) << source;
  out.resize(lstrlenA(out.c_str()));
  EXPECT_EQ(n, out.size()) << source;
  return out;
}

class PathsTest : public ::testing::Test {
 protected:
  PathsTest() { ResetProtectedFolders(); }
  ~PathsTest() override { ResetProtectedFolders(); }
  testenv::ScopedTestDir dir_{"paths"};
  testenv::RunState state_{dir_.path()};
};

TEST_F(PathsTest, EveryMacroResolvesToTheSystemsFolderWithinItsBuffers) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);  // with its trailing backslash, which the macro drops
  testenv::ScopedVersionValue programFiles("ProgramFilesDir"), commonFiles("CommonFilesDir");
  const std::string folder = ShellFolder(CSIDL_PROGRAM_FILES);
  std::string docs = ShellFolder(CSIDL_COMMON_DOCUMENTS);
  std::string allUsers = docs.substr(0, docs.find_last_of('\\'));
  if (allUsers.size() == 2) allUsers += '\\';
  const std::pair<const char *, std::string> cases[] = {
      {"#Windows#", ShellFolder(CSIDL_WINDOWS)},
      {"#System#", ShellFolder(CSIDL_SYSTEM)},
      {"#TempDir#", Strip(temp)},
      {"#MyDocuments#", ShellFolder(CSIDL_PERSONAL)},
      {"#AppData#", ShellFolder(CSIDL_APPDATA)},
      {"#LocalAppData#", ShellFolder(CSIDL_LOCAL_APPDATA)},
      {"#AllUsersAppData#", ShellFolder(CSIDL_COMMON_APPDATA)},
      {"#AllUsersDocuments#", docs},
      {"#UserDir#", ShellFolder(CSIDL_PROFILE)},
      {"#AllUsersDir#", allUsers},
      {"#InstallDir#", dir_.path()},
      {"#Program Files#", folder},
      {"#CommonFiles#", ShellFolder(CSIDL_PROGRAM_FILES_COMMON)},
      // Macros by any case; an unknown name goes, a '#' that opens none stays.
      {"#windows#\\Fonts", ShellFolder(CSIDL_WINDOWS) + "\\Fonts"},
      {"a#b#c#d", "ac#d"}};
  for (DWORD nt : {0u, 1u}) {
    g.isNT = nt;
    for (const auto &c : cases) EXPECT_EQ(c.second, Expand(c.first)) << c.first << " NT " << nt;
  }

  // A registry folder stored without a terminator is read up to its own size and nothing
  // after it; 260 bytes without one do not fit a path, and the next source is taken.
  commonFiles.Put("D:\\Shared\\", 10);
  EXPECT_EQ("D:\\Shared", Expand("#CommonFiles#"));
  commonFiles.Put(std::string(260, 'q').data(), 260);
  EXPECT_EQ(folder + "\\Common Files", Expand("#CommonFiles#"));
  commonFiles.Put(nullptr, 0);
  programFiles.Put(nullptr, 0);
  // With no source left the macro stays as written.
  EXPECT_EQ("#CommonFiles#", Expand("#CommonFiles#"));

  // Expansion scans the source only and never writes past its buffers.
  std::string source = "#InstallDir#\\" + std::string(300, 'z');
  std::string whole = dir_.path() + "\\" + std::string(300, 'z');
  char dest[kPathBuf + 4];
  memset(dest, 'X', sizeof(dest));
  EXPECT_EQ(whole.size(), ExpandFolderMacros(dest, source.c_str(), kPathBuf));
  EXPECT_EQ(whole.substr(0, kPathBuf - 1), std::string(dest));
  EXPECT_EQ('X', dest[kPathBuf]);  // nothing past the capacity
  memset(dest, 'X', sizeof(dest));
  EXPECT_EQ(whole.size(), ExpandFolderMacros(dest, source.c_str(), 0));
  EXPECT_EQ('X', dest[0]);  // capacity 0 writes nothing

  // A '#' inside a resolved folder is never taken for a macro; a drive root keeps its
  // backslash.
  lstrcpyA(g.installDir, "C:\\odd#Windows#name\\");
  EXPECT_EQ("C:\\odd#Windows#name|", Expand("#InstallDir#|"));
  lstrcpyA(g.installDir, "C:\\");
  EXPECT_EQ("C:\\\\x", Expand("#InstallDir#\\x"));
  // Each macro grows into a long folder: the whole would far exceed the work buffer.
  lstrcpyA(g.installDir, ("C:\\" + std::string(200, 'w') + "\\").c_str());
  std::string many;
  for (int i = 0; i < 400; ++i) many += "#InstallDir#";
  EXPECT_EQ(kExpandWorkSize - 1, ExpandFolderMacros(nullptr, many.c_str(), 0));
  std::string plain(kExpandWorkSize + 100, 'p');
  EXPECT_EQ(kExpandWorkSize - 1, ExpandFolderMacros(nullptr, plain.c_str(), 0));
  std::string out = Expand(many);
  EXPECT_EQ(0, out.compare(0, 205, "C:\\" + std::string(200, 'w') + "C:"));
}

TEST_F(PathsTest, ListedFoldersAreProtectedInAnySpellingAndTheTextIsKept) {
  const std::string quickLaunch = "\\Microsoft\\Internet Explorer\\Quick Launch";
  std::vector<std::string> listed = {ShellFolder(CSIDL_WINDOWS),
                                     ShellFolder(CSIDL_SYSTEM),
                                     ShellFolder(CSIDL_APPDATA) + quickLaunch,
                                     ShellFolder(CSIDL_COMMON_APPDATA) + quickLaunch,
                                     ShellFolder(CSIDL_PROGRAM_FILES),
                                     ShellFolder(CSIDL_PROGRAM_FILES_COMMON)};
  for (int csidl :
       {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_FONTS, CSIDL_PROGRAMS,
        CSIDL_COMMON_PROGRAMS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_STARTUP,
        CSIDL_COMMON_STARTUP, CSIDL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_COMMON_DOCUMENTS})
    listed.push_back(ShellFolder(csidl));
  auto protectedAsGiven = [](const std::string &form) {
    char buf[kPathBuf];
    lstrcpyA(buf, form.c_str());
    int result = IsProtectedFolder(buf);
    EXPECT_EQ(form, buf);  // the caller's text comes back as it was
    return result;
  };
  for (const std::string &folder : listed) {
    ASSERT_NE("", folder);
    std::string upper = folder;
    for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const std::string &form : {folder, upper, folder + "\\"})
      EXPECT_EQ(1, protectedAsGiven(form)) << form;
    EXPECT_EQ(0, protectedAsGiven(folder + "\\sub")) << folder;
  }
  for (const char *shortPath : {"", "C:", "C:\\", "Z:\\"})
    EXPECT_EQ(1, protectedAsGiven(shortPath)) << shortPath;
}

// Whatever path a block gives, the registry pass deletes trees below a root, never the root.
TEST(DeleteKeyTree, NeverTheRootItself) {
  EXPECT_EQ(LONG(ERROR_BADKEY), DeleteKeyTree(HKEY_CURRENT_USER, ""));
  EXPECT_EQ(LONG(ERROR_BADKEY), DeleteKeyTree(HKEY_LOCAL_MACHINE, ""));
}

}  // namespace
