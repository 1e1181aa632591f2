// The one point where a run changes the machine, and the queries that see what it changed.
//
// Every deletion, attribute change, count change, registration, restart schedule, program
// start and broadcast of the passes goes through the Act calls below (the two program
// starts through theirs in external/external.h). A run with a
// hold-back table (g.holdBack) changes nothing: the table notes each action in its picture
// of what the run would leave, and the queries below answer from that picture, so a file
// the run would delete is gone for the entries after it, a folder it would empty is empty.
// Without a table each call is the plain system call.
//
// Results: each call returns what the system call it stands for returns (BOOL with the
// last error, a Win32 error code as LONG or DWORD), so callers read both kinds alike; the
// queries of what the run has already taken (IsGone, KeyIsGone, ...) return bool.
#pragma once
#include <windows.h>

#include "state/state.h"

// ---- actions.cpp

/// DeleteFileA.
BOOL ActDeleteFile(const char *path);
/// Deletes the file or folder behind `item`, opened with delete access, as DeleteByHandle
/// does; the system error, 0 when done.
DWORD ActDeleteByHandle(HANDLE item);
/// RemoveDirectoryA.
BOOL ActRemoveFolder(const char *path);
/// Writes the attributes of the file at `path`: through `file` where the pass holds it open
/// (the NT family), else by name.
BOOL ActSetAttributes(HANDLE file, const char *path, DWORD attributes);
BOOL ActScheduleAtRestart(const char *path);
/// RegSetValueExA.
LONG ActSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size);
/// RegDeleteValueA.
LONG ActDeleteValue(HKEY key, const char *name);
/// Deletes the key behind the handle itself, never a key that has taken its name since.
LONG ActDeleteKey(HKEY key);
/// The 9x family's delete of a key with its tree, by name.
LONG ActDeleteKeyByName(HKEY root, const char *path);
/// Removes the font resource.
void ActRemoveFont(const char *path);
/// Tells every top-level window that the fonts changed.
void ActBroadcastFontChange();
/// Loads the library and calls its DllUnregisterServer.
void ActUnregister(const char *path);

/// The attributes of the file at `path`: read through `file` where given, else by name.
DWORD QueryAttributes(const char *path, HANDLE file = nullptr);
/// True when the run has already taken `path` (relative to the current folder or full).
bool IsGone(const char *path);
/// True when the run has already taken `name` in the held folder `folder` (or the folder).
bool IsGoneIn(HANDLE folder, const char *name);
/// True when the file can be opened for reading and writing with read sharing only: as
/// `name` of the held folder `folder` where given, else by its full `path`.
bool CanOpenForWriting(HANDLE folder, const char *name, const char *path);
LONG QueryValue(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size);
/// True when the run has already deleted the key behind `key` (or one above it).
bool KeyIsGone(HKEY key);
/// RegEnumKeyExW (found by name: the 9x family may lack it).
LONG EnumSubkey(HKEY key, DWORD index, wchar_t *name, DWORD *size);
/// How many subkeys and values the key holds.
LONG CountKeyItems(HKEY key, DWORD *subkeys, DWORD *values);
