// Run control: start-up, switches, the run sequence and teardown.
#pragma once
#include <windows.h>

/// Limits loads by bare name to the System folder, where the system has the call.
void RestrictDllSearch();
/// Fills g.isNT from the version query (0 when the query fails).
void DetectOsFamily();
/// Start-up: OLE, visual styles, the three path buffers, installDir. Always succeeds.
void InitRun(HINSTANCE instance);
/// The argument text of a full command line: what follows the program's name as the
/// platform parses it (a quoted name up to its closing quote, else up to the first blank
/// or tab, whatever bytes it holds), blanks and tabs after it skipped.
const char *ArgumentText(const char *commandLine);
/// Scans the argument text for /Q, /X, /S (also /VERYSILENT) and /LOG=path (either case,
/// '-' or '/'). Null or empty: none.
void ParseSwitches(const char *text);
/// Expands and splits the pre-removal command and starts it unless noExternal.
void PreparePreRemovalCommand(const char *command);
/// The pre-removal program and the removal passes, in their fixed order.
void RunRemoval();
/// Starts the deletion of the program and its folder after exit, and logs whether it did.
void ScheduleSelfDeletion();
/// Final teardown: OLE, path buffers, dialog font, visual-styles library.
void EndRun();
/// The whole run; returns the process exit code: 0, or -1 on a read or window failure;
/// with /S also 3010 (items left for the restart) or 1603 (listed items stayed).
int RunUninstall(HINSTANCE instance, const char *commandLine);

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
/// Appends a line for something the run did or was told that is no entry's outcome (the
/// in-use warning and its answer, the start of the self-deletion): keyword, blank, text.
void NoteEvent(const char *keyword, const char *text);
/// Opens the /LOG file, if one was given, and writes the header (program, switches,
/// start). A path that cannot be opened as a plain file of this run's own (held open by
/// another process, a link, a hard link, a folder) is not written to: the log goes to a new
/// file beside it (the path and ".1" to ".99"), and the Application event log says where.
/// Nothing else about the run changes.
void OpenRunLog(const char *switches);
/// The final exit code (with /S: from the outcomes when `code` is 0); writes it as the
/// log's last line and closes the log.
int FinishRun(int code);
