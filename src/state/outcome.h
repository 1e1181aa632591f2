// The outcome recorder: what became of each entry, the tally behind a silent run's exit
// code, and the lines of the /LOG file once it is open (app/ opens it).
//
// Results: recording never fails the run; a line that cannot be written is left out.
#pragma once
#include <windows.h>

// ---- run_log.cpp
// What became of one entry that a pass met. Every pass reports each entry through
// NoteOutcome: the exit code of a silent run and the log both come from these reports.
enum Outcome {
  OUTCOME_REMOVED,
  OUTCOME_ABSENT,
  OUTCOME_KEPT_BY_ANSWER,
  OUTCOME_KEPT_BY_DEFAULT,  // a question that a silent run answers for itself
  OUTCOME_STILL_SHARED,     // other products still count on the file
  OUTCOME_KEPT_OTHER,       // a font list value that names another file: not the product's
  OUTCOME_NOT_EMPTY,        // a folder that still holds something
  OUTCOME_PROTECTED,
  OUTCOME_AT_LINK,     // a junction or symbolic link stopped the pass (fails the run)
  OUTCOME_ODD_NAME,    // a name the system would read as another one: never touched (fails)
  OUTCOME_IN_USE,      // held by another process and not scheduled: stays (fails the run)
  OUTCOME_NOT_FILE,    // a folder stands where a listed file should be: stays (fails)
  OUTCOME_NOT_LOADED,  // a library an elevated run may not load to unregister: stays (fails)
  OUTCOME_RESTART,     // scheduled for deletion at the next restart
  OUTCOME_FAILED,      // stays, with the system's error number (fails the run)
  OUTCOME_UNREADABLE,  // the removal data block could not be read
  OUTCOME_CANCELLED    // the confirmation or the in-use warning was cancelled
};
constexpr int kExitRestartNeeded = 3010;
constexpr int kExitFailed = 1603;

/// Counts the outcome for the exit code and, when a log is open, appends one line:
/// its keyword, ":error" when error is not 0, and the path or key.
void NoteOutcome(const char *pathOrKey, Outcome what, DWORD error = 0);
/// NoteOutcome for a registry entry: the root's name, a backslash and the path.
void NoteKeyOutcome(DWORD root, const char *path, Outcome what, DWORD error = 0);
/// Writes `head` and `text` as one line of the log, as they are (control characters as
/// '?'); nothing without a log.
void WriteLogLine(const char *head, const char *text);
/// The keyword of a log line as this run writes it (a held-back run has its own).
const char *LogKeyword(const char *keyword);
/// Appends a line for something the run did or was told that is no entry's outcome (the
/// in-use warning and its answer, the start of the self-deletion): keyword, blank, text.
void NoteEvent(const char *keyword, const char *text);
/// The final exit code (with /S: from the outcomes when `code` is 0); writes it as the
/// log's last line and closes the log.
int FinishRun(int code);
