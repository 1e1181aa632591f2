// Answers a program's message boxes and dialogs as a person would, and records what they
// showed.
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

/// A background thread that watches a process's dialogs (class #32770) and answers each
/// one by the first rule that matches it. A dialog can be shown before its texts are set,
/// so one with an empty static text is read again on each poll for up to 500 ms before
/// rules are tried, and one that no rule matches is read again on each poll until one
/// does (a rule added later still answers it). Every dialog it saw is recorded once.
class DialogAnswerer {
 public:
  explicit DialogAnswerer(DWORD processId)
      : processId_(processId), thread_([this] {
          for (; !stop_; Sleep(20)) Poll();
        }) {}
  ~DialogAnswerer() { Stop(); }  // not copied: it holds a thread and a lock

  /// A dialog that contains `text` (empty: any) gets `buttonId` clicked, after `meanwhile`
  /// has run (on the answerer's thread) while the dialog waits; a rule with times >= 0 is
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
  /// Stops watching (also done on destruction). It waits for no more than the window being
  /// read, which is given up after a second when it does not answer.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Rule {
    std::string text;
    int buttonId, times;
    std::function<void()> meanwhile;
  };
  void Poll();

  DWORD processId_;
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
  std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace winui
