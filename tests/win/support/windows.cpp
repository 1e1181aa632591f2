#include "support/windows.h"

#include <commctrl.h>

#include <algorithm>

namespace winui {

namespace {

// Texts are read with a timeout so that a hung or dying process never stalls the caller.
std::string TextOf(HWND window) {
  char buffer[4096];
  DWORD_PTR length = 0;
  return SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 1000, &length)
             ? std::string(buffer, std::min<DWORD_PTR>(length, sizeof buffer - 1))
             : "";
}

std::string ClassOf(HWND window) {
  char buffer[256];
  int n = GetClassNameA(window, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

struct FindContext {
  DWORD processId;
  const char *className;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM param) {
  FindContext *context = reinterpret_cast<FindContext *>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == context->processId && IsWindowVisible(window) &&
      (!context->className || _stricmp(ClassOf(window).c_str(), context->className) == 0))
    context->found.push_back(window);
  return TRUE;
}

// A message box or dialog can become visible before its static texts are filled in; an
// empty text static (icons and bitmaps have no text) means it is not done yet.
bool TextsSet(const WindowInfo &info) {
  for (const ControlInfo &control : info.controls) {
    const LONG type = control.style & SS_TYPEMASK;
    if (_stricmp(control.className.c_str(), "Static") == 0 && type != SS_ICON &&
        type != SS_BITMAP && control.text.empty())
      return false;
  }
  return true;
}

}  // namespace

const ControlInfo *WindowInfo::Control(int id) const {
  for (const ControlInfo &control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

bool WindowInfo::Contains(const std::string &text) const {
  return caption.find(text) != std::string::npos ||
         std::any_of(controls.begin(), controls.end(), [&text](const ControlInfo &control) {
           return control.text.find(text) != std::string::npos;
         });
}

std::string WindowInfo::Describe() const {
  std::string out = "window class=" + className + " caption=\"" + caption + "\"" +
                    (visible ? "" : " hidden") + "\n";
  for (const ControlInfo &control : controls) {
    out += "  control id=" + std::to_string(control.id) + " class=" + control.className +
           " text=\"" + control.text + "\"";
    if (control.progressPos >= 0) out += " pos=" + std::to_string(control.progressPos);
    out += "\n";
  }
  return out;
}

int CountShown(const std::vector<WindowInfo> &seen, const std::string &text) {
  return static_cast<int>(std::count_if(seen.begin(), seen.end(),
                                        [&text](const WindowInfo &w) { return w.Contains(text); }));
}

std::string DescribeAll(const std::vector<WindowInfo> &seen) {
  std::string out;
  for (const WindowInfo &w : seen) out += w.Describe();
  return out;
}

WindowInfo ReadWindow(HWND window) {
  WindowInfo info;
  info.window = window;
  info.className = ClassOf(window);
  info.caption = TextOf(window);
  info.visible = IsWindowVisible(window) != FALSE;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ControlInfo control;
    control.id = GetDlgCtrlID(child);
    control.className = ClassOf(child);
    control.text = TextOf(child);
    control.style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(control.className.c_str(), PROGRESS_CLASSA) == 0) {
      DWORD_PTR pos = 0;
      if (SendMessageTimeoutA(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos))
        control.progressPos = static_cast<int>(pos);
    }
    info.controls.push_back(control);
  }
  return info;
}

std::vector<HWND> FindTopWindows(DWORD processId, const char *className) {
  FindContext context = {processId ? processId : GetCurrentProcessId(), className, {}};
  EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

HWND WaitForWindow(DWORD processId, const char *className, const std::string &text,
                   DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND window : FindTopWindows(processId, className))
      if (ReadWindow(window).Contains(text)) return window;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(20);
  }
}

bool PressOn(HWND dialog, Press how, int buttonId) {
  if (how == Press::Close) return PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (how == Press::Enter || how == Press::Escape) {
    // The key goes where a person's key press would: to the focused control.
    HWND target = dialog;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
      target = info.hwndFocus;
    const WPARAM key = how == Press::Enter ? VK_RETURN : VK_ESCAPE;
    const LPARAM down = 1 | (MapVirtualKeyA(static_cast<UINT>(key), 0) << 16);
    return PostMessageA(target, WM_KEYDOWN, key, down) &&
           PostMessageA(target, WM_KEYUP, key, down | 0xC0000000u);
  }
  HWND button = GetDlgItem(dialog, buttonId);
  if (!button) return false;
  if (how == Press::Click) return PostMessageA(button, BM_CLICK, 0, 0);
  return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button));
}

DialogAnswerer::DialogAnswerer(DWORD processId)
    : processId_(processId ? processId : GetCurrentProcessId()), thread_([this] {
        for (; !stop_; Sleep(20)) Poll();
      }) {}

void DialogAnswerer::Answer(const std::string &text, Press how, int buttonId, int times) {
  std::lock_guard<std::mutex> hold(lock_);
  rules_.push_back({text, how, buttonId, times});
}

std::vector<WindowInfo> DialogAnswerer::Seen() {
  std::lock_guard<std::mutex> hold(lock_);
  return seen_;
}

void DialogAnswerer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void DialogAnswerer::Poll() {
  // Only this thread touches tracked_; the lock guards the rules and what was seen.
  tracked_.erase(std::remove_if(tracked_.begin(), tracked_.end(),
                                [](const Tracked &t) { return !IsWindow(t.window); }),
                 tracked_.end());
  for (HWND window : FindTopWindows(processId_)) {
    if (stop_) return;
    auto t = std::find_if(tracked_.begin(), tracked_.end(),
                          [window](const Tracked &t) { return t.window == window; });
    if (t == tracked_.end()) t = tracked_.insert(t, {window, GetTickCount(), -1, false});
    if (t->answered) continue;
    // Read outside the lock: the reads wait on the dialog's thread.
    WindowInfo info = ReadWindow(window);
    if (!TextsSet(info) && GetTickCount() - t->firstSeen < 500) continue;  // settling
    std::lock_guard<std::mutex> hold(lock_);
    if (t->seenIndex < 0) {
      t->seenIndex = static_cast<int>(seen_.size());
      seen_.push_back(info);
    }
    for (Rule &rule : rules_) {
      if (rule.times == 0 || !info.Contains(rule.text)) continue;
      if (rule.times > 0) --rule.times;
      PressOn(window, rule.how, rule.buttonId);
      seen_[t->seenIndex] = info;
      t->answered = true;
      break;
    }
  }
}

}  // namespace winui
