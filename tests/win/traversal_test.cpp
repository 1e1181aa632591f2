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
    // The install folder is two levels below the case folder: "..\.." leads to it.
    install_ = root_ / "x\\y";
    ASSERT_TRUE(MakeDirs(install_));
    ASSERT_TRUE(WriteText(install_ + "\\uninstall.exe", "stub"));
    ASSERT_TRUE(MakeDirs(root_ / "prot"));
    ASSERT_TRUE(MakeDirs(root_ / "open"));
    testenv::PrepareRunState(install_);
  }
  void TearDown() override {
    SetCurrentDirectoryA("C:\\");
    g.patterns = nullptr;
    g.patternsLength = 0;
    g.folders = nullptr;
    g.folderCount = 0;
    testenv::ReleaseRunState();
  }

  void RunPatterns(const std::vector<std::string> &texts) {
    list_ = testenv::PatternList(texts);
    g.patterns = &list_[0];
    g.patternsLength = (DWORD)list_.size();
    RemoveWildcardMatches();
  }

  // Folder entries (levels 0) whose strings live in texts_.
  void SetFolders(const std::vector<std::pair<std::string, std::string>> &folderAndName) {
    texts_.clear();
    texts_.reserve(folderAndName.size() * 3);
    entries_.clear();
    for (const auto &f : folderAndName) {
      texts_.push_back(f.first);
      char *folder = &texts_.back()[0];
      texts_.push_back("");
      char *second = &texts_.back()[0];
      texts_.push_back(f.second);
      entries_.push_back({0, folder, second, &texts_.back()[0]});
    }
    pointers_.clear();
    for (auto &e : entries_) pointers_.push_back(&e);
    g.folders = pointers_.data();
    g.folderCount = (DWORD)pointers_.size();
  }

  testenv::ScopedTestDir root_{"traversal"};
  std::string install_;
  std::string list_;
  std::vector<std::string> texts_;
  std::vector<FolderEntry> entries_;
  std::vector<FolderEntry *> pointers_;
};

TEST_F(TraversalTest, WildcardRoutesIntoAProtectedFolderDeleteNothing) {
  ASSERT_TRUE(WriteText(root_ / "prot\\marker.log", "x"));
  ASSERT_TRUE(MakeDirs(root_ / "prot\\deep"));
  ASSERT_TRUE(WriteText(root_ / "prot\\deep\\inner.log", "x"));
  ASSERT_TRUE(WriteText(root_ / "open\\marker.log", "x"));
  testenv::ScopedProtectedFolder protect(root_ / "prot");
  ASSERT_TRUE(protect.ok());
  std::string prot = root_ / "prot";
  ASSERT_EQ(1, IsProtectedFolder(&prot[0]));
  std::string upper = root_ / "PROT";
  for (auto &c : upper) c = (char)toupper((unsigned char)c);
  std::string slashed = root_ / "prot";
  for (auto &c : slashed) c = c == '\\' ? '/' : c;
  RunPatterns({"..\\..\\prot\\*.log", "..\\..\\prot.\\*.log", "../../prot/*.log",
               "..\\..\\x\\..\\prot\\*.log", "..\\..\\PrOt\\*.*", upper + "\\*.log",
               "..\\.\\..\\prot..\\*.log", "#InstallDir#\\..\\..\\prot\\*.log"});
  // Every form leaves the marker, the file below it and the folder.
  EXPECT_TRUE(FileExists(root_ / "prot\\marker.log"));
  EXPECT_TRUE(FileExists(root_ / "prot\\deep\\inner.log"));
  // The same route to an unprotected folder does delete, and removes the folder.
  RunPatterns({"..\\../open./*.log"});
  EXPECT_FALSE(FileExists(root_ / "open\\marker.log"));
  EXPECT_FALSE(DirExists(root_ / "open"));
  EXPECT_TRUE(FileExists(install_ + "\\uninstall.exe"));
}

TEST_F(TraversalTest, FolderEntryRoutesIntoAProtectedFolderRemoveNothing) {
  // An empty protected folder: only the protected test keeps it.
  ASSERT_TRUE(MakeDirs(root_ / "prot\\sub"));
  ASSERT_TRUE(MakeDirs(root_ / "open\\sub"));
  testenv::ScopedProtectedFolder protect(root_ / "prot");
  ASSERT_TRUE(protect.ok());
  SetFolders({{root_ / "x\\..\\prot", ""},
              {root_ / "prot.", ""},
              {root_.path() + "/x/../prot", ""},
              {root_ / "X\\..\\PROT\\", ""}});
  RemoveFolders();
  EXPECT_TRUE(DirExists(root_ / "prot"));

  // The one file that a folder entry names is deleted wherever it lies, like a file
  // entry (a shortcut on the desktop is the common case); its protected folder stays.
  ASSERT_TRUE(RemoveDirectoryA((root_ / "prot\\sub").c_str()));
  ASSERT_TRUE(WriteText(root_ / "prot\\a.lnk", "x"));
  SetFolders({{root_ / "x\\..\\prot.", "a.lnk"}});
  RemoveFolderFiles();
  RemoveFolders();
  EXPECT_FALSE(FileExists(root_ / "prot\\a.lnk"));
  EXPECT_TRUE(DirExists(root_ / "prot"));

  // A climb from a subfolder stops at the protected parent however it is written.
  ASSERT_TRUE(MakeDirs(root_ / "prot\\sub"));
  SetFolders({{root_ / "x\\..\\prot.\\sub", ""}, {root_ / "x\\..\\open.\\sub", ""}});
  entries_[0].levels = 1;
  entries_[1].levels = 1;
  RemoveFolders();
  EXPECT_FALSE(DirExists(root_ / "prot\\sub"));
  EXPECT_TRUE(DirExists(root_ / "prot"));
  EXPECT_FALSE(DirExists(root_ / "open"));
}

}  // namespace
