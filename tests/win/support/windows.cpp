#include "support/windows.h"

#include <algorithm>

namespace winui {

namespace {

// Texts are read with a timeout so that a hung or dying process never stalls the caller,
// and once one read has gone unanswered (*answers false) the next ones are not tried: each
// would wait as long (Wine does not tell a hung thread).
std::string TextOf(HWND window, bool *answers) {
  char buffer[4096];
  DWORD_PTR length = 0;
  *answers = *answers &&
             SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer,
                                 reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 1000, &length);
  return *answers ? std::string(buffer, std::min<DWORD_PTR>(length, sizeof buffer - 1)) : "";
}

std::string ClassOf(HWND window) {
  char buffer[256];
  return std::string(buffer, GetClassNameA(window, buffer, sizeof buffer));  // 0 on failure
}

// A message box or dialog can become visible before its static texts are filled in; an
// empty text static (icons and bitmaps have no text) means it is not done yet.
bool TextsSet(const WindowInfo &info) {
  return std::none_of(info.controls.begin(), info.controls.end(), [](const ControlInfo &control) {
    const LONG type = control.style & SS_TYPEMASK;
    return _stricmp(control.className.c_str(), "Static") == 0 && type != SS_ICON &&
           type != SS_BITMAP && control.text.empty();
  });
}

// Visible top-level dialogs of `processId`. One closed meanwhile ends the search early;
// the next poll goes on.
std::vector<HWND> FindTopWindows(DWORD processId) {
  std::vector<HWND> found;
  for (HWND window = FindWindowExA(nullptr, nullptr, "#32770", nullptr); window;
       window = FindWindowExA(nullptr, window, "#32770", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId && IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

// Reads a window's caption and the class, text and style of each of its child controls.
WindowInfo ReadWindow(HWND window) {
  bool answers = true;
  WindowInfo info{TextOf(window, &answers), {}};
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    info.controls.push_back(
        {ClassOf(child), TextOf(child, &answers), GetWindowLongA(child, GWL_STYLE)});
  return info;
}

}  // namespace

bool WindowInfo::Contains(const std::string &text) const {
  return caption.find(text) != std::string::npos ||
         std::any_of(controls.begin(), controls.end(), [&text](const ControlInfo &control) {
           return control.text.find(text) != std::string::npos;
         });
}

ProgramRun::ProgramRun(const std::string &commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string line = commandLine;  // the call may write into it
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    process_ = {};  // a failed call promises nothing of what it filled in
    return;
  }
  thread_ = std::thread([this] {
    for (; !stop_; Sleep(20)) Poll();
  });
}

ProgramRun::~ProgramRun() {
  if (!process_.hProcess) return;
  Wait(0);
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

DWORD ProgramRun::Wait(DWORD timeoutMs) {
  DWORD code = 0xDEADBEEF;
  if (!process_.hProcess) return code;
  if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(process_.hProcess, &code);
  else if (TerminateProcess(process_.hProcess, code))
    WaitForSingleObject(process_.hProcess, 5000);
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return code;
}

void ProgramRun::Poll() {
  // Only this thread touches tracked_; the lock guards the rules and what was seen.
  for (auto t = tracked_.begin(); t != tracked_.end();)
    t = IsWindow(t->first) ? std::next(t) : tracked_.erase(t);
  for (HWND window : FindTopWindows(process_.dwProcessId)) {
    if (stop_) return;
    Tracked &t = tracked_.emplace(window, Tracked{GetTickCount(), -1, false}).first->second;
    if (t.answered) continue;
    // Read outside the lock: the reads wait on the dialog's thread.
    WindowInfo info = ReadWindow(window);
    if (!TextsSet(info) && GetTickCount() - t.firstSeen < 500) continue;  // settling
    std::lock_guard<std::mutex> hold(lock_);
    if (t.seenIndex < 0) {
      t.seenIndex = static_cast<int>(seen_.size());
      seen_.push_back(info);
    }
    auto rule = std::find_if(rules_.begin(), rules_.end(), [&info](const Rule &r) {
      return r.times != 0 && info.Contains(r.text);
    });
    if (rule == rules_.end()) continue;
    if (rule->times > 0) --rule->times;
    if (rule->meanwhile) rule->meanwhile();
    // Posted only, so that it never waits for the dialog's thread.
    PostMessageA(GetDlgItem(window, rule->buttonId), BM_CLICK, 0, 0);
    seen_[t.seenIndex] = info;
    t.answered = true;
  }
}

}  // namespace winui
