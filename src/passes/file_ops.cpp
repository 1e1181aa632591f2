// File attribute helpers shared by the passes.
#include "passes/passes.h"

bool IsAccessDeniedClass(DWORD error) {
  switch (error) {
    case 5:
    case 16:
    case 65:
    case 82:
    case 83:
    case 108:
    case 132:
    case 158:
    case 167:
      return true;
    default:
      return error >= 19 && error <= 36;
  }
}

void MakeWritable(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

void MakeReadOnly(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesA(path, attributes | FILE_ATTRIBUTE_READONLY);
}
