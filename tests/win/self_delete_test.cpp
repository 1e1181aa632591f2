// The self-deletion script: batch file naming, and a copy of this test program that
// deletes itself and its folder the way the removal program does at its end.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "app/state.h"
#include "external/external.h"
#include "support/testenv.h"

using testenv::ScopedTestDir;

namespace {

const char kChildVariable[] = "TALLOWIN_SELFDELETE_CHILD";

bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Points the temporary folder of this process (and of its children) elsewhere.
class ScopedTemp {
 public:
  explicit ScopedTemp(const std::string &folder) {
    for (int i = 0; i < 2; ++i) {
      char text[MAX_PATH];
      DWORD n = GetEnvironmentVariableA(kNames[i], text, MAX_PATH);
      if (n > 0 && n < MAX_PATH) saved_[i] = text;
      SetEnvironmentVariableA(kNames[i], folder.c_str());
    }
  }
  ~ScopedTemp() {
    for (int i = 0; i < 2; ++i)
      SetEnvironmentVariableA(kNames[i], saved_[i].empty() ? nullptr : saved_[i].c_str());
  }

 private:
  static constexpr const char *kNames[2] = {"TMP", "TEMP"};
  std::string saved_[2];
};

// The names in `folder` that match `pattern`, without "." and "..".
std::vector<std::string> List(const std::string &folder, const char *pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do
    if (lstrcmpA(data.cFileName, ".") && lstrcmpA(data.cFileName, ".."))
      names.push_back(data.cFileName);
  while (FindNextFileA(find, &data));
  FindClose(find);
  return names;
}

bool QueryToken(TOKEN_INFORMATION_CLASS what, void *out, DWORD size) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD got = 0;
  BOOL ok = GetTokenInformation(token, what, out, size, &got);
  CloseHandle(token);
  return ok;
}

bool IsElevated() {
  TOKEN_ELEVATION elevation = {};
  return QueryToken(TokenElevation, &elevation, sizeof elevation) && elevation.TokenIsElevated;
}

bool SameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

std::string Whom(PSID sid) {
  BYTE user[256];
  if (SameSid(sid, WinBuiltinAdministratorsSid)) return "admins";
  if (SameSid(sid, WinLocalSystemSid)) return "system";
  if (QueryToken(TokenUser, user, sizeof user) &&
      EqualSid(sid, reinterpret_cast<TOKEN_USER *>(user)->User.Sid))
    return "self";
  const bool everyone = SameSid(sid, WinWorldSid) || SameSid(sid, WinBuiltinUsersSid) ||
                        SameSid(sid, WinAuthenticatedUserSid);
  return everyone ? "everyone" : "other";
}

// Whom the access list of `path` admits: "admins", "system", "self", "everyone" (the
// world, users or authenticated users) or "other", with " (part)" after an entry that
// is not full control and "denied" for one that does not allow; "protected" when the
// list inherits nothing, and "no list" (which admits everyone) when there is none.
std::set<std::string> Admitted(const std::string &path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return {"unreadable"};
  std::set<std::string> whom;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision) &&
      (control & SE_DACL_PROTECTED))
    whom.insert("protected");
  if (!dacl) whom.insert("no list");
  ACCESS_ALLOWED_ACE *ace = nullptr;
  for (DWORD i = 0; dacl && i < dacl->AceCount && GetAce(dacl, i, reinterpret_cast<void **>(&ace));
       ++i) {
    std::string who = Whom(&ace->SidStart);
    if (ace->Mask != GENERIC_ALL && (ace->Mask & FILE_ALL_ACCESS) != FILE_ALL_ACCESS)
      who += " (part)";
    whom.insert(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? who : "denied");
  }
  LocalFree(descriptor);
  return whom;
}

// Checks that `path` admits exactly Administrators and SYSTEM with full control. Wine 8
// keeps no access lists on files: it reads back one made from the Unix mode bits (SYSTEM
// and the owner), so there only the absence of anyone else can be seen.
void ExpectAdminsAndSystemOnly(const std::string &path, bool protectedDacl) {
  std::set<std::string> whom = Admitted(path);
  if (!protectedDacl || OnWine()) whom.insert("protected");  // not looked at
  if (OnWine()) {
    whom.erase("self");
    whom.insert("admins");
  }
  EXPECT_EQ((std::set<std::string>{"admins", "protected", "system"}), whom) << path;
}

// The private folder name this process tries n-th.
std::string PrivateName(int n) {
  return "~rm" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n) + ".tmp";
}

std::string Text(const std::string &path) {
  std::vector<uint8_t> bytes;
  testenv::ReadBytes(path, &bytes);
  return std::string(bytes.begin(), bytes.end());
}

