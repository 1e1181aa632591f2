// The removal data block as the stub reads it: the locator, the reader, the entry lists it
// fills into the run state, and the message table.
//
// Results: the readers return a LoadCode (LOAD_OK, 0, on success); the body readers the
// numbers their lines give. Everything read goes into g and is released by FreeRemovalData.
#pragma once
#include <windows.h>

#include "base/base.h"
#include "state/state.h"

// Reading error codes.
enum LoadCode {
  LOAD_NO_FILE = -1,  // the file could not be opened: a failure without a report
  LOAD_OK = 0,
  LOAD_BODY_FAILED = 1,
  LOAD_BODY_NO_MEMORY = 5,
  LOAD_NO_MEMORY = 7,
  LOAD_READ_FAILED = 8
};

// ---- locator.cpp
/// The locator's offset as stamped into the program (0 = no block).
DWORD LocatorOffset();

// ---- record_stream.cpp: the record stream.
/// Reads the block that the program's own locator names. On failure after opening the
/// file it has shown the report box. Non-zero on success.
BOOL ReadRemovalData();
/// Reads a block from `path` at `offset` into g. Returns a LoadCode; shows no box.
/// After a successful read g.options is never null. Used by ReadRemovalData and tests.
int ReadBlockFile(const char *path, DWORD offset);
/// Loads a whole body (exactly size bytes, no terminator): 0, 1 or 5.
int LoadRecordBody(HANDLE file, DWORD flags, DWORD size, void **body, DWORD *sizeOut);
/// Releases everything loaded, in the fixed order.
void FreeRemovalData();

// ---- record_bodies.cpp: body readers. The file is positioned at the body; bodySize
// bounds what they may read. Each returns 0, 7 (no memory) or 8 (a body that its counts and lengths
// overrun).
int ReadMessageTable(HANDLE file, DWORD bodySize);
int ReadFileList(HANDLE file, DWORD bodySize);
int ReadFolderList(HANDLE file, DWORD bodySize);
int ReadRegistryList(HANDLE file, DWORD bodySize);
/// The empty-keys record: registry entries marked to be removed only when empty.
int ReadEmptyKeyList(HANDLE file, DWORD bodySize);
/// Merges a loaded pattern body into g.patterns (takes ownership of body): 0 or 7.
int AppendPatterns(void *body, DWORD size);

// ---- messages.cpp: the message table.
/// The text of message `number`, or the constant empty text.
const char *GetMessageText(DWORD number);
/// MessageBoxA with message 0 as caption, owned by the main window (if any).
int ShowMessage(const char *text, UINT style);
/// Writes message `number` into a 1024-byte buffer, "%s" replaced by `argument` and "%%"
/// by "%"; no other conversion. Cut to 1023 characters.
void ComposeMessage(char *buffer, DWORD number, const char *argument);
