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

// The full path of `name` in the current folder, for the log; the name alone when that
// does not fit. The last error stays for the report that follows.
const char *InCurrentFolder(const char *name, char *path) {
  const DWORD error = GetLastError();
  const bool fits = ReadCurrentFolder(path) && strlen(path) + 1 < kPathBuf;
  if (fits) AppendBackslash(path);
  SetLastError(error);
  return fits && AppendBounded(path, kPathBuf, name) ? path : name;
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
  return JoinPath(path, kPathBuf, g.installDir, text);
}

// Wildcards as the directory search reads them. A "?" takes one character, or none
// where the name has a dot or has ended; a dot before "?" or "*" also matches the end of
// the name ("readme.*" finds "readme"); a star just before trailing dots takes no dot
// ("*." finds names without one). Trailing dots are dropped, as the system drops them
// from a path. A character is one byte or two in the ANSI code page; only A to Z fold,
// as in every comparison of names here.
enum : char { kAnyPart = '\x01', kNoDot = '\x02', kDotOrEnd = '\x03', kOneOrNone = '\x04' };

// The pattern in the form above (a double-byte character kept as its two bytes); false
// when it is empty or holds control characters, which no name can match and which would
// be read as the markers.
bool TranslatePattern(const char *pattern, char *out) {
  size_t length = strlen(pattern);
  size_t kept = length;
  while (kept > 0 && pattern[kept - 1] == '.') --kept;
  if (kept == 0 || kept >= kPathBuf) return false;
  for (size_t i = 0; i < kept;) {
    char c = pattern[i];
    if ((unsigned char)c < ' ') return false;
    size_t n = CharNextA(pattern + i) - (pattern + i);
    char next = i + 1 < kept ? pattern[i + 1] : '\0';
    if (n == 2) {
      out[i] = c;
      out[i + 1] = next;
    } else if (c == '*') {
      out[i] = (i + 1 == kept && kept < length) ? kNoDot : kAnyPart;
    } else if (c == '?') {
      out[i] = kOneOrNone;
    } else if (c == '.' && (next == '*' || next == '?')) {
      out[i] = kDotOrEnd;
    } else {
      out[i] = FoldAscii(c);
    }
    i += n;
  }
  out[kept] = '\0';
  return true;
}

}  // namespace

// The search would also match a file by its 8.3 short name (a search for *.htm finds
// x.html), so each name it returns is put to the pattern again by its long name here.
// Every pattern position that can stand at the current point of the name is followed at
// once, so no pattern takes longer than its length times the name's.
bool MatchesPattern(const char *pattern, const char *name) {
  char marks[kPathBuf];
  if (!TranslatePattern(pattern, marks)) return false;
  size_t length = strlen(marks);
  bool live[kPathBuf + 1] = {};
  bool next[kPathBuf + 1];
  live[0] = true;
  for (const char *at = name;;) {
    const size_t size = CharNextA(at) - at;  // 0 at the end of the name
    char c = size == 1 ? FoldAscii(*at) : *at;
    bool ended = size == 0;
    // The marks that can match nothing here pass the point on to the next position.
    for (size_t p = 0; p < length; ++p) {
      if (!live[p]) continue;
      char m = marks[p];
      if (m == kAnyPart || m == kNoDot || (m == kOneOrNone && (ended || c == '.')) ||
          (m == kDotOrEnd && ended)) {
        live[p + 1] = true;
      }
    }
    if (ended) return live[length];
    memset(next, 0, sizeof next);
    for (size_t p = 0; p < length; ++p) {
      if (!live[p]) continue;
      char m = marks[p];
      const size_t markSize = CharNextA(marks + p) - (marks + p);
      if (m == kAnyPart || (m == kNoDot && c != '.')) {
        next[p] = true;
      } else if ((m == kOneOrNone && c != '.') || (m == kDotOrEnd && c == '.')) {
        next[p + 1] = true;
      } else if (markSize == size && m == c && (size == 1 || marks[p + 1] == at[1])) {
        next[p + size] = true;
      }
    }
    memcpy(live, next, sizeof live);
    at += size;
  }
}

void RemoveCurrentFolder() {
  char path[kPathBuf];
  bool known = ReadCurrentFolder(path);
  SetCurrentDirectoryA("..");
  if (known) NoteFolderRemoval(path, RemoveDirectoryA(path));
}

void CleanCurrentFolder(const char *pattern) {
  WIN32_FIND_DATAA found;
  char full[kPathBuf];
  HANDLE search = FindFirstFileA("*.*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotName(found.cFileName)) {
        continue;
      }
      // A junction or symbolic link leads into another tree: ".." from inside it would
      // not even lead back here. Neither it nor anything behind it is touched.
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        NoteOutcome(InCurrentFolder(found.cFileName, full), OUTCOME_AT_LINK);
        continue;
      }
      if (!SetCurrentDirectoryA(found.cFileName)) continue;
      if (CurrentFolderIsProtected()) {
        SetCurrentDirectoryA("..");
        NoteOutcome(InCurrentFolder(found.cFileName, full), OUTCOME_PROTECTED);
        continue;
      }
      CleanCurrentFolder(pattern);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  // What the search for the pattern returns, less what it found by a short name only.
  search = pattern[0] ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          MatchesPattern(pattern, found.cFileName)) {
        const BOOL deleted = DeleteFileA(found.cFileName);
        NoteFileDeletion(InCurrentFolder(found.cFileName, full), deleted, 0);
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
      NoteOutcome(text, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE);
      text = next;
      continue;
    }
    text = next;
    // A forward slash also separates folders, and a pattern must not name one.
    char *cut = FindLastBackslash(path);
    char *slash = strrchr(path, '/');
    if (slash && (!cut || slash > cut)) cut = slash;
    if (!cut) {
      NoteOutcome(path, OUTCOME_FAILED, ERROR_BAD_PATHNAME);
      continue;
    }
    *cut = '\0';
    const char *pattern = cut + 1;
    // The folder is tested, entered and removed in the form the system resolves it to.
    char folder[kPathBuf];
    if (!ResolveUnprotected(path, folder)) {
      NoteOutcome(path, OUTCOME_PROTECTED);
      continue;
    }
    // A folder that is itself a link is not followed either.
    if (IsReparsePoint(folder)) {
      NoteOutcome(folder, OUTCOME_AT_LINK);
      continue;
    }
    if (!SetCurrentDirectoryA(folder)) {
      NoteFolderRemoval(folder, FALSE);  // absent, or failed with the reason
      continue;
    }
    CleanCurrentFolder(pattern);

    char installFolder[kPathBuf];
    if (CopyBounded(installFolder, kPathBuf, g.installDir)) {
      StripBackslash(installFolder);
      SetCurrentDirectoryA(installFolder);
    }
    // Usually gone already, and reported, when the walk left it empty.
    if (RemoveDirectoryA(folder)) NoteOutcome(folder, OUTCOME_REMOVED);
  }
}
