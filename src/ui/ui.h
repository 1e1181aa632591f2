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
/// The position after entry `index` of a pass whose range begins `first` entries into the
/// total: (first + index) * 100 / progressTotal. Nothing without a progress dialog.
void ReportProgress(DWORD first, DWORD index);
/// Dispatches pending messages without waiting; a quit message is dropped.
void PumpMessages();

/// The Yes / Yes to all / No / No to all prompt: 6, 1001, 7, 1002 or 2.
int AskDeleteFile(const char *path);
INT_PTR CALLBACK FilePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ApplyDialogFont(HWND dialog);
void ReleaseUiResources();
