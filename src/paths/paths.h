// Paths: path text, folder macros, the protected folder test.
#pragma once
#include <windows.h>

constexpr DWORD kPathBuf = 260;
constexpr DWORD kExpandWorkSize = 65500;

// Path text. Texts are in the ANSI code page, where a character is one byte or two (a
// lead byte and a trail byte that may be 0x5C): every scan below moves by characters,
// so the second byte of a character is never taken for a backslash or a letter.

/// The character after the one at `p` (`p` itself at the terminator), as CharNextA tells
/// it, without a call per character where the code page has only single-byte characters.
const char *NextCharacter(const char *p);
inline char *NextCharacter(char *p) {
  return const_cast<char *>(NextCharacter(const_cast<const char *>(p)));
}
/// Length in bytes, terminator not counted.
DWORD TextLength(const char *text);
/// A to Z to a to z; every other byte unchanged.
char FoldAscii(char c);
/// The last backslash character of `path`, or null.
char *FindLastBackslash(char *path);
/// Cuts `path` at its last backslash; false (text unchanged) when it holds none.
bool CutAtLastBackslash(char *path);
/// Appends one backslash unless the text is empty or already ends with one.
/// The caller guarantees room for one more character.
void AppendBackslash(char *path);
/// Removes one trailing backslash from a text of 4 or more bytes.
void StripBackslash(char *path);
/// Copies src into dst (capacity cap). False, with dst untouched, when it would not fit.
bool CopyBounded(char *dst, DWORD cap, const char *src);
/// Appends src to dst (capacity cap). False, with dst untouched, when it would not fit.
bool AppendBounded(char *dst, DWORD cap, const char *src);
/// folder, a backslash unless folder is empty or ends with one, and name, into dst
/// (capacity cap; dst may be folder itself). False, with dst empty, when it would not fit.
bool JoinPath(char *dst, DWORD cap, const char *folder, const char *name);
/// The number of bytes of the first `n` bytes of `text` that fit `room` bytes in whole
/// characters: a cut text never ends in half a character.
DWORD WholeCharacters(const char *text, DWORD n, DWORD room);
/// Case-insensitive comparison that folds only the characters A to Z. True when equal.
bool EqualsNoCase(const char *a, const char *b);
bool StartsWithNoCase(const char *text, const char *prefix);
/// False for a name that the system would read as another: one ending in a dot or a blank
/// (both dropped from a path), one of dots and blanks only ("..." is the folder itself),
/// or one holding a separator, a drive colon, a wildcard or a control character, which a
/// best-fit conversion of the real name can produce.
bool IsPlainName(const char *name);

// Folder macros and special folders.

/// Reads a registry string value into a 260-byte buffer, terminated within it whatever the
/// stored data. False (buffer unspecified) when missing or when it would not fit.
bool ReadPathValue(HKEY key, const char *name, char *buffer);
/// Looks up a shell special folder by CSIDL into a 260-byte buffer; false leaves it untouched.
BOOL GetSpecialFolder(char *buffer, int csidl);
/// Replaces the one macro in `buffer` (260 bytes) by its folder, or by "" when unknown.
void ResolveFolderMacro(char *buffer);
/// Expands every macro of `source`; returns the full expanded length. dest may be null.
DWORD ExpandFolderMacros(char *dest, const char *source, DWORD capacity);

// The protected folder test, resolved paths and links.

/// 1 when `path` is a protected folder (or shorter than 4 bytes), else 0.
/// The caller's text is unchanged on return.
int IsProtectedFolder(char *path);
/// Forgets the protected-folder list so the next call looks it up again (tests).
void ResetProtectedFolders();

/// True when `sid` is Administrators, SYSTEM or TrustedInstaller: owners whose links are
/// followed. False for any other SID and for null.
bool IsTrustedLinkOwner(const void *sid);
/// Rights that let their holder change what a name leads to. A link is followed only when
/// no one else holds these on it: they make an empty folder a link.
constexpr DWORD kLinkChangeRights =
    FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
/// On a folder of a path that the system is to delete by name at restart: adding a file or
/// folder, turning it into a link, deleting or renaming it or what it holds.
constexpr DWORD kPathChangeRights =
    kLinkChangeRights | FILE_ADD_SUBDIRECTORY | DELETE | FILE_DELETE_CHILD;
/// On a drive or share root, which cannot become a link nor be renamed: every user of a
/// system drive may add folders to it, but only these would let him change one.
constexpr DWORD kRootChangeRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
/// True when the self-relative `descriptor` (of `size` bytes) has a trusted owner and grants
/// none of `rights` to anyone else. Deny entries are not counted on; entries that only pass
/// on to what is created below are left out. False for anything it cannot read whole.
bool OnlyTrustedMayChange(const void *descriptor, DWORD size, DWORD rights);
/// OnlyTrustedMayChange on the descriptor of `object` (opened with READ_CONTROL).
bool HandleIsAdminOnly(HANDLE object, DWORD rights);
/// Where the folders below the drive begin: the length of "X:\", "\\server\share\" or
/// "\\?\X:\" at the start of `path`; 0 for anything else.
DWORD RootLength(const char *path);
/// True when the folder that `folder` (opened with FILE_READ_ATTRIBUTES) is, is one of the
/// protected folders by its file identity, however the path that reached it was spelled.
bool IsProtectedIdentity(HANDLE folder);
/// The form the system resolves `path` to (GetFullPathNameA: "..", ".", trailing dots
/// and forward slashes resolved) in the 260-byte `resolved`; false when it does not fit.
bool ResolveFullPath(const char *path, char *resolved);
/// ResolveFullPath, and false as well when either the written or the resolved form is
/// protected: every folder a pass removes is removed in its resolved form after this.
bool ResolveUnprotected(char *folder, char *resolved);
