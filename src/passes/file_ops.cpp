// File attribute helpers shared by the passes.

#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "reach/held_path.h"

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

namespace {
bool IsAbsentError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
}  // namespace

void KeepOrScheduleHeldFile(const char *path, unsigned char flags, bool listed) {
  using namespace blockfmt;
  const DWORD attributes = QueryAttributes(path);
  char folder[kPathBuf];
  char resolved[kPathBuf];
  Outcome refused;
  // The system deletes by name at restart, through whatever the folders of the path are
  // by then: only a listed file whose every folder no standard user can change is left to
  // it, never one that a walk found.
  if (!g.silent || !listed || (flags & (FE_SHARED | FE_FONT | FE_SELFREG)) ||
      attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      (g.isNT && (!HoldFileFolder(path, folder, &refused) || !HeldPathIsAdminOnly())) ||
      !CopyBounded(folder, kPathBuf, path)) {
    NoteOutcome(path, OUTCOME_IN_USE);
    return;
  }
  if (!ActScheduleAtRestart(path)) {
    NoteOutcome(path, OUTCOME_IN_USE, GetLastError());
    return;
  }
  NoteOutcome(path, OUTCOME_RESTART);
  // Then its folder, which is left only if empty; the held folder is the one judged above.
  if (!CutAtLastBackslash(folder)) return;
  if (ResolveUnprotected(folder, resolved) && (!g.isNT || !IsProtectedIdentity(HeldLevel(0))) &&
      ActScheduleAtRestart(resolved)) {
    NoteOutcome(resolved, OUTCOME_RESTART);
  }
}

void NoteFileDeletion(const char *path, BOOL deleted, unsigned char flags, bool listed) {
  const DWORD error = deleted ? 0 : GetLastError();
  // A file not there needs no second look.
  const DWORD attributes =
      deleted || IsAbsentError(error) ? INVALID_FILE_ATTRIBUTES : QueryAttributes(path);
  if (deleted)
    NoteOutcome(path, OUTCOME_REMOVED);
  else if (IsAbsentError(error))
    NoteOutcome(path, OUTCOME_ABSENT);
  else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    NoteOutcome(path, OUTCOME_NOT_FILE);
  else if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
    KeepOrScheduleHeldFile(path, flags, listed);
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
