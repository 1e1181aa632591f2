// Links in listed paths: a standard user can put a junction where a folder of a listed
// path was, and an elevated program that followed it would delete in the link's target.
#include <string.h>

#include "app/state.h"
#include "data/data.h"
#include "paths/paths.h"

namespace {

// S-1-5-32-544 (Administrators), S-1-5-18 (SYSTEM) and S-1-5-80-... (TrustedInstaller):
// the relocated system and profile folders are links of theirs.
struct NtAuthoritySid {
  BYTE count;
  DWORD subAuthorities[6];
};
const NtAuthoritySid kTrustedOwners[] = {
    {2, {32, 544}},
    {1, {18}},
    {6, {80, 956008885u, 3425610575u, 1326302244u, 2228071488u, 4129207166u}}};

// Looked up when needed: the 9x family and early NT must still start without them.
typedef BOOL(WINAPI *GetKernelObjectSecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                                DWORD, LPDWORD);
typedef BOOL(WINAPI *GetSecurityDescriptorOwnerFn)(PSECURITY_DESCRIPTOR, PSID *, LPBOOL);

// True when the link `path` itself (not its target) has a trusted owner.
bool LinkOwnerIsTrusted(const char *path) {
  GetKernelObjectSecurityFn getSecurity;
  GetSecurityDescriptorOwnerFn getOwner;
  if (!FindSystemCall("advapi32.dll", "GetKernelObjectSecurity", getSecurity) ||
      !FindSystemCall("advapi32.dll", "GetSecurityDescriptorOwner", getOwner))
    return false;
  HANDLE link = CreateFileA(
      path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (link == INVALID_HANDLE_VALUE) return false;
  // An owner-only descriptor: its header and one SID of at most 68 bytes.
  DWORD descriptor[64];
  DWORD needed = 0;
  BOOL read = getSecurity(link, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed);
  CloseHandle(link);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return read && getOwner(descriptor, &owner, &defaulted) && IsTrustedLinkOwner(owner);
}

// Where the folders below the drive begin: after "X:\", "\\server\share\" or "\\?\X:\".
// Every scan here moves by characters: the second byte of a double-byte character may be
// 0x5C, and a folder cut there would be taken for a missing one.
DWORD RootLength(const char *path) {
  if (path[0] == '\\' && path[1] == '\\') {
    DWORD slashes = 0;
    for (const char *p = path; *p; p = CharNextA(p)) {
      if (*p == '\\' && ++slashes == 4) return static_cast<DWORD>(p - path) + 1;
    }
    return 0;
  }
  return (path[0] && path[1] == ':' && path[2] == '\\') ? 3 : 0;
}

// Length of the longest leading folder of `path` that `known` holds whole, byte for byte.
DWORD KnownPrefix(const char *path, const char *known) {
  DWORD kept = 0;
  for (const char *p = path;;) {
    const DWORD i = static_cast<DWORD>(p - path);
    const bool pathEnds = *p == '\0' || *p == '\\';
    const bool knownEnds = known[i] == '\0' || known[i] == '\\';
    if (pathEnds && knownEnds && i > 0) kept = i;
    if (*p == '\0') return kept;
    const char *next = CharNextA(p);
    for (const char *q = p; q < next; ++q)
      if (*q != known[q - path]) return kept;
    p = next;
  }
}

}  // namespace

bool IsTrustedLinkOwner(const void *sid) {
  const BYTE *bytes = static_cast<const BYTE *>(sid);
  static const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  if (!bytes || bytes[0] != 1 || memcmp(bytes + 2, kNtAuthority, 6) != 0) return false;
  for (const NtAuthoritySid &trusted : kTrustedOwners) {
    if (bytes[1] != trusted.count) continue;
    DWORD i = 0;
    for (; i < trusted.count; ++i) {
      DWORD sub;
      memcpy(&sub, bytes + 8 + 4 * i, sizeof sub);
      if (sub != trusted.subAuthorities[i]) break;
    }
    if (i == trusted.count) return true;
  }
  return false;
}

bool LinksAreTrusted(const char *path, bool includeLast) {
  if (!g.isNT) return true;  // the 9x family has no links
  char full[kPathBuf];
  DWORD length = GetFullPathNameA(path, kPathBuf, full, nullptr);
  if (length == 0 || length >= kPathBuf) return false;
  DWORD root = RootLength(full);
  if (root == 0) return false;
  for (char *last; length > root && (last = FindLastBackslash(full)) == full + length - 1;)
    full[--length] = '\0';
  if (!includeLast) {
    char *last = FindLastBackslash(full);
    length = last && last >= full + root ? static_cast<DWORD>(last - full) : root;
    full[length] = '\0';
  }
  // The folders that the last call found plain (or trusted links) need no second look:
  // consecutive entries mostly share their folders.
  char *known = g.linkCheckedFolder;
  DWORD verified = KnownPrefix(full, known);
  if (verified < root) verified = root;
  while (verified < length) {
    const char *p = full + verified + (verified > root ? 1 : 0);  // past the separator
    while (*p && *p != '\\') p = CharNextA(p);
    DWORD end = static_cast<DWORD>(p - full);
    full[end] = '\0';
    DWORD attributes = GetFileAttributesA(full);
    DWORD error = GetLastError();
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // Nothing further down exists, so nothing there can be deleted through a link.
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
      break;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !LinkOwnerIsTrusted(full)) return false;
    if (end < length) full[end] = '\\';
    verified = end;
  }
  // Only folders that were seen to exist are remembered.
  full[verified] = '\0';
  CopyBounded(known, kPathBuf, full);
  return true;
}
