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
#include "passes/held_path.h"
#include "paths/paths.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

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

    // A log asked for behind the link is not written there either.
    const std::string log = c.link[0] ? " /LOG=\"" + inst + "\\" + c.link + "\\run.log\"" : "";
    EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe + "\" /Q" + log, 120000));
    EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, kRegKey));
    testenv::ExpectTree(out, outside, {"run.log"});
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

// Descriptors as the system stores them (self-relative), from their text form. Owners:
// BA Administrators, SY SYSTEM, BU Users, AU Authenticated Users, WD Everyone.
struct DescriptorRow {
  const char *sddl;
  bool link, path;  // followed as a link; a folder that a restart may delete through
};

TEST(LinkSafetyTest, OnlyDescriptorsThatNoStandardUserCanChangeAreTrusted) {
  const DescriptorRow rows[] = {
      {"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true, true},
      {"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true, true},
      {"O:BUD:(A;;FA;;;SY)(A;;FA;;;BA)", false, false},       // a user owns it
      {"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;BA)", false, false},  // a user account
      {"O:BA", false, false},                                 // no DACL: all may
      {"O:BAD:(A;;FA;;;SY)(A;;0x2;;;BU)", false, false},      // users write data
      {"O:BAD:(A;;FA;;;SY)(A;;0x100;;;AU)", false, false},    // write attributes
      {"O:BAD:(A;;FA;;;SY)(A;;WD;;;BU)", false, false},       // write the DACL
      {"O:BAD:(A;;FA;;;SY)(A;;GW;;;WD)", false, false},       // generic write
      // Adding folders, deleting, renaming what it holds: no link, but a changeable path.
      {"O:BAD:(A;;FA;;;SY)(A;;0x4;;;BU)", true, false},
      {"O:BAD:(A;;FA;;;SY)(A;;SD;;;AU)", true, false},
      {"O:BAD:(A;;FA;;;SY)(A;;0x40;;;BU)", true, false},
      // Inherited entries count like their own; inherit-only ones do not apply here.
      {"O:BAD:AI(A;ID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)", false, false},
      {"O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICIIO;0x1301bf;;;AU)", true, true},
      // A deny entry is not counted on to take a right back.
      {"O:BAD:(D;;0x116;;;BU)(A;;FA;;;SY)(A;;0x1301bf;;;BU)", false, false},
      {"O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)", true, true},
      // Trusted Installer owns and may change it; an empty DACL grants nobody anything.
      {"O:S-1-5-80-956008885-3425610575-1326302244-2228071488-4129207166D:(A;;FA;;;S-1-5-80-"
       "956008885-3425610575-1326302244-2228071488-4129207166)",
       true, true},
      {"O:SYD:", true, true},
  };
  for (const DescriptorRow &row : rows) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl, SDDL_REVISION_1, &sd, &size))
        << row.sddl;
    EXPECT_EQ(row.link, OnlyTrustedMayChange(sd, size, kLinkChangeRights)) << row.sddl;
    EXPECT_EQ(row.path, OnlyTrustedMayChange(sd, size, kPathChangeRights)) << row.sddl;
    // Cut short anywhere, it is never trusted.
    for (ULONG cut = 0; cut + 1 < size && row.path; cut += 3)
      EXPECT_FALSE(OnlyTrustedMayChange(sd, cut, kPathChangeRights)) << row.sddl << " " << cut;
    LocalFree(sd);
  }
  // A system drive's root: every user may add folders to it, which changes no path below.
  PSECURITY_DESCRIPTOR root = nullptr;
  ULONG size = 0;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "O:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)"
      "(A;OICIIO;SD;;;AU)",
      SDDL_REVISION_1, &root, &size));
  EXPECT_TRUE(OnlyTrustedMayChange(root, size, kRootChangeRights));
  EXPECT_FALSE(OnlyTrustedMayChange(root, size, kPathChangeRights));
  LocalFree(root);
  EXPECT_FALSE(OnlyTrustedMayChange(nullptr, 0, kLinkChangeRights));
}

