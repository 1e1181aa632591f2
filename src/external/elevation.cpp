// The process's own rights, and the mitigation against links made by other users.
#include <windows.h>

#include "external/external.h"

namespace {

// Calls that the 9x family or older NT lack are looked up when needed: a program that
// imported them would not even start there.
template <typename T>
bool Look(const char *library, const char *name, T &entry) {
  HMODULE module = GetModuleHandleA(library);
  entry = module ? reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)))
                 : nullptr;
  return entry != nullptr;
}

// The policy number and its one flag, enforce: links made by non-administrators are
// not followed.
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 1;

}  // namespace

bool RunsElevated() {
  BOOL(WINAPI * openToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI * queryToken)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  // advapi32 is loaded already: the registry calls import it.
  if ((GetVersion() & 0x80000000u) || !Look("advapi32.dll", "OpenProcessToken", openToken) ||
      !Look("advapi32.dll", "GetTokenInformation", queryToken))
    return false;
  HANDLE token;
  if (!openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  BOOL known = queryToken(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

void EnableRedirectionTrust() {
  BOOL(WINAPI * setPolicy)(int, PVOID, SIZE_T);
  DWORD flags = kEnforceRedirectionTrust;
  // Refused where the platform does not know the policy: the run goes on without it.
  if (Look("kernel32.dll", "SetProcessMitigationPolicy", setPolicy))
    setPolicy(kRedirectionTrustPolicy, &flags, sizeof(flags));
}
