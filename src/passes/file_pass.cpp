// The file pass: shared counts, fonts, self-unregistration, read-only files, folder entries.
#include "data/data.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "reach/held_path.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

using blockfmt::FE_CHECK_IN_USE;
using blockfmt::FE_FONT;
using blockfmt::FE_SELFREG;
using blockfmt::FE_SHARED;

namespace {

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// The write-access test: 0 when the file exists and is not read-only, else the system error
// (ERROR_ACCESS_DENIED for a read-only file, ERROR_DIRECTORY for a folder, which is no file
// that anything holds).
DWORD WriteAccessError(const char *path) {
  DWORD attributes = QueryAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  return 0;
}

// Counts the shared file's use down; returns false when the file must stay, with the
// reason in *kept (left as it was when only the lock keeps it).
bool UpdateSharedCount(const char *path, bool ok, bool locked, Outcome *kept) {
  ScopedKey key;
  const bool keyOpen = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_ALL_ACCESS,
                                     key.Receive()) == ERROR_SUCCESS;
  bool recorded = false;
  if (keyOpen) {
    DWORD count = 1;
    DWORD type = 0;
    DWORD size = sizeof(count);
    if (QueryValue(key, path, &type, reinterpret_cast<BYTE *>(&count), &size) == ERROR_SUCCESS) {
      recorded = true;
      if (count >= 1) {
        --count;
        if (count != 0) {
          ok = false;  // other products still use the file
          *kept = OUTCOME_STILL_SHARED;
        }
      }
      if (!(locked && count == 0)) {
        ActSetValue(key, path, type, reinterpret_cast<const BYTE *>(&count), size);
      }
    }
  }
  if (ok && g.silent && !recorded) {
    ok = false;  // with no count recorded its other users are unknown
    *kept = OUTCOME_KEPT_BY_DEFAULT;
  } else if (ok && !g.silent) {
    ScopedBlock<char> text;
    if (AllocZeroedT(blockfmt::kComposedMax, text.Receive())) {
      ComposeMessage(text, blockfmt::MSG_SHARED_FILE, path);
      if (text[0] != '\0' && ShowMessage(text, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        ok = false;
        *kept = OUTCOME_KEPT_BY_ANSWER;
      }
    }
  }
  if (keyOpen && ok) ActDeleteValue(key, path);
  return ok;
}

// `full` is the path resolved, whose folder the pass holds: every delete goes through it.
void DeleteAndRetry(const char *path, const char *full, unsigned char flags) {
  for (;;) {
    if (DeleteFileHeld(full)) return NoteOutcome(path, OUTCOME_REMOVED);
    const DWORD deleteError = GetLastError();
    if (!IsAccessDeniedClass(deleteError)) {
      SetLastError(deleteError);
      return NoteFileDeletion(path, FALSE, flags, true);
    }
    DWORD error = WriteAccessError(path);
    if (error == 0 || !IsAccessDeniedClass(error)) {
      SetLastError(deleteError);
      return NoteFileDeletion(path, FALSE, flags, true);
    }
    if ((flags & (FE_FONT | FE_SELFREG)) || g.filePromptAnswer == 1) {
      MakeWritable(path);
      return NoteFileDeletion(path, DeleteFileHeld(full), flags, true);
    }
    if (g.filePromptAnswer == 0) return NoteOutcome(path, OUTCOME_KEPT_BY_ANSWER);
    int answer = AskDeleteFile(path);
    if (answer == IDC_PROMPT_YES_ALL) {
      g.filePromptAnswer = 1;
      MakeWritable(path);
      return NoteFileDeletion(path, DeleteFileHeld(full), flags, true);
    }
    if (answer == IDC_PROMPT_NO_ALL) g.filePromptAnswer = 0;
    if (answer != IDYES) return NoteOutcome(path, OUTCOME_KEPT_BY_ANSWER);
    // The next delete decides: a file still read-only comes back to the prompt.
    MakeWritable(path);
  }
}

// The common entry, a plain file that nothing holds, in few system calls: opened as the
// locked-file test opens it, plus delete access, through its held folder, and deleted
// through that handle. The answers are those of the full steps: the open succeeds only
// where the test's open would, and never for a read-only file or a folder; a link is
// opened as itself, so only its name goes, as DeleteFileA would do. The file opened is
// the file that goes. True when done; false leaves everything to the full steps.
bool DeletePlainFile(const char *full, unsigned char flags) {
  if (!g.isNT || (flags & (FE_SHARED | FE_FONT | FE_SELFREG))) return false;
  return DeleteHeldFile(HeldLevel(0), FindLastBackslash(const_cast<char *>(full)) + 1,
                        GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ) != FALSE;
}

}  // namespace

