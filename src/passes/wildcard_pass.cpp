// The wildcard pass: matching files below each listed folder, then the folders left empty.
#include <string.h>

#include "base/base.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "reach/held_path.h"

namespace {

// The walk never goes deeper than this (a 260-byte path allows about as many levels).
constexpr int kMaxWalkDepth = 128;

bool IsDotName(const char *n) {
  return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// `name` in `folder`, for the log; the name alone when the whole does not fit. The last
// error stays for the report that follows.
const char *InFolder(const char *folder, const char *name, char *full) {
  const DWORD error = GetLastError();
  const bool fits = JoinPath(full, kPathBuf, folder, name);
  SetLastError(error);
  return fits ? full : name;
}

// Empty when a search finds nothing at all, or only "." and "..".
bool CurrentFolderIsEmpty() {
  WIN32_FIND_DATAA found;
  ScopedFind search(FindFirstFileA("*.*", &found));
  if (!search) return true;
  do {
    if ((!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDotName(found.cFileName)) &&
        !IsGone(found.cFileName))
      return false;
  } while (FindNextFileA(search, &found));
  return true;
}

void CloseHeld(HANDLE held) {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}

// The last name of a full folder path.
const char *LeafOf(const char *path) {
  const char *last = FindLastBackslash(const_cast<char *>(path));
  return last ? last + 1 : path;
}

// Makes `path` the current folder when it is the plain, unprotected folder `name` of the
// held folder `parentHeld`, and returns its held handle in `held` (none on the 9x family,
// where folders cannot be opened and there are no links). On failure the current folder is
// `back`, and *refused says why (OUTCOME_FAILED: with the last error).
bool EnterFolder(const char *path, const char *back, HANDLE parentHeld, HANDLE *held,
                 Outcome *refused) {
  *held = INVALID_HANDLE_VALUE;
  *refused = OUTCOME_FAILED;
  if (!g.isNT) return SetCurrentDirectoryA(path) != 0;
  ScopedHandle folder(OpenHeldSubfolder(parentHeld, LeafOf(path), path, refused));
  if (!folder) return false;
  // The searches and the names of the walk work in the current folder: it must be the
  // folder held.
  if (SetCurrentDirectoryA(path)) {
    BY_HANDLE_FILE_INFORMATION before, after;
    ScopedHandle here(CreateFileA(".", FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (here && GetFileInformationByHandle(folder, &before) &&
        GetFileInformationByHandle(here, &after) &&
        after.dwVolumeSerialNumber == before.dwVolumeSerialNumber &&
        after.nFileIndexHigh == before.nFileIndexHigh &&
        after.nFileIndexLow == before.nFileIndexLow) {
      *held = folder.Release();
      return true;
    }
    SetCurrentDirectoryA(back);
  }
  SetLastError(ERROR_CANT_ACCESS_FILE);
  return false;
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
  size_t length = TextLength(pattern);
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
  size_t length = TextLength(marks);
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

namespace {

// Cleans the current folder `folder` (entered by EnterFolder, which gave `held`) and
// returns in `parent`: subfolders first, then the matching files, then the folder itself
// when it is left empty. Folders and files are taken only by plain names, and a subfolder
// only when it is a plain folder and not protected.
void CleanFolder(const char *folder, const char *parent, const char *pattern, HANDLE held,
                 HANDLE parentHeld, int depth) {
  WIN32_FIND_DATAA found;
  char full[kPathBuf];
  ScopedFind search(FindFirstFileA("*.*", &found));
  if (search) {
    do {
      const DWORD attributes = found.dwFileAttributes;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotName(found.cFileName) ||
          depth >= kMaxWalkDepth || IsGone(found.cFileName)) {
        continue;
      }
      // A junction or symbolic link leads into another tree: neither it nor anything
      // behind it is touched.
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        NoteOutcome(InFolder(folder, found.cFileName, full), OUTCOME_AT_LINK);
        continue;
      }
      if (!IsPlainName(found.cFileName)) {
        NoteOutcome(InFolder(folder, found.cFileName, full), OUTCOME_ODD_NAME);
        continue;
      }
      char child[kPathBuf];
      if (!JoinPath(child, kPathBuf, folder, found.cFileName)) {
        NoteOutcome(found.cFileName, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE);
        continue;
      }
      if (IsProtectedFolder(child)) {
        NoteOutcome(child, OUTCOME_PROTECTED);
        continue;
      }
      HANDLE childHeld;
      Outcome refused;
      if (EnterFolder(child, folder, held, &childHeld, &refused))
        CleanFolder(child, folder, pattern, childHeld, held, depth + 1);
      else if (refused != OUTCOME_FAILED)
        NoteOutcome(child, refused);
      else
        NoteFolderRemoval(child, FALSE);  // gone meanwhile, or stays with the reason
    } while (FindNextFileA(search, &found));
  }

  // What the search for the pattern returns, less what it found by a short name only.
  search.Reset(pattern[0] ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE);
  if (search) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
          !MatchesPattern(pattern, found.cFileName) || IsGone(found.cFileName)) {
        continue;
      }
      if (!IsPlainName(found.cFileName)) {
        NoteOutcome(InFolder(folder, found.cFileName, full), OUTCOME_ODD_NAME);
        continue;
      }
      const BOOL deleted =
          g.isNT ? DeleteHeldFile(held, found.cFileName) : ActDeleteFile(found.cFileName);
      NoteFileDeletion(InFolder(folder, found.cFileName, full), deleted, 0, false);
    } while (FindNextFileA(search, &found));
    search.Reset();
  }

  bool empty = CurrentFolderIsEmpty();
  // The folder cannot be removed while it is held or current.
  CloseHeld(held);
  SetCurrentDirectoryA(parent);
  if (!empty) return;
  Outcome refused = OUTCOME_FAILED;
  const BOOL removed = g.isNT ? RemoveHeldFolder(parentHeld, LeafOf(folder), folder, &refused)
                              : ActRemoveFolder(folder);
  if (refused != OUTCOME_FAILED)
    NoteOutcome(folder, refused);
  else
    NoteFolderRemoval(folder, removed);
}

}  // namespace

