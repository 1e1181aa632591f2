// The folder passes on real folder trees below C:\tallowin-tests, and the progress
// positions of a whole run of the passes.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "passes/passes.h"
#include "paths/paths.h"
#include "state/state.h"
#include "support/testenv.h"
#include "ui/ui.h"

namespace {

using testenv::CurrentFolder;
using testenv::DirExists;

class FolderPassesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Make({"inst\\uninstall.exe"})); }
  void TearDown() override { SetCurrentDirectoryA("C:\\"); }

  std::string R(const std::string &relative) const { return root_ / relative; }
  // Files below the test folder; a name that ends in a backslash is an empty folder.
  void Make(const std::vector<std::string> &names) {
    ASSERT_TRUE(testenv::MakeTree(root_.path(), names));
  }
  void Expect(const std::vector<std::string> &kept, const std::vector<std::string> &gone) {
    testenv::ExpectTree(root_.path(), kept, gone);
  }

  testenv::ScopedTestDir root_{"folders"};
  std::string install_ = root_ / "inst";
  testenv::RunState state_{install_};
};

TEST_F(FolderPassesTest, FolderListsDeleteNamedFilesThenClimbTheirLevels) {
  char windows[MAX_PATH];
  ASSERT_TRUE(GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_NO_FATAL_FAILURE(
      Make({"two\\top\\mid\\leaf\\", "held\\top\\mid\\leaf\\", "held\\top\\mid\\file.txt",
            "held\\top\\other.txt", "zero\\leaf\\", "one\\a\\full\\f.txt", "pair\\one\\",
            "pair\\two\\", "blocked\\first\\", "cur\\here\\", "deep\\x\\", "ff\\named.txt",
            "ff\\other.txt", "ff\\ro.txt"}));
  ASSERT_TRUE(SetFileAttributesA(R("ff\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetCurrentDirectoryA(R("cur\\here").c_str()));
  state_.Folder(2, R("two\\top\\mid\\leaf"));
  const FolderEntry &one = state_.Folder(1, R("one\\a\\full"));
  // C:\tallowin-tests\<case>\deep\x: four cuts reach "C:", which is protected.
  const FolderEntry &deep = state_.Folder(100, R("deep\\x"));
  state_.Folder(2, R("held\\top\\mid\\leaf"));
  state_.Folder(0, R("zero\\leaf"));
  state_.Folder(0, "");
  state_.Folder(1, R("pair\\one"), R("pair\\two"));
  state_.Folder(1, R("blocked\\first"), windows);  // a protected second blocks both
  state_.Folder(0, R("cur\\here"));
  state_.Folder(0, R("ff"), "", "named.txt");
  state_.Folder(0, R("ff") + "\\", "", "ro.txt");
  RemoveFolderFiles();
  RemoveFolders();

  // "two" is beyond the level count; a read-only file stays without a question.
  Expect({"two", "held\\top\\mid\\file.txt", "one\\a\\full", "blocked\\first", "ff\\other.txt",
          "ff\\ro.txt"},
         {"two\\top", "held\\top\\mid\\leaf", "zero\\leaf", "pair", "cur\\here", "deep",
          "ff\\named.txt"});
  EXPECT_TRUE(testenv::IsCurrentFolder(R("cur"))) << CurrentFolder();
  // The entries keep the level each climb reached, also past a folder that stayed.
  EXPECT_EQ(R("one\\a"), one.folder);
  EXPECT_STREQ("C:", deep.folder);
  EXPECT_EQ(96u, deep.levels);
}

TEST_F(FolderPassesTest, EmptyFolderPassClimbsFromEachFileFolder) {
  ASSERT_NO_FATAL_FAILURE(Make({"inst\\a\\b\\", "inst\\fonts\\", "inst\\n\\sub\\", "abs\\p\\q\\",
                                "abs\\keep.txt", "cut\\"}));
  state_.File(".\\a\\b", "one.dll");
  state_.File(".\\a\\b", "two.dll");  // same folder again
  state_.File(".\\fonts", "f.ttf", blockfmt::FE_FONT);
  state_.File(".\\n", "sub\\deep.txt");  // the name's own subfolder
  state_.File(R("abs\\p\\q"), "");
  state_.File(".", "uninstall.exe");
  // Built in full this names a file in "cut"; cut short at 259 bytes it would still
  // end in a backslash after "cut" and remove it.
  state_.File(R("cut"), std::string(300, 'y'));
  // Held open by another program: emptied, yet it stays, and says why.
  ASSERT_TRUE(testenv::MakeDirs(install_ + "\\held"));
  state_.File(".\\held", "x.dll");
  HANDLE held =
      CreateFileA((install_ + "\\held").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  ASSERT_TRUE(SetCurrentDirectoryA((install_ + "\\a\\b").c_str()));
  testenv::PassLog log(R("pass.log"));
  RemoveEmptyFolders();
  CloseHandle(held);
  const std::vector<std::string> outcomes = log.Outcomes();
  ASSERT_FALSE(outcomes.empty());
  EXPECT_EQ("failed:32 " + install_ + "\\held", outcomes.back());
  Expect({"inst\\fonts", "abs\\keep.txt", "inst\\uninstall.exe", "cut", "inst\\held"},
         {"inst\\a", "inst\\n", "abs\\p"});
  EXPECT_TRUE(testenv::IsCurrentFolder(root_.path())) << CurrentFolder();
  EXPECT_EQ(install_ + "\\", g.installDir);
}

// Folder entries written with "..", trailing dots, forward slashes or another letter case
// reach a protected folder (one the test owns) only in the form the system resolves it to,
// and a short name only as the folder it is.
// A climb stops at it, and the entries for the folder itself, left empty, keep it; only
// the file that an entry names goes, wherever it lies (a shortcut on the desktop is the
// common case). An unprotected twin shows that the route does reach.
TEST_F(FolderPassesTest, RoutesIntoAProtectedFolderRemoveOnlyTheNamedFile) {
  ASSERT_NO_FATAL_FAILURE(Make({"protected\\a.lnk", "protected\\sub\\", "open\\sub\\"}));
  testenv::ScopedProtectedFolder protect(R("protected"));
  ASSERT_TRUE(protect.ok());
  state_.Folder(1, R("inst\\..\\protected.\\sub"));
  state_.Folder(1, R("inst\\..\\open.\\sub"));
  for (const std::string &folder :
       {R("inst\\..\\protected"), R("protected."), root_.path() + "/inst/../protected",
        R("INST\\..\\PROTECTED\\")})
    state_.Folder(0, folder);
  state_.Folder(0, R("inst\\..\\protected."), "", "a.lnk");
  // By its short name the text differs from every protected one: its identity does not.
  char shortName[MAX_PATH];
  const DWORD n = GetShortPathNameA(R("protected").c_str(), shortName, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH && !strstr(shortName, "protected")) << shortName;
  state_.Folder(0, shortName);
  RemoveFolderFiles();
  RemoveFolders();
  Expect({"protected"}, {"protected\\a.lnk", "protected\\sub", "open"});
}

// A stand-in progress bar: a plain window that records every PBM_SETPOS it is sent.
std::vector<WPARAM> recordedPositions;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == 1026) recordedPositions.push_back(wParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(FolderPassesTest, ProgressOfAWholeRunFollowsTheModel) {
  HWND bar =
      CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(bar);
  SetWindowLongPtrA(bar, GWLP_WNDPROC, (LONG_PTR)RecorderProc);
  ASSERT_NO_FATAL_FAILURE(Make({"inst\\bin\\a.dll", "inst\\bin\\f.ttf", "inst\\b.txt"}));
  state_.File(".\\bin", "");  // a folder entry, handled last
  state_.File(".\\bin", "a.dll");
  state_.File(".\\bin", "f.ttf", blockfmt::FE_FONT);
  state_.File(".", "b.txt");
  state_.Folder(0, R("nothing1"));
  state_.Folder(0, R("nothing2"));
  for (const char *path : {"Software\\TallowinTests\\FolderPassesProgress\\\\Value", "",
                           "Software\\TallowinTests\\FolderPassesProgress"})
    state_.Registry(HKEY_CURRENT_USER, path);
  g.progressBar = bar;
  g.progressTotal = ProgressTotal();
  ASSERT_EQ(2u * 4 + 2 * 2 + 3, g.progressTotal);
  recordedPositions.clear();

  RemoveFiles();
  RemoveWildcardMatches();
  RemoveFolderFiles();
  RemoveFolders();
  RemoveEmptyFolders();
  DeleteRegistryEntries();
  DestroyWindow(bar);
  g.progressBar = nullptr;

  // In the order the passes run, each entry one step of 100 / 15, never back: files; the
  // two folder-list passes, each with a range of its own; the empty-folder pass, the font
  // included; the registry, the value entry included, up to 100.
  std::vector<WPARAM> expected = {6, 13, 20, 26, 33, 40, 46, 53, 60, 66, 73, 80, 86, 93, 100};
  EXPECT_EQ(expected, recordedPositions);
  EXPECT_FALSE(DirExists(install_ + "\\bin"));
}

}  // namespace
