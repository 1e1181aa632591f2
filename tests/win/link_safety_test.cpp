// Which links the program may follow (those only administrators could have made), and the
// folders of a path held one by one as written. Host links stand in for junctions: under
// Wine every link is owned by the user.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first
#include <sddl.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "paths/paths.h"
#include "reach/held_path.h"
#include "state/state.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

using testenv::FileExists;

const char kRegKey[] = "Software\\TallowinTests\\LinkSafety";

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

  Outcome refused;
  ASSERT_TRUE(HoldFolder((dir / "a long folder name\\sub").c_str(), false, &refused));
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

}  // namespace
