// Paths as the passes meet them: folder macros and entry folders, the protected folders,
// and whether a link or a folder can be trusted (who could have made or changed it).
//
// Results: bool, true for "yes" or success; a buffer named as 260 bytes is kPathBuf long.
// Everything here reads; nothing changes the machine.
#pragma once
#include <windows.h>

#include "base/base.h"

/// The most an expanded text may hold, terminator included.
constexpr DWORD kExpandWorkSize = 65500;

// ---- folder_macros.cpp: folder macros, special folders and entry folders.
/// Reads a registry string value into a 260-byte buffer, terminated within it whatever the
/// stored data. False (buffer unspecified) when missing or when it would not fit.
bool ReadPathValue(HKEY key, const char *name, char *buffer);
/// Looks up a shell special folder by CSIDL into a 260-byte buffer; false leaves it untouched.
BOOL GetSpecialFolder(char *buffer, int csidl);
/// Replaces the one macro in `buffer` (260 bytes) by its folder, or by "" when unknown.
void ResolveFolderMacro(char *buffer);
/// Expands every macro of `source`; returns the full expanded length. dest may be null.
DWORD ExpandFolderMacros(char *dest, const char *source, DWORD capacity);
/// An entry's folder text as the passes read it, into the 260-byte `path`: for an
/// install-relative text (blockfmt::InstallSubfolder) the install folder with the
/// subfolder, else the text itself. False when it would not fit (path unspecified).
bool EntryFolderPath(char *path, const char *folder);

// ---- protected_folders.cpp: the protected folders, by text and by identity.
/// True when `path` is a protected folder (or shorter than 4 bytes). The caller's text is
/// unchanged on return.
bool IsProtectedFolder(char *path);
/// Forgets the protected-folder list so the next call looks it up again (tests).
void ResetProtectedFolders();
/// True when the folder that `folder` (opened with FILE_READ_ATTRIBUTES) is, is one of the
/// protected folders by its file identity, however the path that reached it was spelled.
bool IsProtectedIdentity(HANDLE folder);
/// The form the system resolves `path` to (GetFullPathNameA: "..", ".", trailing dots
/// and forward slashes resolved) in the 260-byte `resolved`; false when it does not fit.
bool ResolveFullPath(const char *path, char *resolved);
/// ResolveFullPath, and false as well when either the written or the resolved form is
/// protected: every folder a pass removes is removed in its resolved form after this.
bool ResolveUnprotected(char *folder, char *resolved);

// ---- link_trust.cpp: who could have made a link or changed a folder.
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
