// Folder macros: special folders, one macro resolved in place, macros expanded in a text.
#include <shlobj.h>

#include "base/base.h"
#include "paths/paths.h"
#include "state/state.h"

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// A length-returning lookup succeeded only when it wrote something that fit.
bool WindowsFolder(char *out) {
  UINT n = GetWindowsDirectoryA(out, kPathBuf);
  return n != 0 && n < kPathBuf;
}

bool WindowsJoin(char *out, const char *tail) {
  char windows[kPathBuf];
  return WindowsFolder(windows) && JoinPath(out, kPathBuf, windows, tail);
}

// The application-data folder with its last component replaced by `literal`.
bool AppDataSibling(char *out, const char *literal) {
  char folder[kPathBuf];
  if (!GetSpecialFolder(folder, CSIDL_APPDATA) || !CutAtLastBackslash(folder)) return false;
  if (!AppendBounded(folder, kPathBuf, literal)) return false;
  return CopyBounded(out, kPathBuf, folder);
}

// The application-data folder with its last two components replaced by `literal`.
bool AppDataCousin(char *out, const char *literal) {
  char folder[kPathBuf];
  if (!GetSpecialFolder(folder, CSIDL_APPDATA) || !CutAtLastBackslash(folder) ||
      !CutAtLastBackslash(folder)) {
    return false;
  }
  if (!AppendBounded(folder, kPathBuf, literal)) return false;
  return CopyBounded(out, kPathBuf, folder);
}

// A shell folder with the fallbacks of its family: on NT a folder beside the user's
// application data (replacing its last one or two components), then one below the Windows
// folder; on 9x only the one below the Windows folder.
bool ProfileRow(char *out, int csidl, bool twoComponents, const char *literal, const char *ntTail,
                const char *nineXTail) {
  if (GetSpecialFolder(out, csidl)) return true;
  if (!g.isNT) return WindowsJoin(out, nineXTail);
  bool nearAppData = twoComponents ? AppDataCousin(out, literal) : AppDataSibling(out, literal);
  return nearAppData || WindowsJoin(out, ntTail);
}

bool UserDir(char *out) {
  if (GetSpecialFolder(out, CSIDL_PROFILE)) return true;
  if (!g.isNT) return WindowsFolder(out);
  char folder[kPathBuf];
  if (GetSpecialFolder(folder, CSIDL_APPDATA) && CutAtLastBackslash(folder)) {
    return CopyBounded(out, kPathBuf, folder);
  }
  return CopyBounded(out, kPathBuf, "c:\\");
}

bool AllUsersDir(char *out) {
  char folder[kPathBuf];
  if (GetSpecialFolder(folder, CSIDL_COMMON_DOCUMENTS)) {
    if (!CutToFolder(folder)) return CopyBounded(out, kPathBuf, "c:\\");
    return CopyBounded(out, kPathBuf, folder);
  }
  if (!g.isNT) return WindowsJoin(out, "All Users");
  return AppDataCousin(out, "\\All Users") || WindowsJoin(out, "Profiles\\All Users");
}

bool CommonFiles(char *out) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (ReadPathValue(key, "CommonFilesDir", out)) return true;
  char value[kPathBuf];
  return ReadPathValue(key, "ProgramFilesDir", value) &&
         JoinPath(out, kPathBuf, value, "Common Files");
}

bool ProgramFiles(char *out) {
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  return ReadPathValue(key, "ProgramFilesDir", out);
}

// Resolves a known macro into out. Returns 1 when resolved, 0 when its sources all failed
// (the macro then stays as written), -1 when the name is not a macro of the table.
int Resolve(const char *macro, char *out) {
  bool nt = g.isNT != 0;
  if (EqualsNoCase(macro, "#Windows#")) return WindowsFolder(out);
  if (EqualsNoCase(macro, "#System#")) {
    UINT n = GetSystemDirectoryA(out, kPathBuf);
    return n != 0 && n < kPathBuf;
  }
  if (EqualsNoCase(macro, "#TempDir#")) {
    DWORD n = GetTempPathA(kPathBuf, out);
    return n != 0 && n < kPathBuf;
  }
  if (EqualsNoCase(macro, "#CommonFiles#")) return CommonFiles(out);
  if (EqualsNoCase(macro, "#Program Files#")) return ProgramFiles(out);
  if (EqualsNoCase(macro, "#MyDocuments#")) return GetSpecialFolder(out, CSIDL_PERSONAL) != 0;
  if (EqualsNoCase(macro, "#AppData#")) {
    if (GetSpecialFolder(out, CSIDL_APPDATA)) return 1;
    return WindowsJoin(out, nt ? "Profiles\\Administrator\\Application Data" : "Application Data");
  }
  if (EqualsNoCase(macro, "#LocalAppData#")) {
    return ProfileRow(out, CSIDL_LOCAL_APPDATA, false, "\\Local Settings\\Application Data",
                      "Profiles\\Administrator\\Local Settings\\Application Data",
                      "Application Data");
  }
  if (EqualsNoCase(macro, "#AllUsersAppData#")) {
    return ProfileRow(out, CSIDL_COMMON_APPDATA, true, "\\All Users\\Application Data",
                      "Profiles\\All Users\\Application Data", "All Users\\Application Data");
  }
  if (EqualsNoCase(macro, "#AllUsersDocuments#")) {
    return ProfileRow(out, CSIDL_COMMON_DOCUMENTS, true, "\\All Users\\Documents",
                      "Profiles\\All Users\\Documents", "All Users\\Documents");
  }
  if (EqualsNoCase(macro, "#UserDir#")) return UserDir(out);
  if (EqualsNoCase(macro, "#AllUsersDir#")) return AllUsersDir(out);
  if (EqualsNoCase(macro, "#InstallDir#")) return CopyBounded(out, kPathBuf, g.installDir);
  return -1;
}

