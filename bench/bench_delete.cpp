// The baseline of the removal benchmark: deletes the benchmark tree with nothing but
// DeleteFileA, RemoveDirectoryA and RegDeleteValueA, names generated in place.
// Usage: bench_delete ROOT FOLDERS FILES_PER_FOLDER VALUES REGKEY
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
  if (argc != 6) return 2;
  char root[MAX_PATH], key[MAX_PATH];
  if (!WideCharToMultiByte(CP_ACP, 0, argv[1], -1, root, sizeof root, nullptr, nullptr) ||
      !WideCharToMultiByte(CP_ACP, 0, argv[5], -1, key, sizeof key, nullptr, nullptr)) {
    return 2;
  }
  int folders = _wtoi(argv[2]), files = _wtoi(argv[3]), values = _wtoi(argv[4]);
  int failed = 0;
  char path[MAX_PATH];
  for (int f = 0; f < folders; ++f) {
    for (int i = 0; i < files; ++i) {
      snprintf(path, sizeof path, "%s\\d%03d\\file%03d.dat", root, f, i);
      if (!DeleteFileA(path)) ++failed;
    }
    // The leftover that the uninstaller's wildcard path removes.
    snprintf(path, sizeof path, "%s\\d%03d\\junk.tmp", root, f);
    if (!DeleteFileA(path)) ++failed;
    snprintf(path, sizeof path, "%s\\d%03d", root, f);
    if (!RemoveDirectoryA(path)) ++failed;
  }
  HKEY hkey;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &hkey) == ERROR_SUCCESS) {
    char name[16];
    for (int v = 0; v < values; ++v) {
      snprintf(name, sizeof name, "v%04d", v);
      if (RegDeleteValueA(hkey, name) != ERROR_SUCCESS) ++failed;
    }
    RegCloseKey(hkey);
  } else if (values > 0) {
    failed += values;
  }
  return failed == 0 ? 0 : 1;
}
