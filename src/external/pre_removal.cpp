// The product's pre-removal program: started from its own folder, optionally waited for.
#include <windows.h>

#include "base/base.h"
#include "external/external.h"
#include "paths/paths.h"
#include "state/state.h"
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

bool LaunchProgram(const char *program, const char *arguments, HANDLE *process) {
  *process = nullptr;
  ScopedBlock<char> line, folders;
  if (!AllocZeroedT(kCommandLineBuf, line.Receive()) ||
      !AllocZeroedT(2 * kPathBuf, folders.Receive()))
    return false;
  char *savedFolder = folders;
  char *programFolder = folders + kPathBuf;

  bool started = false;
  // A command or program path that would not fit is not started at all: a shortened
  // one could name a different program.
  if (BuildCommandLine(line, program, arguments) && CopyBounded(programFolder, kPathBuf, program)) {
    DWORD savedLength = GetCurrentDirectoryA(kPathBuf, savedFolder);
    bool canRestore = savedLength > 0 && savedLength < kPathBuf;
    const char *startFolder = nullptr;
    bool changed = false;
    if (CutToFolder(programFolder)) {
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
    BOOL ok = CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                             startFolder, &startup, &info);
    if (changed) SetCurrentDirectoryA(savedFolder);
    if (ok) {
      ScopedHandle thread(info.hThread);
      *process = info.hProcess;
      started = true;
    }
  }
  return started;
}

// Asks the process object itself: an exit code of STILL_ACTIVE cannot be told from a
// program that is still running, the signalled handle can.
bool IsProcessRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

bool StartPreRemovalProgram(const char *program, const char *arguments, bool wait) {
  ScopedHandle process;
  if (!LaunchProgram(program, arguments, process.Receive())) return false;
  if (wait) {
    while (IsProcessRunning(process)) {
      PumpMessages();
      WaitForSingleObject(process, kWaitSliceMs);
    }
  }
  return true;
}

bool StartDetached(const char *program, char *commandLine, WORD show) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return false;
  ScopedHandle thread(info.hThread), process(info.hProcess);
  return true;
}

bool ActStartProgram(const char *program, const char *arguments, bool wait) {
  return g.holdBack ? g.holdBack->startProgram(program, arguments, wait)
                    : StartPreRemovalProgram(program, arguments, wait);
}
