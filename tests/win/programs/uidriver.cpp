// The UI driver for whole-program tests: starts a command, watches the top-level windows
// of its process, records each one and answers it by rules, and exits with the
// program's exit code.
//
//   uidriver [--log FILE] [--timeout MS] [--rule RULE]... -- PROGRAM [ARGUMENTS...]
//
// Everything after " -- " is the command line, passed on unchanged.
//
// RULE is MATCH=N or MATCH=N#T: click button N (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No,
// 1001, 1002), at most T times. Rules are tried in the order given; the first that matches
// a newly shown window answers it. A window that no rule matches is only recorded (and
// left for the timeout).
//   MATCH, one or more joined by '&' (all must hold):
//     any          every window
//     text~S       the caption or a control text contains S
//     box          a message box (its text is control 65535)
// Examples: --rule "box&text~Remove=1" --rule "any=2#3"
//
// The log (stdout unless --log) has one line per event:
//   start <command line>
//   window <n> class=... caption="..." style=0x...   then "  control id=... text=..." lines
//   answer <n> rule <k> <action>
//   update <n> control id=<id> text="..." | pos=<p>   (a control changed while shown)
//   closed <n>
//   timeout | exit <code>
// Exit code: the program's; 258 on timeout (the program is then ended); 2 on bad usage.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../support/windows.cpp"

namespace {

struct Rule {
  std::vector<std::string> matches;
  int button = 0;
  int times = -1;
  std::string text;
};

struct Tracked {
  HWND window;
  int number;
  winui::WindowInfo last;
};

FILE *g_log = stdout;

std::string Narrow(const wchar_t *text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t cut = text.find(separator, start);
    parts.push_back(text.substr(start, cut - start));
    if (cut == std::string::npos) return parts;
    start = cut + 1;
  }
}

bool ParseRule(const std::string &text, Rule *rule) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  std::string action = text.substr(equals + 1);
  size_t hash = action.rfind('#');
  if (hash != std::string::npos) {
    rule->times = atoi(action.c_str() + hash + 1);
    action.resize(hash);
  }
  rule->matches = Split(text.substr(0, equals), '&');
  rule->button = atoi(action.c_str());
  rule->text = text;
  return rule->button != 0;
}

bool Matches(const std::string &match, const winui::WindowInfo &info) {
  if (match == "any") return true;
  if (match.compare(0, 5, "text~") == 0) return info.Contains(match.substr(5));
  if (match == "box") return info.Control(0xFFFF) != nullptr;
  return false;
}

void LogWindow(int number, const winui::WindowInfo &info) {
  std::string text = info.Describe();
  fprintf(g_log, "window %d %s", number, text.c_str());
}

void LogUpdates(const Tracked &tracked, const winui::WindowInfo &now) {
  if (now.caption != tracked.last.caption)
    fprintf(g_log, "update %d caption=\"%s\"\n", tracked.number, now.caption.c_str());
  for (const winui::ControlInfo &control : now.controls) {
    const winui::ControlInfo *before = tracked.last.Control(control.id);
    if (!before || before->text != control.text)
      fprintf(g_log, "update %d control id=%d text=\"%s\"\n", tracked.number, control.id,
              control.text.c_str());
    if (control.progressPos >= 0 && (!before || before->progressPos != control.progressPos))
      fprintf(g_log, "update %d control id=%d pos=%d\n", tracked.number, control.id,
              control.progressPos);
  }
}

int Usage() {
  fprintf(stderr, "usage: uidriver [--log FILE] [--timeout MS] [--rule RULE]... -- COMMAND\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::vector<Rule> rules;
  DWORD timeoutMs = 120000;
  std::string logPath;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = Narrow(argv[i]);
    if (arg == "--") break;
    if (i + 1 >= argc) return Usage();
    std::string value = Narrow(argv[++i]);
    if (arg == "--log") {
      logPath = value;
    } else if (arg == "--timeout") {
      timeoutMs = static_cast<DWORD>(strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--rule") {
      Rule rule;
      if (!ParseRule(value, &rule)) return Usage();
      rules.push_back(rule);
    } else {
      return Usage();
    }
  }
  // The command is the raw rest of our own command line, so its quoting survives.
  const wchar_t *raw = GetCommandLineW();
  const wchar_t *rest = wcsstr(raw, L" -- ");
  if (i >= argc || !rest || !rest[4]) return Usage();
  std::wstring command = rest + 4;

  if (!logPath.empty()) {
    g_log = fopen(logPath.c_str(), "w");
    if (!g_log) return Usage();
  }
  setvbuf(g_log, nullptr, _IONBF, 0);
  fprintf(g_log, "start %s\n", Narrow(command.c_str()).c_str());

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(g_log, "failed to start: error %lu\n", GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);

  std::vector<Tracked> tracked;
  int seen = 0;
  DWORD start = GetTickCount();
  DWORD code = 258;
  for (;;) {
    bool ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
    for (size_t k = 0; k < tracked.size();) {
      if (!IsWindow(tracked[k].window) || !IsWindowVisible(tracked[k].window)) {
        fprintf(g_log, "closed %d\n", tracked[k].number);
        tracked.erase(tracked.begin() + k);
        continue;
      }
      winui::WindowInfo now = winui::ReadWindow(tracked[k].window);
      LogUpdates(tracked[k], now);
      tracked[k].last = now;
      ++k;
    }
    for (HWND window : winui::FindTopWindows(process.dwProcessId, nullptr)) {
      bool known = false;
      for (const Tracked &t : tracked) known = known || t.window == window;
      if (known) continue;
      winui::WindowInfo info = winui::ReadWindow(window);
      tracked.push_back({window, ++seen, info});
      LogWindow(seen, info);
      for (size_t r = 0; r < rules.size(); ++r) {
        Rule &rule = rules[r];
        if (rule.times == 0) continue;
        bool all = true;
        for (const std::string &match : rule.matches) all = all && Matches(match, info);
        if (!all) continue;
        if (rule.times > 0) --rule.times;
        fprintf(g_log, "answer %d rule %zu %s\n", seen, r + 1, rule.text.c_str());
        winui::PressOn(window, winui::Press::Click, rule.button);
        break;
      }
    }
    if (ended) {
      GetExitCodeProcess(process.hProcess, &code);
      fprintf(g_log, "exit %lu\n", code);
      break;
    }
    if (GetTickCount() - start >= timeoutMs) {
      fprintf(g_log, "timeout\n");
      TerminateProcess(process.hProcess, 258);
      WaitForSingleObject(process.hProcess, 5000);
      code = 258;
      break;
    }
  }
  CloseHandle(process.hProcess);
  if (g_log != stdout) fclose(g_log);
  return static_cast<int>(code);
}
