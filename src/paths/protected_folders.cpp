// The protected folder test: folders of the system and of the user's shell are never removed.
#include <shlobj.h>
#include <string.h>
#include <winternl.h>

#include "base/base.h"
#include "paths/paths.h"
#include "state/state.h"

namespace {

// Looking the folders up costs tens of milliseconds a call under some systems, and the
// folder passes ask for every folder they consider, so the list is built once per run.
constexpr int kMaxProtected = 19;
char protectedFolders[kMaxProtected][kPathBuf];
int protectedCount = 0;
// The file identity of each listed folder that exists (volume serial, index high, low):
// a short name, another spelling or a link reaches the same identity. Allocated with the
// list, so that the program's image does not carry it.
typedef DWORD Identity[3];
Identity *protectedIds = nullptr;
int protectedIdCount = 0;

// The file index alone, without the volume serial: asking for the volume costs a round
// trip to another process on some systems, and the walk asks for every folder it meets.
typedef LONG(NTAPI *QueryFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
QueryFileFn queryFile;
bool ReadFileIndex(HANDLE folder, DWORD *high, DWORD *low) {
  constexpr ULONG kFileInternalInformation = 6;
  LARGE_INTEGER index;
  IO_STATUS_BLOCK io;
  if ((!queryFile && !FindSystemCall("ntdll.dll", "NtQueryInformationFile", queryFile)) ||
      queryFile(folder, &io, &index, sizeof index, kFileInternalInformation) < 0)
    return false;
  *high = static_cast<DWORD>(index.HighPart);
  *low = index.LowPart;
  return true;
}

void AddFolder(const char *folder) {
  if (protectedCount < kMaxProtected &&
      CopyBounded(protectedFolders[protectedCount], kPathBuf, folder)) {
    ++protectedCount;
  }
  if (!g.isNT || !protectedIds || protectedIdCount >= kMaxProtected) return;
  // Followed if a link: what it leads to is the folder that stands protected.
  ScopedHandle handle(CreateFileA(folder, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle && ReadFileIdentity(handle, protectedIds[protectedIdCount])) ++protectedIdCount;
}

// A shell folder, and with `quickLaunch` its Quick Launch folder; neither when the folder
// cannot be obtained.
void AddSpecialFolder(int csidl, bool quickLaunch = false) {
  char folder[kPathBuf];
  if (!GetSpecialFolder(folder, csidl)) return;
  StripBackslash(folder);
  AddFolder(folder);
  char launch[kPathBuf];
  if (quickLaunch &&
      JoinPath(launch, kPathBuf, folder, "Microsoft\\Internet Explorer\\Quick Launch")) {
    AddFolder(launch);
  }
}

void BuildProtectedList() {
  protectedCount = protectedIdCount = 0;
  if (!protectedIds) AllocZeroedT(kMaxProtected * sizeof(Identity), &protectedIds);
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
  AddSpecialFolder(CSIDL_APPDATA, true);
  AddSpecialFolder(CSIDL_COMMON_APPDATA, true);
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

bool IsProtectedFolder(char *path) {
  if (TextLength(path) < 4) return true;
  if (!g.protectedListReady) BuildProtectedList();
  char *last = FindLastBackslash(path);
  bool stripped = last != nullptr && last[1] == '\0';
  if (stripped) *last = '\0';
  bool result = false;
  for (int i = 0; i < protectedCount && !result; ++i)
    result = EqualsNoCase(path, protectedFolders[i]);
  if (stripped) *last = '\\';
  return result;
}

bool IsProtectedIdentity(HANDLE folder) {
  if (!g.protectedListReady) BuildProtectedList();
  // The index first: the whole identity, volume and all, is read only when it matches.
  DWORD high, low, id[3];
  if (!protectedIds || !ReadFileIndex(folder, &high, &low)) return true;  // unknown: not removed
  for (int i = 0; i < protectedIdCount; ++i) {
    if (protectedIds[i][1] != high || protectedIds[i][2] != low) continue;
    if (!ReadFileIdentity(folder, id) || memcmp(id, protectedIds[i], sizeof id) == 0) return true;
  }
  return false;
}

void ResetProtectedFolders() {
  g.protectedListReady = FALSE;
  protectedCount = protectedIdCount = 0;
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
