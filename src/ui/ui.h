// User interface: hidden main window, progress dialog, file prompt, dialog font, styles.
//
// Results: BOOL where the system call's result is passed on; the prompt returns its
// button; everything else cannot fail in a way the run acts on.
#pragma once
#include <windows.h>

// ---- window.cpp
/// Loads the visual-styles library (from the System folder) and its entry point, and
/// initialises the common controls.
void InitVisualStyles();
/// Limits the visual styles to the window frames (where the library has the call).
void RestrictVisualStyles();
/// Registers the hidden main window's class; the system's result.
BOOL RegisterMainWindowClass();
/// Creates the hidden main window into g.mainWindow; true when it exists.
BOOL CreateMainWindow();
/// The main window's procedure.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Destroys the main window and dispatches messages until the quit message.
void CloseMainWindow();

/// Dispatches pending messages without waiting; a quit message is dropped.
void PumpMessages();

// ---- dialogs.cpp
/// Shows the progress dialog into g.progressDialog and g.progressBar (null when it fails).
void CreateProgressDialog();
/// The progress dialog's procedure.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/// Shows message `index` of the block as the progress dialog's status line.
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

/// The Yes / Yes to all / No / No to all prompt: 6, 1001, 7, 1002 or 2.
int AskDeleteFile(const char *path);
/// The file prompt's procedure.
INT_PTR CALLBACK FilePromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/// Gives the dialog and its controls the dialog font (made once, into g.dialogFont).
void ApplyDialogFont(HWND dialog);
/// Frees the dialog font and the visual-styles library.
void ReleaseUiResources();
