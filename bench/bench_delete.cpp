// The raw loop of the removal benchmark: one DeleteFileA per listed file and one
// RemoveDirectoryA per folder once its files are gone, names generated in place.
// Usage: bench_delete ROOT COUNT present|missing
// Exits 0 when every call had the expected outcome: all succeed (present) or all find
// nothing (missing).
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "bench_layout.h"

namespace {

bool Expected(BOOL done, bool present) {
  if (present) return done != FALSE;
  DWORD error = GetLastError();
  return !done && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 4) return 2;
  char root[MAX_PATH];
  if (!WideCharToMultiByte(CP_ACP, 0, argv[1], -1, root, sizeof root, nullptr, nullptr)) {
    return 2;
  }
  const int count = _wtoi(argv[2]);
  const bool present = lstrcmpW(argv[3], L"present") == 0;
  int unexpected = 0;
  char path[MAX_PATH];
  for (int i = 0; i < count; ++i) {
    bench::FilePath(root, i, count, path, sizeof path);
    if (!Expected(DeleteFileA(path), present)) ++unexpected;
    const int folder = bench::FolderOf(i, count);
    if (folder >= 0 && (i + 1 == count || bench::FolderOf(i + 1, count) != folder)) {
      bench::FolderPath(root, folder, path, sizeof path);
      if (!Expected(RemoveDirectoryA(path), present)) ++unexpected;
    }
  }
  return unexpected == 0 ? 0 : 1;
}
