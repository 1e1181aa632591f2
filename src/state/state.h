// The one run state of the removal program, shared by every floor above: the entry lists
// that the reader fills, the switches, the window handles, the log, the held folders.
// Everything here is plain data; the floors above own what it points to.
//
// Results: none; OptionText returns null for "none".
#pragma once
#include <windows.h>

#include "format/block_format.h"

// The table of a run that changes nothing (see reach/actions.h): each action and query of
// the passes goes to it instead of the system.
struct HoldBack {
  // Actions, with the results of the system calls they stand for.
  BOOL (*deleteFile)(const char *path);
  DWORD (*deleteByHandle)(HANDLE item);  // a held file or folder, opened for deletion
  BOOL (*removeFolder)(const char *path);
  BOOL (*setAttributes)(const char *path, DWORD attributes);
  BOOL (*scheduleAtRestart)(const char *path);
  LONG (*setValue)(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size);
  LONG (*deleteValue)(HKEY key, const char *name);
  LONG (*deleteKey)(HKEY key);  // the key behind the handle, no subkeys left
  void (*removeFont)(const char *path);
  void (*unregister)(const char *path);
  bool (*startProgram)(const char *program, const char *arguments, bool wait);
  bool (*startSelfDeletion)();
  // Queries.
  DWORD (*attributes)(const char *path);
  bool (*isGone)(const char *path);
  bool (*isGoneIn)(HANDLE folder, const char *name);
  bool (*canOpenForWriting)(const char *path);
  LONG (*queryValue)(HKEY key, const char *name, DWORD *type, BYTE *data, DWORD *size);
  bool (*keyIsGone)(HKEY key);
  LONG (*enumSubkey)(HKEY key, DWORD index, wchar_t *name, DWORD *size);
  LONG (*countKeyItems)(HKEY key, DWORD *subkeys, DWORD *values);
  // The log keyword a held-back run writes for `keyword`.
  const char *(*keyword)(const char *keyword);
};

struct FileEntry {
  char *folder;         // "." or ".\sub" = relative to installDir; otherwise a full folder path
  char *name;           // empty: the entry stands for the folder itself
  unsigned char flags;  // FE_*
};

struct FolderEntry {
  DWORD levels;  // parent levels to climb; counted down in place by RemoveFolders
  char *folder;
  char *secondFolder;
  char *name;
};

struct RegistryEntry {
  DWORD root;  // predefined root key by its 32-bit handle value
  char *path;
  DWORD onlyIfEmpty;  // from the empty-keys record: removed only without subkeys and values
};

// The options record body, kept exactly as stored (at least 12 bytes once validated).
struct RunOptions {
  DWORD flags;
  DWORD preRemovalOffset;
  DWORD closingDocumentOffset;
};

// A chain of folder handles from a drive or share root, each level opened relative to the
// one above; a 260-byte path has at most this many levels.
constexpr DWORD kMaxHeldLevels = 131;
struct HeldPath {
  char text[260];              // the path held
  DWORD ends[kMaxHeldLevels];  // where each level's text ends (level 0: the root)
  HANDLE handles[kMaxHeldLevels];
  DWORD count;
  // Where the text of a level found missing right below the held ones ends (0: none).
  DWORD missingEnd;
};

struct UninstallState {
  HINSTANCE instance;
  DWORD isNT;
  DWORD quiet;
  DWORD noExternal;
  DWORD silent;       // /S: quiet, and no window at all; every question takes its default
  DWORD elevated;     // the token is elevated: code the run loads must be administrators' own
  char *ownPath;      // 260 bytes
  char *scratchPath;  // 260 bytes
  char *installDir;   // 260 bytes, ends with a backslash

  char **messages;  // slots of message texts, the first null slot ends the table

  FileEntry **files;
  DWORD fileCount;
  FolderEntry **folders;
  DWORD folderCount;
  RegistryEntry **registryEntries;
  DWORD registryCount;
  char *patterns;  // NUL-terminated strings, ending with an empty one
  DWORD patternsLength;
  RunOptions *options;  // never null after a successful read (all-zero options when absent)
  DWORD optionsSize;

  int filePromptAnswer;  // -1 ask, 1 yes to all, 0 no to all

  HWND mainWindow;
  HWND progressDialog;
  HWND progressBar;
  DWORD progressTotal;
  DWORD progressPos;
  HFONT dialogFont;
  HMODULE themeLibrary;
  FARPROC setThemeAppPropertiesEntry;

  // Set once the protected-folder list has been looked up for this run.
  BOOL protectedListReady;

  char logPath[260];     // /LOG=path; empty: no log
  HANDLE log;            // null while no log is open
  DWORD failedCount;     // entries that stayed against the removal (failed, in use)
  DWORD scheduledCount;  // items left for the system to delete at restart
  HeldPath *held;  // the folders that the passes hold on their way down (NT family); null: none
  // Parents of the install folder, counted from the nearest, that a folder entry's climb
  // reached while the program still kept its folder: the self-deletion removes them after.
  DWORD parentLevels;
  // Set for a run that changes nothing (see reach/actions.h); null for a real run.
  const HoldBack *holdBack;
};

// ---- state.cpp
extern UninstallState g;
/// The text an options offset points at, or null when the offset is 0.
const char *OptionText(DWORD offset);
