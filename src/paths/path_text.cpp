// Path text helpers: bounded copies and ASCII-only case folding.
#include "paths/paths.h"

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

DWORD TextLength(const char *text) {
  DWORD n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

}  // namespace

void AppendBackslash(char *path) {
  DWORD n = TextLength(path);
  if (n != 0 && path[n - 1] != '\\') {
    path[n] = '\\';
    path[n + 1] = '\0';
  }
}

void StripBackslash(char *path) {
  DWORD n = TextLength(path);
  if (n >= 4 && path[n - 1] == '\\') path[n - 1] = '\0';
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

bool EqualsNoCase(const char *a, const char *b) {
  for (;; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
    if (*a == '\0') return true;
  }
}

bool StartsWithNoCase(const char *text, const char *prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (FoldAscii(*text) != FoldAscii(*prefix)) return false;
  }
  return true;
}
