// External programs: pre-removal program, closing document, self-deletion script.
#pragma once
#include <windows.h>

/// Starts the program from its own folder; with `wait`, waits for its end. 1 = started.
int StartPreRemovalProgram(const char *program, const char *arguments, int wait);
int LaunchProgram(const char *program, const char *arguments, HANDLE *process);
int IsProcessRunning(HANDLE process);

/// Opens the document through the shell, else through the open command of `extension`.
void OpenClosingDocument(const char *document, const char *extension);
LONG ReadKeyDefault(HKEY root, const char *path, char *buffer);

/// Creates "<folder>\<pattern with n>" with CREATE_NEW for the first free n in 1..998;
/// the folder is the temporary folder, or, in an elevated run on the NT family, a new
/// folder below it that only Administrators and SYSTEM may change (then `inPrivateFolder`,
/// when given, is set).
HANDLE CreateBatchFile(char *path, const char *pattern, bool *inPrivateFolder = nullptr);
/// Writes and starts the script that deletes the program and its folder after exit.
void StartSelfDeletion();
