// Start-up, the command-line switches, the fixed run sequence and the teardown.
#include "app/run.h"

#include <ole2.h>

#include "data/data.h"
#include "external/external.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "reach/held_path.h"
#include "state/outcome.h"
#include "state/state.h"
#include "ui/ui.h"

namespace {
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD);
}  // namespace

// Limits every later load by bare name to the System folder: the program runs elevated
// from a folder that others may write to. Older systems lack the call; they keep the
// classic search order.
void RestrictDllSearch() {
  SetDefaultDllDirectoriesFn entry;
  if (FindSystemCall("kernel32.dll", "SetDefaultDllDirectories", entry))
    entry(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void DetectOsFamily() {
  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);  // a failed query leaves the platform id 0: the 9x family
#pragma GCC diagnostic pop
  g.isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

void InitRun(HINSTANCE instance) {
  g.instance = instance;
  g.filePromptAnswer = -1;  // ask: the state starts zeroed, which would mean "no to all"

  OleInitialize(nullptr);
  InitVisualStyles();
  AllocZeroedT(kPathBuf, &g.ownPath);
  AllocZeroedT(kPathBuf, &g.scratchPath);
  AllocZeroedT(kPathBuf, &g.installDir);
  if (!g.installDir) return;
  DWORD n = GetModuleFileNameA(instance, g.installDir, kPathBuf);
  if (n == 0 || n >= kPathBuf) {
    // A cut-off path would make the install folder another folder: leave it empty.
    g.installDir[0] = 0;
    return;
  }
  CutAtLastBackslash(g.installDir);
  AppendBackslash(g.installDir);
}

const char *ArgumentText(const char *commandLine) {
  const char *p = commandLine;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

namespace {

// Takes the value of /LOG= whole, quoted (up to the closing quote) or not (up to a blank),
// so that a '-' or '/' in the path starts no switch. A value that does not fit leaves no
// log rather than a log somewhere else. Returns the first character after the value.
const char *TakeLogPath(const char *p) {
  const char *start = p;
  const char *end;
  if (*p == '"') {
    start = ++p;
    while (*p && *p != '"') ++p;
    end = p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ') ++p;
    end = p;
  }
  const DWORD n = static_cast<DWORD>(end - start);
  g.logPath[0] = '\0';
  if (n < sizeof g.logPath) {
    CopyMemory(g.logPath, start, n);
    g.logPath[n] = '\0';
  }
  return p;
}

}  // namespace

void ParseSwitches(const char *text) {
  if (!text) return;
  const char *p = text;
  while (*p == ' ') ++p;
  while (*p == '-' || *p == '/') {
    char letter = p[1];
    if (letter == 0) return;
    if (StartsWithNoCase(p + 1, "LOG=")) {
      p = TakeLogPath(p + 5);
    } else if (StartsWithNoCase(p + 1, "LOG") && p[4] == ' ') {
      // "/LOG path" as well: a blank for the '=' must not lose the log without a word. A
      // next word that begins a switch is no path.
      const char *value = p + 4;
      while (*value == ' ') ++value;
      p = *value && *value != '/' && *value != '-' ? TakeLogPath(value) : p + 4;
    } else {
      if (letter == 'q' || letter == 'Q') g.quiet = 1;
      if (letter == 'x' || letter == 'X') g.noExternal = g.quiet = 1;
      // Deployment tools write /VERYSILENT where they mean silent.
      if (letter == 's' || letter == 'S' || StartsWithNoCase(p + 1, "VERYSILENT"))
        g.silent = g.quiet = 1;
      p += 2;
    }
    while (*p && *p != ' ' && *p != '-' && *p != '/') ++p;
    while (*p == ' ') ++p;
  }
}

void StartPreRemovalCommand(const char *command) {
  const char *p = command;
  if (*p == '"') ++p;
  while (*p == ' ') ++p;
  const DWORD k = static_cast<DWORD>(p - command);

  ScopedBlock<char> expanded;
  char *text = nullptr;
  if (*p == '#') {
    DWORD n = ExpandFolderMacros(nullptr, command, kExpandWorkSize);
    if (AllocZeroedT(n + 1, expanded.Receive())) {
      ExpandFolderMacros(expanded, command, n + 1);
      if (expanded[k] == '#' && TextLength(expanded) == TextLength(command)) {
        expanded.Reset();  // nothing changed: a relative command
      } else {
        text = expanded;
      }
    }
  }
  if (!text) {
    // Joined to the install folder; a command that would not fit is not started at all.
    if (!JoinPath(g.scratchPath, kPathBuf, g.installDir, command)) return;
    text = g.scratchPath;
  }

  char *program = text;
  const char *arguments = "";
  if (text[0] == '"') {
    char *close = nullptr;
    for (char *q = text + 1; *q; q = CharNextA(q))
      if (*q == '"') {
        close = q;
        break;
      }
    // A quoted path with nothing after it loses its quotes too: the start adds its own.
    if (close) {
      program = text + 1;
      while (*program == ' ') ++program;
      *close = 0;
      for (char *q = close - 1; q > program && *q == ' '; --q) *q = 0;
      char *args = close + 1;
      while (*args == ' ') ++args;
      arguments = args;
    }
  }
  if (!g.noExternal)
    ActStartProgram(program, arguments, (g.options->flags & blockfmt::OPT_WAIT) != 0);
}

void EndRun() {
  OleUninitialize();
  FreeAndNullT(&g.ownPath);
  FreeAndNullT(&g.installDir);
  FreeAndNullT(&g.scratchPath);
  ReleaseUiResources();
}

void ResetRunState() {
  ReleaseHeldPath();  // its handles would keep the folders they hold from going
  ZeroMemory(&g, sizeof g);
  g.filePromptAnswer = -1;
}

void RunRemoval() {
  if (const char *command = OptionText(g.options->preRemovalOffset))
    StartPreRemovalCommand(command);
  if (!g.quiet) CreateProgressDialog();
  RemoveFiles();
  RemoveWildcardMatches();
  if (g.progressDialog) SetStatusText(blockfmt::MSG_STATUS_FOLDERS);
  RemoveFolderFiles();
  RemoveFolders();
  if (g.progressDialog) SetStatusText(blockfmt::MSG_STATUS_EMPTY_FOLDERS);
  RemoveEmptyFolders();
  if (g.progressDialog) SetStatusText(blockfmt::MSG_STATUS_REGISTRY);
  DeleteRegistryEntries();
  // The held folders would keep the self-deletion script from removing the install folder.
  ReleaseHeldPath();
}

void ScheduleSelfDeletion() {
  // The path first: the 9x family's start rewrites installDir into its short form.
  char folder[kPathBuf];
  if (!CopyBounded(folder, kPathBuf, g.installDir)) folder[0] = '\0';
  const bool started = ActStartSelfDeletion();
  NoteEvent(started ? "scheduled-self-delete" : "self-delete-not-started", folder);
  // The parents that the script removes after the folder, each if empty by then.
  StripBackslash(folder);
  for (DWORD i = 0; started && i < g.parentLevels && CutAtLastBackslash(folder); ++i)
    NoteEvent("scheduled-self-delete", folder);
}

int RunUninstall(HINSTANCE instance, const char *commandLine) {
  // Before OLE or anything else loads a library by name from the program's folder.
  RestrictDllSearch();
  EnableRedirectionTrust();
  DetectOsFamily();
  g.elevated = RunsElevated() ? 1 : 0;
  InitRun(instance);
  ParseSwitches(commandLine);
  if (g.silent) {
    // Nobody is there to answer: the system's own boxes (a missing disk or library, a
    // crash) fail their call instead, and a read-only file that the author listed goes.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    g.filePromptAnswer = 1;
  }
  OpenRunLog(commandLine);
  if (!g.ownPath || !g.scratchPath || !g.installDir || !g.installDir[0]) return FinishRun(-1);
  if (!ReadRemovalData()) {
    NoteOutcome(g.ownPath, OUTCOME_UNREADABLE);
    return FinishRun(-1);
  }
  if (!(g.options->flags & blockfmt::OPT_THEMED_CONTROLS)) RestrictVisualStyles();
  // Nothing was removed: a silent run says so.
  if (!RegisterMainWindowClass()) return FinishRun(g.silent ? kExitFailed : 0);
  if (!CreateMainWindow()) return FinishRun(-1);

  int answer = IDOK;
  if (!g.quiet) {
    answer = ShowMessage(GetMessageText(blockfmt::MSG_CONFIRM), MB_OKCANCEL | MB_ICONINFORMATION);
    while (answer == IDOK && AnyFileInUse()) {
      NoteEvent("warned-in-use", g.scratchPath);  // the first listed file found held
      int retry = ShowMessage(GetMessageText(blockfmt::MSG_FILES_IN_USE),
                              MB_RETRYCANCEL | MB_ICONINFORMATION);
      // Only Retry tests again: a box that cannot be shown must not loop for ever.
      if (retry != IDRETRY) answer = IDCANCEL;
      NoteEvent("answered", retry == IDRETRY ? "retry" : "cancel");
    }
  }
  if (answer == IDOK) {
    RunRemoval();
    if (g.progressDialog) {
      DestroyWindow(g.progressDialog);
      g.progressDialog = g.progressBar = nullptr;
    }
    if (!g.quiet) ShowMessage(GetMessageText(blockfmt::MSG_FINISHED), MB_OK | MB_ICONINFORMATION);
    // The document is there to be read: a silent run has no reader, and opening it
    // could bring the shell's own choice of program to the screen.
    if (!g.noExternal && !g.silent)
      if (const char *document = OptionText(g.options->closingDocumentOffset))
        OpenClosingDocument(document, ".htm");
  } else {
    NoteOutcome("", OUTCOME_CANCELLED);
  }

  CloseMainWindow();
  FreeRemovalData();
  if (answer == IDOK && !g.noExternal) ScheduleSelfDeletion();
  EndRun();
  return FinishRun(0);
}
