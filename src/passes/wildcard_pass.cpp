// The wildcard pass: matching files below each listed folder, then the folders left empty.
#include <string.h>

#include "passes.h"
#include "paths/paths.h"

namespace {

bool IsDotName(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The current folder's full path; false when it does not fit 260 bytes.
bool ReadCurrentFolder(char *path) {
  DWORD length = GetCurrentDirectoryA(kPathBuf, path);
  return length != 0 && length < kPathBuf;
}

// A folder whose full path cannot be read is treated like a protected one: it is left.
bool CurrentFolderIsProtected() {
  char path[kPathBuf];
  if (!ReadCurrentFolder(path)) return true;
  return IsProtectedFolder(path) != 0;
}

// Empty when a search finds nothing at all, or only "." and "..".
bool CurrentFolderIsEmpty() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.*", &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDotName(found.cFileName)) {
      empty = false;
      break;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return empty;
}

// The full wildcard path of one pattern text; false when it would not fit.
bool BuildWildcardPath(char *path, const char *text) {
  if (strchr(text, '#')) {
    // The expansion cuts a long result short, and a cut path could name another folder.
    if (ExpandFolderMacros(nullptr, text, 0) >= kPathBuf) return false;
    ExpandFolderMacros(path, text, kPathBuf);
    return true;
  }
  if (!CopyBounded(path, kPathBuf, g.installDir)) return false;
  if (strlen(path) + 1 >= kPathBuf) return false;
  AppendBackslash(path);
  return AppendBounded(path, kPathBuf, text);
}

}  // namespace

void RemoveCurrentFolder() {
  char path[kPathBuf];
  bool known = ReadCurrentFolder(path);
  SetCurrentDirectoryA("..");
  if (known) RemoveDirectoryA(path);
}

void CleanCurrentFolder(const char *pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotName(found.cFileName)) {
        continue;
      }
      // A junction or symbolic link leads into another tree: ".." from inside it would
      // not even lead back here. Neither it nor anything behind it is touched.
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      if (!SetCurrentDirectoryA(found.cFileName)) continue;
      if (CurrentFolderIsProtected()) {
        SetCurrentDirectoryA("..");
        continue;
      }
      CleanCurrentFolder(pattern);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  search = FindFirstFileA(pattern, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  if (CurrentFolderIsProtected()) {
    SetCurrentDirectoryA("..");
    return;
  }
  if (CurrentFolderIsEmpty()) {
    RemoveCurrentFolder();
    return;
  }
  SetCurrentDirectoryA("..");
}

void RemoveWildcardMatches() {
  if (!g.patterns || !g.patterns[0]) return;
  char path[kPathBuf];
  const char *text = g.patterns;
  const char *end = g.patternsLength ? g.patterns + g.patternsLength : nullptr;
  while ((!end || text < end) && text[0]) {
    const char *next = text + strlen(text) + 1;
    if (!BuildWildcardPath(path, text)) {
      text = next;
      continue;
    }
    text = next;
    char *cut = strrchr(path, '\\');
    if (!cut) continue;
    *cut = '\0';
    const char *pattern = cut + 1;
    if (IsProtectedFolder(path)) continue;
    // A folder that is itself a link is not followed either.
    if (IsReparsePoint(path)) continue;
    if (!SetCurrentDirectoryA(path)) continue;
    CleanCurrentFolder(pattern);

    char installFolder[kPathBuf];
    if (CopyBounded(installFolder, kPathBuf, g.installDir)) {
      StripBackslash(installFolder);
      SetCurrentDirectoryA(installFolder);
    }
    RemoveDirectoryA(path);
  }
}
