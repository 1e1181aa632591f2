// The ground floor of the stub: path text, file access, the one allocator, the system-call
// lookup and the owners that close what they hold. Nothing here knows the run state.
//
// Results: a function that can fail returns bool, true on success, and leaves its output as
// its line says; a function that returns a handle returns INVALID_HANDLE_VALUE on failure.
#pragma once
#include <windows.h>

constexpr DWORD kPathBuf = 260;

// ---- path_text.cpp: path text.
// Texts are in the ANSI code page, where a character is one byte or two (a lead byte and a
// trail byte that may be 0x5C): every scan below moves by characters, so the second byte of
// a character is never taken for a backslash or a letter.

/// Length in bytes, terminator not counted.
DWORD TextLength(const char *text);
/// A to Z to a to z; every other byte unchanged.
char FoldAscii(char c);
/// The last backslash character of `path`, or null.
char *FindLastBackslash(char *path);
/// The name after the last backslash of `path`; the whole text when it holds none.
const char *LastName(const char *path);
/// Cuts `path` at its last backslash; false (text unchanged) when it holds none.
bool CutAtLastBackslash(char *path);
/// Appends one backslash unless the text is empty or already ends with one.
/// The caller guarantees room for one more character.
void AppendBackslash(char *path);
/// Removes one trailing backslash from a text of 4 or more bytes.
void StripBackslash(char *path);
/// Copies src into dst (capacity cap). False, with dst untouched, when it would not fit.
bool CopyBounded(char *dst, DWORD cap, const char *src);
/// Appends src to dst (capacity cap). False, with dst untouched, when it would not fit.
bool AppendBounded(char *dst, DWORD cap, const char *src);
/// folder, a backslash unless folder is empty or ends with one, and name, into dst
/// (capacity cap; dst may be folder itself). False, with dst empty, when it would not fit.
bool JoinPath(char *dst, DWORD cap, const char *folder, const char *name);
/// The number of bytes of the first `n` bytes of `text` that fit `room` bytes in whole
/// characters: a cut text never ends in half a character.
DWORD WholeCharacters(const char *text, DWORD n, DWORD room);
/// Case-insensitive comparison that folds only the characters A to Z. True when equal.
bool EqualsNoCase(const char *a, const char *b);
/// EqualsNoCase on the start of `text`: true when it begins with `prefix`.
bool StartsWithNoCase(const char *text, const char *prefix);
/// False for a name that the system would read as another: one ending in a dot or a blank
/// (both dropped from a path), one of dots and blanks only ("..." is the folder itself),
/// or one holding a separator, a drive colon, a wildcard or a control character, which a
/// best-fit conversion of the real name can produce.
bool IsPlainName(const char *name);

// ---- header only: where a path's root ends, for ANSI and UTF-16 text alike.
/// The character after the one at `p` (`p` itself at the terminator), as CharNextA tells
/// it, without a call per character where the code page has only single-byte characters.
const char *NextCharacter(const char *p);
inline char *NextCharacter(char *p) {
  return const_cast<char *>(NextCharacter(const_cast<const char *>(p)));
}
inline const wchar_t *NextCharacter(const wchar_t *p) { return p + 1; }
/// Where the folders below the drive begin: the length of "X:\", "\\server\share\" or
/// "\\?\X:\" at the start of `path`; 0 for anything else.
template <typename C>
DWORD RootLength(const C *path) {
  if (path[0] == '\\' && path[1] == '\\') {
    DWORD slashes = 0;
    for (const C *p = path; *p; p = NextCharacter(p)) {
      if (*p == '\\' && ++slashes == 4) return static_cast<DWORD>(p - path) + 1;
    }
    return 0;
  }
  return (path[0] && path[1] == ':' && path[2] == '\\') ? 3 : 0;
}
/// The last backslash of `path` that lies below its root (RootLength), or null when there is
/// none: cutting there leaves a folder, never less than the root.
template <typename C>
C *FindParentCut(C *path) {
  C *last = nullptr;
  for (C *p = path; *p; p = const_cast<C *>(NextCharacter(p)))
    if (*p == '\\') last = p;
  return last && static_cast<DWORD>(last - path) >= RootLength(path) ? last : nullptr;
}
/// Cuts `path` to the folder that holds it: at its last backslash, which a drive or share
/// root keeps ("C:\" stays whole: "C:" alone names the drive's current folder). False
/// (text unchanged) when it holds no backslash.
template <typename C>
bool CutToFolder(C *path) {
  C *last = nullptr;
  for (C *p = path; *p; p = const_cast<C *>(NextCharacter(p)))
    if (*p == '\\') last = p;
  if (!last) return false;
  last[static_cast<DWORD>(last - path) < RootLength(path) ? 1 : 0] = '\0';
  return true;
}

// ---- file_access.cpp: file access by handle.
enum OpenMode { ModeRead = 0, ModeReadWrite = 2 };
/// Opens an existing file, sharing it for reading only; INVALID_HANDLE_VALUE on failure.
HANDLE OpenExisting(const char *path, OpenMode mode);
/// Creates a new file for writing with CREATE_NEW, never truncating one that exists;
/// INVALID_HANDLE_VALUE on failure.
HANDLE CreateForWriting(const char *path);
/// Reads exactly n bytes; false on a failed or short read.
bool ReadExact(HANDLE file, void *buffer, DWORD n);
/// The file pointer's position.
DWORD TellPosition(HANDLE file);
/// Moves the file pointer to `position` from the start.
void SeekTo(HANDLE file, DWORD position);
/// The identity of the file behind `file`: its volume serial, file index high and low in
/// id[0..2]. Two handles stand for one file exactly when these agree. False when unread.
bool ReadFileIdentity(HANDLE file, DWORD *id);

// ---- memory.cpp: the one allocator, on the process heap, with one retry after compacting
// the heap. False (and null) on failure.
/// A block of n bytes, zero-filled.
bool AllocZeroed(SIZE_T n, void **out);
/// A block of n bytes, not filled.
bool AllocRaw(SIZE_T n, void **out);
/// Resizes *place to n bytes; on failure *place is unchanged and still valid.
bool Reallocate(SIZE_T n, void **place);
/// Frees *place (null: nothing) and sets it to null.
void FreeAndNull(void **place);
template <typename T>
inline bool AllocZeroedT(SIZE_T n, T **out) {
  return AllocZeroed(n, reinterpret_cast<void **>(out));
}
template <typename T>
inline void FreeAndNullT(T **place) {
  FreeAndNull(reinterpret_cast<void **>(place));
}

// ---- header only: calls found by name.
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

// ---- header only: owners that release what they hold when they go out of scope, so that
// no return path has to remember it. Not copyable; Release gives the value up without
// closing it.
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

/// INVALID_HANDLE_VALUE and null both mean "no handle".
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
using ScopedBlock = Scoped<T *, BlockFreer>;  // FreeAndNull: a block of the allocator
