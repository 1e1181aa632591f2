// The self-deletion script: batch file naming, and a copy of this test program that
// deletes itself and its folder the way the removal program does at its end.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/state.h"
#include "external/external.h"
#include "support/testenv.h"

using testenv::ScopedTestDir;

namespace {

const char kChildVariable[] = "TALLOWIN_SELFDELETE_CHILD";

std::string OwnPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

// Points the temporary folder of this process (and of its children) elsewhere.
class ScopedTemp {
 public:
  explicit ScopedTemp(const std::string &folder) {
    Save("TMP", &tmp_);
    Save("TEMP", &temp_);
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
  }
  ~ScopedTemp() {
    SetEnvironmentVariableA("TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.empty() ? nullptr : temp_.c_str());
  }

 private:
  static void Save(const char *name, std::string *value) {
    char text[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, text, MAX_PATH);
    if (n > 0 && n < MAX_PATH) *value = text;
  }
  std::string tmp_, temp_;
};

int CountScriptFolders(const std::string &folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\~rm*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return n;
}

bool OnWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

bool ScriptFoldersAreEmpty(const std::string &folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\~rm*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    std::string inner = folder + "\\" + data.cFileName;
    WIN32_FIND_DATAA entry;
    HANDLE files = FindFirstFileA((inner + "\\*").c_str(), &entry);
    if (files == INVALID_HANDLE_VALUE) continue;
    do
      if (lstrcmpA(entry.cFileName, ".") && lstrcmpA(entry.cFileName, "..")) empty = false;
    while (FindNextFileA(files, &entry));
    FindClose(files);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return empty;
}

int CountBatchFiles(const std::string &folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\delme*.bat").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return n;
}

bool IsElevated() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated;
}

std::string FolderOf(const std::string &path) { return path.substr(0, path.rfind('\\')); }

// The private folder name this process tries n-th.
std::string PrivateName(int n) {
  return "~rm" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n) + ".tmp";
}

bool SameSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

bool IsOwnUser(PSID sid) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  BYTE buffer[256];
  DWORD size = 0;
  bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
              EqualSid(sid, reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid);
  CloseHandle(token);
  return same;
}

// Checks that `path` admits exactly Administrators and SYSTEM with full control.
void ExpectAdminsAndSystemOnly(const std::string &path, bool protectedDacl) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  // Wine 8 keeps no access lists on files: it reads back one made from the Unix mode bits
  // (SYSTEM and the owner), so there only the absence of anyone else can be seen.
  const bool wine = OnWine();
  if (protectedDacl && !wine) {
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << path;
  }
  ASSERT_NE(nullptr, dacl) << "a null DACL admits everyone: " << path;
  bool admins = false, system = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER *header = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&header)));
    ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, header->AceType) << path << " entry " << i;
    auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
    PSID sid = &ace->SidStart;
    EXPECT_TRUE(ace->Mask == GENERIC_ALL || (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS)
        << path << " entry " << i << " mask " << std::hex << ace->Mask;
    if (SameSid(sid, WinBuiltinAdministratorsSid))
      admins = true;
    else if (SameSid(sid, WinLocalSystemSid))
      system = true;
    else if (wine && IsOwnUser(sid))
      continue;
    else
      ADD_FAILURE() << path << ": entry " << i << " admits someone else";
  }
  EXPECT_TRUE(system && (admins || wine)) << path;
  LocalFree(descriptor);
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
  ExpectAdminsAndSystemOnly(FolderOf(path), true);
  // The script inherits the folder's entries and nothing from above.
  if (!OnWine()) ExpectAdminsAndSystemOnly(path, false);
  // A folder made plainly in the same place admits everyone to read: the check can fail.
  ASSERT_TRUE(testenv::MakeDirs(dir / "plain"));
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoA((dir / "plain").c_str(), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                                 nullptr, &descriptor));
  EXPECT_NE(nullptr, dacl);
  bool everyone = false;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE *ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void **>(&ace)) &&
        (SameSid(&ace->SidStart, WinWorldSid) || SameSid(&ace->SidStart, WinBuiltinUsersSid) ||
         SameSid(&ace->SidStart, WinAuthenticatedUserSid)))
      everyone = true;
  }
  EXPECT_TRUE(everyone) << "a plain folder admits only the owner here";
  LocalFree(descriptor);

  std::vector<uint8_t> bytes;
  ASSERT_TRUE(testenv::ReadBytes(dir / (PrivateName(1) + "\\delme1.bat"), &bytes));
  EXPECT_EQ("planted", std::string(bytes.begin(), bytes.end()));
  ASSERT_TRUE(testenv::ReadBytes(dir / "delme1.bat", &bytes));
  EXPECT_EQ("one", std::string(bytes.begin(), bytes.end()));

  // A second script gets a folder of its own as well.
  char second[260];
  file = CreateBatchFile(second, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / (PrivateName(3) + "\\delme1.bat"), std::string(second));
}

