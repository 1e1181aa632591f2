// The closing document: opened through the shell, else through the ".htm" class's open
// command. An elevated run takes that class from the machine's classes alone (the merged
// root puts the user's own first) and starts its program by the path written, never
// looked for.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "external/blocks.h"
#include "external/external.h"
#include "paths/paths.h"

namespace {

constexpr DWORD kDocumentBuf = 520;
constexpr DWORD kCommandBuf = 520;

bool HasBlank(const char *text) {
  for (; *text; ++text)
    if (*text == ' ') return true;
  return false;
}

char *FindText(char *text, const char *what) {
  const DWORD n = TextLength(what);
  for (; *text; ++text) {
    DWORD i = 0;
    while (i < n && text[i] == what[i]) ++i;
    if (i == n) return text;
  }
  return NULL;
}

// Builds the fallback command line from the class's open command in `command`.
bool AppendDocument(char *command, const char *document) {
  char *placeholder = FindText(command, "\"%1\"");
  if (!placeholder) placeholder = FindText(command, "%1");
  if (placeholder) *placeholder = '\0';
  // With no program left, WinExec would run the document itself.
  if (command[0] == '\0') return false;
  // A blank would split the document into two arguments of the handler.
  if (HasBlank(document)) {
    return AppendBounded(command, kCommandBuf, " \"") &&
           AppendBounded(command, kCommandBuf, document) &&
           AppendBounded(command, kCommandBuf, "\"");
  }
  return AppendBounded(command, kCommandBuf, " ") && AppendBounded(command, kCommandBuf, document);
}

// Starts the program that `command` names first, quoted or up to its first blank, by that
// path alone: one that is not a full path (a drive's or a share's) would be looked for.
void StartByProgramPath(char *command) {
  char program[kCommandBuf];
  const char *p = command;
  char end = ' ';
  if (*p == '"') {
    end = '"';
    ++p;
  }
  DWORD n = 0;
  while (p[n] && p[n] != end) ++n;
  if (n >= kCommandBuf) return;
  CopyMemory(program, p, n);
  program[n] = '\0';
  bool full = (n >= 3 && program[1] == ':' && program[2] == '\\') ||
              (program[0] == '\\' && program[1] == '\\');
  if (full) StartDetached(program, command, SW_SHOW);
}

}  // namespace

LONG ReadKeyDefault(HKEY root, const char *path, char *buffer) {
  HKEY key;
  LONG result = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
  if (result != ERROR_SUCCESS) return result;
  // Read aside first: `path` may be `buffer`, and a value that does not fit (or is not
  // terminated) must not leave a cut text behind.
  char value[kPathBuf + 1];
  ZeroMemory(value, sizeof(value));
  LONG size = kPathBuf;
  result = RegQueryValueA(key, NULL, value, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return result;
  if (!CopyBounded(buffer, kPathBuf, value)) return ERROR_MORE_DATA;
  return ERROR_SUCCESS;
}

void OpenClosingDocument(const char *document, const char *extension) {
  char *folder = AllocBlock(kDocumentBuf);
  char *command = AllocBlock(kCommandBuf);
  if (folder && command && CopyBounded(folder, kDocumentBuf, document)) {
    const char *workingFolder = NULL;
    if (!StartsWithNoCase(document, "http://") && !StartsWithNoCase(document, "https://")) {
      if (CutAtLastBackslash(folder)) workingFolder = folder;
    }
    HINSTANCE shell = ShellExecuteA(NULL, "open", document, NULL, workingFolder, SW_SHOW);
    const bool elevated = RunsElevated();
    const HKEY root = elevated ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
    const char *classes = elevated ? "Software\\Classes\\" : "";
    // The key of the class's command is put together in the document copy, which the
    // shell no longer needs.
    if (reinterpret_cast<INT_PTR>(shell) <= 32 && CopyBounded(command, kCommandBuf, classes) &&
        AppendBounded(command, kCommandBuf, extension) &&
        ReadKeyDefault(root, command, command) == ERROR_SUCCESS && command[0] != '\0' &&
        CopyBounded(folder, kDocumentBuf, classes) &&
        AppendBounded(folder, kDocumentBuf, command) &&
        AppendBounded(folder, kDocumentBuf, "\\shell\\open\\command") &&
        ReadKeyDefault(root, folder, command) == ERROR_SUCCESS &&
        AppendDocument(command, document)) {
      if (elevated)
        StartByProgramPath(command);
      else
        WinExec(command, SW_SHOW);
    }
  }
  FreeBlock(command);
  FreeBlock(folder);
}
