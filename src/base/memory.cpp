// The one allocator: the process heap, with one retry after compacting it.
#include "base/base.h"

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