// The test prefix runs elevated, as an uninstaller usually does: the script goes into a
// fresh folder of its own.
TEST(CreateBatchFile, ElevatedTakesANewPrivateFolderAndNumbersInside) {
  ASSERT_TRUE(IsElevated()) << "these cases need an elevated test prefix";
  ScopedTestDir dir("selfdelete-names");
  ScopedTemp temp(dir.path());
  testenv::WriteText(dir / "delme1.bat", "one");
  // A folder that someone else made first, with its own contents, is never used.
  testenv::MakeDirs(dir / PrivateName(1));
  testenv::WriteText(dir / (PrivateName(1) + "\\delme1.bat"), "planted");
  char path[260];
  HANDLE file = CreateBatchFile(path, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / (PrivateName(2) + "\\delme1.bat"), std::string(path));
  ExpectAdminsAndSystemOnly(dir / PrivateName(2), true);
  // The script inherits the folder's entries and nothing from above.
  if (!OnWine()) ExpectAdminsAndSystemOnly(path, false);
  // A folder made plainly in the same place admits everyone to read: the check can fail.
  ASSERT_TRUE(testenv::MakeDirs(dir / "plain"));
  std::set<std::string> plain = Admitted(dir / "plain");
  EXPECT_TRUE(plain.count("everyone") || plain.count("everyone (part)"))
      << "a plain folder admits only the owner here";
  EXPECT_EQ("planted", Text(dir / (PrivateName(1) + "\\delme1.bat")));
  EXPECT_EQ("one", Text(dir / "delme1.bat"));

  // A second script gets a folder of its own as well.
  file = CreateBatchFile(path, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / (PrivateName(3) + "\\delme1.bat"), std::string(path));
}

// Runs only inside the copy that the test below starts.
TEST(SelfDeleteChild, StartsTheScript) {
  if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) GTEST_SKIP();
  std::string own = testenv::OwnPath();
  // Held open without delete sharing, the file resists the script's first tries as a
  // running program's file does.
  HANDLE hold =
      CreateFileA(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  testenv::PrepareRunState(own.substr(0, own.rfind('\\')));
  StartSelfDeletion();
  // Elevated, the script lies in a private folder, never loose in the temporary folder.
  char temp[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("TMP", temp, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  EXPECT_EQ(1u, List(temp, "~rm*.tmp").size());
  EXPECT_EQ(0u, List(temp, "delme*.bat").size());
  Sleep(2500);
  EXPECT_TRUE(testenv::FileExists(own));
  CloseHandle(hold);
}

// Starts a copy of this program as `exe`, with `temp` as its temporary folder, and waits
// for the copy's file to go; true when it went.
bool RunCopyAndWaitForExe(const std::string &exe, const std::string &temp) {
  ScopedTemp scoped(temp);
  EXPECT_EQ(0u, testenv::RunCopyOfThisProgram(exe, "SelfDeleteChild.*", kChildVariable));
  for (int i = 0; i < 200 && testenv::FileExists(exe); ++i) Sleep(50);
  return !testenv::FileExists(exe);
}

// The script goes with its private folder. Wine's interpreter holds its script open to
// the end, so the script is only gone once it has exited and the folder, emptied too
// late, stays behind; the Windows interpreter closes its script between lines.
bool ScriptGone(const std::string &temp) {
  for (int i = 0; i < 100 && !List(temp, "~rm*.tmp").empty(); ++i) Sleep(50);
  if (!List(temp, "delme*.bat").empty()) return false;
  for (const std::string &folder : List(temp, "~rm*.tmp"))
    if (!OnWine() || !List(temp + "\\" + folder, "*").empty()) return false;
  return true;
}

TEST(SelfDeletion, RemovesTheProgramTheScriptAndTheFolderOnlyWhenEmpty) {
  ScopedTestDir dir("selfdelete");
  char folder[MAX_PATH];
  ExpandEnvironmentStringsA("%ProgramFiles%", folder, MAX_PATH);
  const std::string programFiles = folder, install = programFiles + "\\A&B 100%";
  // Names that a script which split or expanded the path would reach instead.
  const std::string siblings[] = {programFiles + "\\A", programFiles + "\\A&B 100"};
  for (const std::string &sibling : siblings) testenv::MakeDirs(sibling);
  for (bool leftover : {false, true}) {
    const std::string temp = dir / (std::string("t&mp 100% \xe9t\xe9") + (leftover ? "2" : ""));
    testenv::MakeDirs(temp);
    testenv::MakeDirs(install);
    if (leftover) testenv::WriteText(install + "\\leftover.txt", "kept");
    EXPECT_TRUE(RunCopyAndWaitForExe(install + "\\uninstall.exe", temp))
        << "the program file is still there";
    for (int i = 0; i < 100 && !leftover && testenv::DirExists(install); ++i) Sleep(50);
    EXPECT_EQ(leftover, testenv::DirExists(install)) << leftover;
    EXPECT_EQ(leftover, testenv::FileExists(install + "\\leftover.txt"));
    EXPECT_TRUE(ScriptGone(temp)) << leftover;
  }
  for (const std::string &sibling : siblings) EXPECT_TRUE(testenv::DirExists(sibling)) << sibling;
  EXPECT_TRUE(testenv::DirExists(programFiles));
  testenv::RemoveTree(install);
  for (const std::string &sibling : siblings) RemoveDirectoryA(sibling.c_str());
}

}  // namespace
