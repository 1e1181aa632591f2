// The benchmark's product: of COUNT listed files the first tenth lie in the install folder
// and the rest 100 to a folder (d0000, d0001, ...). The timing program and the raw loop
// both take the paths from here, so both touch the same files.
#pragma once
#include <stdio.h>

namespace bench {

constexpr int kPerFolder = 100;

inline int InRoot(int count) { return count / 10; }
inline int FolderCount(int count) { return (count - InRoot(count) + kPerFolder - 1) / kPerFolder; }
// The folder that holds file i, or -1 for the install folder.
inline int FolderOf(int i, int count) {
  return i < InRoot(count) ? -1 : (i - InRoot(count)) / kPerFolder;
}
// The folder's path under root ("." for the block's install folder).
inline void FolderPath(const char *root, int folder, char *out, size_t size) {
  snprintf(out, size, "%s\\d%04d", root, folder);
}
// The path of file i of count under root.
inline void FilePath(const char *root, int i, int count, char *out, size_t size) {
  int folder = FolderOf(i, count);
  if (folder < 0) {
    snprintf(out, size, "%s\\f%06d.dat", root, i);
  } else {
    snprintf(out, size, "%s\\d%04d\\f%06d.dat", root, folder, i);
  }
}

}  // namespace bench
