// The folder passes on real folder trees below C:\tallowin-tests, and the progress
// positions of a whole run of the passes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "support/testenv.h"

namespace {

using testenv::CurrentFolder;
using testenv::DirExists;
using testenv::MakeDirs;
using testenv::MakeFolderLink;
using testenv::RemoveFolderLink;
using testenv::WriteText;

bool Exists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

template <class T>
T **PointTo(std::vector<T> &items, std::vector<T *> &pointers, DWORD *count) {
  pointers.clear();
  for (T &item : items) pointers.push_back(&item);
  *count = (DWORD)items.size();
  return pointers.data();
}

// Entries whose strings the test owns, pointed to from the run state.
struct Lists {
  std::vector<std::string> texts;  // reserved up front so pointers stay put
  std::vector<FolderEntry> folders;
  std::vector<FileEntry> files;
  std::vector<RegistryEntry> registry;
  std::vector<FolderEntry *> folderPointers;
  std::vector<FileEntry *> filePointers;
  std::vector<RegistryEntry *> registryPointers;

  Lists() { texts.reserve(256); }
  char *Text(const std::string &text) {
    texts.push_back(text);
    return &texts.back()[0];
  }
  void Folder(DWORD levels, const std::string &folder, const std::string &second = "",
              const std::string &name = "") {
    folders.push_back({levels, Text(folder), Text(second), Text(name)});
  }
  void File(const std::string &folder, const std::string &name, unsigned char flags = 0) {
    files.push_back({Text(folder), Text(name), flags});
  }
  void Install() {
    g.folders = PointTo(folders, folderPointers, &g.folderCount);
    g.files = PointTo(files, filePointers, &g.fileCount);
    g.registryEntries = PointTo(registry, registryPointers, &g.registryCount);
  }
};

class FolderPassesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Make({"inst\\uninstall.exe"}));
    testenv::PrepareRunState(install_);
  }
  void TearDown() override {
    SetCurrentDirectoryA("C:\\");
    // The lists are the test's own: not the run state's to free.
    g.folders = nullptr;
    g.files = nullptr;
    g.registryEntries = nullptr;
    g.folderCount = g.fileCount = g.registryCount = 0;
    testenv::ReleaseRunState();
  }

  std::string R(const std::string &relative) const { return root_ / relative; }
  // Files below the test folder; a name that ends in a backslash is an empty folder.
  void Make(const std::vector<std::string> &names) {
    for (const std::string &n : names) {
      ASSERT_TRUE(MakeDirs(R(n).substr(0, R(n).find_last_of('\\')))) << n;
      ASSERT_TRUE(n.back() == '\\' || WriteText(R(n), "x")) << n;
    }
  }
  void Expect(const std::vector<std::string> &kept, const std::vector<std::string> &gone) {
    for (const std::string &k : kept) EXPECT_TRUE(Exists(R(k))) << k << " was removed";
    for (const std::string &k : gone) EXPECT_FALSE(Exists(R(k))) << k << " is still there";
  }
  bool IsCurrent(const std::string &folder) const {
    return EqualsNoCase(CurrentFolder().c_str(), folder.c_str());
  }

  testenv::ScopedTestDir root_{"folders"};
  std::string install_ = root_ / "inst";
  Lists lists_;
};

