// File access by handle.
#include "base/base.h"

HANDLE OpenExisting(const char *path, OpenMode mode) {
  DWORD access = mode == ModeReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

HANDLE CreateForWriting(const char *path) {
  // CREATE_NEW: a file that appeared since the caller looked is never overwritten.
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadExact(HANDLE file, void *buffer, DWORD n) {
  DWORD got = 0;
  return ReadFile(file, buffer, n, &got, nullptr) && got == n;
}

DWORD TellPosition(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_CURRENT); }

void SeekTo(HANDLE file, DWORD position) {
  SetFilePointer(file, static_cast<LONG>(position), nullptr, FILE_BEGIN);
}

bool ReadFileIdentity(HANDLE file, DWORD *id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  id[0] = info.dwVolumeSerialNumber;
  id[1] = info.nFileIndexHigh;
  id[2] = info.nFileIndexLow;
  return true;
}
