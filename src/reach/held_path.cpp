// Held paths: every folder of a path opened relative to the one above it and held, so that
// what a check found is what a removal reaches.
#include "reach/held_path.h"

#include <string.h>
#include <winternl.h>

#include "base/base.h"
#include "paths/paths.h"
#include "reach/actions.h"

namespace {

typedef LONG(NTAPI *NtOpenFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, ULONG,
                                  ULONG);
typedef LONG(NTAPI *NtSetInformationFileFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef ULONG(NTAPI *StatusToErrorFn)(LONG);

// The native calls: the open relative to a folder handle has no Win32 form.
struct NativeCalls {
  NtOpenFileFn open;
  NtSetInformationFileFn setInformation;
  NtSetInformationFileFn queryInformation;  // the same parameters
  StatusToErrorFn toError;
  bool olderDisposition;  // the newer delete call was refused once: not asked again
};
NativeCalls nativeCalls;
const NativeCalls *Native() {
  NativeCalls &calls = nativeCalls;
  if (!calls.toError && FindSystemCall("ntdll.dll", "NtOpenFile", calls.open) &&
      FindSystemCall("ntdll.dll", "NtSetInformationFile", calls.setInformation) &&
      FindSystemCall("ntdll.dll", "NtQueryInformationFile", calls.queryInformation))
    FindSystemCall("ntdll.dll", "RtlNtStatusToDosError", calls.toError);
  return calls.toError ? &calls : nullptr;
}

// Listing access makes the system record the sharing (an attributes-only handle would deny
// nothing); the descriptor is read through it.
constexpr ACCESS_MASK kHoldAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr ULONG kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileAttributeTagInformation = 35;
constexpr ULONG kFileDispositionInformation = 13;
constexpr ULONG kFileDispositionInformationEx = 64;
constexpr ULONG kDispositionDelete = 1, kDispositionPosixSemantics = 2;

// Opens `name` (one plain name in the ANSI code page) inside `folder` and returns the
// system error (0 on success). A link is opened as itself unless `follow`.
DWORD OpenRelative(HANDLE folder, const char *name, ACCESS_MASK access, ULONG sharing,
                   ULONG options, bool follow, HANDLE *opened) {
  *opened = nullptr;
  const NativeCalls *native = Native();
  if (!native) return ERROR_CALL_NOT_IMPLEMENTED;
  if (!IsPlainName(name)) return ERROR_INVALID_NAME;
  // What the run has already taken is not there for the items after it.
  if (IsGoneIn(folder, name)) return ERROR_FILE_NOT_FOUND;
  WCHAR wide[kPathBuf];
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, kPathBuf);
  if (length <= 1) return ERROR_INVALID_NAME;
  UNICODE_STRING text;
  text.Buffer = wide;
  text.Length = static_cast<USHORT>((length - 1) * sizeof(WCHAR));
  text.MaximumLength = static_cast<USHORT>(length * sizeof(WCHAR));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  const LONG status =
      native->open(opened, access | SYNCHRONIZE, &attributes, &io, sharing,
                   options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
                       (follow ? 0 : FILE_OPEN_REPARSE_POINT));
  if (status >= 0) return 0;
  *opened = nullptr;
  return native->toError(status);
}

// True when the handle's object is a link. Some systems follow a link even when asked to
// open it as itself, and show what it is only by name: the name is asked too, which is
// sound only because every folder above it is held.
bool IsLink(HANDLE object, const char *path) {
  // The attributes alone: a query that also asks for the volume costs a round trip to
  // another process on some systems, once per folder of every path.
  struct {
    ULONG attributes, tag;
  } info;
  IO_STATUS_BLOCK io;
  const NativeCalls *native = Native();
  if (!native ||
      native->queryInformation(object, &io, &info, sizeof info, kFileAttributeTagInformation) < 0)
    return true;
  if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  if (!path) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// True when both handles stand for one file: same volume, same file index.
bool IsSameItem(HANDLE a, HANDLE b) {
  DWORD first[3], second[3];
  return ReadFileIdentity(a, first) && ReadFileIdentity(b, second) &&
         memcmp(first, second, sizeof first) == 0;
}

void DropLevels(DWORD keep) {
  if (!g.held) return;
  HeldPath &held = *g.held;
  held.missingEnd = 0;
  while (held.count > keep) {
    --held.count;
    CloseHandle(held.handles[held.count]);
  }
  held.text[held.count ? held.ends[held.count - 1] : 0] = '\0';
}

bool Refuse(Outcome *refused, Outcome why, DWORD error = 0) {
  *refused = why;
  SetLastError(error);
  return false;
}

}  // namespace

bool HoldFolder(const char *folder, bool lastMayBeLink, Outcome *refused) {
  if (!g.isNT) return true;  // the 9x family has no links: names are all there is
  if (!g.held && !AllocZeroedT(sizeof(HeldPath), &g.held))
    return Refuse(refused, OUTCOME_FAILED, ERROR_NOT_ENOUGH_MEMORY);
  HeldPath &held = *g.held;
  char path[kPathBuf];
  if (!CopyBounded(path, kPathBuf, folder))
    return Refuse(refused, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE);
  const DWORD root = RootLength(path);
  if (root == 0) return Refuse(refused, OUTCOME_FAILED, ERROR_BAD_PATHNAME);
  DWORD length = TextLength(path);
  // Trailing backslashes name the same folder; a double-byte character may end in 0x5C,
  // so only a backslash that FindLastBackslash sees as one is dropped.
  for (char *last; length > root && (last = FindLastBackslash(path)) == path + length - 1;)
    path[--length] = '\0';

  // Keep the levels that both paths share, byte for byte.
  DWORD keep = 0;
  while (keep < held.count) {
    const DWORD end = held.ends[keep];
    if (end > length || memcmp(path, held.text, end) != 0) break;
    if (keep == 0 ? end != root : (path[end] != '\0' && path[end] != '\\')) break;
    ++keep;
  }
  // A level just found missing below the levels still held is missing for every path
  // through it, without asking again: it was looked for with its parent held, and any
  // hold elsewhere forgets it.
  const DWORD missing = held.missingEnd;
  if (missing && keep == held.count && missing <= length && memcmp(path, held.text, missing) == 0 &&
      (path[missing] == '\0' || path[missing] == '\\'))
    return Refuse(refused, OUTCOME_FAILED, ERROR_PATH_NOT_FOUND);
  DropLevels(keep);
  memcpy(held.text, path, length + 1);

  if (held.count == 0) {
    char rootText[kPathBuf];
    memcpy(rootText, path, root);
    rootText[root] = '\0';
    HANDLE handle = CreateFileA(rootText, kHoldAccess, kHoldSharing, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      DropLevels(0);
      return Refuse(refused, OUTCOME_FAILED, error);
    }
    held.handles[0] = handle;
    held.ends[0] = root;
    held.count = 1;
  }
  for (DWORD start = held.ends[held.count - 1]; start < length;) {
    if (start > root) ++start;  // past the separator
    DWORD end = start;
    while (path[end] && path[end] != '\\')
      end += static_cast<DWORD>(NextCharacter(path + end) - (path + end));
    char name[kPathBuf];
    memcpy(name, path + start, end - start);
    name[end - start] = '\0';
    if (held.count >= kMaxHeldLevels || !IsPlainName(name)) {
      DropLevels(held.count);
      return held.count >= kMaxHeldLevels
                 ? Refuse(refused, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE)
                 : Refuse(refused, OUTCOME_ODD_NAME);
    }
    HANDLE parent = held.handles[held.count - 1];
    ScopedHandle level;
    DWORD error = OpenRelative(parent, name, kHoldAccess, kHoldSharing, FILE_DIRECTORY_FILE, false,
                               level.Receive());
    if (error) {
      DropLevels(held.count);
      // A missing level is reported as a missing path, whatever the system said, and
      // remembered (its text stays) for the paths through it that follow.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        error = ERROR_PATH_NOT_FOUND;
        memcpy(held.text, path, length + 1);
        held.missingEnd = end;
      }
      return Refuse(refused, OUTCOME_FAILED, error);
    }
    const char saved = path[end];
    path[end] = '\0';
    const bool link = IsLink(level, path);
    path[end] = saved;
    if (link) {
      // Followed only where no standard user could have made it or could change it; the
      // link stays held until what it leads to is.
      ScopedHandle target;
      const bool trusted =
          (lastMayBeLink || end < length) && HandleIsAdminOnly(level, kLinkChangeRights);
      if (trusted)
        OpenRelative(parent, name, kHoldAccess, kHoldSharing, FILE_DIRECTORY_FILE, true,
                     target.Receive());
      if (!target) {
        DropLevels(held.count);
        return Refuse(refused, OUTCOME_AT_LINK);
      }
      level.Reset(target.Release());
    }
    held.handles[held.count] = level.Release();
    held.ends[held.count] = end;
    ++held.count;
    start = end;
  }
  return true;
}