TEST(LinkSafetyTest, PathsAreHeldFolderByFolderAsWritten) {
  testenv::ScopedTestDir dir("link-check");
  ResetRunState();
  g.isNT = 1;
  ASSERT_TRUE(testenv::MakeTree(dir.path(), {"a long folder name\\sub\\",
                                             "a long folder name\\missing2\\", "target\\sub\\"}));
  ASSERT_TRUE(testenv::MakeFolderLink(dir / "link", "target"));
  char shortPath[MAX_PATH];
  DWORD n = GetShortPathNameA((dir / "a long folder name\\sub").c_str(), shortPath, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  ASSERT_EQ(std::string::npos, std::string(shortPath).find("long folder")) << shortPath;
  struct Row {
    std::string path;
    bool lastMayBeLink;
    Outcome refused;  // OUTCOME_REMOVED: held
    DWORD error;
  };
  const Row rows[] = {
      {shortPath, false, OUTCOME_REMOVED, 0},
      {dir / "target\\sub\\", false, OUTCOME_REMOVED, 0},
      {dir / "a long folder name\\missing\\deeper", true, OUTCOME_FAILED, ERROR_PATH_NOT_FOUND},
      // Answered by the level just found missing; a name that only begins like it is not.
      {dir / "a long folder name\\missing", true, OUTCOME_FAILED, ERROR_PATH_NOT_FOUND},
      {dir / "a long folder name\\missing2", true, OUTCOME_REMOVED, 0},
      {dir / "link", true, OUTCOME_AT_LINK, 0},  // Wine: every owner is the user
      {dir / "link\\sub", true, OUTCOME_AT_LINK, 0},
      {dir / "target\\\\sub", true, OUTCOME_ODD_NAME, 0},
      {dir / "link.\\sub", true, OUTCOME_ODD_NAME, 0},
      {dir.path() + "/link/sub", true, OUTCOME_ODD_NAME, 0},
      {dir / "target\\..\\link\\sub", true, OUTCOME_ODD_NAME, 0},
      {"relative\\sub", true, OUTCOME_FAILED, ERROR_BAD_PATHNAME},
  };
  for (const Row &row : rows) {
    Outcome refused = OUTCOME_REMOVED;
    SetLastError(0);
    const bool held = HoldFolder(row.path.c_str(), row.lastMayBeLink, &refused);
    EXPECT_EQ(row.refused == OUTCOME_REMOVED, held) << row.path;
    EXPECT_EQ(row.refused, held ? OUTCOME_REMOVED : refused) << row.path;
    if (!held && row.refused == OUTCOME_FAILED) {
      EXPECT_EQ(row.error, GetLastError()) << row.path;
    }
  }

  // Consecutive paths share their held levels; a sibling reopens only its own.
  Outcome refused;
  ASSERT_TRUE(HoldFolder((dir / "target\\sub").c_str(), false, &refused));
  const HANDLE target = HeldLevel(1), common = HeldLevel(2);
  ASSERT_TRUE(HoldFolder((dir / "target").c_str(), false, &refused));
  EXPECT_EQ(target, HeldLevel(0));
  ASSERT_TRUE(HoldFolder((dir / "a long folder name\\sub").c_str(), false, &refused));
  EXPECT_EQ(common, HeldLevel(2));
  // No level can be renamed or replaced while held, the root's child included; once let go,
  // it can.
  const std::string parent = dir / "a long folder name";
  EXPECT_FALSE(MoveFileA(parent.c_str(), (dir / "renamed").c_str()));
  EXPECT_FALSE(MoveFileA(dir.path().c_str(), (dir.path() + "-renamed").c_str()));
  EXPECT_FALSE(RemoveDirectoryA((parent + "\\sub").c_str()));
  ReleaseHeldPath();
  EXPECT_TRUE(MoveFileA(parent.c_str(), (dir / "renamed").c_str()));

  g.isNT = 0;  // the 9x family has no links to check, and nothing is held
  EXPECT_TRUE(HoldFolder((dir / "link\\sub").c_str(), false, &refused));
  EXPECT_EQ(nullptr, HeldLevel(0));
  ResetRunState();
  EXPECT_TRUE(testenv::RemoveFolderLink(dir / "link"));
}

// While the file pass waits on the prompt for a read-only file, the folders of its path
// are held: another process can neither rename nor replace one. The file itself can be
// swapped in its folder meanwhile; the delete then takes nothing, since only the file that
// was checked (and made writable) may go.
TEST(LinkSafetyTest, TheFoldersOfAnEntryCannotBeRenamedWhileThePassWorksInThem) {
  testenv::ScopedTestDir dir("held-rename");
  const std::string data = dir / "data", sub = data + "\\sub", file = sub + "\\ro.txt";
  ASSERT_TRUE(testenv::MakeTree(dir.path(), {"data\\sub\\ro.txt", "data\\keep.txt"}));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  block.files = {{sub, "ro.txt", 0}};
  const std::string exe = dir / "uninstall.exe";
  ASSERT_TRUE(testenv::InstallStub(exe, block));
  testenv::ProgramRun run("\"" + exe + "\" /X");  // quiet: only the file prompt shows
  HWND prompt = winui::WaitForWindow(run.id(), "#32770", "<9>", 30000);
  ASSERT_NE(nullptr, prompt);
  EXPECT_FALSE(MoveFileA(sub.c_str(), (data + "\\moved").c_str()));
  EXPECT_FALSE(MoveFileA(data.c_str(), (dir / "moved").c_str()));
  ASSERT_TRUE(MoveFileA(file.c_str(), (sub + "\\checked.txt").c_str()));
  ASSERT_TRUE(testenv::WriteText(file, "swapped in"));
  ASSERT_TRUE(winui::PressOn(prompt, winui::Press::Click, IDYES));
  EXPECT_EQ(0u, run.Wait());
  testenv::ExpectTree(dir.path(), {"data\\keep.txt", "data\\sub\\ro.txt", "data\\sub\\checked.txt"},
                      {"data\\moved", "moved"});
}

}  // namespace
