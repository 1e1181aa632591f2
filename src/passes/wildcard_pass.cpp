// The wildcard pass: matching files below each listed folder, then the folders left empty.
#include <string.h>

#include "passes.h"
#include "paths/paths.h"

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

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

// Plain * and ? matching with backtracking to the last star; `length` bytes of pattern.
bool MatchesWildcards(const char *pattern, DWORD length, const char *name) {
  DWORD p = 0;
  DWORD star = length;  // none yet
  const char *resume = nullptr;
  while (*name) {
    if (p < length && pattern[p] == '*') {
      star = p++;
      resume = name;
    } else if (p < length && (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(*name))) {
      ++p;
      ++name;
    } else if (star != length) {
      p = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (p < length && pattern[p] == '*') ++p;
  return p == length;
}

}  // namespace

// The directory search would also match a file by its 8.3 short name (a search for
// *.htm finds x.html), so the pass lists every name and decides by the long one here.
// "?" stands for exactly one character. A pattern ending in dots ("*.", "readme.")
// matches only names without a dot, which is what such a search means; "readme.*"
// does not match "readme": the search would, but deleting less is the safer side.
bool MatchesPattern(const char *pattern, const char *name) {
  if (!pattern[0]) return false;
  if (strcmp(pattern, "*.*") == 0) return true;
  DWORD length = (DWORD)strlen(pattern);
  DWORD kept = length;
  while (kept > 0 && pattern[kept - 1] == '.') --kept;
  if (kept == 0) return false;
  if (kept < length && strchr(name, '.')) return false;
  return MatchesWildcards(pattern, kept, name);
}

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

  search = pattern[0] ? FindFirstFileA("*", &found) : INVALID_HANDLE_VALUE;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          MatchesPattern(pattern, found.cFileName)) {
        DeleteFileA(found.cFileName);
      }
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
    // A forward slash also separates folders, and a pattern must not name one.
    char *cut = strrchr(path, '\\');
    char *slash = strrchr(path, '/');
    if (slash && (!cut || slash > cut)) cut = slash;
    if (!cut) continue;
    *cut = '\0';
    const char *pattern = cut + 1;
    // "..", trailing dots and slashes would slip past the test as written: the folder
    // is tested, entered and removed in the form the system resolves it to. The
    // written form is tested too, since "C:" resolves to a drive's current folder.
    char folder[kPathBuf];
    if (!ResolveFullPath(path, folder)) continue;
    if (IsProtectedFolder(path) || IsProtectedFolder(folder)) continue;
    // A folder that is itself a link is not followed either.
    if (IsReparsePoint(folder)) continue;
    if (!SetCurrentDirectoryA(folder)) continue;
    CleanCurrentFolder(pattern);

    char installFolder[kPathBuf];
    if (CopyBounded(installFolder, kPathBuf, g.installDir)) {
      StripBackslash(installFolder);
      SetCurrentDirectoryA(installFolder);
    }
    RemoveDirectoryA(folder);
  }
}
