// Resource and control ids of the removal program's dialogs and icon.
#pragma once

#define IDI_MAIN 800

#define IDD_FILE_PROMPT 109
#define IDD_PROGRESS 110

// File prompt buttons: 6 and 7 are the platform's IDYES and IDNO.
#define IDC_PROMPT_YES 6
#define IDC_PROMPT_NO 7
#define IDC_PROMPT_YES_ALL 1001
#define IDC_PROMPT_NO_ALL 1002

// The text line of both dialogs: the prompt, or the progress status.
#define IDC_TEXT 1000
#define IDC_PROGRESS_BAR 1009
