// Visual styles, the hidden main window and the message pumps.
#include <windows.h>
// commctrl.h needs the base types first.
#include <commctrl.h>

#include "data/data.h"
#include "state/state.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

namespace {

const char kClassName[] = "TallowinClass";

typedef void(WINAPI *SetThemeAppPropertiesFn)(DWORD);

// Visual styles for window frames and captions only (uxtheme.h's STAP_ALLOW_NONCLIENT).
const DWORD kAllowNonClient = 1;

HMODULE LoadSystemLibrary(const char *name) {
  char path[kPathBuf];
  UINT length = GetSystemDirectoryA(path, kPathBuf);
  if (length == 0 || length >= kPathBuf || !JoinPath(path, kPathBuf, path, name)) return nullptr;
  return LoadLibraryA(path);
}

}  // namespace

void InitVisualStyles() {
  g.themeLibrary = LoadSystemLibrary("uxtheme.dll");
  if (g.themeLibrary)
    g.setThemeAppPropertiesEntry = GetProcAddress(g.themeLibrary, "SetThemeAppProperties");
  InitCommonControls();
}

void RestrictVisualStyles() {
  if (!g.setThemeAppPropertiesEntry) return;
  reinterpret_cast<SetThemeAppPropertiesFn>(g.setThemeAppPropertiesEntry)(kAllowNonClient);
}

BOOL RegisterMainWindowClass() {
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = g.instance;
  windowClass.hIcon = LoadIconA(g.instance, MAKEINTRESOURCEA(IDI_MAIN));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  windowClass.lpszClassName = kClassName;
  return RegisterClassA(&windowClass) != 0;
}

BOOL CreateMainWindow() {
  int x = (GetSystemMetrics(SM_CXSCREEN) - 320) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - 200) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  g.mainWindow = CreateWindowExA(0, kClassName, GetMessageText(blockfmt::MSG_CAPTION),
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, 320, 200, nullptr,
                                 nullptr, g.instance, nullptr);
  return g.mainWindow != nullptr;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

void CloseMainWindow() {
  // Without a window there is no quit message to wait for.
  if (!g.mainWindow) return;
  HWND window = g.mainWindow;
  g.mainWindow = nullptr;
  if (!DestroyWindow(window)) return;
  MSG msg;
  // A failed get (-1) ends the drain too, rather than spinning on it.
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
    // A quit message here would end nothing: the run goes on, and the end stage waits
    // for the one posted by the main window's destruction.
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) continue;
    if (g.progressDialog && IsDialogMessageA(g.progressDialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
