// The closing document: opened through the shell, else through the ".htm" class's open
// command. An elevated run has the desktop's own shell open it, or leaves it closed.
#include <windows.h>
// After windows.h, which they need.
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "base/base.h"
#include "external/external.h"
#include "paths/paths.h"
#include "state/outcome.h"

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
  return nullptr;
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

struct ComReleaser {
  static bool Holds(IUnknown *object) { return object != nullptr; }
  static void Close(IUnknown *object) { object->Release(); }
};
template <typename T>
using ScopedCom = Scoped<T *, ComReleaser>;  // Release
struct TextFreer {
  static bool Holds(BSTR text) { return text != nullptr; }
  static void Close(BSTR text) { SysFreeString(text); }
};
using ScopedText = Scoped<BSTR, TextFreer>;  // SysFreeString

template <typename T>
void **Out(ScopedCom<T> &place) {
  return reinterpret_cast<void **>(place.Receive());
}

// A text of the ANSI code page as a COM string; null when it does not convert whole.
BSTR ToComText(const char *text) {
  wchar_t wide[kDocumentBuf];
  if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, kDocumentBuf))
    return nullptr;
  return SysAllocString(wide);
}

// Has the desktop's own shell open the document, so that it opens as the desktop's user
// and not with this run's elevated rights: its file dialogs could start programs with
// them. The shell is reached through its desktop window's view, as the shell lets any
// program reach it. False when there is no such shell or it refused.
bool OpenAsDesktopUser(const char *document, const char *workingFolder) {
  ScopedText file(ToComText(document)), verb(SysAllocString(L"open"));
  ScopedText folder(workingFolder ? ToComText(workingFolder) : nullptr);
  if (!file || !verb || (workingFolder && !folder)) return false;
  VARIANT none = {}, desktop = {}, directory = {}, operation = {}, show = {};
  V_VT(&desktop) = VT_I4;
  V_I4(&desktop) = CSIDL_DESKTOP;
  V_VT(&operation) = VT_BSTR;
  V_BSTR(&operation) = verb;
  V_VT(&show) = VT_I4;
  V_I4(&show) = SW_SHOW;
  if (folder) {
    V_VT(&directory) = VT_BSTR;
    V_BSTR(&directory) = folder;
  }
  ScopedCom<IShellWindows> windows;
  ScopedCom<IDispatch> found, background, application;
  ScopedCom<IServiceProvider> services;
  ScopedCom<IShellBrowser> browser;
  ScopedCom<IShellView> view;
  ScopedCom<IShellFolderViewDual> folderView;
  ScopedCom<IShellDispatch2> shell;
  long window = 0;
  // FindWindowSW answers S_FALSE when there is no desktop window.
  return SUCCEEDED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IShellWindows, Out(windows))) &&
         windows.Get()->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                                     found.Receive()) == S_OK &&
         found && SUCCEEDED(found.Get()->QueryInterface(IID_IServiceProvider, Out(services))) &&
         SUCCEEDED(
             services.Get()->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, Out(browser))) &&
         SUCCEEDED(browser.Get()->QueryActiveShellView(view.Receive())) &&
         SUCCEEDED(view.Get()->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, Out(background))) &&
         SUCCEEDED(background.Get()->QueryInterface(IID_IShellFolderViewDual, Out(folderView))) &&
         SUCCEEDED(folderView.Get()->get_Application(application.Receive())) &&
         SUCCEEDED(application.Get()->QueryInterface(IID_IShellDispatch2, Out(shell))) &&
         SUCCEEDED(shell.Get()->ShellExecute(file, none, directory, operation, show));
}

}  // namespace

LONG ReadKeyDefault(HKEY root, const char *path, char *buffer) {
  ScopedKey key;
  LONG result = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key.Receive());
  if (result != ERROR_SUCCESS) return result;
  // Read aside first: `path` may be `buffer`, and a value that does not fit (or is not
  // terminated) must not leave a cut text behind.
  char value[kPathBuf + 1];
  ZeroMemory(value, sizeof(value));
  LONG size = kPathBuf;
  result = RegQueryValueA(key, nullptr, value, &size);
  key.Reset();
  if (result != ERROR_SUCCESS) return result;
  if (!CopyBounded(buffer, kPathBuf, value)) return ERROR_MORE_DATA;
  return ERROR_SUCCESS;
}

void OpenClosingDocument(const char *document, const char *extension) {
  ScopedBlock<char> folder, command;
  if (AllocZeroedT(kDocumentBuf, folder.Receive()) &&
      AllocZeroedT(kCommandBuf, command.Receive()) && CopyBounded(folder, kDocumentBuf, document)) {
    const char *workingFolder = nullptr;
    if (!StartsWithNoCase(document, "http://") && !StartsWithNoCase(document, "https://")) {
      if (CutAtLastBackslash(folder)) workingFolder = folder;
    }
    if (RunsElevated()) {
      // Opened by this process, the document's program would run elevated on the
      // desktop of the user it was elevated over: without the desktop's shell it stays
      // closed.
      if (!OpenAsDesktopUser(document, workingFolder)) NoteEvent("document-not-opened", document);
    } else if (reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", document, nullptr,
                                                       workingFolder, SW_SHOW)) <= 32 &&
               ReadKeyDefault(HKEY_CLASSES_ROOT, extension, command) == ERROR_SUCCESS &&
               command[0] != '\0' &&
               AppendBounded(command, kCommandBuf, "\\shell\\open\\command") &&
               ReadKeyDefault(HKEY_CLASSES_ROOT, command, command) == ERROR_SUCCESS &&
               AppendDocument(command, document)) {
      WinExec(command, SW_SHOW);
    }
  }
}
