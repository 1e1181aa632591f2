// Test helper started as a pre-removal program or as a document handler. Its settings
// come from the environment, so that its command line is exactly what it was given:
//   TALLOWIN_PROBE  "<milliseconds to sleep> <exit code> <file to write>"
// Without that variable (started by another process than the test's, such as the
// desktop's shell), it writes "<its one argument>.opened" at once and ends with 0.
// The file holds, one per line: the current folder, the whole command line, then each
// argument after the program name, in the ANSI code page. It is written beside and then
// moved into place, so that it appears complete.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t **argv) {
  wchar_t settings[1024];
  unsigned long sleepMs = 0, exitCode = 0;
  int at = 0;
  const DWORD n = GetEnvironmentVariableW(L"TALLOWIN_PROBE", settings, 1024);
  std::wstring marker;
  if (n == 0 && argc == 2)
    marker = std::wstring(argv[1]) + L".opened";
  else if (n == 0 || n >= 1024 || swscanf(settings, L"%lu %lu %n", &sleepMs, &exitCode, &at) != 2 ||
           !settings[at])
    return 2;
  else
    marker = settings + at;
  Sleep(sleepMs);

  wchar_t folder[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
  std::wstring text = std::wstring(folder, length < MAX_PATH ? length : 0) + L"\n";
  text += std::wstring(GetCommandLineW()) + L"\n";
  for (int i = 1; i < argc; ++i) text += std::wstring(argv[i]) + L"\n";
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);

  const std::wstring temporary = marker + L".part";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileExW(temporary.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;
  return static_cast<int>(exitCode);
}
