// Font removal: the font resource, its entry in the system's font list, the broadcast.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include "base/base.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"

namespace {

constexpr DWORD kNameBuf = 520;
const char kTrueTypeSuffix[] = " (TrueType)";
constexpr DWORD kSuffixLength = sizeof(kTrueTypeSuffix) - 1;
constexpr DWORD kMaxTableRecords = 40;

DWORD U16(const BYTE *p) { return (static_cast<DWORD>(p[0]) << 8) | p[1]; }
DWORD U32(const BYTE *p) {
  return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) |
         (static_cast<DWORD>(p[2]) << 8) | p[3];
}

// The naming table's offset, or false when the first records hold no "name" table.
bool FindNameTable(HANDLE file, DWORD *offset) {
  BYTE header[12];
  if (!ReadExact(file, header, sizeof(header))) return false;
  DWORD tables = U16(header + 4);
  for (DWORD i = 0; i < tables && i < kMaxTableRecords; ++i) {
    BYTE record[16];
    if (!ReadExact(file, record, sizeof(record))) return false;
    if (record[0] == 'n' && record[1] == 'a' && record[2] == 'm' && record[3] == 'e') {
      *offset = U32(record + 8);
      return true;
    }
  }
  return false;
}

// Reads the last Macintosh full-name record. Any read cut short by the end of the file
// yields no name, and a string that would not fit with the suffix yields none either.
// Positions past 2 GiB are refused: the seek takes them as negative, fails, and the next
// read would take the bytes of wherever the file stood.
void ReadLastMacFullName(HANDLE file, DWORD tableOffset, char *name) {
  if (tableOffset > 0x7FFFFFFFu) return;
  SeekTo(file, tableOffset);
  BYTE header[6];
  if (!ReadExact(file, header, sizeof(header))) return;
  DWORD count = U16(header + 2);
  DWORD storage = U16(header + 4);
  for (DWORD i = 0; i < count; ++i) {
    BYTE record[12];
    if (!ReadExact(file, record, sizeof(record))) {
      name[0] = '\0';
      return;
    }
    if (U16(record) != 1 || U16(record + 6) != 4) continue;
    DWORD after = TellPosition(file);
    DWORD length = U16(record + 8);
    ULONGLONG at = static_cast<ULONGLONG>(tableOffset) + storage + U16(record + 10);
    name[0] = '\0';
    if (length + kSuffixLength + 1 > kNameBuf || at > 0x7FFFFFFFull) continue;
    SeekTo(file, static_cast<DWORD>(at));
    if (!ReadExact(file, name, length)) {
      name[0] = '\0';
      return;
    }
    name[length] = '\0';
    SeekTo(file, after);
  }
}

// True when the font list's `data` names the file at `path` as the list writes names: the
// full path, or the name alone for a file in the Fonts folder.
bool NamesFile(const char *path, char *data) {
  if (FindLastBackslash(data)) return EqualsNoCase(path, data);
  char folder[kPathBuf], fonts[kPathBuf];
  if (!CopyBounded(folder, kPathBuf, path) || !CutAtLastBackslash(folder)) return false;
  return EqualsNoCase(path + TextLength(folder) + 1, data) &&
         GetSpecialFolder(fonts, CSIDL_FONTS) && EqualsNoCase(folder, fonts);
}

// Deletes the font list's value `name` only when it names the file at `path`. The name was
// read from a file that may not be the product's own (a user could have written it), so a
// value that names any other file, or holds no text terminated within its data, belongs to
// another font: it stays, and the log says so.
void RemoveListedValue(const char *path, const char *name) {
  const char *list = g.isNT ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                            : "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, list, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive()) !=
      ERROR_SUCCESS)
    return;
  char data[kPathBuf];
  DWORD type = REG_NONE, size = sizeof(data);
  LONG result = QueryValue(key, name, &type, reinterpret_cast<BYTE *>(data), &size);
  if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return;  // none, or unreadable
  DWORD n = 0;
  while (result == ERROR_SUCCESS && n < size && data[n] != '\0') ++n;
  if (result == ERROR_SUCCESS && type == REG_SZ && n < size && NamesFile(path, data)) {
    ActDeleteValue(key, name);
    return;
  }
  char value[kPathBuf + kNameBuf];
  if (CopyBounded(value, sizeof(value), list) && AppendBounded(value, sizeof(value), "\\\\") &&
      AppendBounded(value, sizeof(value), name))
    NoteKeyOutcome(blockfmt::ROOT_HKLM, value, OUTCOME_KEPT_OTHER);
}

}  // namespace

void ReadFontFullName(const char *path, char *name, HANDLE file) {
  name[0] = '\0';
  ScopedHandle opened(file ? nullptr : OpenExisting(path, ModeRead));
  if (!file && !opened) return;
  HANDLE from = file ? file : opened.Get();
  if (file) SeekTo(file, 0);
  DWORD tableOffset = 0;
  if (FindNameTable(from, &tableOffset)) ReadLastMacFullName(from, tableOffset, name);
}

void RemoveFont(const char *path, HANDLE file) {
  char name[kNameBuf];
  ReadFontFullName(path, name, file);
  ActRemoveFont(path);
  // ReadFontFullName leaves room for the suffix.
  if (name[0] != '\0') RemoveListedValue(path, lstrcatA(name, kTrueTypeSuffix));
  ActBroadcastFontChange();
}
