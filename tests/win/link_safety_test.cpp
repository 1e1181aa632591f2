// What a standard user can plant in the folders that the uninstaller walks or names
// (links, names that the system reads as others) must never reach another tree, and the
// run must still end in order. Host links stand in for junctions: under Wine every link
// is owned by the user, so each of them counts as one a standard user made.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first
#include <sddl.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "paths/paths.h"
#include "support/testenv.h"

namespace {

using testenv::FileExists;

const char kRegKey[] = "Software\\TallowinTests\\LinkSafety";

struct Case {
  const char *what;
  const char *oddFolder;  // made by its literal name in the install folder, "" for none
  const char *link;       // a link in the install folder to the other tree, "" for none
  std::vector<std::string> patterns;
  std::vector<blockfmt::FileItem> files;
  std::vector<blockfmt::FolderItem> folders;  // folders relative to the install folder
};

TEST(LinkSafetyTest, PlantedLinksAndNamesLeaveTheOtherTreeAndTheRunCompletes) {
  const Case cases[] = {
      {"a. beside a link a", "a.", "a", {"*.*"}, {}, {}},
      {"a blank-ended name beside a link a", "a ", "a", {"*.*"}, {}, {}},
      {"a folder named ...", "...", "", {"*.*"}, {}, {}},
      {"a link as a listed wildcard folder", "", "data", {"data\\*.*"}, {}, {}},
      {"a link above a listed wildcard folder", "", "data", {"data\\inner\\*.*"}, {}, {}},
      {"a link as a listed file's folder", "", "data", {}, {{".\\data", "victim.txt"}}, {}},
      {"a link as a folder entry's folder", "", "data", {}, {}, {{0, "data", "", "victim.txt"}}},
      {"a link as a climbed folder", "", "data", {}, {}, {{1, "data\\empty", "", ""}}},
      {"a link climbed by the empty-folder pass", "", "data", {}, {{".\\data\\empty", "x"}}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    testenv::ScopedTestDir dir("link-safety");
    const std::string inst = dir / "inst", out = dir / "out";
    const std::vector<std::string> outside = {"victim.txt", "inner\\deep.txt", "empty\\"};
    ASSERT_TRUE(testenv::MakeTree(out, outside) && testenv::MakeDirs(inst));
    if (c.oddFolder[0]) {
      ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + inst + "\\" + c.oddFolder).c_str(), nullptr));
    }
    if (c.link[0]) {
      ASSERT_TRUE(testenv::MakeFolderLink(inst + "\\" + c.link, "../out"));
    }

    blockfmt::Block block;
    block.messages = testenv::StandardMessages();
    block.patterns = c.patterns;
    block.files = c.files;
    for (blockfmt::FolderItem folder : c.folders) {
      folder.folder = inst + "\\" + folder.folder;
      block.folders.push_back(folder);
    }
    block.registry.push_back({blockfmt::ROOT_HKCU, kRegKey});
    ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegKey, "v", 1));
    const std::string exe = inst + "\\uninstall.exe";
    ASSERT_TRUE(testenv::InstallStub(exe, block));

    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /Q", 120000));
    EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, kRegKey));
    testenv::ExpectTree(out, outside, {});
    // The script of a /Q run deletes the program: let it finish before the tree goes.
    for (int i = 0; i < 200 && FileExists(exe); ++i) Sleep(100);
    if (c.link[0]) {
      EXPECT_TRUE(testenv::RemoveFolderLink(inst + "\\" + c.link));
    }
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kRegKey);
  }
}

TEST(LinkSafetyTest, OnlyAdministratorsSystemAndTrustedInstallerOwnTrustedLinks) {
  const std::pair<const char *, bool> owners[] = {
      {"S-1-5-32-544", true},
      {"S-1-5-18", true},
      {"S-1-5-80-956008885-3425610575-1326302244-2228071488-4129207166", true},
      {"S-1-5-80-956008885-3425610575-1326302244-2228071488-4129207167", false},
      {"S-1-5-80-956008885-3425610575-1326302244-2228071488", false},
      {"S-1-5-32-545", false},         // Users
      {"S-1-5-32-544-1", false},       // longer than Administrators
      {"S-1-5-32", false},             // its prefix
      {"S-1-5-21-0-0-0-1000", false},  // a user (Wine's)
      {"S-1-5-21-1-2-3-500", false},   // a domain's administrator account
      {"S-1-16-18", false},            // another authority, same number
      {"S-1-16-12288", false},         // high integrity level
  };
  for (const auto &owner : owners) {
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA(owner.first, &sid)) << owner.first;
    EXPECT_EQ(owner.second, IsTrustedLinkOwner(sid)) << owner.first;
    LocalFree(sid);
  }
  EXPECT_FALSE(IsTrustedLinkOwner(nullptr));
}

TEST(LinkSafetyTest, PathsAreCheckedFolderByFolderAsWritten) {
  testenv::ScopedTestDir dir("link-check");
  ResetRunState();
  g.isNT = 1;
  ASSERT_TRUE(testenv::MakeTree(dir.path(), {"a long folder name\\sub\\", "target\\sub\\"}));
  ASSERT_TRUE(testenv::MakeFolderLink(dir / "link", "target"));
  char shortPath[MAX_PATH];
  DWORD n = GetShortPathNameA((dir / "a long folder name\\sub").c_str(), shortPath, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  ASSERT_EQ(std::string::npos, std::string(shortPath).find("long folder")) << shortPath;
  struct Row {
    std::string path;
    bool includeLast, trusted;
  };
  const Row rows[] = {{std::string(shortPath) + "\\file.txt", false, true},
                      {dir / "a long folder name\\sub\\missing\\deeper", true, true},
                      {dir / "target\\sub", true, true},
                      {dir / "link", false, true},
                      {dir / "link", true, false},
                      {dir / "link\\", true, false},
                      {dir / "link\\sub\\file.txt", false, false},
                      {dir / "link.\\sub", true, false},
                      {dir.path() + "/link/sub", true, false},
                      {dir / "target\\..\\link\\sub", true, false}};
  // Twice: what the first round remembers must not change the second's answers.
  for (int round = 0; round < 2; ++round) {
    for (const Row &row : rows) {
      EXPECT_EQ(row.trusted, LinksAreTrusted(row.path.c_str(), row.includeLast))
          << row.path << " " << row.includeLast << " round " << round;
    }
  }
  g.isNT = 0;  // the 9x family has no links to check
  EXPECT_TRUE(LinksAreTrusted((dir / "link\\sub\\file.txt").c_str(), false));
  ResetRunState();
  EXPECT_TRUE(testenv::RemoveFolderLink(dir / "link"));
}

}  // namespace
