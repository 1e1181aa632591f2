// Path text helpers, folder macros and the protected folder test against the real system.
#include "paths/paths.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "app/state.h"
#include "support/testenv.h"

namespace {

const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

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

std::string WindowsDir() {
  char path[MAX_PATH];
  GetWindowsDirectoryA(path, MAX_PATH);
  return Strip(path);
}

std::string Resolve(const std::string &macro) {
  char buffer[kPathBuf];
  lstrcpynA(buffer, macro.c_str(), kPathBuf);
  ResolveFolderMacro(buffer);
  return buffer;
}

std::string Expand(const std::string &source) {
  DWORD n = ExpandFolderMacros(nullptr, source.c_str(), 0);
  std::string out(n + 1, 'X');
  DWORD again = ExpandFolderMacros(&out[0], source.c_str(), n + 1);
  EXPECT_EQ(n, again);
  out.resize(lstrlenA(out.c_str()));
  EXPECT_EQ(n, out.size());
  return out;
}

// Saves one value of the CurrentVersion key and puts it back, however the test left it.
class SavedValue {
 public:
  explicit SavedValue(const char *name) : name_(name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ, &key) != 0) return;
    size_ = sizeof(data_);
    present_ = RegQueryValueExA(key, name, nullptr, &type_, data_, &size_) == 0;
    RegCloseKey(key);
  }
  ~SavedValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key) != 0) return;
    if (present_) {
      RegSetValueExA(key, name_, 0, type_, data_, size_);
    } else {
      RegDeleteValueA(key, name_);
    }
    RegCloseKey(key);
  }
  bool present() const { return present_; }
  std::string text() const { return std::string(reinterpret_cast<const char *>(data_)); }
  void Set(DWORD type, const void *data, DWORD size) {
    HKEY key;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key));
    ASSERT_EQ(0, RegSetValueExA(key, name_, 0, type, static_cast<const BYTE *>(data), size));
    RegCloseKey(key);
  }
  void Delete() {
    HKEY key;
    ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key));
    RegDeleteValueA(key, name_);
    RegCloseKey(key);
  }

 private:
  const char *name_;
  bool present_ = false;
  DWORD type_ = 0;
  DWORD size_ = 0;
  BYTE data_[1024] = {};
};

class PathsTest : public ::testing::Test {
 protected:
  PathsTest() : dir_("paths") {
    testenv::PrepareRunState(dir_.path());
    ResetProtectedFolders();
  }
  ~PathsTest() override {
    ResetProtectedFolders();
    testenv::ReleaseRunState();
  }
  testenv::ScopedTestDir dir_;
};

TEST(PathTextTest, BoundedCopiesFailWithoutTouchingTheDestination) {
  char buf[8] = "keep";
  EXPECT_FALSE(CopyBounded(buf, 8, "12345678"));  // 8 characters need 9 bytes
  EXPECT_STREQ("keep", buf);
  EXPECT_TRUE(CopyBounded(buf, 8, "1234567"));
  EXPECT_STREQ("1234567", buf);

  char join[8] = "abc";
  EXPECT_FALSE(AppendBounded(join, 8, "defgh"));
  EXPECT_STREQ("abc", join);
  EXPECT_TRUE(AppendBounded(join, 8, "defg"));
  EXPECT_STREQ("abcdefg", join);
  EXPECT_FALSE(AppendBounded(join, 8, "x"));

  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_FALSE(AppendBounded(unterminated, 4, ""));
  EXPECT_EQ('d', unterminated[3]);
}

TEST(PathTextTest, BackslashHelpersTouchOneCharacterAtMost) {
  char p[16] = "C:\\";
  StripBackslash(p);
  EXPECT_STREQ("C:\\", p);  // roots keep theirs
  lstrcpyA(p, "C:\\a\\\\");
  StripBackslash(p);
  EXPECT_STREQ("C:\\a\\", p);
  lstrcpyA(p, "");
  AppendBackslash(p);
  EXPECT_STREQ("", p);
  lstrcpyA(p, "C:\\a");
  AppendBackslash(p);
  AppendBackslash(p);
  EXPECT_STREQ("C:\\a\\", p);
}

TEST(PathTextTest, CaseFoldingIsAsciiOnly) {
  EXPECT_TRUE(EqualsNoCase("C:\\Windows", "c:\\WINDOWS"));
  EXPECT_FALSE(EqualsNoCase("C:\\Windows", "C:\\Windows\\"));
  EXPECT_FALSE(EqualsNoCase("\xC4", "\xE4"));  // A-umlaut in the ANSI code page
  EXPECT_FALSE(EqualsNoCase("[", "{"));        // 0x5B and 0x7B differ by the case bit only
  EXPECT_TRUE(StartsWithNoCase("#WINDOWS#\\x", "#windows#"));
  EXPECT_FALSE(StartsWithNoCase("#Win", "#Windows#"));
}

