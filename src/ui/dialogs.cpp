// The progress dialog, the file prompt and their shared font.
#include <windows.h>
// commctrl.h needs the base types first.
#include <commctrl.h>

#include "data/data.h"
#include "state/state.h"
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
  g.progressTotal = ProgressTotal();
  SetDlgItemTextA(g.progressDialog, IDC_TEXT, GetMessageText(blockfmt::MSG_STATUS_FILES));
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ApplyDialogFont(dialog);
      SetWindowTextA(dialog, GetMessageText(blockfmt::MSG_CAPTION));
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

DWORD ProgressTotal() { return 2 * g.fileCount + 2 * g.folderCount + g.registryCount; }

void ReportProgress(ProgressRange range, DWORD index) {
  if (!g.progressTotal) return;
  const DWORD files = g.fileCount, folders = g.folderCount;
  const DWORD start[] = {0, files, files + folders, files + 2 * folders, 2 * files + 2 * folders};
  SetProgress((start[range] + index + 1) * 100 / g.progressTotal);
}

int AskDeleteFile(const char *path) {
  ScopedBlock<char> text;
  if (!AllocZeroedT(blockfmt::kComposedMax, text.Receive())) return IDNO;
  ComposeMessage(text, blockfmt::MSG_READ_ONLY_FILE, path);
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
      SetWindowTextA(dialog, GetMessageText(blockfmt::MSG_CAPTION));
      SetDlgItemTextA(dialog, IDC_TEXT, reinterpret_cast<const char *>(lParam));
      SetDlgItemTextA(dialog, IDC_PROMPT_YES, GetMessageText(blockfmt::MSG_YES));
      SetDlgItemTextA(dialog, IDC_PROMPT_NO, GetMessageText(blockfmt::MSG_NO));
      SetDlgItemTextA(dialog, IDC_PROMPT_YES_ALL, GetMessageText(blockfmt::MSG_YES_TO_ALL));
      SetDlgItemTextA(dialog, IDC_PROMPT_NO_ALL, GetMessageText(blockfmt::MSG_NO_TO_ALL));
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
    g.dialogFont = nullptr;
  }
  if (g.themeLibrary) {
    FreeLibrary(g.themeLibrary);
    g.themeLibrary = nullptr;
  }
  g.setThemeAppPropertiesEntry = nullptr;
}
