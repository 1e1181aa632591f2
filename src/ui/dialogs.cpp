// The progress dialog, the file prompt and their shared font.
#include <windows.h>
// commctrl.h needs the base types first.
#include <commctrl.h>

#include "app/state.h"
#include "data/data.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

void ApplyDialogFont(HWND dialog) {
  if (!g.dialogFont) {
    HFONT templateFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA description;
    if (templateFont &&
        GetObjectA(templateFont, sizeof(description), &description) == sizeof(description)) {
      description.lfWeight = FW_NORMAL;
      g.dialogFont = CreateFontIndirectA(&description);
    }
    if (!g.dialogFont) return;
  }
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(g.dialogFont), FALSE);
}

void CreateProgressDialog() {
  g.progressDialog = CreateDialogParamA(g.instance, MAKEINTRESOURCEA(IDD_PROGRESS), g.mainWindow,
                                        ProgressDialogProc, 0);
  if (!g.progressDialog) return;
  g.progressBar = GetDlgItem(g.progressDialog, IDC_PROGRESS_BAR);
  g.progressTotal = g.registryCount + 2 * g.fileCount + g.folderCount;
  SetDlgItemTextA(g.progressDialog, IDC_TEXT, GetMessageText(11));
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ApplyDialogFont(dialog);
      SetWindowTextA(dialog, GetMessageText(0));
      return TRUE;
    case WM_COMMAND:
      // Enter, Escape and the close box all arrive here: the removal cannot be cancelled.
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

void SetStatusText(DWORD index) {
  if (g.progressDialog) SetDlgItemTextA(g.progressDialog, IDC_TEXT, GetMessageText(index));
}

void SetProgress(DWORD value) {
  if (value > 100) value = 100;
  if (value == g.progressPos) return;
  g.progressPos = value;
  if (g.progressBar) SendMessageA(g.progressBar, PBM_SETPOS, value, 0);
  PumpMessages();
}

int AskDeleteFile(const char *path) {
  ScopedBlock<char> text;
  if (!AllocZeroedT(1024, text.Receive())) return IDNO;
  ComposeMessage(text, 9, path);
  if (text[0] == '\0') return IDC_PROMPT_YES_ALL;
  INT_PTR result = DialogBoxParamA(g.instance, MAKEINTRESOURCEA(IDD_FILE_PROMPT), g.mainWindow,
                                   FilePromptProc, reinterpret_cast<LPARAM>(text.Get()));
  if (result == -1) return IDNO;
  return static_cast<int>(result);
}

INT_PTR CALLBACK FilePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      ApplyDialogFont(dialog);
      SetWindowTextA(dialog, GetMessageText(0));
      SetDlgItemTextA(dialog, IDC_TEXT, reinterpret_cast<const char *>(lParam));
      SetDlgItemTextA(dialog, IDC_PROMPT_YES, GetMessageText(3));
      SetDlgItemTextA(dialog, IDC_PROMPT_NO, GetMessageText(5));
      SetDlgItemTextA(dialog, IDC_PROMPT_YES_ALL, GetMessageText(4));
      SetDlgItemTextA(dialog, IDC_PROMPT_NO_ALL, GetMessageText(6));
      return TRUE;
    case WM_COMMAND:
      EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

void ReleaseUiResources() {
  if (g.dialogFont) {
    DeleteObject(g.dialogFont);
    g.dialogFont = NULL;
  }
  if (g.themeLibrary) {
    FreeLibrary(g.themeLibrary);
    g.themeLibrary = NULL;
  }
  g.setThemeAppPropertiesEntry = NULL;
}
