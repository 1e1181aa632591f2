// File attribute helpers shared by the passes.

#include "passes/actions.h"
#include "passes/passes.h"
#include "paths/paths.h"

bool IsAccessDeniedClass(DWORD error) {
  switch (error) {
    case 5:
    case 16:
    case 65:
    case 82:
    case 83:
    case 108:
    case 132:
    case 158:
    case 167:
      return true;
    default:
      return error >= 19 && error <= 36;
  }
}

void MakeWritable(const char *path) {
  DWORD attributes = QueryAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  ActSetAttributes(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

void MakeReadOnly(const char *path) {
  DWORD attributes = QueryAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  ActSetAttributes(path, attributes | FILE_ATTRIBUTE_READONLY);
}

namespace {
bool IsAbsentError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
}  // namespace

void NoteHeldFile(const char *path, unsigned char flags) {
  using namespace blockfmt;
  const DWORD attributes = QueryAttributes(path);
  char folder[kPathBuf];
  char resolved[kPathBuf];
  if (!g.silent || (flags & (FE_SHARED | FE_FONT | FE_SELFREG)) ||
      attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      !CopyBounded(folder, kPathBuf, path)) {
    NoteOutcome(path, OUTCOME_IN_USE);
    return;
  }
  // The system deletes by name at restart: a folder left then is removed only if empty.
  if (!ActScheduleAtRestart(path)) {
    NoteOutcome(path, OUTCOME_IN_USE, GetLastError());
    return;
  }
  NoteOutcome(path, OUTCOME_RESTART);
  if (!CutAtLastBackslash(folder)) return;
  if (ResolveUnprotected(folder, resolved) && !IsReparsePoint(resolved) &&
      ActScheduleAtRestart(resolved)) {
    NoteOutcome(resolved, OUTCOME_RESTART);
  }
}

void NoteFileDeletion(const char *path, BOOL deleted, unsigned char flags) {
  const DWORD error = deleted ? 0 : GetLastError();
  const DWORD attributes = deleted ? INVALID_FILE_ATTRIBUTES : QueryAttributes(path);
  if (deleted)
    NoteOutcome(path, OUTCOME_REMOVED);
  else if (IsAbsentError(error))
    NoteOutcome(path, OUTCOME_ABSENT);
  else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    NoteOutcome(path, OUTCOME_NOT_FILE);
  else if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
    NoteHeldFile(path, flags);
  else
    NoteOutcome(path, OUTCOME_FAILED, error);
}

void NoteFolderRemoval(const char *path, BOOL removed) {
  const DWORD error = removed ? 0 : GetLastError();
  if (removed)
    NoteOutcome(path, OUTCOME_REMOVED);
  else if (IsAbsentError(error))
    NoteOutcome(path, OUTCOME_ABSENT);
  else if (error == ERROR_DIR_NOT_EMPTY)
    NoteOutcome(path, OUTCOME_NOT_EMPTY);
  else
    NoteOutcome(path, OUTCOME_FAILED, error);
}
