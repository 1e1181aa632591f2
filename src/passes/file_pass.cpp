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

// A listed file as every step of the pass reaches it. On the NT family the file is opened
// once, relative to its held folder and never through a link: its attributes are read and
// changed through that handle, the locked-file test and the delete open it relative to the
// folder, and the delete takes it only while it is still that file. So the file checked is
// the file acted on. The 9x family has no links: there every step works on the name.
struct ListedFile {
  const char *path = nullptr;  // as listed: the log, the shared count, the font and the 9x family
  HANDLE folder = nullptr;     // its held folder; null on the 9x family
  const char *name = nullptr;  // its name in that folder
  ScopedHandle file;           // opened in that folder; null on the 9x family
};

// The write-access test: 0 when the file exists and is not read-only, else the system error
// (ERROR_ACCESS_DENIED for a read-only file, ERROR_DIRECTORY for a folder, which is no file
// that anything holds).
DWORD WriteAccessError(const ListedFile &listed) {
  DWORD attributes = QueryAttributes(listed.path, listed.file);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  return 0;
}

// Sets or clears the read-only bit, every other bit kept; failures are ignored.
void SetReadOnly(const ListedFile &listed, bool readOnly) {
  DWORD attributes = QueryAttributes(listed.path, listed.file);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  ActSetAttributes(listed.file, listed.path,
                   readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes);
}

bool CanOpenForWriting(const ListedFile &listed) {
  return ::CanOpenForWriting(listed.folder, listed.name, listed.path);
}

BOOL IsLocked(const ListedFile &listed) {
  DWORD error = WriteAccessError(listed);
  if (error == 0) return CanOpenForWriting(listed) ? FALSE : TRUE;
  if (!IsAccessDeniedClass(error)) return FALSE;
  SetReadOnly(listed, false);
  error = WriteAccessError(listed);
  if (error != 0 && IsAccessDeniedClass(error)) return TRUE;
  bool opened = CanOpenForWriting(listed);
  SetReadOnly(listed, true);
  return opened ? FALSE : TRUE;
}

BOOL DeleteListed(const ListedFile &listed) {
  if (!listed.folder) return ActDeleteFile(listed.path);
  return DeleteHeldFile(listed.folder, listed.name, 0,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, listed.file);
}

// Opens the listed file at `path` (resolved as `full`, whose folder HoldFileFolder holds)
// for the steps; returns the system error of that open (0 when opened, and always on the
// 9x family, which has nothing to open).
DWORD OpenListed(const char *path, const char *full, ListedFile *listed) {
  listed->path = path;
  if (!g.isNT) return 0;
  listed->folder = HeldLevel(0);
  listed->name = LastName(full);
  return OpenHeldFile(listed->folder, listed->name, listed->file.Receive());
}

const char kSharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

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

void DeleteAndRetry(const ListedFile &listed, unsigned char flags) {
  const char *path = listed.path;
  for (;;) {
    if (DeleteListed(listed)) return NoteOutcome(path, OUTCOME_REMOVED);
    const DWORD deleteError = GetLastError();
    if (!IsAccessDeniedClass(deleteError)) {
      SetLastError(deleteError);
      return NoteFileDeletion(path, FALSE, flags, true);
    }
    DWORD error = WriteAccessError(listed);
    if (error == 0 || !IsAccessDeniedClass(error)) {
      SetLastError(deleteError);
      return NoteFileDeletion(path, FALSE, flags, true);
    }
    if ((flags & (FE_FONT | FE_SELFREG)) || g.filePromptAnswer == 1) {
      SetReadOnly(listed, false);
      return NoteFileDeletion(path, DeleteListed(listed), flags, true);
    }
    if (g.filePromptAnswer == 0) return NoteOutcome(path, OUTCOME_KEPT_BY_ANSWER);
    int answer = AskDeleteFile(path);
    if (answer == IDC_PROMPT_YES_ALL) {
      g.filePromptAnswer = 1;
      SetReadOnly(listed, false);
      return NoteFileDeletion(path, DeleteListed(listed), flags, true);
    }
    if (answer == IDC_PROMPT_NO_ALL) g.filePromptAnswer = 0;
    if (answer != IDYES) return NoteOutcome(path, OUTCOME_KEPT_BY_ANSWER);
    // The next delete decides: a file still read-only comes back to the prompt.
    SetReadOnly(listed, false);
  }
}

// A library's own DllUnregisterServer runs with this run's rights. An elevated run loads
// it only from a path that no standard user can change (nor the file: it is checked as a
// folder of the path is); anywhere else a user could have put his code there.
bool MayLoad(const ListedFile &listed) {
  if (!g.elevated) return true;
  if (!g.isNT || !HeldPathIsAdminOnly()) return false;
  // A link in the file's place would load whatever it leads to.
  const DWORD attributes = QueryAttributes(listed.path, listed.file);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         HandleIsAdminOnly(listed.file, kPathChangeRights);
}