// Runs only inside the copy that the tests below start.
TEST(SelfDeleteChild, StartsTheScript) {
  if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) GTEST_SKIP();
  std::string own = OwnPath();
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
  EXPECT_EQ(1, CountScriptFolders(temp));
  EXPECT_EQ(0, CountBatchFiles(temp));
  Sleep(2500);
  EXPECT_TRUE(testenv::FileExists(own));
  CloseHandle(hold);
}

class SelfDeletionTest : public ::testing::Test {
 protected:
  SelfDeletionTest() : dir_("selfdelete"), temp_(dir_ / "t&mp 100% \xe9t\xe9") {
    testenv::MakeDirs(temp_);
    char folder[MAX_PATH];
    ExpandEnvironmentStringsA("%ProgramFiles%", folder, MAX_PATH);
    programFiles_ = folder;
    install_ = programFiles_ + "\\A&B 100%";
    exe_ = install_ + "\\uninstall.exe";
    // Names that a script which split or expanded the path would reach instead.
    siblings_ = {programFiles_ + "\\A", programFiles_ + "\\A&B 100"};
    for (const std::string &sibling : siblings_) testenv::MakeDirs(sibling);
    testenv::MakeDirs(install_);
  }
  ~SelfDeletionTest() override {
    testenv::RemoveTree(install_);
    for (const std::string &sibling : siblings_) RemoveDirectoryA(sibling.c_str());
  }

  // Starts the copy and waits for the exe to go; true when it went.
  bool RunCopyAndWaitForExe() {
    if (!CopyFileA(OwnPath().c_str(), exe_.c_str(), FALSE)) return false;
    ScopedTemp temp(temp_);
    SetEnvironmentVariableA(kChildVariable, "1");
    DWORD code = testenv::RunAndWait("\"" + exe_ + "\" --gtest_filter=SelfDeleteChild.*", 60000);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    EXPECT_EQ(0u, code);
    for (int i = 0; i < 200 && testenv::FileExists(exe_); ++i) Sleep(50);
    return !testenv::FileExists(exe_);
  }
  // The script goes with its private folder.
  bool WaitForBatchGone() {
    for (int i = 0; i < 100 && CountScriptFolders(temp_) > 0; ++i) Sleep(50);
    if (CountBatchFiles(temp_) != 0) return false;
    // Wine's interpreter holds its script open to the end, so the script is only gone
    // once it has exited and the folder, emptied too late, stays behind; the Windows
    // interpreter closes its script between lines.
    return CountScriptFolders(temp_) == 0 || (OnWine() && ScriptFoldersAreEmpty(temp_));
  }

  ScopedTestDir dir_;
  std::string temp_, programFiles_, install_, exe_;
  std::vector<std::string> siblings_;
};

TEST_F(SelfDeletionTest, RemovesTheProgramItsFolderAndTheScript) {
  ASSERT_TRUE(RunCopyAndWaitForExe()) << "the program file is still there";
  for (int i = 0; i < 100 && testenv::DirExists(install_); ++i) Sleep(50);
  EXPECT_FALSE(testenv::DirExists(install_));
  EXPECT_TRUE(WaitForBatchGone());
  for (const std::string &sibling : siblings_) EXPECT_TRUE(testenv::DirExists(sibling)) << sibling;
  EXPECT_TRUE(testenv::DirExists(programFiles_));
}

TEST_F(SelfDeletionTest, AFolderThatStillHoldsFilesStays) {
  testenv::WriteText(install_ + "\\leftover.txt", "kept");
  ASSERT_TRUE(RunCopyAndWaitForExe()) << "the program file is still there";
  EXPECT_TRUE(WaitForBatchGone());
  EXPECT_TRUE(testenv::FileExists(install_ + "\\leftover.txt"));
  EXPECT_TRUE(testenv::DirExists(install_));
}

}  // namespace
