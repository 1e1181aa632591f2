// The removal passes (files, fonts, registry, wildcards, folders) and how they report.
//
// Results: each pass reports every entry through NoteOutcome (state/outcome.h) and returns
// nothing; the checks return bool (BOOL where they stand for a system call's result).
#pragma once
#include <windows.h>

#include "state/outcome.h"
#include "state/state.h"

// ---- file_pass.cpp
/// Writes the full path of `entry` into g.scratchPath. False when it would not fit
/// (nothing usable is left there and the caller skips the entry).
bool BuildFilePath(const FileEntry *entry);
/// True when the file exists but cannot be opened for read/write with read sharing.
BOOL IsFileLocked(const char *path);
/// True when a file entry flagged FE_CHECK_IN_USE is locked.
BOOL AnyFileInUse();
/// The file pass, last entry first.
void RemoveFiles();

// ---- font.cpp
/// Unregisters the font at `path` and broadcasts WM_FONTCHANGE. Its name is read through
/// `file` (open for reading) where given, so that it comes from the file the pass checked.
void RemoveFont(const char *path, HANDLE file = nullptr);
/// Reads the Macintosh full name of a TrueType file into a 520-byte buffer ("" when none):
/// from `file`, from its start, where given, else from the file at `path`.
void ReadFontFullName(const char *path, char *name, HANDLE file = nullptr);

// ---- registry_pass.cpp
/// The registry pass.
void DeleteRegistryEntries();
/// Deletes `subkey` of `parent` with its whole tree; returns a Win32 error code. *reached
/// (when given) tells whether `subkey` itself was there and opened.
LONG DeleteKeyTree(HKEY parent, const char *subkey, bool *reached = nullptr);

// ---- wildcard_pass.cpp
/// The wildcard pass.
void RemoveWildcardMatches();
/// True when the long file name `name` matches `pattern` as the directory search reads
/// wildcards ("readme.*" finds "readme", "*." only names without a dot), A to Z folded.
bool MatchesPattern(const char *pattern, const char *name);

// ---- folder_passes.cpp
/// The folder passes: the files of each listed folder, the listed folders with the parent
/// levels they climb, then the folders of the file list that are left empty.
void RemoveFolderFiles();
void RemoveFolders();
void RemoveEmptyFolders();

// ---- file_ops.cpp: what the passes share about one file or folder.
/// Reports a file that another process holds. With /S, a `listed` file whose removal has
/// no side effects to leave behind (shared count, font, registration) is scheduled for
/// deletion at restart, then its folder, when no standard user can change any folder of
/// its path (on the NT family: judged on the held folders); otherwise the file stays, in use.
void KeepOrScheduleHeldFile(const char *path, unsigned char flags, bool listed);
/// Reports a file delete by its result, reading a failure from GetLastError(): removed,
/// absent, held by another process (KeepOrScheduleHeldFile) or failed.
void NoteFileDeletion(const char *path, BOOL deleted, unsigned char flags, bool listed);
/// Reports a folder removal the same way: removed, absent, not empty or failed.
void NoteFolderRemoval(const char *path, BOOL removed);

/// Access-denied class of system errors (read-only or held by another process).
bool IsAccessDeniedClass(DWORD error);
