// Test helper started as a pre-removal program or as a document handler. Its settings
// come from the environment, so that its command line is exactly what it was given:
//   TALLOWIN_PROBE_MARKER  file to write (required)
//   TALLOWIN_PROBE_SLEEP   milliseconds to sleep before writing (default 0)
//   TALLOWIN_PROBE_EXIT    exit code (default 0)
// The marker holds, one per line: the current folder, the whole command line, then each
// argument after the program name. It is written beside and then moved into place, so
// that it appears complete.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t *name) {
  wchar_t value[1024];
  DWORD n = GetEnvironmentVariableW(name, value, 1024);
  if (n == 0 || n >= 1024) return std::wstring();
  return std::wstring(value, n);
}

std::string Narrow(const std::wstring &text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::wstring marker = Env(L"TALLOWIN_PROBE_MARKER");
  if (marker.empty()) return 2;
  std::wstring sleep = Env(L"TALLOWIN_PROBE_SLEEP");
  if (!sleep.empty()) Sleep(static_cast<DWORD>(wcstoul(sleep.c_str(), nullptr, 10)));

  wchar_t folder[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
  std::string text = Narrow(std::wstring(folder, n < MAX_PATH ? n : 0)) + "\n";
  text += Narrow(GetCommandLineW()) + "\n";
  for (int i = 1; i < argc; ++i) text += Narrow(argv[i]) + "\n";

  std::wstring temporary = marker + L".part";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!MoveFileExW(temporary.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;

  std::wstring code = Env(L"TALLOWIN_PROBE_EXIT");
  return code.empty() ? 0 : static_cast<int>(wcstoul(code.c_str(), nullptr, 10));
}