TEST_F(FolderPassesTest, FolderListsDeleteNamedFilesThenClimbTheirLevels) {
  char windows[MAX_PATH];
  ASSERT_TRUE(GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_NO_FATAL_FAILURE(
      Make({"two\\top\\mid\\leaf\\", "held\\top\\mid\\leaf\\", "held\\top\\mid\\file.txt",
            "held\\top\\other.txt", "zero\\leaf\\", "one\\a\\full\\f.txt", "pair\\one\\",
            "pair\\two\\", "blocked\\first\\", "cur\\here\\", "deep\\x\\", "target\\inner\\",
            "ff\\named.txt", "ff\\other.txt", "ff\\ro.txt"}));
  ASSERT_TRUE(SetFileAttributesA(R("ff\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(MakeFolderLink(R("link"), "target"));
  ASSERT_TRUE(SetCurrentDirectoryA(R("cur\\here").c_str()));
  lists_.Folder(2, R("two\\top\\mid\\leaf"));
  lists_.Folder(1, R("one\\a\\full"));
  // C:\tallowin-tests\<case>\deep\x: four cuts reach "C:", which is protected.
  lists_.Folder(100, R("deep\\x"));
  lists_.Folder(5, R("link\\inner"));
  lists_.Folder(2, R("held\\top\\mid\\leaf"));
  lists_.Folder(0, R("zero\\leaf"));
  lists_.Folder(0, "");
  lists_.Folder(1, R("pair\\one"), R("pair\\two"));
  lists_.Folder(1, R("blocked\\first"), windows);  // a protected second blocks both
  lists_.Folder(0, R("cur\\here"));
  lists_.Folder(0, R("ff"), "", "named.txt");
  lists_.Folder(0, R("ff") + "\\", "", "ro.txt");
  lists_.Install();
  RemoveFolderFiles();
  RemoveFolders();

  // "two" is beyond the level count; a listed folder behind a user's link stays, and
  // so does the link; a read-only file stays without a question.
  Expect({"two", "held\\top\\mid\\file.txt", "one\\a\\full", "blocked\\first", "target\\inner",
          "ff\\other.txt", "ff\\ro.txt"},
         {"two\\top", "held\\top\\mid\\leaf", "zero\\leaf", "pair", "cur\\here", "deep",
          "ff\\named.txt"});
  EXPECT_TRUE(DirExists(windows));
  EXPECT_TRUE(IsCurrent(R("cur"))) << CurrentFolder();
  // The entries keep the level each climb reached, also past a folder that stayed.
  EXPECT_EQ(R("one\\a"), lists_.folders[1].folder);
  EXPECT_STREQ("C:", lists_.folders[2].folder);
  EXPECT_EQ(96u, lists_.folders[2].levels);
  EXPECT_EQ(R("link\\inner"), lists_.folders[3].folder);
  EXPECT_TRUE(RemoveFolderLink(R("link")));
}

TEST_F(FolderPassesTest, EmptyFolderPassClimbsFromEachFileFolder) {
  ASSERT_NO_FATAL_FAILURE(Make({"inst\\a\\b\\", "inst\\fonts\\", "inst\\n\\sub\\", "abs\\p\\q\\",
                                "abs\\keep.txt", "cut\\", "target2\\inner\\"}));
  ASSERT_TRUE(MakeFolderLink(install_ + "\\link2", "../target2"));
  lists_.File(".\\a\\b", "one.dll");
  lists_.File(".\\a\\b", "two.dll");  // same folder again
  lists_.File(".\\fonts", "f.ttf", blockfmt::FE_FONT);
  lists_.File(".\\n", "sub\\deep.txt");  // the name's own subfolder
  lists_.File(R("abs\\p\\q"), "");
  lists_.File(".", "uninstall.exe");
  // Built in full this names a file in "cut"; cut short at 259 bytes it would still
  // end in a backslash after "cut" and remove it.
  lists_.File(R("cut"), std::string(300, 'y'));
  lists_.File(".\\link2\\inner", "gone.txt");  // behind a user's link: not climbed
  lists_.Install();
  ASSERT_TRUE(SetCurrentDirectoryA((install_ + "\\a\\b").c_str()));
  RemoveEmptyFolders();
  Expect({"inst\\fonts", "abs\\keep.txt", "inst\\uninstall.exe", "cut", "target2\\inner"},
         {"inst\\a", "inst\\n", "abs\\p"});
  EXPECT_TRUE(IsCurrent(root_.path())) << CurrentFolder();
  EXPECT_EQ(install_ + "\\", g.installDir);
  EXPECT_TRUE(RemoveFolderLink(install_ + "\\link2"));
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
  lists_.File(".\\bin", "a.dll");
  lists_.File(".\\bin", "f.ttf", blockfmt::FE_FONT);
  lists_.File(".", "b.txt");
  lists_.Folder(0, R("nothing1"));
  lists_.Folder(0, R("nothing2"));
  for (const char *path : {"Software\\TallowinTests\\FolderPassesProgress\\\\Value", "",
                           "Software\\TallowinTests\\FolderPassesProgress"}) {
    lists_.registry.push_back({(DWORD)(ULONG_PTR)HKEY_CURRENT_USER, lists_.Text(path)});
  }
  lists_.Install();
  g.progressBar = bar;
  g.progressTotal = 3 + 2 * 3 + 2;  // 11
  recordedPositions.clear();

  RemoveFiles();
  RemoveWildcardMatches();
  RemoveFolderFiles();
  RemoveFolders();
  RemoveEmptyFolders();
  DeleteRegistryEntries();
  DestroyWindow(bar);
  g.progressBar = nullptr;

  // Files 0, 9, 18 (0 is no change); folder lists 27, 36 twice; empty-folder pass 72,
  // the font skipped, 90; registry: the value entry silent, then 54, 63.
  std::vector<WPARAM> expected = {9, 18, 27, 36, 27, 36, 72, 90, 54, 63};
  EXPECT_EQ(expected, recordedPositions);
  EXPECT_FALSE(DirExists(install_ + "\\bin"));
}

}  // namespace