bool BuildFilePath(const FileEntry *entry) {
  char *path = g.scratchPath;
  const char *folder = entry->folder;
  bool fits = EntryFolderPath(path, folder);
  if (fits && entry->name[0] != '\0') fits = JoinPath(path, kPathBuf, path, entry->name);
  // A path cut short could name another file: leave nothing usable behind.
  if (!fits) path[0] = '\0';
  return fits;
}

BOOL IsFileLocked(const char *path) {
  DWORD error = WriteAccessError(path);
  if (error == 0) return CanOpenForWriting(path) ? FALSE : TRUE;
  if (!IsAccessDeniedClass(error)) return FALSE;
  MakeWritable(path);
  error = WriteAccessError(path);
  if (error != 0 && IsAccessDeniedClass(error)) return TRUE;
  bool opened = CanOpenForWriting(path);
  MakeReadOnly(path);
  return opened ? FALSE : TRUE;
}

BOOL AnyFileInUse() {
  for (DWORD i = 0; i < g.fileCount; ++i) {
    const FileEntry *entry = g.files[i];
    if (entry->name[0] == '\0' || !(entry->flags & FE_CHECK_IN_USE)) continue;
    if (!BuildFilePath(entry)) continue;
    if (IsFileLocked(g.scratchPath)) return TRUE;
  }
  return FALSE;
}

void RemoveFiles() {
  for (DWORD k = 0; k < g.fileCount; ++k) {
    const FileEntry *entry = g.files[g.fileCount - 1 - k];
    char *path = g.scratchPath;
    char full[kPathBuf];
    Outcome refused = OUTCOME_FAILED;
    if (!BuildFilePath(entry)) {
      NoteOutcome(entry->name, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE);
    } else if (entry->name[0] == '\0') {
      char resolved[kPathBuf];
      if (!ResolveUnprotected(path, resolved)) {
        NoteOutcome(path, OUTCOME_PROTECTED);
      } else {
        const BOOL removed = RemoveFolderHeld(resolved, &refused);
        if (refused != OUTCOME_FAILED)
          NoteOutcome(resolved, refused);
        else
          NoteFolderRemoval(resolved, removed);
      }
    } else if (!HoldFileFolder(path, full, &refused)) {
      // Behind a link that a standard user could have made, the entry would reach whatever
      // the link points at: it stays, with its shared count, font and registration.
      if (refused != OUTCOME_FAILED)
        NoteOutcome(path, refused);
      else
        NoteFileDeletion(path, FALSE, entry->flags, true);
    } else if (DeletePlainFile(full, entry->flags)) {
      NoteOutcome(path, OUTCOME_REMOVED);
    } else if (WriteAccessError(path) == ERROR_DIRECTORY) {
      // A folder where the file should be is not the file: no count, font or
      // registration of the file is touched, and it is no file held by another process.
      NoteOutcome(path, OUTCOME_NOT_FILE);
    } else {
      bool locked = IsFileLocked(path) != FALSE;
      bool ok = !locked;
      Outcome kept = OUTCOME_IN_USE;
      if (entry->flags & FE_SHARED) ok = UpdateSharedCount(path, ok, locked, &kept);
      if (ok) {
        if (entry->flags & FE_FONT) RemoveFont(path);
        if (entry->flags & FE_SELFREG) ActUnregister(path);
        DeleteAndRetry(path, full, entry->flags);
      } else if (kept == OUTCOME_IN_USE) {
        KeepOrScheduleHeldFile(path, entry->flags, true);
      } else {
        NoteOutcome(path, kept);
      }
    }
    ReportProgress(PROGRESS_FILES, k);
  }
}