bool HoldFileFolder(const char *path, char *full, Outcome *refused) {
  char folder[kPathBuf];
  // "C:\file": the folder is the root itself.
  if (!ResolveFullPath(path, full) || !CopyBounded(folder, kPathBuf, full) || !CutToFolder(folder))
    return Refuse(refused, OUTCOME_FAILED, ERROR_BAD_PATHNAME);
  return HoldFolder(folder, true, refused);
}

bool IsClimbableFolder(const char *folder) {
  Outcome refused;
  const bool plain = HoldFolder(folder, false, &refused);
  ReleaseHeldPath();
  return plain;
}

void ReleaseHeldPath() {
  DropLevels(0);
  FreeAndNullT(&g.held);
}

bool HeldPathIsAdminOnly() {
  if (!g.held || g.held->count == 0) return false;
  for (DWORD i = 0; i < g.held->count; ++i) {
    if (!HandleIsAdminOnly(g.held->handles[i], i == 0 ? kRootChangeRights : kPathChangeRights))
      return false;
  }
  return true;
}

HANDLE OpenHeldSubfolder(HANDLE folder, const char *name, const char *path, Outcome *refused) {
  ScopedHandle level;
  DWORD error = OpenRelative(folder, name, kHoldAccess, kHoldSharing, FILE_DIRECTORY_FILE, false,
                             level.Receive());
  if (error) {
    Refuse(refused, OUTCOME_FAILED, error);
    return nullptr;
  }
  Outcome why = IsLink(level, path)          ? OUTCOME_AT_LINK
                : IsProtectedIdentity(level) ? OUTCOME_PROTECTED
                                             : OUTCOME_REMOVED;
  if (why == OUTCOME_REMOVED) return level.Release();
  level.Reset();
  Refuse(refused, why);
  return nullptr;
}

