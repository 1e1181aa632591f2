// The /LOG file: opened where the administrator asked, or beside it when that is not safe.
#include "app/run.h"
#include "base/base.h"
#include "reach/held_path.h"
#include "state/outcome.h"
#include "state/state.h"

namespace {

// Appended to, never truncated: an existing file keeps every byte, and the handle can
// only add at the end; no other process may write while it is open. The log's folders are
// held while it is opened, so none is a link that a standard user could have made. A link
// planted at the path is opened as itself and refused, as is a name that another file
// shares (a hard link) or anything but a plain file.
HANDLE OpenLogFile(const char *path, DWORD disposition) {
  char full[kPathBuf];
  Outcome refused;
  ScopedHandle file;
  if (HoldFileFolder(path, full, &refused))
    *file.Receive() = CreateFileA(full, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ReleaseHeldPath();
  if (!file) return INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD unusual =
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & unusual) || info.nNumberOfLinks > 1)
    return INVALID_HANDLE_VALUE;
  return file.Release();
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
  WriteLogLine("program ", program);
  WriteLogLine("switches ", switches ? switches : "");
  SYSTEMTIME now;
  GetSystemTime(&now);
  char started[40];
  wsprintfA(started, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond);
  WriteLogLine("started ", started);
  if (refused[0]) WriteLogLine("log-refused ", refused);
}