// The full steps for a file that the plain delete did not take: the locked-file test,
// the shared count, the font, the registration, the delete with its prompt. `openError` is
// the system error of the file's open in its held folder (0: opened, and always on the 9x
// family): a file not there still has its shared count counted down; one that another
// process holds so that not even this open is let in is locked.
void RemoveListedFile(const ListedFile &listed, unsigned char flags, DWORD openError) {
  const char *path = listed.path;
  const bool missing = openError == ERROR_FILE_NOT_FOUND;
  if (openError && !missing && !IsAccessDeniedClass(openError))
    return NoteOutcome(path, OUTCOME_FAILED, openError);
  if (!openError && WriteAccessError(listed) == ERROR_DIRECTORY) {
    // A folder where the file should be is not the file: no count, font or
    // registration of the file is touched, and it is no file held by another process.
    return NoteOutcome(path, OUTCOME_NOT_FILE);
  }
  bool locked = openError ? !missing : IsLocked(listed) != FALSE;
  bool ok = !locked;
  Outcome kept = OUTCOME_IN_USE;
  if (ok && !missing && (flags & FE_SELFREG) && !MayLoad(listed))
    return NoteOutcome(path, OUTCOME_NOT_LOADED);
  if (flags & FE_SHARED) ok = UpdateSharedCount(path, ok, locked, &kept);
  if (ok && missing) {
    // Nothing to load, and no name to read: only the font resource that the system may
    // still hold by that path goes.
    if (flags & FE_FONT) {
      ActRemoveFont(path);
      ActBroadcastFontChange();
    }
    NoteOutcome(path, OUTCOME_ABSENT);
  } else if (ok) {
    if (flags & FE_FONT) RemoveFont(path, listed.file);
    if (flags & FE_SELFREG) ActUnregister(path);
    DeleteAndRetry(listed, flags);
  } else if (kept == OUTCOME_IN_USE) {
    KeepOrScheduleHeldFile(path, flags, true);
  } else {
    NoteOutcome(path, kept);
  }
}

// The common entry, a plain file that nothing holds, in few system calls: opened as the
// locked-file test opens it, plus delete access, through its held folder, and deleted
// through that handle. The answers are those of the full steps: the open succeeds only
// where the test's open would, and never for a read-only file or a folder; a link is
// opened as itself, so only its name goes, as DeleteFileA would do. The file opened is
// the file that goes. True when done; false, with the last error, leaves everything to the
// full steps (or, for a file not there, decides).
bool DeletePlainFile(const char *full) {
  return DeleteHeldFile(HeldLevel(0), LastName(full), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ) != FALSE;
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
  char full[kPathBuf];
  ListedFile listed;
  Outcome refused;
  if (!HoldFileFolder(path, full, &refused)) return FALSE;
  if (const DWORD error = OpenListed(path, full, &listed)) {
    // Held open by another process without read sharing: locked whatever else it is.
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
  }
  // A folder in a file's place is no file that anything holds.
  return WriteAccessError(listed) != ERROR_DIRECTORY && IsLocked(listed);
}

BOOL AnyFileInUse() {
  BOOL any = FALSE;
  for (DWORD i = 0; i < g.fileCount && !any; ++i) {
    const FileEntry *entry = g.files[i];
    if (entry->name[0] == '\0' || !(entry->flags & FE_CHECK_IN_USE)) continue;
    if (!BuildFilePath(entry)) continue;
    any = IsFileLocked(g.scratchPath);
  }
  // The warning that follows waits for a person: nothing is held meanwhile.
  ReleaseHeldPath();
  return any;
}

void RemoveFiles() {
  for (DWORD k = 0; k < g.fileCount; ++k) {
    const FileEntry *entry = g.files[g.fileCount - 1 - k];
    char *path = g.scratchPath;
    char full[kPathBuf];
    Outcome refused = OUTCOME_FAILED;
    // A file with nothing to do but the delete (the NT family) goes the short way.
    const bool plain = g.isNT && !(entry->flags & (FE_SHARED | FE_FONT | FE_SELFREG));
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
    } else if (plain && DeletePlainFile(full)) {
      NoteOutcome(path, OUTCOME_REMOVED);
    } else if (plain && GetLastError() == ERROR_FILE_NOT_FOUND) {
      // The first "not found" decides: nothing of a plain file is left to do.
      NoteOutcome(path, OUTCOME_ABSENT);
    } else {
      ListedFile listed;
      const DWORD openError = OpenListed(path, full, &listed);
      RemoveListedFile(listed, entry->flags, openError);
    }
    ReportProgress(PROGRESS_FILES, k);
  }
}
