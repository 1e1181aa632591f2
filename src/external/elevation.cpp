// The process's own rights, and the mitigation against links made by other users.
#include <windows.h>

#include "base/base.h"
#include "external/external.h"

namespace {

// The policy number and its one flag, enforce: links made by non-administrators are
// not followed.
constexpr int kRedirectionTrustPolicy = 16;
constexpr DWORD kEnforceRedirectionTrust = 1;

}  // namespace

bool RunsElevated() {
  BOOL(WINAPI * openToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI * queryToken)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  // advapi32 is loaded already: the registry calls import it.
  if ((GetVersion() & 0x80000000u) ||
      !FindSystemCall("advapi32.dll", "OpenProcessToken", openToken) ||
      !FindSystemCall("advapi32.dll", "GetTokenInformation", queryToken))
    return false;
  ScopedHandle token;
  if (!openToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  BOOL known = queryToken(token, TokenElevation, &elevation, sizeof(elevation), &size);
  return known && elevation.TokenIsElevated != 0;
}

void EnableRedirectionTrust() {
  BOOL(WINAPI * setPolicy)(int, PVOID, SIZE_T);
  DWORD flags = kEnforceRedirectionTrust;
  // Refused where the platform does not know the policy: the run goes on without it.
  if (FindSystemCall("kernel32.dll", "SetProcessMitigationPolicy", setPolicy))
    setPolicy(kRedirectionTrustPolicy, &flags, sizeof(flags));
}
