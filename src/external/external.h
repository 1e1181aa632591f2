// External programs: pre-removal program, closing document, self-deletion, elevation.
//
// Results: bool, true when the program started or the answer is "yes"; registry reads
// return the system's error code (ERROR_SUCCESS when read).
#pragma once
#include <windows.h>

// ---- pre_removal.cpp
/// StartPreRemovalProgram, or the hold-back table's stand-in for it (see reach/actions.h).
bool ActStartProgram(const char *program, const char *arguments, bool wait);
/// Starts the program from its own folder; with `wait`, waits for its end (pumping the
/// window's messages). True when it started.
bool StartPreRemovalProgram(const char *program, const char *arguments, bool wait);
/// Starts `program` with `arguments` from the program's own folder, its handle in *process
/// (null when it did not start). True when it started.
bool LaunchProgram(const char *program, const char *arguments, HANDLE *process);
/// Starts `commandLine` (`program` may be null: then the line's first word) with its
/// window shown as `show`, never waited for. True when it started.
bool StartDetached(const char *program, char *commandLine, WORD show);
/// True while the process behind the handle has not ended.
bool IsProcessRunning(HANDLE process);

// ---- closing_document.cpp
/// Opens the document through the shell, else through the open command of `extension`.
void OpenClosingDocument(const char *document, const char *extension);
/// Reads the default value of `root`\`path` into the 260-byte `buffer` (which may be
/// `path`): ERROR_SUCCESS, the system's error, or ERROR_MORE_DATA when it would not fit.
LONG ReadKeyDefault(HKEY root, const char *path, char *buffer);

// ---- elevation.cpp
/// True when the process token says it runs elevated; false where it cannot tell (the 9x
/// family, NT before elevation existed), where all of a user's programs have one set of rights.
bool RunsElevated();
/// Turns on, where the platform has it, the mitigation that keeps this process from
/// following file system links that a non-administrator made. The programs it starts
/// afterwards (pre-removal program, closing document, self-deletion) inherit it.
void EnableRedirectionTrust();

// ---- self_delete.cpp
/// Creates "<temporary folder>\<pattern with n>" with CREATE_NEW for the first free n in
/// 1..998 (the 9x family's self-deletion script).
HANDLE CreateBatchFile(char *path, const char *pattern);
/// Converts `path` (260 bytes) in place to the OEM code page; a path that would not come
/// back unchanged is taken in its short form. False (path unspecified) when neither does.
bool ToOemPath(char *path);
/// The NT family's interpreter command line (`capacity` characters) that deletes
/// `program` once it has exited and then removes its folder if empty, and after it as many
/// as `parents` of its parent folders, each only if empty. False when it would not fit or a
/// path cannot be given safely even in its short form.
bool BuildSelfDeletionCommand(wchar_t *line, DWORD capacity, const wchar_t *systemFolder,
                              const wchar_t *program, DWORD parents = 0);
/// How many of the install folder's parents the self-deletion may remove: those a folder
/// entry's climb asked for (g.parentLevels), up to the first protected one or link.
DWORD SafeParentLevels();
/// Starts the removal of the program file and its folder after exit; true when the script
/// was started. Leaves in g.parentLevels how many parents of the folder it removes too.
bool StartSelfDeletion();
/// StartSelfDeletion, or the hold-back table's stand-in for it.
bool ActStartSelfDeletion();