TEST_F(PathsTest, EveryMacroResolvesToTheSystemsFolder) {
  for (DWORD nt : {1u, 0u}) {
    g.isNT = nt;
    char sys[MAX_PATH], temp[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(WindowsDir(), Resolve("#Windows#"));
    EXPECT_EQ(WindowsDir(), Resolve("#wINDOWS#"));
    EXPECT_EQ(Strip(sys), Resolve("#System#"));
    EXPECT_EQ(Strip(temp), Resolve("#TempDir#"));
    EXPECT_NE('\\', Resolve("#TempDir#").back());
    EXPECT_EQ(ShellFolder(CSIDL_PERSONAL), Resolve("#MyDocuments#"));
    EXPECT_EQ(ShellFolder(CSIDL_APPDATA), Resolve("#AppData#"));
    EXPECT_EQ(ShellFolder(CSIDL_LOCAL_APPDATA), Resolve("#LocalAppData#"));
    EXPECT_EQ(ShellFolder(CSIDL_COMMON_APPDATA), Resolve("#AllUsersAppData#"));
    EXPECT_EQ(ShellFolder(CSIDL_COMMON_DOCUMENTS), Resolve("#AllUsersDocuments#"));
    EXPECT_EQ(ShellFolder(CSIDL_PROFILE), Resolve("#UserDir#"));
    std::string docs = ShellFolder(CSIDL_COMMON_DOCUMENTS);
    std::string parent = docs.substr(0, docs.find_last_of('\\'));
    if (parent.size() == 2) parent += '\\';
    EXPECT_EQ(parent, Resolve("#AllUsersDir#"));
    EXPECT_EQ(dir_.path(), Resolve("#InstallDir#"));
    SavedValue programFiles("ProgramFilesDir"), commonFiles("CommonFilesDir");
    ASSERT_TRUE(programFiles.present());
    EXPECT_EQ(Strip(programFiles.text()), Resolve("#Program Files#"));
    EXPECT_EQ(Strip(commonFiles.text()), Resolve("#CommonFiles#"));
    EXPECT_EQ("", Resolve("##"));
    EXPECT_EQ("", Resolve("#Desktop#"));
  }
}

TEST_F(PathsTest, InstallDirInADriveRootKeepsItsBackslash) {
  lstrcpyA(g.installDir, "C:\\");
  EXPECT_EQ("C:\\", Resolve("#InstallDir#"));
  EXPECT_EQ("C:\\\\x", Expand("#InstallDir#\\x"));
}

TEST_F(PathsTest, RegistryFoldersAreTerminatedAndFallBack) {
  SavedValue programFiles("ProgramFilesDir"), commonFiles("CommonFilesDir");
  ASSERT_TRUE(programFiles.present());
  // Stored without a terminator: read up to its own size and nothing after it.
  commonFiles.Set(REG_BINARY, "D:\\Shared\\", 10);
  EXPECT_EQ("D:\\Shared", Resolve("#CommonFiles#"));
  // 260 bytes without a terminator do not fit a path: the next source is taken.
  std::string full(260, 'q');
  commonFiles.Set(REG_BINARY, full.data(), 260);
  EXPECT_EQ(Strip(programFiles.text()) + "\\Common Files", Resolve("#CommonFiles#"));
  commonFiles.Delete();
  EXPECT_EQ(Strip(programFiles.text()) + "\\Common Files", Resolve("#CommonFiles#"));
  // With no source left the macro stays as written.
  programFiles.Delete();
  EXPECT_EQ("#CommonFiles#", Resolve("#CommonFiles#"));
  EXPECT_EQ("#Program Files#", Resolve("#Program Files#"));
  EXPECT_EQ("a#Program Files#b", Expand("a#Program Files#b"));
}

TEST_F(PathsTest, ExpansionScansTheSourceOnly) {
  EXPECT_EQ(WindowsDir() + "\\Fonts", Expand("#windows#\\Fonts"));
  EXPECT_EQ("xy", Expand("x##y"));
  EXPECT_EQ("#Windows and 50", Expand("#Windows and 50"));
  EXPECT_EQ("ac#d", Expand("a#b#c#d"));
  EXPECT_EQ("", Expand(""));
  EXPECT_EQ("no macros", Expand("no macros"));
  // A '#' inside a resolved folder is never taken for a macro.
  lstrcpyA(g.installDir, "C:\\odd#Windows#name\\");
  EXPECT_EQ("C:\\odd#Windows#name|", Expand("#InstallDir#|"));
}

TEST_F(PathsTest, ShortDestinationsGetACutTextAndTheFullLength) {
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
  ExpandFolderMacros(dest, "", 5);
  EXPECT_STREQ("", dest);
}

TEST_F(PathsTest, ExpansionStopsAtTheEndOfTheWorkBuffer) {
  // Each macro grows into a long folder: the whole would far exceed the work buffer.
  lstrcpyA(g.installDir, ("C:\\" + std::string(200, 'w') + "\\").c_str());
  std::string source;
  for (int i = 0; i < 400; ++i) source += "#InstallDir#";
  DWORD n = ExpandFolderMacros(nullptr, source.c_str(), 0);
  EXPECT_EQ(kExpandWorkSize - 1, n);
  std::string plain(kExpandWorkSize + 100, 'p');
  EXPECT_EQ(kExpandWorkSize - 1, ExpandFolderMacros(nullptr, plain.c_str(), 0));
  std::string out(n + 1, '\0');
  EXPECT_EQ(n, ExpandFolderMacros(&out[0], source.c_str(), n + 1));
  EXPECT_EQ(n, static_cast<DWORD>(lstrlenA(out.c_str())));
  EXPECT_EQ(0, out.compare(0, 205, "C:\\" + std::string(200, 'w') + "C:"));
}

TEST_F(PathsTest, ListedFoldersAreProtectedInAnySpellingAndTheTextIsKept) {
  SavedValue programFiles("ProgramFilesDir"), commonFiles("CommonFilesDir");
  std::string appData = ShellFolder(CSIDL_APPDATA);
  std::string quickLaunch = appData + "\\Microsoft\\Internet Explorer\\Quick Launch";
  std::string commonQuick =
      ShellFolder(CSIDL_COMMON_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
  char sys[MAX_PATH];
  GetSystemDirectoryA(sys, MAX_PATH);
  std::vector<std::string> listed = {WindowsDir(),
                                     Strip(sys),
                                     ShellFolder(CSIDL_DESKTOPDIRECTORY),
                                     ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY),
                                     ShellFolder(CSIDL_FONTS),
                                     ShellFolder(CSIDL_PROGRAMS),
                                     ShellFolder(CSIDL_COMMON_PROGRAMS),
                                     ShellFolder(CSIDL_STARTMENU),
                                     ShellFolder(CSIDL_COMMON_STARTMENU),
                                     ShellFolder(CSIDL_STARTUP),
                                     ShellFolder(CSIDL_COMMON_STARTUP),
                                     appData,
                                     quickLaunch,
                                     ShellFolder(CSIDL_COMMON_APPDATA),
                                     commonQuick,
                                     ShellFolder(CSIDL_COMMON_DOCUMENTS),
                                     Strip(programFiles.text()),
                                     Strip(commonFiles.text())};
  for (const std::string &folder : listed) {
    ASSERT_FALSE(folder.empty());
    std::string lower = folder, upper = folder;
    for (char &c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    for (const std::string &form : {folder, lower, upper, folder + "\\"}) {
      char buf[kPathBuf];
      lstrcpyA(buf, form.c_str());
      EXPECT_EQ(1, IsProtectedFolder(buf)) << form;
      EXPECT_EQ(form, buf);
    }
    char sub[kPathBuf];
    lstrcpyA(sub, (folder + "\\sub").c_str());
    EXPECT_EQ(0, IsProtectedFolder(sub)) << sub;
    char twice[kPathBuf];
    lstrcpyA(twice, (folder + "\\\\").c_str());
    EXPECT_EQ(0, IsProtectedFolder(twice));
    EXPECT_EQ(folder + "\\\\", twice);
  }
  char between[kPathBuf];
  lstrcpyA(between, (appData + "\\Microsoft").c_str());
  EXPECT_EQ(0, IsProtectedFolder(between));
  for (const char *shortPath : {"", "C:", "C:\\", "Z:\\"}) {
    char buf[8];
    lstrcpyA(buf, shortPath);
    EXPECT_EQ(1, IsProtectedFolder(buf)) << shortPath;
  }
  char four[] = "C:\\A";
  EXPECT_EQ(0, IsProtectedFolder(four));
  std::string own = dir_.path();
  EXPECT_EQ(0, IsProtectedFolder(&own[0]));
}

TEST_F(PathsTest, NineXFamilyLeavesOutTheCommonShellFolders) {
  g.isNT = 0;
  for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU,
                    CSIDL_COMMON_STARTUP}) {
    std::string folder = ShellFolder(csidl);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(0, IsProtectedFolder(&folder[0])) << folder;
  }
  std::string fonts = ShellFolder(CSIDL_FONTS);
  EXPECT_EQ(1, IsProtectedFolder(&fonts[0]));
}

TEST_F(PathsTest, TheListIsLookedUpOnceAndKeptForTheRun) {
  SavedValue programFiles("ProgramFilesDir");
  ASSERT_TRUE(programFiles.present());
  std::string folder = Strip(programFiles.text());
  EXPECT_FALSE(g.protectedListReady);
  EXPECT_EQ(1, IsProtectedFolder(&folder[0]));
  EXPECT_TRUE(g.protectedListReady);
  programFiles.Delete();
  EXPECT_EQ(1, IsProtectedFolder(&folder[0]));  // answered from the kept list
  ResetProtectedFolders();
  EXPECT_EQ(0, IsProtectedFolder(&folder[0]));  // looked up again: the value is gone
  EXPECT_EQ(1, IsProtectedFolder(&WindowsDir()[0]));
}

}  // namespace