void RemoveWildcardMatches() {
  if (!g.patterns || !g.patterns[0]) return;
  char path[kPathBuf];
  const char *text = g.patterns;
  const char *end = g.patternsLength ? g.patterns + g.patternsLength : nullptr;
  while ((!end || text < end) && text[0]) {
    const char *next = text + TextLength(text) + 1;
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
    char installFolder[kPathBuf];
    if (!CopyBounded(installFolder, kPathBuf, g.installDir)) continue;
    StripBackslash(installFolder);
    char parent[kPathBuf];
    CopyBounded(parent, kPathBuf, folder);
    char *last = FindLastBackslash(parent);
    if (!last) continue;
    last[last - parent == 2 ? 1 : 0] = '\0';  // "C:\" stays a root, not the drive's current folder
    // The folders above are held, and a folder that is itself a link is not followed
    // either, nor one behind a user's link.
    HANDLE held;
    Outcome refused;
    if (!HoldFolder(parent, true, &refused) ||
        !EnterFolder(folder, installFolder, HeldLevel(0), &held, &refused)) {
      if (refused != OUTCOME_FAILED)
        NoteOutcome(folder, refused);
      else
        NoteFolderRemoval(folder, FALSE);  // absent, or failed with the reason
      continue;
    }
    CleanFolder(folder, parent, pattern, held, HeldLevel(0), 0);

    SetCurrentDirectoryA(installFolder);
    // Usually gone already, and reported, when the walk left it empty.
    if (RemoveFolderHeld(folder, &refused)) NoteOutcome(folder, OUTCOME_REMOVED);
  }
}
