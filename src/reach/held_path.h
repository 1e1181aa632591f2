// Held paths: on the NT family every pass reaches what it removes through a chain of folder
// handles from the drive or share root. Each level is opened relative to the one above it
// and never through a link that a standard user could have made, and it is held without
// delete sharing, so no level can be renamed or replaced while a pass works below it. A
// check made on the chain therefore holds for what the pass then deletes through it. The
// 9x family has no links: there every operation here works on names.
//
// Results: the holds return bool with the reason in *refused; the deletions work like the
// system calls they replace (BOOL with the last error, or the error as DWORD).
#pragma once
#include <windows.h>

#include "state/outcome.h"
#include "state/state.h"

// ---- held_path.cpp
/// Holds every folder of `folder` (a full path as ResolveFullPath gives it). The levels
/// held for the previous call stay as far as the two paths agree, so consecutive entries
/// of one folder cost nothing; levels below `folder` are let go. A level found missing
/// below the levels still held is missing, without a call, for the paths through it that
/// follow, until a path is held elsewhere: only failed holds come in between, and the run
/// waits for nothing there. A level that is a link is
/// passed only when its owner and its own descriptor show that no standard user made it
/// (the last level never, unless `lastMayBeLink`). False, with the reason in *refused
/// (OUTCOME_AT_LINK, OUTCOME_ODD_NAME, or OUTCOME_FAILED with the system error as the last
/// error: a missing level gives ERROR_PATH_NOT_FOUND), when it cannot be held.
bool HoldFolder(const char *folder, bool lastMayBeLink, Outcome *refused);
/// Resolves `path` (a file's full path as written) into the 260-byte `full` and holds its
/// folder as HoldFolder does; false with *refused as there (and as ERROR_BAD_PATHNAME
/// when it does not resolve within 260 bytes).
bool HoldFileFolder(const char *path, char *full, Outcome *refused);
/// The handle of the last level that HoldFolder holds, or of the one `up` levels above it;
/// null when there is none (and always on the 9x family).
inline HANDLE HeldLevel(DWORD up) {
  return g.held && up < g.held->count ? g.held->handles[g.held->count - 1 - up] : nullptr;
}
/// True when `folder` can be held as HoldFolder holds it, itself no link: no folder of it is
/// a link that a standard user could have made. Nothing stays held.
bool IsClimbableFolder(const char *folder);
/// Closes every held level. The run lets go before the self-deletion script starts.
void ReleaseHeldPath();
/// True when every held level is owned by and changeable only by Administrators, SYSTEM
/// and TrustedInstaller, read from the descriptors through the held handles: only then
/// does a name below it mean the same to the system at the next restart.
bool HeldPathIsAdminOnly();

/// Opens `name` inside the held folder `folder` (its full path `path`, asked by name too
/// where the system shows a link only so) as a folder of the walk: never a link (*refused
/// OUTCOME_AT_LINK), never a protected folder (OUTCOME_PROTECTED), held without delete
/// sharing. Null, with *refused OUTCOME_FAILED and the last error set, otherwise.
HANDLE OpenHeldSubfolder(HANDLE folder, const char *name, const char *path, Outcome *refused);
/// Deletes the file `name` of the held folder `folder` through a handle opened relative to
/// it (a link is deleted itself, never its target), opened with `access` besides delete
/// access and sharing only `sharing`; with `sameAs`, only when it is still the file behind
/// that handle (else ERROR_FILE_INVALID). Works like DeleteFileA: FALSE with the last error
/// (ERROR_ACCESS_DENIED for a read-only file, ERROR_SHARING_VIOLATION for one another
/// process holds).
BOOL DeleteHeldFile(HANDLE folder, const char *name, ACCESS_MASK access = 0,
                    ULONG sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    HANDLE sameAs = nullptr);
/// Opens the item `name` of the held folder `folder` as itself, never what a link leads
/// to, for reading its data and reading and changing its attributes, sharing everything so
/// that no test of another process is disturbed (its descriptor can be read through it
/// too): every later step on the item goes through it. The system error, 0 when opened.
DWORD OpenHeldFile(HANDLE folder, const char *name, HANDLE *file);
/// True when the file `name` of the held folder `folder` can be opened for reading and
/// writing while others may only read (the locked-file test).
bool CanOpenHeldForWriting(HANDLE folder, const char *name);
/// Writes the attributes of the item behind `file` (opened by OpenHeldFile).
BOOL SetAttributesByHandle(HANDLE file, DWORD attributes);
/// Removes the empty folder `name` of the held folder `folder` through a handle opened
/// relative to it, after the checks on that same handle (and on its full `path`, when
/// given, for systems that show a link only by name): FALSE with *refused OUTCOME_AT_LINK
/// or OUTCOME_PROTECTED, or OUTCOME_FAILED with the last error.
BOOL RemoveHeldFolder(HANDLE folder, const char *name, const char *path, Outcome *refused);

/// DeleteHeldFile for a full path, its folder held first (the levels a caller just held
/// are reused). FALSE with the last error, ERROR_CANT_ACCESS_FILE when a link or an odd
/// name stops the hold. The 9x family: DeleteFileA.
BOOL DeleteFileHeld(const char *path);
/// RemoveHeldFolder for a full path, its folder held first (the 9x family:
/// RemoveDirectoryA, refusing nothing).
BOOL RemoveFolderHeld(const char *path, Outcome *refused);
/// Deletes the file that `file` (opened with DELETE access) is, as one step: with the
/// newer call that lets the name go at once where the system has it, else the older one.
DWORD DeleteByHandle(HANDLE file);
