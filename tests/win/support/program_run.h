// Runs a program of ours as a person would: its dialogs answered by rules.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "support/windows.h"

namespace testenv {

// Starts the program (in `currentDir`, null: this one's), answers its dialogs by the rules
// given to answers(), and kills it if it is still running when the object goes.
class ProgramRun {
 public:
  explicit ProgramRun(const std::string &commandLine, const char *currentDir = nullptr) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = commandLine;  // the call may write into it
    if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, currentDir, &startup,
                       &process_))
      answerer_.reset(new winui::DialogAnswerer(process_.dwProcessId));
  }
  ~ProgramRun() {
    if (!started()) return;
    Wait(0);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  bool started() const { return answerer_ != nullptr; }
  winui::DialogAnswerer &answers() { return *answerer_; }
  /// The exit code; 0xDEADBEEF when it did not start or did not end in time (it is then
  /// killed).
  DWORD Wait(DWORD timeoutMs = 60000) {
    DWORD code = 0xDEADBEEF;
    if (!started()) return code;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &code);
    else if (TerminateProcess(process_.hProcess, code))
      WaitForSingleObject(process_.hProcess, 5000);
    answerer_->Stop();
    return code;
  }

 private:
  PROCESS_INFORMATION process_ = {};
  std::unique_ptr<winui::DialogAnswerer> answerer_;
};

}  // namespace testenv
