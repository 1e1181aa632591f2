// Runs a program of ours as a person would: its message boxes and dialogs answered by
// rules, and what they showed recorded.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace winui {

struct ControlInfo {
  std::string className;
  std::string text;
  LONG style = 0;
};

struct WindowInfo {
  std::string caption;
  std::vector<ControlInfo> controls;

  /// True when the caption or a control text contains `text` (an empty text always).
  bool Contains(const std::string &text) const;
};

/// Starts a program and answers its dialogs (class #32770) as a person would, from a
/// background thread, each by the first rule that matches it. A dialog can be shown before
/// its texts are set, so one with an empty static text is read again on each poll for up to
/// 500 ms before rules are tried, and one that no rule matches is read again on each poll
/// until one does (a rule added later still answers it). Every dialog it saw is recorded
/// once. The program is killed if it is still running when the object goes.
class ProgramRun {
 public:
  explicit ProgramRun(const std::string &commandLine);
  ~ProgramRun();  // not copied: it holds a process, a thread and a lock

  /// A dialog that contains `text` (empty: any) gets `buttonId` clicked, after `meanwhile`
  /// has run (on the watching thread) while the dialog waits; a rule with times >= 0 is
  /// used that many times only.
  void Answer(const std::string &text, int buttonId, int times = -1,
              std::function<void()> meanwhile = nullptr) {
    std::lock_guard<std::mutex> hold(lock_);
    rules_.push_back({text, buttonId, times, meanwhile});
  }
  /// The dialogs seen so far, in the order they were first seen, as they looked when
  /// answered (or, if never answered, once their texts were set).
  std::vector<WindowInfo> Seen() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }
  /// The exit code; 0xDEADBEEF when it did not start or did not end in time (it is then
  /// killed). Then stops watching: that waits for no more than the window being read,
  /// which is given up after a second when it does not answer.
  DWORD Wait(DWORD timeoutMs = 60000);

 private:
  struct Rule {
    std::string text;
    int buttonId, times;
    std::function<void()> meanwhile;
  };
  void Poll();

  PROCESS_INFORMATION process_ = {};  // all null when it did not start
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<Rule> rules_;
  std::vector<WindowInfo> seen_;
  struct Tracked {
    DWORD firstSeen;  // tick count
    int seenIndex;    // its entry in seen_; -1 while not yet recorded
    bool answered;    // never read again
  };
  std::map<HWND, Tracked> tracked_;
  std::thread thread_;
};

}  // namespace winui
