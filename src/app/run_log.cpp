// The outcomes of a run: the tally behind the exit code of a silent run, and the /LOG file.
#include "app/run.h"
#include "app/state.h"
#include "data/data.h"
#include "passes/actions.h"
#include "passes/held_path.h"
#include "paths/paths.h"

namespace {

const char *const kKeywords[] = {
    "removed",    "absent",    "kept-answer", "kept-default", "kept-shared", "kept-other",
    "not-empty",  "protected", "link",        "odd-name",     "in-use",      "not-a-file",
    "not-loaded", "restart",   "failed",      "unreadable",   "cancelled"};
static_assert(sizeof kKeywords / sizeof kKeywords[0] == OUTCOME_CANCELLED + 1,
              "one keyword per outcome");

// Writes one whole line in one call, so a run killed in between leaves whole lines.
// Control characters are written as '?': a name from the block cannot forge a line.
void WriteLine(const char *head, const char *root, const char *text) {
  if (!g.log) return;
  const DWORD size = TextLength(head) + TextLength(root) + TextLength(text) + 4;
  char *line = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, size));
  if (!line) return;
  DWORD n = 0;
  const char *const parts[] = {head, root, text};
  for (const char *part : parts)
    for (const char *p = part; *p; ++p) line[n++] = static_cast<unsigned char>(*p) < ' ' ? '?' : *p;
  line[n++] = '\r';
  line[n++] = '\n';
  DWORD written = 0;
  WriteFile(g.log, line, n, &written, nullptr);
  HeapFree(GetProcessHeap(), 0, line);
}

void Note(const char *root, const char *text, Outcome what, DWORD error) {
  // What stays against the removal: an error, another process, a link or an odd name
  // that stopped it, a folder in a file's place, a library that could not be unloaded safely.
  if (what == OUTCOME_FAILED || what == OUTCOME_IN_USE || what == OUTCOME_AT_LINK ||
      what == OUTCOME_ODD_NAME || what == OUTCOME_NOT_FILE || what == OUTCOME_NOT_LOADED)
    ++g.failedCount;
  if (what == OUTCOME_RESTART) ++g.scheduledCount;
  if (!g.log) return;  // the line is made only for a log: the passes call this per entry
  if (!text) text = "";
  char head[40];
  if (error)
    wsprintfA(head, "%s:%lu ", LogKeyword(kKeywords[what]), error);
  else
    wsprintfA(head, text[0] || root[0] ? "%s " : "%s", LogKeyword(kKeywords[what]));
  WriteLine(head, root, text);
}

const char *RootName(DWORD root, char *buffer) {
  switch (root) {
    case 0x80000000u:
      return "HKEY_CLASSES_ROOT\\";
    case 0x80000001u:
      return "HKEY_CURRENT_USER\\";
    case 0x80000002u:
      return "HKEY_LOCAL_MACHINE\\";
    case 0x80000003u:
      return "HKEY_USERS\\";
    case 0x80000005u:
      return "HKEY_CURRENT_CONFIG\\";
    default:
      wsprintfA(buffer, "0x%08lX\\", root);
      return buffer;
  }
}

}  // namespace

void NoteOutcome(const char *pathOrKey, Outcome what, DWORD error) {
  Note("", pathOrKey ? pathOrKey : "", what, error);
}

void NoteKeyOutcome(DWORD root, const char *path, Outcome what, DWORD error) {
  char buffer[16];
  Note(RootName(root, buffer), path ? path : "", what, error);
}

void NoteEvent(const char *keyword, const char *text) {
  char head[40];
  wsprintfA(head, "%s ", LogKeyword(keyword));
  WriteLine(head, "", text ? text : "");
}

namespace {

// Appended to, never truncated: an existing file keeps every byte, and the handle can
// only add at the end; no other process may write while it is open. The log's folders are
// held while it is opened, so none is a link that a standard user could have made. A link
// planted at the path is opened as itself and refused, as is a name that another file
// shares (a hard link) or anything but a plain file.
HANDLE OpenLogFile(const char *path, DWORD disposition) {
  char full[kPathBuf];
  Outcome refused;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (HoldFileFolder(path, full, &refused))
    file = CreateFileA(full, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
  ReleaseHeldPath();
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD unusual =
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & unusual) || info.nNumberOfLinks > 1) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The administrator who asked for the log looks for it at the path given: that the run
// wrote elsewhere, or nowhere, goes to the Application event log, where deployment tools
// and administrators look for what a program reports.
void ReportRefusedLog(const char *refused, const char *written) {
  char text[2 * kPathBuf + 40];
  wsprintfA(text, "log-refused %s\r\nlog %s", refused, written[0] ? written : "(none)");
  // Found by name: the 9x family has no event log.
  decltype(&RegisterEventSourceA) open;
  decltype(&ReportEventA) report;
  decltype(&DeregisterEventSource) close;
  if (!FindSystemCall("advapi32.dll", "RegisterEventSourceA", open) ||
      !FindSystemCall("advapi32.dll", "ReportEventA", report) ||
      !FindSystemCall("advapi32.dll", "DeregisterEventSource", close))
    return;
  HANDLE source = open(nullptr, "Uninstall");
  if (!source) return;
  const char *strings[] = {text};
  report(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
  close(source);
}

}  // namespace

void OpenRunLog(const char *switches) {
  if (!g.logPath[0]) return;
  HANDLE file = OpenLogFile(g.logPath, OPEN_ALWAYS);
  char refused[kPathBuf];
  refused[0] = '\0';
  if (file == INVALID_HANDLE_VALUE) {
    // Someone else's file or link at the path must not silence the run: the log goes to a
    // name beside it that this run makes new.
    CopyBounded(refused, kPathBuf, g.logPath);
    g.logPath[0] = '\0';
    const DWORD length = TextLength(refused);
    for (int n = 1; n <= 99 && file == INVALID_HANDLE_VALUE && length + 4 < kPathBuf; ++n) {
      wsprintfA(g.logPath, "%s.%d", refused, n);
      file = OpenLogFile(g.logPath, CREATE_NEW);
      if (file == INVALID_HANDLE_VALUE) g.logPath[0] = '\0';
    }
    ReportRefusedLog(refused, g.logPath);
    if (file == INVALID_HANDLE_VALUE) return;
  }
  g.log = file;

  char program[kPathBuf];
  DWORD n = GetModuleFileNameA(g.instance, program, kPathBuf);
  if (n == 0 || n >= kPathBuf) program[0] = '\0';
  WriteLine("program ", "", program);
  WriteLine("switches ", "", switches ? switches : "");
  SYSTEMTIME now;
  GetSystemTime(&now);
  char started[40];
  wsprintfA(started, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond);
  WriteLine("started ", "", started);
  if (refused[0]) WriteLine("log-refused ", "", refused);
}

int FinishRun(int code) {
  if (g.silent && code == 0)
    code = g.failedCount ? kExitFailed : g.scheduledCount ? kExitRestartNeeded : 0;
  if (g.log) {
    char last[24];
    wsprintfA(last, "%d", code);
    WriteLine("exit ", "", last);
    CloseHandle(g.log);
    g.log = nullptr;
  }
  return code;
}
