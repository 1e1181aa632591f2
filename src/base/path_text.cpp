// Path text: lengths, the last backslash, joins, bounded copies and ASCII-only folding,
// all moving by characters of the ANSI code page.
#include <string.h>

#include "base/base.h"

const char *NextCharacter(const char *p) {
  // Asked once: the run's code page does not change while it runs.
  static int doubleBytes = -1;
  if (doubleBytes < 0) {
    CPINFO info;
    doubleBytes = GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1 ? 0 : 1;
  }
  if (doubleBytes) return CharNextA(p);
  return *p ? p + 1 : p;
}

namespace {

// True when the character at p is a lead byte with its trail byte after it.
bool IsDoubleByte(const char *p) { return NextCharacter(p) - p == 2; }

// Compares the characters of `prefix` with those at the start of `text`, A to Z folded in
// single-byte characters only. *rest points past the compared part of text when equal.
bool SameStart(const char *text, const char *prefix, const char **rest) {
  while (*prefix != '\0') {
    if (IsDoubleByte(prefix)) {
      if (text[0] != prefix[0] || text[1] != prefix[1]) return false;
      text += 2;
      prefix += 2;
    } else {
      if (FoldAscii(*text) != FoldAscii(*prefix)) return false;
      ++text;
      ++prefix;
    }
  }
  *rest = text;
  return true;
}

bool EndsWithBackslash(const char *text) {
  bool ends = false;
  for (const char *p = text; *p != '\0'; p = NextCharacter(p)) ends = *p == '\\';
  return ends;
}

}  // namespace

DWORD TextLength(const char *text) {
  DWORD n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char *FindLastBackslash(char *path) {
  char *last = nullptr;
  for (char *p = path; *p != '\0'; p = NextCharacter(p)) {
    if (*p == '\\') last = p;
  }
  return last;
}

const char *LastName(const char *path) {
  const char *last = FindLastBackslash(const_cast<char *>(path));
  return last ? last + 1 : path;
}

bool CutAtLastBackslash(char *path) {
  char *cut = FindLastBackslash(path);
  if (cut == nullptr) return false;
  *cut = '\0';
  return true;
}

void AppendBackslash(char *path) {
  if (path[0] != '\0' && !EndsWithBackslash(path)) {
    DWORD n = TextLength(path);
    path[n] = '\\';
    path[n + 1] = '\0';
  }
}

void StripBackslash(char *path) {
  char *last = FindLastBackslash(path);
  if (last != nullptr && last[1] == '\0' && last - path >= 3) *last = '\0';
}

bool CopyBounded(char *dst, DWORD cap, const char *src) {
  DWORD n = TextLength(src);
  if (n >= cap) return false;
  for (DWORD i = 0; i <= n; ++i) dst[i] = src[i];
  return true;
}

bool AppendBounded(char *dst, DWORD cap, const char *src) {
  DWORD used = 0;
  while (used < cap && dst[used] != '\0') ++used;
  if (used >= cap) return false;  // dst itself is not terminated within cap
  DWORD n = TextLength(src);
  if (n >= cap - used) return false;
  for (DWORD i = 0; i <= n; ++i) dst[used + i] = src[i];
  return true;
}

bool JoinPath(char *dst, DWORD cap, const char *folder, const char *name) {
  DWORD used = TextLength(folder);
  const DWORD separator = (used != 0 && !EndsWithBackslash(folder)) ? 1 : 0;
  const DWORD n = TextLength(name);
  if (cap == 0) return false;
  if (used + separator + n >= cap) {
    dst[0] = '\0';
    return false;
  }
  if (dst != folder) {
    for (DWORD i = 0; i < used; ++i) dst[i] = folder[i];
  }
  if (separator) dst[used++] = '\\';
  for (DWORD i = 0; i <= n; ++i) dst[used + i] = name[i];
  return true;
}

DWORD WholeCharacters(const char *text, DWORD n, DWORD room) {
  DWORD fit = 0;
  for (const char *p = text; fit < n;) {
    const DWORD next = static_cast<DWORD>(NextCharacter(p) - text);
    if (next == fit || next > n || next > room) break;
    fit = next;
    p = text + fit;
  }
  return fit;
}

bool EqualsNoCase(const char *a, const char *b) {
  const char *rest;
  return SameStart(a, b, &rest) && *rest == '\0';
}

bool StartsWithNoCase(const char *text, const char *prefix) {
  const char *rest;
  return SameStart(text, prefix, &rest);
}

// A trail byte is no character of its own.
bool IsPlainName(const char *name) {
  bool dotsOnly = true;
  unsigned char last = 0;
  for (const char *p = name; *p; p = NextCharacter(p)) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (NextCharacter(p) - p == 2) {
      dotsOnly = false;
      last = 'x';
      continue;
    }
    if (c < ' ' || strchr("\\/:*?\"<>|", c)) return false;
    if (c != '.' && c != ' ') dotsOnly = false;
    last = c;
  }
  return !dotsOnly && last != '.' && last != ' ';
}
