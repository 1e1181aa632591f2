// Test helper started as a pre-removal program or as a document handler. Its settings
// come from the environment, so that its command line is exactly what it was given:
//   TALLOWIN_PROBE  "<milliseconds to sleep> <exit code> <file to write>"
// or, without that variable (started by another process than the test's, such as the
// desktop's shell), from the file "<its own path>.settings", in the same form.
// The file holds, one per line: the current folder, the whole command line, then each
// argument after the program name. It is written beside and then moved into place, so
// that it appears complete.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Narrow(const std::wstring &text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  wchar_t settings[1024];
  unsigned long sleepMs = 0, exitCode = 0;
  int at = 0;
  DWORD n = GetEnvironmentVariableW(L"TALLOWIN_PROBE", settings, 1024);
  if (n == 0) {
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    HANDLE file =
        CreateFileW((std::wstring(own, length < MAX_PATH ? length : 0) + L".settings").c_str(),
                    GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[1024] = "";
    DWORD read = 0;
    if (file != INVALID_HANDLE_VALUE) ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    n = static_cast<DWORD>(
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(read), settings, 1023));
    settings[n] = L'\0';
  }
  if (n == 0 || n >= 1024 || swscanf(settings, L"%lu %lu %n", &sleepMs, &exitCode, &at) != 2 ||
      !settings[at])
    return 2;
  const std::wstring marker = settings + at, temporary = marker + L".part";
  Sleep(sleepMs);

  wchar_t folder[MAX_PATH];
  n = GetCurrentDirectoryW(MAX_PATH, folder);
  std::string text = Narrow(std::wstring(folder, n < MAX_PATH ? n : 0)) + "\n";
  text += Narrow(GetCommandLineW()) + "\n";
  for (int i = 1; i < argc; ++i) text += Narrow(argv[i]) + "\n";

  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileExW(temporary.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;
  return static_cast<int>(exitCode);
}
