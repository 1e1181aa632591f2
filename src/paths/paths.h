// Paths: bounded path text helpers, folder macros, the protected folder test.
#pragma once
#include <windows.h>

constexpr DWORD kPathBuf = 260;
constexpr DWORD kExpandWorkSize = 65500;

/// Appends one backslash unless the text is empty or already ends with one.
/// The caller guarantees room for one more character.
void AppendBackslash(char *path);
/// Removes one trailing backslash from a text of 4 or more characters.
void StripBackslash(char *path);
/// Copies src into dst (capacity cap). False, with dst untouched, when it would not fit.
bool CopyBounded(char *dst, DWORD cap, const char *src);
/// Appends src to dst (capacity cap). False, with dst untouched, when it would not fit.
bool AppendBounded(char *dst, DWORD cap, const char *src);
/// Case-insensitive comparison that folds only ASCII A-Z. True when equal.
bool EqualsNoCase(const char *a, const char *b);
bool StartsWithNoCase(const char *text, const char *prefix);

/// Reads a registry string value into a 260-byte buffer, terminated within it whatever the
/// stored data. False (buffer unspecified) when missing or when it would not fit.
bool ReadPathValue(HKEY key, const char *name, char *buffer);

/// Looks up a shell special folder by CSIDL into a 260-byte buffer; false leaves it untouched.
BOOL GetSpecialFolder(char *buffer, int csidl);
/// Replaces the one macro in `buffer` (260 bytes) by its folder, or by "" when unknown.
void ResolveFolderMacro(char *buffer);
/// Expands every macro of `source`; returns the full expanded length. dest may be null.
DWORD ExpandFolderMacros(char *dest, const char *source, DWORD capacity);

/// 1 when `path` is a protected folder (or shorter than 4 characters), else 0.
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
