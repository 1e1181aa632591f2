// The folder passes: files named by folder entries, listed folders with their parents,
// and the folders that the file list leaves empty.
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "reach/held_path.h"
#include "ui/ui.h"

namespace {

// A parent of the install folder that a climb could not remove is kept from going by the
// program itself, at the latest: the self-deletion removes it after the program's folder,
// if it is empty by then.
void LeaveToSelfDeletion(const char *folder) {
  const DWORD length = TextLength(folder);
  const char *below = g.installDir + length;
  if (length < 3 || !StartsWithNoCase(g.installDir, folder) || *below != '\\') return;
  DWORD levels = 0;
  for (const char *p = below + 1; *p; p = NextCharacter(p))
    if (*p == '\\') ++levels;
  if (levels > g.parentLevels) g.parentLevels = levels;
}

// Removes `folder` (resolved) through its held parent and reports it; false when a link
// or a protected folder stopped it, which also stops the climb: removing a link would be
// harmless, but a climb that went on from it would work on a tree that the listed path
// only reaches through the link.
bool RemoveLevel(const char *folder) {
  Outcome refused;
  const BOOL removed = RemoveFolderHeld(folder, &refused);
  if (refused != OUTCOME_FAILED) {
    NoteOutcome(folder, refused);
    return false;
  }
  NoteFolderRemoval(folder, removed);
  if (!removed) LeaveToSelfDeletion(folder);
  return true;
}

void RemoveFolderLevels(FolderEntry *entry) {
  char *folder = entry->folder;
  char *second = entry->secondFolder;
  bool hasSecond = second && second[0];
  char resolved[kPathBuf];
  char resolvedSecond[kPathBuf];
  for (;;) {
    if (!ResolveUnprotected(folder, resolved)) return NoteOutcome(folder, OUTCOME_PROTECTED);
    if (hasSecond && !ResolveUnprotected(second, resolvedSecond))
      return NoteOutcome(second, OUTCOME_PROTECTED);
    // A folder that is current cannot be removed: step out of it first.
    char current[kPathBuf];
    DWORD length = GetCurrentDirectoryA(kPathBuf, current);
    if (length == 0 || length >= kPathBuf) current[0] = '\0';
    StripBackslash(current);
    if (EqualsNoCase(current, resolved)) SetCurrentDirectoryA("..");
    if (!RemoveLevel(resolved)) return;
    if (hasSecond) {
      if (EqualsNoCase(current, resolvedSecond)) SetCurrentDirectoryA("..");
      if (!RemoveLevel(resolvedSecond)) return;
    }

    if (entry->levels == 0) return;
    --entry->levels;
    if (!CutAtLastBackslash(folder)) return;
    if (hasSecond && !CutAtLastBackslash(second)) return;
  }
}

// The folder that held the file entry's file, in `path` (260 bytes); false when the
// entry gives no folder or its path would not fit.
bool BuildEntryFolder(const FileEntry *entry, char *path) {
  const char *folder = entry->folder ? entry->folder : "";
  if (!EntryFolderPath(path, folder)) return false;
  if (entry->name && entry->name[0]) {
    if (!JoinPath(path, kPathBuf, path, entry->name)) return false;
    // A name with backslashes in it leaves the file's own subfolder here.
    if (!CutAtLastBackslash(path)) return false;
  }
  StripBackslash(path);
  return true;
}

// The folder that the climb of file entry `index` starts from, in `path` (260 bytes); false
// when there is none: past the list, a font (its folder stays), or a path that would not fit.
bool ClimbStart(DWORD index, char *path) {
  const FileEntry *entry = g.files && index < g.fileCount ? g.files[index] : nullptr;
  return entry && !(entry->flags & blockfmt::FE_FONT) && BuildEntryFolder(entry, path);
}

// True when `next`, where the next climb starts ("" for none), lies inside `folder`: a
// removal of `folder` before that climb could only fail.
bool LiesInside(const char *next, const char *folder) {
  return StartsWithNoCase(next, folder) && next[TextLength(folder)] == '\\';
}

// Removes `path` (written as the entry gives it) and the folders above it while they come
// out empty; `own` when `path` held a listed file. A parent that `next` (where the next
// climb starts) lies in is not tried yet but left in `putOff`: it still holds that folder,
// and trying it would cost a removal attempt and the hold of it again for each folder inside.
void ClimbEmpty(char *path, bool own, const char *next, char *putOff) {
  for (;; own = false) {
    if (!own && LiesInside(next, path)) {
      CopyBounded(putOff, kPathBuf, path);
      return;
    }
    if (EqualsNoCase(path, putOff)) putOff[0] = '\0';  // reached: tried now
    char resolved[kPathBuf];
    if (!ResolveUnprotected(path, resolved)) return;
    // A folder that still holds something, or is gone, ends the climb without a word:
    // no folder of it was listed. A link stops it with its report, and any other error
    // on the folder that held the listed file leaves it behind for a reason: it is
    // reported. Above it the climb only tidies up, and the parent that is the current
    // folder cannot go anyway.
    Outcome refused;
    if (!RemoveFolderHeld(resolved, &refused)) {
      const DWORD error = GetLastError();
      if (refused != OUTCOME_FAILED && refused != OUTCOME_PROTECTED)
        NoteOutcome(resolved, refused);
      else if (refused == OUTCOME_FAILED && own && error != ERROR_DIR_NOT_EMPTY &&
               error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        NoteOutcome(resolved, OUTCOME_FAILED, error);
      return;
    }
    NoteOutcome(resolved, OUTCOME_REMOVED);
    if (!CutAtLastBackslash(path)) return;
  }
}

}  // namespace

void RemoveFolderFiles() {
  if (!g.folders) return;
  for (DWORD i = 0; i < g.folderCount; ++i) {
    FolderEntry *entry = g.folders[i];
    if (entry && entry->name && entry->name[0] && entry->folder) {
      char full[kPathBuf];
      Outcome refused = OUTCOME_FAILED;
      if (!JoinPath(g.scratchPath, kPathBuf, entry->folder, entry->name))
        NoteOutcome(entry->name, OUTCOME_FAILED, ERROR_FILENAME_EXCED_RANGE);
      else if (HoldFileFolder(g.scratchPath, full, &refused))
        NoteFileDeletion(g.scratchPath, DeleteFileHeld(full), 0, true);
      else if (refused != OUTCOME_FAILED)
        NoteOutcome(g.scratchPath, refused);
      else
        NoteFileDeletion(g.scratchPath, FALSE, 0, true);
    }
    ReportProgress(PROGRESS_FOLDER_FILES, i);
  }
}

void RemoveFolders() {
  if (!g.folders) return;
  for (DWORD i = 0; i < g.folderCount; ++i) {
    FolderEntry *entry = g.folders[i];
    if (entry && entry->folder && entry->folder[0]) RemoveFolderLevels(entry);
    ReportProgress(PROGRESS_FOLDERS, i);
  }
}

void RemoveEmptyFolders() {
  // Work from the install folder's parent, so no folder to be removed is current.
  StripBackslash(g.installDir);
  if (SetCurrentDirectoryA(g.installDir)) SetCurrentDirectoryA("..");
  AppendBackslash(g.installDir);

  // The folder of the last entry whose climb was tried. The next entry of the same folder
  // is passed over whether that try removed it or not: nothing in this pass puts files
  // back or takes them away in between, so a second try would only repeat the first.
  char lastTried[kPathBuf];
  lastTried[0] = '\0';
  char *path = g.scratchPath;
  char putOff[kPathBuf];
  putOff[0] = '\0';
  char next[kPathBuf];
  for (DWORD i = 0; g.files && i < g.fileCount; ++i) {
    if (!ClimbStart(i + 1, next)) next[0] = '\0';
    // Fonts stay registered elsewhere: their folders are left, but they count for progress.
    if (ClimbStart(i, path) && !EqualsNoCase(path, lastTried)) {
      CopyBounded(lastTried, kPathBuf, path);
      ClimbEmpty(path, true, next, putOff);
    }
    // A folder put off is tried once the entry after this one no longer lies in it.
    if (putOff[0] && !LiesInside(next, putOff)) {
      CopyBounded(path, kPathBuf, putOff);
      putOff[0] = '\0';
      ClimbEmpty(path, false, next, putOff);
    }
    ReportProgress(PROGRESS_EMPTY_FOLDERS, i);
  }
  AppendBackslash(g.installDir);
}