DWORD DeleteByHandle(HANDLE file) {
  const NativeCalls *native = Native();
  if (!native) return ERROR_CALL_NOT_IMPLEMENTED;
  IO_STATUS_BLOCK io;
  // The newer call frees the name at once, even while others still have the file open.
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics;
  LONG status = static_cast<LONG>(0xC0000002u);  // not implemented
  if (!native->olderDisposition)
    status = native->setInformation(file, &io, &flags, sizeof flags, kFileDispositionInformationEx);
  const ULONG olderSystem[] = {0xC0000002u /* not implemented */, 0xC0000003u /* info class */,
                               0xC000000Du /* parameter */, 0xC00000BBu /* not supported */};
  for (ULONG code : olderSystem) {
    if (static_cast<ULONG>(status) != code) continue;
    // A system without the call is not asked again; a volume without it is, on the next.
    if (code <= 0xC0000003u) nativeCalls.olderDisposition = true;
    BOOLEAN remove = TRUE;
    status = native->setInformation(file, &io, &remove, sizeof remove, kFileDispositionInformation);
    break;
  }
  return status >= 0 ? 0 : native->toError(status);
}

BOOL DeleteHeldFile(HANDLE folder, const char *name, ACCESS_MASK access, ULONG sharing,
                    HANDLE sameAs) {
  ScopedHandle file;
  // Where the system lacks the newer delete call, the older one only marks the file to go
  // at its last close: an open that asks for that itself is the same delete, with one
  // call less. Not where the file must be compared first, nor in a run that holds back.
  const NativeCalls *native = Native();
  const bool onClose = !sameAs && !g.holdBack && native && native->olderDisposition;
  DWORD error = OpenRelative(folder, name, access | DELETE | FILE_READ_ATTRIBUTES, sharing,
                             FILE_NON_DIRECTORY_FILE | (onClose ? FILE_DELETE_ON_CLOSE : 0), false,
                             file.Receive());
  if (!error) {
    if (sameAs && !IsSameItem(file, sameAs)) error = ERROR_FILE_INVALID;
    if (!error && !onClose) error = ActDeleteByHandle(file);
  }
  file.Reset();  // a delete on close is done here, before the result is told
  SetLastError(error);
  return error == 0;
}

