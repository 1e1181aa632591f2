// Which links the program may follow (those only administrators could have made), and the
// folders of a path held one by one as written. Host links stand in for junctions: under
// Wine every link is owned by the user.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first
#include <sddl.h>

#include <string>

#include "app/run.h"
#include "paths/paths.h"
#include "reach/held_path.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

// Descriptors as the system stores them (self-relative), from their text form. Owners:
// BA Administrators, SY SYSTEM, BU Users, AU Authenticated Users, WD Everyone, and Trusted
// Installer's service SID.
TEST(LinkSafetyTest, OnlyDescriptorsThatNoStandardUserCanChangeAreTrusted) {
  const std::string installer = "S-1-5-80-956008885-3425610575-1326302244-2228071488-412920716";
  const struct {
    std::string sddl;
    bool link, path;  // followed as a link; a folder that a restart may delete through
  } rows[] = {
      // Owners alone (an empty DACL grants nobody anything): only administrators, SYSTEM and
      // Trusted Installer are trusted.
      {"O:BAD:", true, true},
      {"O:SYD:", true, true},
      {"O:" + installer + "6D:(A;;FA;;;" + installer + "6)", true, true},
      {"O:" + installer + "7D:", false, false},
      {"O:BUD:(A;;FA;;;SY)(A;;FA;;;BA)", false, false},
      {"O:S-1-5-32-544-1D:", false, false},      // longer than Administrators
      {"O:S-1-5-32D:", false, false},            // its prefix
      {"O:S-1-5-21-1-2-3-500D:", false, false},  // a domain's administrator account
      {"O:S-1-16-18D:", false, false},           // another authority, same number
      {"D:", false, false},                      // no owner
      {"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", true, true},
      {"O:BA", false, false},                               // no DACL: all may
      {"O:BAD:(A;;FA;;;SY)(A;;0x2;;;BU)", false, false},    // users write data
      {"O:BAD:(A;;FA;;;SY)(A;;0x100;;;AU)", false, false},  // write attributes
      {"O:BAD:(A;;FA;;;SY)(A;;WD;;;BU)", false, false},     // write the DACL
      {"O:BAD:(A;;FA;;;SY)(A;;GW;;;WD)", false, false},     // generic write
      // Adding folders, deleting, renaming what it holds: no link, but a changeable path.
      {"O:BAD:(A;;FA;;;SY)(A;;0x4;;;BU)", true, false},
      {"O:BAD:(A;;FA;;;SY)(A;;SD;;;AU)", true, false},
      {"O:BAD:(A;;FA;;;SY)(A;;0x40;;;BU)", true, false},
      // Inherited entries count like their own; inherit-only ones do not apply here.
      {"O:BAD:AI(A;ID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)", false, false},
      {"O:BAD:(A;;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICIIO;0x1301bf;;;AU)", true, true},
      // A deny entry is not counted on to take a right back.
      {"O:BAD:(D;;0x116;;;BU)(A;;FA;;;SY)(A;;0x1301bf;;;BU)", false, false},
  };
  for (const auto &row : rows) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl.c_str(),
                                                                     SDDL_REVISION_1, &sd, &size))
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
  ASSERT_TRUE(GetShortPathNameA((dir / "a long folder name\\sub").c_str(), shortPath, MAX_PATH) &&
              !strstr(shortPath, "long folder"));
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

  // That no level can be renamed while held, the whole runs show.
  ReleaseHeldPath();
  Outcome refused;
  g.isNT = 0;  // the 9x family has no links to check, and nothing is held
  EXPECT_TRUE(HoldFolder((dir / "link\\sub").c_str(), false, &refused));
  EXPECT_EQ(nullptr, HeldLevel(0));
  ResetRunState();
  EXPECT_TRUE(testenv::RemoveFolderLink(dir / "link"));
}

}  // namespace
