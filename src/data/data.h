// Removal data: file and allocation layers, the block reader, entry lists, message table.
#pragma once
#include <windows.h>

#include "state/state.h"

// File access by handle.
enum OpenMode { ModeRead = 0, ModeReadWrite = 2 };
/// Opens an existing file; INVALID_HANDLE_VALUE on failure.
HANDLE OpenExisting(const char *path, OpenMode mode);
/// Creates a new file for writing with CREATE_NEW, never truncating one that exists;
/// INVALID_HANDLE_VALUE on failure.
HANDLE CreateForWriting(const char *path);
/// Reads exactly n bytes: 0 on success, 1 on a failed or short read.
int ReadExact(HANDLE file, void *buffer, DWORD n);
DWORD TellPosition(HANDLE file);
void SeekTo(HANDLE file, DWORD position);
void CloseFile(HANDLE file);

// Allocation with one retry after compacting the heap. False (and null) on failure.
bool AllocZeroed(SIZE_T n, void **out);
bool AllocRaw(SIZE_T n, void **out);
/// Resizes *place to n bytes; on failure *place is unchanged and still valid.
bool Reallocate(SIZE_T n, void **place);
void FreeAndNull(void **place);
template <typename T>
inline bool AllocZeroedT(SIZE_T n, T **out) {
  return AllocZeroed(n, reinterpret_cast<void **>(out));
}
template <typename T>
inline void FreeAndNullT(T **place) {
  FreeAndNull(reinterpret_cast<void **>(place));
}

/// Looks up `name` in the already loaded system library `library` into `entry`; false
/// (entry null) where the system lacks it. Calls that the 9x family or older NT lack are
/// found this way: a program that imported them would not even start there.
template <typename T>
bool FindSystemCall(const char *library, const char *name, T &entry) {
  HMODULE module = GetModuleHandleA(library);
  entry = module ? reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)))
                 : nullptr;
  return entry != nullptr;
}

// Owners that release what they hold when they go out of scope, so that no return path
// has to remember it. Not copyable; Release gives the value up without closing it.
template <typename T, typename Closer>
class Scoped {
 public:
  Scoped() = default;
  explicit Scoped(T value) : value_(value) {}
  ~Scoped() { Reset(); }
  Scoped(const Scoped &) = delete;
  Scoped &operator=(const Scoped &) = delete;

  T Get() const { return value_; }
  operator T() const { return value_; }
  explicit operator bool() const { return Closer::Holds(value_); }
  /// The place an opening call writes to; whatever was held is released first.
  T *Receive() {
    Reset();
    return &value_;
  }
  T Release() {
    T value = value_;
    value_ = T();
    return value;
  }
  void Reset(T value = T()) {
    if (Closer::Holds(value_)) Closer::Close(value_);
    value_ = value;
  }

 private:
  T value_ = T();
};

// INVALID_HANDLE_VALUE and null both mean "no handle".
inline bool HoldsHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
struct HandleCloser {
  static bool Holds(HANDLE h) { return HoldsHandle(h); }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindCloser {
  static bool Holds(HANDLE h) { return HoldsHandle(h); }
  static void Close(HANDLE h) { FindClose(h); }
};
struct KeyCloser {
  static bool Holds(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
struct BlockFreer {
  static bool Holds(void *block) { return block != nullptr; }
  static void Close(void *block) { FreeAndNull(&block); }
};

using ScopedHandle = Scoped<HANDLE, HandleCloser>;  // CloseHandle
using ScopedFind = Scoped<HANDLE, FindCloser>;      // FindClose
using ScopedKey = Scoped<HKEY, KeyCloser>;          // RegCloseKey
template <typename T>
using ScopedBlock = Scoped<T *, BlockFreer>;  // FreeAndNull: a block of the allocation layer

// Reading error codes.
enum LoadCode {
  LOAD_NO_FILE = -1,  // the file could not be opened: a failure without a report
  LOAD_OK = 0,
  LOAD_BODY_FAILED = 1,
  LOAD_BODY_NO_MEMORY = 5,
  LOAD_NO_MEMORY = 7,
  LOAD_READ_FAILED = 8
};

/// Reads the block that the program's own locator names. On failure after opening the
/// file it has shown the report box. Non-zero on success.
BOOL ReadRemovalData();
/// Reads a block from `path` at `offset` into g. Returns a LoadCode; shows no box.
/// After a successful read g.options is never null. Used by ReadRemovalData and tests.
int ReadBlockFile(const char *path, DWORD offset);
/// The locator's offset as stamped into the program (0 = no block).
DWORD LocatorOffset();

// Body readers: the file is positioned at the body; bodySize bounds what they may read.
// Each returns 0, 7 (no memory) or 8 (a body that its counts and lengths overrun).
int ReadMessageTable(HANDLE file, DWORD bodySize);
int ReadFileList(HANDLE file, DWORD bodySize);
int ReadFolderList(HANDLE file, DWORD bodySize);
int ReadRegistryList(HANDLE file, DWORD bodySize);
/// The empty-keys record: registry entries marked to be removed only when empty.
int ReadEmptyKeyList(HANDLE file, DWORD bodySize);
/// Loads a whole body (exactly size bytes, no terminator): 0, 1 or 5.
int LoadRecordBody(HANDLE file, DWORD flags, DWORD size, void **body, DWORD *sizeOut);
/// Merges a loaded pattern body into g.patterns (takes ownership of body): 0 or 7.
int AppendPatterns(void *body, DWORD size);
/// Releases everything loaded, in the fixed order.
void FreeRemovalData();

// Message table.
/// The text of message `number`, or the constant empty text.
const char *GetMessageText(DWORD number);
/// MessageBoxA with message 0 as caption, owned by the main window (if any).
int ShowMessage(const char *text, UINT style);
/// Writes message `number` into a 1024-byte buffer, "%s" replaced by `argument` and "%%"
/// by "%"; no other conversion. Cut to 1023 characters.
void ComposeMessage(char *buffer, DWORD number, const char *argument);
