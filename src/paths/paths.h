// Paths: path text, folder macros, the protected folder test.
#pragma once
#include <windows.h>

constexpr DWORD kPathBuf = 260;
constexpr DWORD kExpandWorkSize = 65500;

// Path text. Texts are in the ANSI code page, where a character is one byte or two (a
// lead byte and a trail byte that may be 0x5C): every scan below moves by characters,
// so the second byte of a character is never taken for a backslash or a letter.

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
/// True when no folder of `path` below its drive (nor `path` itself when `includeLast`) is
/// a link that a standard user could have made. False also when a folder's attributes
/// or a link's owner cannot be read, or the path does not fit 260 bytes.
bool LinksAreTrusted(const char *path, bool includeLast);
/// True when `path` is a junction or symbolic link (false when it cannot be read); the
/// wildcard walk and the folder climbs never pass through one.
bool IsReparsePoint(const char *path);
/// A folder that a climb may remove: not a link itself, and not reached through a link that
/// a standard user could have made.
bool IsClimbableFolder(const char *folder);
/// The form the system resolves `path` to (GetFullPathNameA: "..", ".", trailing dots
/// and forward slashes resolved) in the 260-byte `resolved`; false when it does not fit.
bool ResolveFullPath(const char *path, char *resolved);
/// ResolveFullPath, and false as well when either the written or the resolved form is
/// protected: every folder a pass removes is removed in its resolved form after this.
bool ResolveUnprotected(char *folder, char *resolved);
