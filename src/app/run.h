// The top floor: start-up, switches, the log file, the run sequence and teardown.
//
// Results: void where a step cannot fail or reports through the outcome log itself;
// RunUninstall returns the process exit code.
#pragma once
#include <windows.h>

// ---- run.cpp

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
/// Expands and splits the pre-removal command and, unless noExternal, starts the program.
void StartPreRemovalCommand(const char *command);
/// The pre-removal program and the removal passes, in their fixed order.
void RunRemoval();
/// Starts the deletion of the program and its folder after exit, and logs whether it did.
void ScheduleSelfDeletion();
/// Final teardown: OLE, path buffers, dialog font, visual-styles library.
void EndRun();
/// Lets go of the held folders and resets the run state to its start values (tests and
/// the tool's preview call it between runs).
void ResetRunState();
/// The whole run; returns the process exit code: 0, or -1 on a read or window failure;
/// with /S also 3010 (items left for the restart) or 1603 (listed items stayed).
int RunUninstall(HINSTANCE instance, const char *commandLine);

// ---- log_file.cpp
/// Opens the /LOG file, if one was given, and writes the header (program, switches,
/// start). A path that cannot be opened as a plain file of this run's own (held open by
/// another process, a link, a hard link, a folder) is not written to: the log goes to a new
/// file beside it (the path and ".1" to ".99"), and the Application event log says where.
/// Nothing else about the run changes.
void OpenRunLog(const char *switches);
