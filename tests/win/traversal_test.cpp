// Paths written with "..", trailing dots, forward slashes or another letter case reach
// a protected folder only in the form the system resolves them to: the passes test that
// form, so nothing in the folder is deleted. The protected folder is one the test owns
// (CommonFilesDir pointed at it); an unprotected twin shows each route does reach.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "support/testenv.h"

namespace {

using testenv::DirExists;
using testenv::FileExists;
using testenv::MakeDirs;
using testenv::WriteText;

class TraversalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testenv::MakeTree(root_.path(), {"x\\y\\uninstall.exe", "prot\\", "open\\"}));
  }
  void TearDown() override { SetCurrentDirectoryA("C:\\"); }

  void RunPatterns(const std::vector<std::string> &texts) {
    state_.Patterns(texts);
    RemoveWildcardMatches();
  }

  // One folder entry for each of `folders`, all with the same levels and file name.
  void SetFolders(DWORD levels, const std::vector<std::string> &folders, const char *name = "") {
    state_.Clear();
    for (const std::string &folder : folders) state_.Folder(levels, folder, "", name);
  }

  testenv::ScopedTestDir root_{"traversal"};
  // The install folder is two levels below the case folder: "..\.." leads to it.
  std::string install_ = root_ / "x\\y";
  testenv::RunState state_{install_};
};

TEST_F(TraversalTest, WildcardRoutesIntoAProtectedFolderDeleteNothing) {
  ASSERT_TRUE(MakeDirs(root_ / "prot\\deep"));
  for (const char *file : {"prot\\marker.log", "prot\\deep\\inner.log", "open\\marker.log"}) {
    ASSERT_TRUE(WriteText(root_ / file, "x"));
  }
  testenv::ScopedProtectedFolder protect(root_ / "prot");
  ASSERT_EQ(1, IsProtectedFolder(&(root_ / "prot")[0]));
  std::string upper = root_ / "PROT";
  for (auto &c : upper) c = (char)toupper((unsigned char)c);
  RunPatterns({"..\\..\\prot\\*.log", "..\\..\\prot.\\*.log", "../../prot/*.log",
               "..\\..\\x\\..\\prot\\*.log", "..\\..\\PrOt\\*.*", upper + "\\*.log",
               "..\\.\\..\\prot..\\*.log", "#InstallDir#\\..\\..\\prot\\*.log"});
  // Every form leaves the marker, the file below it and the folder.
  EXPECT_TRUE(FileExists(root_ / "prot\\marker.log"));
  EXPECT_TRUE(FileExists(root_ / "prot\\deep\\inner.log"));
  // The same route to an unprotected folder does delete, and removes the folder.
  RunPatterns({"..\\../open./*.log"});
  EXPECT_FALSE(DirExists(root_ / "open"));
  EXPECT_TRUE(FileExists(install_ + "\\uninstall.exe"));
}

TEST_F(TraversalTest, FolderEntryRoutesIntoAProtectedFolderRemoveNothing) {
  // An empty protected folder: only the protected test keeps it.
  testenv::ScopedProtectedFolder protect(root_ / "prot");
  ASSERT_TRUE(protect.ok());
  SetFolders(0, {root_ / "x\\..\\prot", root_ / "prot.", root_.path() + "/x/../prot",
                 root_ / "X\\..\\PROT\\"});
  RemoveFolders();
  EXPECT_TRUE(DirExists(root_ / "prot"));

  // The one file that a folder entry names is deleted wherever it lies, like a file
  // entry (a shortcut on the desktop is the common case); its protected folder stays.
  ASSERT_TRUE(WriteText(root_ / "prot\\a.lnk", "x"));
  SetFolders(0, {root_ / "x\\..\\prot."}, "a.lnk");
  RemoveFolderFiles();
  RemoveFolders();
  EXPECT_FALSE(FileExists(root_ / "prot\\a.lnk"));
  EXPECT_TRUE(DirExists(root_ / "prot"));

  // A climb from a subfolder stops at the protected parent however it is written.
  ASSERT_TRUE(MakeDirs(root_ / "prot\\sub"));
  ASSERT_TRUE(MakeDirs(root_ / "open\\sub"));
  SetFolders(1, {root_ / "x\\..\\prot.\\sub", root_ / "x\\..\\open.\\sub"});
  RemoveFolders();
  EXPECT_FALSE(DirExists(root_ / "prot\\sub"));
  EXPECT_TRUE(DirExists(root_ / "prot"));
  EXPECT_FALSE(DirExists(root_ / "open"));
}

}  // namespace
