// Runs a program of ours as a person would: its dialogs answered by rules.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/windows.h"

namespace testenv {

// Starts the program (in `currentDir`, null: this one's), answers its dialogs by the rules
// given to answers(), and kills it if it is still running when the object goes.
class ProgramRun {
 public:
  explicit ProgramRun(const std::string &commandLine, const char *currentDir = nullptr) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDir,
                              &startup, &process_);
    if (started_) answerer_ = new winui::DialogAnswerer(process_.dwProcessId);
  }
  ~ProgramRun() {
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(process_.hProcess, 0xDEADBEEF);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    delete answerer_;
  }
  bool started() const { return started_ != FALSE; }
  DWORD id() const { return process_.dwProcessId; }
  winui::DialogAnswerer &answers() { return *answerer_; }
  DWORD Wait(DWORD timeoutMs = 60000) {
    if (!started_) return 0xDEADBEEF;
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &code);
    else if (TerminateProcess(process_.hProcess, 0xDEADBEEF))
      WaitForSingleObject(process_.hProcess, 5000);
    answerer_->Stop();
    return code;
  }

 private:
  PROCESS_INFORMATION process_ = {};
  BOOL started_ = FALSE;
  winui::DialogAnswerer *answerer_ = nullptr;
};

}  // namespace testenv
