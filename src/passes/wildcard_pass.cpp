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

// A search of `folder` for `pattern`; an invalid handle when the text would not fit (a cut
// one could search another folder) or nothing is found.
HANDLE SearchIn(const char *folder, const char *pattern, WIN32_FIND_DATAA *found) {
  char text[kPathBuf];
  if (!JoinPath(text, kPathBuf, folder, pattern)) return INVALID_HANDLE_VALUE;
  return FindFirstFileA(text, found);
}

// Empty when a search finds nothing at all, or only "." and "..". Anything it cannot tell
// counts as a name that is there.
bool FolderIsEmpty(const char *folder) {
  WIN32_FIND_DATAA found;
  char full[kPathBuf];
  ScopedFind search(SearchIn(folder, "*.*", &found));
  if (!search) return GetLastError() != ERROR_FILENAME_EXCED_RANGE;
  do {
    if ((!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsDotName(found.cFileName)) &&
        (!JoinPath(full, kPathBuf, folder, found.cFileName) || !IsGone(full)))
      return false;
  } while (FindNextFileA(search, &found));
  return true;
}

void CloseHeld(HANDLE held) {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}

// Holds `path` when it is the plain, unprotected folder of that name in the held folder
// `parentHeld`, and returns its handle in `held` (none on the 9x family, where folders
// cannot be opened and there are no links: there it only has to be a folder). Every folder
// above it is held too, so its full path names this folder for the walk's searches. On
// failure *refused says why (OUTCOME_FAILED: with the last error).
bool EnterFolder(const char *path, HANDLE parentHeld, HANDLE *held, Outcome *refused) {
  *held = INVALID_HANDLE_VALUE;
  *refused = OUTCOME_FAILED;
  if (!g.isNT) {
    const DWORD attributes = QueryAttributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      SetLastError(ERROR_DIRECTORY);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  HANDLE folder = OpenHeldSubfolder(parentHeld, LastName(path), path, refused);
  if (!folder) return false;
  *held = folder;
  return true;
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
    size_t n = NextCharacter(pattern + i) - (pattern + i);
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
    const size_t size = NextCharacter(at) - at;  // 0 at the end of the name
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
      const size_t markSize = NextCharacter(marks + p) - (marks + p);
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

// Cleans `folder` (entered by EnterFolder, which gave `held`, and let go here): subfolders
// first, then the matching files, then the folder itself when it is left empty. Folders
// and files are taken only by plain names, and a subfolder only when it is a plain folder
// and not protected. Deletes go through the held handles; searches name the folder by its
// full path, which the held chain keeps naming this folder.
void CleanFolder(const char *folder, const char *pattern, HANDLE held, HANDLE parentHeld,
                 int depth) {
  WIN32_FIND_DATAA found;
  char full[kPathBuf];
  ScopedFind search(SearchIn(folder, "*.*", &found));
  if (search) {
    do {
      const DWORD attributes = found.dwFileAttributes;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotName(found.cFileName) ||
          depth >= kMaxWalkDepth || IsGone(InFolder(folder, found.cFileName, full))) {
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
      if (EnterFolder(child, held, &childHeld, &refused))
        CleanFolder(child, pattern, childHeld, held, depth + 1);
      else if (refused != OUTCOME_FAILED)
        NoteOutcome(child, refused);
      else
        NoteFolderRemoval(child, FALSE);  // gone meanwhile, or stays with the reason
    } while (FindNextFileA(search, &found));
  }

  // What the search for the pattern returns, less what it found by a short name only.
  search.Reset(pattern[0] ? SearchIn(folder, pattern, &found) : INVALID_HANDLE_VALUE);
  if (search) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
          !MatchesPattern(pattern, found.cFileName)) {
        continue;
      }
      // The name alone when the whole does not fit: the 9x family's delete then fails.
      const char *path = InFolder(folder, found.cFileName, full);
      if (IsGone(path)) continue;
      if (!IsPlainName(found.cFileName)) {
        NoteOutcome(path, OUTCOME_ODD_NAME);
        continue;
      }
      const BOOL deleted = g.isNT         ? DeleteHeldFile(held, found.cFileName)
                           : path == full ? ActDeleteFile(full)
                                          : FALSE;
      NoteFileDeletion(path, deleted, 0, false);
    } while (FindNextFileA(search, &found));
    search.Reset();
  }

  bool empty = FolderIsEmpty(folder);
  // The folder cannot be removed while it is held.
  CloseHeld(held);
  if (!empty) return;
  Outcome refused = OUTCOME_FAILED;
  const BOOL removed = g.isNT ? RemoveHeldFolder(parentHeld, LastName(folder), folder, &refused)
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
        !EnterFolder(folder, HeldLevel(0), &held, &refused)) {
      if (refused != OUTCOME_FAILED)
        NoteOutcome(folder, refused);
      else
        NoteFolderRemoval(folder, FALSE);  // absent, or failed with the reason
      continue;
    }
    CleanFolder(folder, pattern, held, HeldLevel(0), 0);

    // The passes after this one find the current folder where the walk always left it.
    SetCurrentDirectoryA(installFolder);
    // Usually gone already, and reported, when the walk left it empty.
    if (RemoveFolderHeld(folder, &refused)) NoteOutcome(folder, OUTCOME_REMOVED);
  }
}
