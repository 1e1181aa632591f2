// The product's pre-removal program: started from its own folder, optionally waited for.
#include <windows.h>

#include "external/blocks.h"
#include "external/external.h"
#include "paths/paths.h"
#include "ui/ui.h"

namespace {

constexpr DWORD kCommandLineBuf = 520;
constexpr DWORD kWaitSliceMs = 200;

// "\"program\"" plus " arguments" when there are any; false when it would not fit.
bool BuildCommandLine(char *line, const char *program, const char *arguments) {
  if (!CopyBounded(line, kCommandLineBuf, "\"") || !AppendBounded(line, kCommandLineBuf, program) ||
      !AppendBounded(line, kCommandLineBuf, "\""))
    return false;
  if (arguments && *arguments) {
    if (!AppendBounded(line, kCommandLineBuf, " ") ||
        !AppendBounded(line, kCommandLineBuf, arguments))
      return false;
  }
  return true;
}

}  // namespace

int LaunchProgram(const char *program, const char *arguments, HANDLE *process) {
  *process = NULL;
  char *line = AllocBlock(kCommandLineBuf);
  if (!line) return 0;
  char *folders = AllocBlock(2 * kPathBuf);
  if (!folders) {
    FreeBlock(line);
    return 0;
  }
  char *savedFolder = folders;
  char *programFolder = folders + kPathBuf;

  int started = 0;
  // A command or program path that would not fit is not started at all: a shortened
  // one could name a different program.
  if (BuildCommandLine(line, program, arguments) && CopyBounded(programFolder, kPathBuf, program)) {
    DWORD savedLength = GetCurrentDirectoryA(kPathBuf, savedFolder);
    bool canRestore = savedLength > 0 && savedLength < kPathBuf;
    char *lastBackslash = FindLastBackslash(programFolder);
    const char *startFolder = NULL;
    bool changed = false;
    if (lastBackslash) {
      // Keep "C:\" whole: "C:" alone would mean the drive's current folder.
      if (lastBackslash == programFolder + 2 && programFolder[1] == ':')
        lastBackslash[1] = '\0';
      else
        *lastBackslash = '\0';
      // Without a saved folder to return to, ours is left alone and the program is
      // given its folder directly.
      if (canRestore)
        changed = SetCurrentDirectoryA(programFolder) != 0;
      else
        startFolder = programFolder;
    }

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    BOOL ok = CreateProcessA(NULL, line, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS, NULL, startFolder,
                             &startup, &info);
    if (changed) SetCurrentDirectoryA(savedFolder);
    if (ok) {
      CloseHandle(info.hThread);
      *process = info.hProcess;
      started = 1;
    }
  }
  FreeBlock(folders);
  FreeBlock(line);
  return started;
}

// Asks the process object itself: an exit code of STILL_ACTIVE cannot be told from a
// program that is still running, the signalled handle can.
int IsProcessRunning(HANDLE process) {
  return WaitForSingleObject(process, 0) == WAIT_TIMEOUT ? 1 : 0;
}

int StartPreRemovalProgram(const char *program, const char *arguments, int wait) {
  HANDLE process = NULL;
  if (!LaunchProgram(program, arguments, &process)) return 0;
  if (wait) {
    while (IsProcessRunning(process)) {
      PumpMessages();
      WaitForSingleObject(process, kWaitSliceMs);
    }
  }
  CloseHandle(process);
  return 1;
}

bool StartDetached(const char *program, char *commandLine, WORD show) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}
