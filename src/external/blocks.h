// Short-lived buffers of the external programs: plain zero-filled allocations, without
// the retry of the removal data's allocator.
#pragma once
#include <windows.h>

inline char *AllocBlock(DWORD size) {
  return static_cast<char *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
}

inline void FreeBlock(char *block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
