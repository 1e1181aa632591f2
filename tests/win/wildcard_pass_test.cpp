// The wildcard pass on real folder trees below C:\tallowin-tests.
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
using testenv::FileExists;
using testenv::MakeDirs;
using testenv::MakeFolderLink;
using testenv::RemoveFolderLink;
using testenv::WriteText;

class WildcardPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = root_ / "inst";
    ASSERT_TRUE(MakeDirs(install_));
    // The program's own file keeps the install folder from being removed.
    ASSERT_TRUE(WriteText(install_ + "\\uninstall.exe", "stub"));
    testenv::PrepareRunState(install_);
  }
  void TearDown() override {
    SetCurrentDirectoryA("C:\\");
    g.patterns = nullptr;
    g.patternsLength = 0;
    testenv::ReleaseRunState();
  }

  void Run(const std::vector<std::string> &texts) {
    list_ = testenv::PatternList(texts);
    g.patterns = &list_[0];
    g.patternsLength = (DWORD)list_.size();
    RemoveWildcardMatches();
  }

  std::string In(const std::string &relative) const { return install_ + "\\" + relative; }
  void Files(const std::vector<std::string> &relatives) {
    for (const auto &r : relatives) {
      MakeDirs(In(r).substr(0, In(r).find_last_of('\\')));
      ASSERT_TRUE(WriteText(In(r), "x")) << r;
    }
  }

  testenv::ScopedTestDir root_{"wildcard"};
  std::string install_;
  std::string list_;
};

TEST_F(WildcardPassTest, RelativePatternCleansTheInstallTreeAndLeavesItCurrent) {
  Files({"a.tmp", "keep.txt", "sub\\b.tmp", "sub\\deeper\\c.tmp", "mixed\\x.tmp", "mixed\\y.txt",
         "mixed\\tmpdir.tmp\\z.txt"});
  ASSERT_TRUE(MakeDirs(In("empty\\inner")));
  Run({"*.tmp"});
  EXPECT_FALSE(FileExists(In("a.tmp")));
  EXPECT_TRUE(FileExists(In("keep.txt")));
  EXPECT_FALSE(DirExists(In("sub")));
  EXPECT_FALSE(DirExists(In("empty")));
  EXPECT_FALSE(FileExists(In("mixed\\x.tmp")));
  EXPECT_TRUE(FileExists(In("mixed\\y.txt")));
  // A folder whose name matches is not a file: the pattern selects files only.
  EXPECT_TRUE(FileExists(In("mixed\\tmpdir.tmp\\z.txt")));
  EXPECT_TRUE(FileExists(In("uninstall.exe")));
  EXPECT_TRUE(EqualsNoCase(CurrentFolder().c_str(), install_.c_str())) << CurrentFolder();
}

TEST_F(WildcardPassTest, MacroPathRemovesItsFolderTreeButNotItsParent) {
  char temp[MAX_PATH];
  ASSERT_TRUE(ExpandFolderMacros(temp, "#TempDir#", MAX_PATH) < MAX_PATH);
  std::string top =
      std::string(temp) + "\\TallowinTests-wildcard-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(MakeDirs(top + "\\A\\B\\C"));
  ASSERT_TRUE(WriteText(top + "\\A\\B\\one.log", "x"));
  ASSERT_TRUE(WriteText(top + "\\A\\B\\C\\two.dat", "x"));
  ASSERT_TRUE(WriteText(top + "\\A\\beside.txt", "x"));
  Run({"#TempDir#\\TallowinTests-wildcard-" + std::to_string(GetCurrentProcessId()) +
       "\\A\\B\\*.*"});
  bool treeLeft = DirExists(top + "\\A\\B");
  bool besideLeft = FileExists(top + "\\A\\beside.txt");
  testenv::RemoveTree(top);
  EXPECT_FALSE(treeLeft);
  EXPECT_TRUE(besideLeft);
}

TEST_F(WildcardPassTest, TrailingBackslashRemovesOnlyEmptyFolders) {
  Files({"tree\\full\\f.txt"});
  ASSERT_TRUE(MakeDirs(In("tree\\empty1")));
  ASSERT_TRUE(MakeDirs(In("tree\\empty2\\inner")));
  ASSERT_TRUE(MakeDirs(In("bare\\x\\y")));
  Run({"tree\\", "bare\\"});
  EXPECT_TRUE(FileExists(In("tree\\full\\f.txt")));
  EXPECT_FALSE(DirExists(In("tree\\empty1")));
  EXPECT_FALSE(DirExists(In("tree\\empty2")));
  EXPECT_FALSE(DirExists(In("bare")));
}