// Appends `text` at work[*used], never past the work buffer. False when it was cut short
// (at a whole character).
bool AppendWork(char *work, DWORD *used, const char *text, DWORD n) {
  const DWORD fit = WholeCharacters(text, n, kExpandWorkSize - 1 - *used);
  for (DWORD i = 0; i < fit; ++i) work[*used + i] = text[i];
  *used += fit;
  work[*used] = '\0';
  return fit == n;
}

// Copies text into dest, cut to capacity - 1 bytes at a whole character.
void CopyCut(char *dest, DWORD capacity, const char *text, DWORD n) {
  if (dest == nullptr || capacity == 0) return;
  n = WholeCharacters(text, n, capacity - 1);
  for (DWORD i = 0; i < n; ++i) dest[i] = text[i];
  dest[n] = '\0';
}

// The next '#' character of text, or its terminator.
const char *NextHash(const char *text) {
  while (*text != '\0' && *text != '#') text = NextCharacter(text);
  return text;
}

}  // namespace

bool ReadPathValue(HKEY key, const char *name, char *buffer) {
  DWORD type = 0;
  DWORD size = kPathBuf;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size > kPathBuf) return false;
  if (size == 0 || buffer[size - 1] != '\0') {
    // Stored without its terminator: it needs one more byte of room.
    if (size >= kPathBuf) return false;
    buffer[size] = '\0';
  }
  return true;
}

BOOL GetSpecialFolder(char *buffer, int csidl) {
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr) {
    return FALSE;
  }
  char path[MAX_PATH] = "";
  BOOL ok = SHGetPathFromIDListA(items, path);
  IMalloc *allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
    allocator->Free(items);
    allocator->Release();
  }
  if (!ok) return FALSE;
  path[MAX_PATH - 1] = '\0';
  return CopyBounded(buffer, kPathBuf, path) ? TRUE : FALSE;
}

void ResolveFolderMacro(char *buffer) {
  char folder[kPathBuf] = "";
  int result = Resolve(buffer, folder);
  if (result == 0) return;  // no source could be read: the macro stays as written
  if (result < 0) {
    buffer[0] = '\0';
    return;
  }
  StripBackslash(folder);
  CopyBounded(buffer, kPathBuf, folder);  // both hold 260 bytes: always fits
}

DWORD ExpandFolderMacros(char *dest, const char *source, DWORD capacity) {
  DWORD sourceLength = TextLength(source);
  ScopedBlock<char> work;
  if (!AllocZeroedT(kExpandWorkSize, work.Receive())) {
    CopyCut(dest, capacity, source, sourceLength);
    return sourceLength;
  }
  DWORD used = 0;
  const char *rest = source;
  for (;;) {
    const char *open = NextHash(rest);
    if (*open == '\0') {
      AppendWork(work, &used, rest, static_cast<DWORD>(open - rest));
      break;
    }
    if (!AppendWork(work, &used, rest, static_cast<DWORD>(open - rest))) break;
    const char *close = NextHash(open + 1);
    if (*close == '\0') {
      AppendWork(work, &used, open, TextLength(open));
      break;
    }
    // The macro is resolved in a buffer of its own so that a long one can never run past
    // the work buffer; one longer than a path names nothing in the table.
    char macro[kPathBuf] = "";
    DWORD macroLength = static_cast<DWORD>(close - open) + 1;
    if (macroLength < kPathBuf) {
      for (DWORD i = 0; i < macroLength; ++i) macro[i] = open[i];
      macro[macroLength] = '\0';
      ResolveFolderMacro(macro);
    }
    if (!AppendWork(work, &used, macro, TextLength(macro))) break;
    rest = close + 1;
  }
  if (dest != nullptr && capacity != 0) {
    dest[0] = '\0';
    if (used != 0) CopyCut(dest, capacity, work, used);
  }
  return used;
}

bool EntryFolderPath(char *path, const char *folder) {
  const char *below = blockfmt::InstallSubfolder(folder);
  if (!below) return CopyBounded(path, kPathBuf, folder);
  return CopyBounded(path, kPathBuf, g.installDir) && AppendBounded(path, kPathBuf, below);
}
