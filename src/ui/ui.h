// User interface: hidden main window, progress dialog, file prompt, dialog font, styles.
#pragma once
#include <windows.h>

void InitVisualStyles();
void RestrictVisualStyles();
BOOL RegisterMainWindowClass();
BOOL CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Destroys the main window and dispatches messages until the quit message.
void CloseMainWindow();

void CreateProgressDialog();
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void SetStatusText(DWORD index);
/// Clamps to 100, sends PBM_SETPOS only on change, then pumps.
void SetProgress(DWORD value);
/// The passes that move the bar, in the order in which they run. Each has a range of its
/// own above the one before, as long as its list (the file list for the empty-folder pass),
/// so the bar never moves back and reaches 100 after the last entry of the last pass.
enum ProgressRange {
  PROGRESS_FILES,
  PROGRESS_FOLDER_FILES,
  PROGRESS_FOLDERS,
  PROGRESS_EMPTY_FOLDERS,
  PROGRESS_REGISTRY
};
/// The total of all ranges: 2 * fileCount + 2 * folderCount + registryCount.
DWORD ProgressTotal();
/// Reports entry `index` of the pass `range` done: (start of the range + index + 1) * 100 /
/// progressTotal. Nothing without a progress dialog.
void ReportProgress(ProgressRange range, DWORD index);
/// Dispatches pending messages without waiting; a quit message is dropped.
void PumpMessages();

/// The Yes / Yes to all / No / No to all prompt: 6, 1001, 7, 1002 or 2.
int AskDeleteFile(const char *path);
INT_PTR CALLBACK FilePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ApplyDialogFont(HWND dialog);
void ReleaseUiResources();