TEST_F(WildcardPassTest, ReadOnlyMatchKeepsItsFoldersUpToTheTextFolder) {
  Files({"ro\\a\\b\\locked.tmp", "ro\\a\\loose.tmp"});
  ASSERT_TRUE(SetFileAttributesA(In("ro\\a\\b\\locked.tmp").c_str(), FILE_ATTRIBUTE_READONLY));
  Run({"ro\\*.tmp"});
  EXPECT_TRUE(FileExists(In("ro\\a\\b\\locked.tmp")));
  EXPECT_FALSE(FileExists(In("ro\\a\\loose.tmp")));
  EXPECT_TRUE(DirExists(In("ro\\a\\b")));
  SetFileAttributesA(In("ro\\a\\b\\locked.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WildcardPassTest, ProtectedFoldersAreNeitherCleanedNorRemoved) {
  Files({"tree\\a-sib\\one.tmp", "tree\\prot\\two.tmp", "tree\\prot\\deep\\three.tmp",
         "tree\\z-sib\\four.tmp", "other\\five.tmp"});
  testenv::ScopedProtectedFolder protect(In("tree\\prot"));
  ASSERT_TRUE(protect.ok());
  ASSERT_EQ(1, IsProtectedFolder(&In("tree\\prot")[0]));
  Run({"tree\\*.tmp", "tree\\prot\\*.tmp", "other\\*.tmp"});
  EXPECT_FALSE(DirExists(In("tree\\a-sib")));
  EXPECT_FALSE(DirExists(In("tree\\z-sib")));  // the walk goes on after the protected one
  EXPECT_TRUE(FileExists(In("tree\\prot\\two.tmp")));
  EXPECT_TRUE(FileExists(In("tree\\prot\\deep\\three.tmp")));
  EXPECT_FALSE(DirExists(In("other")));  // and so does the list
}

TEST_F(WildcardPassTest, MissingFolderOrTooLongTextIsSkipped) {
  Files({"sub\\a.tmp", "sub\\keep.txt"});
  ASSERT_TRUE(SetCurrentDirectoryA(In("sub").c_str()));
  // Cut at 259 characters this text would end in "*???...", matching every file.
  std::string tooLong = "sub\\*" + std::string(300, '?') + ".tmp";
  Run({"missing\\*.tmp", tooLong});
  EXPECT_TRUE(FileExists(In("sub\\a.tmp")));
  EXPECT_TRUE(FileExists(In("sub\\keep.txt")));
  // No folder was entered, so the current folder did not move.
  EXPECT_TRUE(EqualsNoCase(CurrentFolder().c_str(), In("sub").c_str())) << CurrentFolder();
  Run({""});
  EXPECT_TRUE(FileExists(In("sub\\a.tmp")));
}

TEST_F(WildcardPassTest, LinksAreNotFollowed) {
  ASSERT_TRUE(MakeDirs(root_ / "outside\\deep"));
  ASSERT_TRUE(WriteText(root_ / "outside\\victim.tmp", "x"));
  ASSERT_TRUE(WriteText(root_ / "outside\\deep\\victim2.tmp", "x"));
  Files({"tree\\own.tmp"});
  ASSERT_TRUE(MakeFolderLink(In("tree\\link"), "../../outside"));
  ASSERT_TRUE(MakeFolderLink(In("direct"), "../outside"));
  Run({"tree\\*.tmp", "direct\\*.tmp"});
  EXPECT_FALSE(FileExists(In("tree\\own.tmp")));
  EXPECT_TRUE(FileExists(root_ / "outside\\victim.tmp"));
  EXPECT_TRUE(FileExists(root_ / "outside\\deep\\victim2.tmp"));
  EXPECT_TRUE(DirExists(root_ / "outside\\deep"));
  EXPECT_TRUE(RemoveFolderLink(In("tree\\link")));
  EXPECT_TRUE(RemoveFolderLink(In("direct")));
}

TEST(MatchesPatternTest, StarAndQuestionMarkOnLongNames) {
  struct Case {
    const char *pattern, *name;
    bool match;
  } cases[] = {
      {"*.htm", "x.htm", true},
      {"*.htm", "x.html", false},
      {"*.HTM", "Page.htm", true},
      {"*.htm", "htm", false},
      {"a?c.txt", "abc.txt", true},
      {"a?c.txt", "ac.txt", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYc.d", false},
      {"*", "anything.at.all", true},
      {"*.*", "noextension", true},
      {"*.*", "a.b", true},
      {"*.", "noextension", true},
      {"*.", "a.b", false},
      {"readme.", "README", true},
      {"readme.*", "readme", false},
      {"", "a", false},
      {"..", "a", false},
      {"*x*", "abc", false},
      {"\xC4*.log", "\xE4x.log", false},  // only A to Z fold
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.match, MatchesPattern(c.pattern, c.name)) << c.pattern << " / " << c.name;
  }
}

TEST_F(WildcardPassTest, ShortNamesDoNotWidenTheMatch) {
  Files({"x.html", "y.htm", "sub\\Z.HTM", "sub\\long name.htmlx", "keep.txt"});
  // The search by itself also matches x.html through its short name X~1.HTM (on
  // Windows and under Wine alike): the pass must not rely on it.
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(In("*.htm").c_str(), &found);
  bool searchFindsLongName = false;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (std::string(found.cFileName) == "x.html") searchFindsLongName = true;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  printf("directory search for *.htm returns x.html: %s\n", searchFindsLongName ? "yes" : "no");
  Run({"*.htm"});
  EXPECT_TRUE(FileExists(In("x.html")));
  EXPECT_TRUE(FileExists(In("sub\\long name.htmlx")));
  EXPECT_FALSE(FileExists(In("y.htm")));
  EXPECT_FALSE(FileExists(In("sub\\Z.HTM")));
  EXPECT_TRUE(FileExists(In("keep.txt")));
}

}  // namespace
