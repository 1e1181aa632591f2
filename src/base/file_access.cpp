// File access by handle and allocation with one retry after compacting the heap.
#include "data/data.h"

HANDLE OpenExisting(const char *path, OpenMode mode) {
  DWORD access = mode == ModeReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

HANDLE CreateForWriting(const char *path) {
  // CREATE_NEW: a file that appeared since the caller looked is never overwritten.
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int ReadExact(HANDLE file, void *buffer, DWORD n) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, n, &got, nullptr)) return 1;
  return got == n ? 0 : 1;
}

DWORD TellPosition(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_CURRENT); }

void SeekTo(HANDLE file, DWORD position) {
  SetFilePointer(file, static_cast<LONG>(position), nullptr, FILE_BEGIN);
}

void CloseFile(HANDLE file) { CloseHandle(file); }

namespace {
void *HeapTry(SIZE_T n, DWORD flags) {
  HANDLE heap = GetProcessHeap();
  void *block = HeapAlloc(heap, flags, n ? n : 1);
  if (!block) {
    HeapCompact(heap, 0);
    block = HeapAlloc(heap, flags, n ? n : 1);
  }
  return block;
}
}  // namespace

bool AllocZeroed(SIZE_T n, void **out) {
  *out = HeapTry(n, HEAP_ZERO_MEMORY);
  return *out != nullptr;
}

bool AllocRaw(SIZE_T n, void **out) {
  *out = HeapTry(n, 0);
  return *out != nullptr;
}

bool Reallocate(SIZE_T n, void **place) {
  HANDLE heap = GetProcessHeap();
  void *block = HeapReAlloc(heap, 0, *place, n ? n : 1);
  if (!block) {
    HeapCompact(heap, 0);
    block = HeapReAlloc(heap, 0, *place, n ? n : 1);
  }
  if (!block) return false;
  *place = block;
  return true;
}

void FreeAndNull(void **place) {
  if (*place) {
    HeapFree(GetProcessHeap(), 0, *place);
    *place = nullptr;
  }
}
