// Who could have changed a folder: a standard user can put a junction where a folder of a
// listed path was, and can turn an empty folder that grants him write rights into one even
// when an administrator owns it. An elevated program that followed such a link, or that
// left a name for the system to delete at restart in a folder he can change, would delete
// in a tree of his choosing.
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

// Looked up when needed: the 9x family and early NT must still start without it.
typedef BOOL(WINAPI *GetKernelObjectSecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR,
                                                DWORD, LPDWORD);

// The SID at `offset` of `size` bytes, or null when it does not lie whole inside them.
const BYTE *SidAt(const BYTE *base, DWORD size, DWORD offset) {
  if (offset == 0 || offset > size || size - offset < 8) return nullptr;
  const BYTE *sid = base + offset;
  return size - offset - 8 >= 4u * sid[1] ? sid : nullptr;
}

// Read from a possibly unaligned place.
DWORD DwordAt(const BYTE *p) {
  DWORD value;
  memcpy(&value, p, sizeof value);
  return value;
}
WORD WordAt(const BYTE *p) {
  WORD value;
  memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

bool IsTrustedLinkOwner(const void *sid) {
  const BYTE *bytes = static_cast<const BYTE *>(sid);
  static const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  if (!bytes || bytes[0] != 1 || memcmp(bytes + 2, kNtAuthority, 6) != 0) return false;
  for (const NtAuthoritySid &trusted : kTrustedOwners) {
    if (bytes[1] != trusted.count) continue;
    DWORD i = 0;
    while (i < trusted.count && DwordAt(bytes + 8 + 4 * i) == trusted.subAuthorities[i]) ++i;
    if (i == trusted.count) return true;
  }
  return false;
}

// Deny entries are not counted on: whether one takes a right away again depends on their
// order and on the groups of a token, and a wrong guess would trust a folder that a user
// can change. Entries that apply only to what is created below (inherit-only) do not
// apply to the folder itself.
bool OnlyTrustedMayChange(const void *descriptor, DWORD size, DWORD rights) {
  const BYTE *sd = static_cast<const BYTE *>(descriptor);
  // A self-relative descriptor: revision, padding, control, then the owner, group, SACL
  // and DACL offsets.
  if (!sd || size < 20 || sd[0] != 1 || !(WordAt(sd + 2) & SE_SELF_RELATIVE)) return false;
  if (!IsTrustedLinkOwner(SidAt(sd, size, DwordAt(sd + 4)))) return false;
  const DWORD aclOffset = DwordAt(sd + 16);
  // No DACL grants everyone everything.
  if (!(WordAt(sd + 2) & SE_DACL_PRESENT) || aclOffset == 0 || aclOffset > size ||
      size - aclOffset < 8) {
    return false;
  }
  const BYTE *acl = sd + aclOffset;
  const DWORD aclSize = WordAt(acl + 2);
  if (aclSize < 8 || aclSize > size - aclOffset) return false;
  DWORD at = 8;
  for (DWORD n = WordAt(acl + 4); n > 0; --n) {
    if (aclSize - at < 8) return false;
    const BYTE type = acl[at], flags = acl[at + 1];
    const DWORD aceSize = WordAt(acl + at + 2);
    if (aceSize < 8 || aceSize > aclSize - at) return false;
    const bool denies = type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
                        type == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
                        type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
    if (!denies && !(flags & INHERIT_ONLY_ACE) && (DwordAt(acl + at + 4) & rights)) {
      // An allowing entry of a kind whose SID stands elsewhere grants to someone unknown.
      const bool plain =
          type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
      if (!plain || !IsTrustedLinkOwner(SidAt(acl + at, aceSize, 8))) return false;
    }
    at += aceSize;
  }
  return true;
}

bool HandleIsAdminOnly(HANDLE object, DWORD rights) {
  GetKernelObjectSecurityFn getSecurity;
  if (!FindSystemCall("advapi32.dll", "GetKernelObjectSecurity", getSecurity)) return false;
  const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD small[256];
  DWORD needed = 0;
  if (getSecurity(object, wanted, small, sizeof small, &needed))
    return OnlyTrustedMayChange(small, sizeof small, rights);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
  ScopedBlock<BYTE> large;
  if (!AllocZeroedT(needed, large.Receive())) return false;
  return getSecurity(object, wanted, large.Get(), needed, &needed) &&
         OnlyTrustedMayChange(large.Get(), needed, rights);
}

DWORD RootLength(const char *path) {
  if (path[0] == '\\' && path[1] == '\\') {
    DWORD slashes = 0;
    for (const char *p = path; *p; p = NextCharacter(p)) {
      if (*p == '\\' && ++slashes == 4) return static_cast<DWORD>(p - path) + 1;
    }
    return 0;
  }
  return (path[0] && path[1] == ':' && path[2] == '\\') ? 3 : 0;
}
