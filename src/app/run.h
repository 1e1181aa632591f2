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
/// Scans the argument text for /Q and /X (either case, '-' or '/'). Null or empty: none.
void ParseSwitches(const char *text);
/// Expands and splits the pre-removal command and starts it unless noExternal.
void PreparePreRemovalCommand(const char *command);
/// Final teardown: OLE, path buffers, dialog font, visual-styles library.
void EndRun();
/// The whole run; returns the process exit code (0, or -1 on a read or window failure).
int RunUninstall(HINSTANCE instance, const char *commandLine);