DWORD OpenHeldFile(HANDLE folder, const char *name, HANDLE *file) {
  return OpenRelative(folder, name,
                      FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, false, file);
}

bool CanOpenHeldForWriting(HANDLE folder, const char *name) {
  ScopedHandle file;
  return OpenRelative(folder, name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                      FILE_NON_DIRECTORY_FILE, false, file.Receive()) == 0;
}

BOOL SetAttributesByHandle(HANDLE file, DWORD attributes) {
  const NativeCalls *native = Native();
  if (!native) return FALSE;
  // Times of zero stay as they are; attributes of zero would too, so none is "normal".
  struct {
    LARGE_INTEGER creation, access, write, change;
    ULONG attributes;
  } basic = {};
  static_assert(sizeof basic == 40, "the system's basic information, on both architectures");
  basic.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  IO_STATUS_BLOCK io;
  const LONG status =
      native->setInformation(file, &io, &basic, sizeof basic, kFileBasicInformation);
  if (status >= 0) return TRUE;
  SetLastError(native->toError(status));
  return FALSE;
}

BOOL RemoveHeldFolder(HANDLE folder, const char *name, const char *path, Outcome *refused) {
  ScopedHandle level;
  DWORD error = OpenRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_DIRECTORY_FILE, false, level.Receive());
  if (error) return Refuse(refused, OUTCOME_FAILED, error);
  Outcome why = IsLink(level, path)          ? OUTCOME_AT_LINK
                : IsProtectedIdentity(level) ? OUTCOME_PROTECTED
                                             : OUTCOME_FAILED;
  if (why == OUTCOME_FAILED) error = ActDeleteByHandle(level);
  level.Reset();
  if (why != OUTCOME_FAILED) return Refuse(refused, why);
  *refused = OUTCOME_FAILED;
  SetLastError(error);
  return error == 0;
}

BOOL DeleteFileHeld(const char *path) {
  if (!g.isNT) return ActDeleteFile(path);
  char full[kPathBuf];
  Outcome refused;
  if (!HoldFileFolder(path, full, &refused)) {
    if (refused != OUTCOME_FAILED) SetLastError(ERROR_CANT_ACCESS_FILE);
    return FALSE;
  }
  return DeleteHeldFile(HeldLevel(0), LastName(full));
}

BOOL RemoveFolderHeld(const char *path, Outcome *refused) {
  *refused = OUTCOME_FAILED;
  if (!g.isNT) return ActRemoveFolder(path);
  char folder[kPathBuf], parent[kPathBuf];
  if (!CopyBounded(folder, kPathBuf, path) || !CopyBounded(parent, kPathBuf, path))
    return Refuse(refused, OUTCOME_FAILED, ERROR_BAD_PATHNAME);
  StripBackslash(folder);
  const char *name = LastName(folder);
  if (name == folder || name[0] == '\0') return Refuse(refused, OUTCOME_FAILED, ERROR_BAD_PATHNAME);
  parent[name - folder] = '\0';
  if (!HoldFolder(parent, true, refused)) return FALSE;
  return RemoveHeldFolder(HeldLevel(0), name, folder, refused);
}
