// A self-registering library for the file pass tests: DllUnregisterServer leaves a marker
// file beside the library (its own path plus ".unregistered") so a test can see the call.
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this library's own module

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  char path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  lstrcatA(path, ".unregistered");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return E_FAIL;
  CloseHandle(marker);
  return S_OK;
}
