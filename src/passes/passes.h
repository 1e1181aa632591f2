// Removal passes: files, fonts, registry, wildcards, folders.
#pragma once
#include <windows.h>

#include "app/run.h"
#include "app/state.h"

/// Writes the full path of `entry` into g.scratchPath. False when it would not fit
/// (nothing usable is left there and the caller skips the entry).
bool BuildFilePath(const FileEntry *entry);
/// True when the file exists but cannot be opened for read/write with read sharing.
BOOL IsFileLocked(const char *path);
/// True when a file entry flagged FE_CHECK_IN_USE is locked.
BOOL AnyFileInUse();
/// The file pass, last entry first.
void RemoveFiles();

/// Unregisters the font at `path` and broadcasts WM_FONTCHANGE. Its name is read through
/// `file` (open for reading) where given, so that it comes from the file the pass checked.
void RemoveFont(const char *path, HANDLE file = nullptr);
/// Reads the Macintosh full name of a TrueType file into a 520-byte buffer ("" when none):
/// from `file`, from its start, where given, else from the file at `path`.
void ReadFontFullName(const char *path, char *name, HANDLE file = nullptr);

/// The registry pass.
void DeleteRegistryEntries();
/// Deletes `subkey` of `parent` with its whole tree; returns a Win32 error code. *reached
/// (when given) tells whether `subkey` itself was there and opened.
LONG DeleteKeyTree(HKEY parent, const char *subkey, bool *reached = nullptr);

/// The wildcard pass.
void RemoveWildcardMatches();
/// True when the long file name `name` matches `pattern` as the directory search reads
/// wildcards ("readme.*" finds "readme", "*." only names without a dot), A to Z folded.
bool MatchesPattern(const char *pattern, const char *name);

/// The folder passes.
void RemoveFolderFiles();
void RemoveFolders();
void RemoveEmptyFolders();
/// Reports a file that another process holds. With /S, a `listed` file whose removal has
/// no side effects to leave behind (shared count, font, registration) is scheduled for
/// deletion at restart, then its folder, when no standard user can change any folder of
/// its path (on the NT family: judged on the held folders); otherwise the file stays, in use.
void NoteHeldFile(const char *path, unsigned char flags, bool listed);
/// Reports a file delete by its result, reading a failure from GetLastError(): removed,
/// absent, held by another process (NoteHeldFile) or failed.
void NoteFileDeletion(const char *path, BOOL deleted, unsigned char flags, bool listed);
/// Reports a folder removal the same way: removed, absent, not empty or failed.
void NoteFolderRemoval(const char *path, BOOL removed);

/// Access-denied class of system errors (read-only or held by another process).
bool IsAccessDeniedClass(DWORD error);
