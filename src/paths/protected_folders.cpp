// The protected folder test: folders of the system and of the user's shell are never removed.
#include <shlobj.h>

#include "app/state.h"
#include "data/data.h"
#include "paths/paths.h"

namespace {

// Looking the folders up costs tens of milliseconds a call under some systems, and the
// folder passes ask for every folder they consider, so the list is built once per run.
constexpr int kMaxProtected = 19;
char protectedFolders[kMaxProtected][kPathBuf];
int protectedCount = 0;

void AddFolder(const char *folder) {
  if (protectedCount < kMaxProtected &&
      CopyBounded(protectedFolders[protectedCount], kPathBuf, folder)) {
    ++protectedCount;
  }
}

void AddSpecialFolder(int csidl) {
  char folder[kPathBuf];
  if (!GetSpecialFolder(folder, csidl)) return;
  StripBackslash(folder);
  AddFolder(folder);
}

// A folder and its Quick Launch folder; neither when the folder cannot be obtained.
void AddWithQuickLaunch(int csidl) {
  char folder[kPathBuf];
  if (!GetSpecialFolder(folder, csidl)) return;
  StripBackslash(folder);
  AddFolder(folder);
  char quickLaunch[kPathBuf];
  if (JoinPath(quickLaunch, kPathBuf, folder, "Microsoft\\Internet Explorer\\Quick Launch")) {
    AddFolder(quickLaunch);
  }
}

void BuildProtectedList() {
  protectedCount = 0;
  bool nt = g.isNT != 0;
  char folder[kPathBuf];
  UINT n = GetWindowsDirectoryA(folder, kPathBuf);
  if (n != 0 && n < kPathBuf) {
    StripBackslash(folder);
    AddFolder(folder);
  }
  n = GetSystemDirectoryA(folder, kPathBuf);
  if (n != 0 && n < kPathBuf) {
    StripBackslash(folder);
    AddFolder(folder);
  }
  AddSpecialFolder(CSIDL_DESKTOP);
  AddSpecialFolder(CSIDL_DESKTOPDIRECTORY);
  if (nt) AddSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  AddSpecialFolder(CSIDL_FONTS);
  AddSpecialFolder(CSIDL_PROGRAMS);
  if (nt) AddSpecialFolder(CSIDL_COMMON_PROGRAMS);
  AddSpecialFolder(CSIDL_STARTMENU);
  if (nt) AddSpecialFolder(CSIDL_COMMON_STARTMENU);
  AddSpecialFolder(CSIDL_STARTUP);
  if (nt) AddSpecialFolder(CSIDL_COMMON_STARTUP);
  AddWithQuickLaunch(CSIDL_APPDATA);
  AddWithQuickLaunch(CSIDL_COMMON_APPDATA);
  AddSpecialFolder(CSIDL_COMMON_DOCUMENTS);

  // Registry folders are compared as stored, trailing backslash and all.
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                    key.Receive()) == ERROR_SUCCESS) {
    if (ReadPathValue(key, "ProgramFilesDir", folder)) AddFolder(folder);
    if (ReadPathValue(key, "CommonFilesDir", folder)) AddFolder(folder);
  }
  g.protectedListReady = TRUE;
}

}  // namespace

int IsProtectedFolder(char *path) {
  if (TextLength(path) < 4) return 1;
  if (!g.protectedListReady) BuildProtectedList();
  char *last = FindLastBackslash(path);
  bool stripped = last != nullptr && last[1] == '\0';
  if (stripped) *last = '\0';
  int result = 0;
  for (int i = 0; i < protectedCount; ++i) {
    if (EqualsNoCase(path, protectedFolders[i])) {
      result = 1;
      break;
    }
  }
  if (stripped) *last = '\\';
  return result;
}

void ResetProtectedFolders() {
  g.protectedListReady = FALSE;
  protectedCount = 0;
}

bool ResolveFullPath(const char *path, char *resolved) {
  if (!path[0]) return false;
  DWORD length = GetFullPathNameA(path, kPathBuf, resolved, nullptr);
  return length != 0 && length < kPathBuf;
}

// "..", trailing dots and forward slashes would slip past the test as written; "C:"
// resolves to a drive's current folder, so the written form is tested as well.
bool ResolveUnprotected(char *folder, char *resolved) {
  if (!ResolveFullPath(folder, resolved)) return false;
  return !IsProtectedFolder(folder) && !IsProtectedFolder(resolved);
}

bool IsReparsePoint(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsClimbableFolder(const char *folder) {
  return !IsReparsePoint(folder) && LinksAreTrusted(folder, false);
}
