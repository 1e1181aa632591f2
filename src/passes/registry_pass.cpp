// The registry pass: listed keys with their whole trees, and single values.
#include <string.h>

#include "base/base.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/actions.h"
#include "ui/ui.h"

namespace {

// A stored root is the 32-bit value of a predefined key; sign-extend so the
// handle is right on 64-bit builds too.
HKEY RootKey(DWORD root) { return (HKEY)(ULONG_PTR)(LONG)root; }

// Index of the backslash that ends a value entry's key text (the doubled backslash
// before the value name), or -1 when the path names a key. Read by characters: the
// second byte of a double-byte character may be 0x5C.
int ValueSeparator(const char *path) {
  int separator = -1;
  const char *previous = nullptr;
  for (const char *p = path; *p; previous = p, p = NextCharacter(p)) {
    if (*p == '\\') separator = previous && *previous == '\\' ? int(previous - path) : -1;
  }
  return separator;
}

// The key of the last value entry stays open while the entries that follow name values
// of the same key (a product's values usually stand together); any other entry closes
// it, so a key entry never meets a key still held open here.
struct OpenValueKey {
  ScopedKey key;
  DWORD root = 0;
  const char *text = nullptr;
  int length = 0;

  bool Holds(DWORD r, const char *path, int separator) const {
    return key && r == root && separator == length && memcmp(path, text, separator) == 0;
  }
  void Close() { key.Reset(); }
};

// What an open that met a registry link returns: the link and what lies behind it stay.
constexpr LONG kStoppedAtLink = ERROR_CANT_RESOLVE_FILENAME;
// What a key to be removed only when empty gives when it still holds something.
constexpr LONG kKeyNotEmpty = ERROR_DIR_NOT_EMPTY;
// The registry views an open can ask for.
constexpr REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
// A key name has at most 255 characters, of up to two bytes each.
constexpr DWORD kKeyNameBuf = 2 * 255 + 1;

// True when `key`, opened as itself, is a symbolic link key.
bool IsLinkKey(HKEY key) {
  DWORD type = 0;
  return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
             ERROR_SUCCESS &&
         type == REG_LINK;
}

// Opens the first `length` bytes of `path` below `parent` one key at a time, each as
// itself (REG_OPTION_OPEN_LINK): a user can make a link key in his own hive, and followed
// it would lead this elevated run into any key it names. A link anywhere gives
// kStoppedAtLink. The 9x family has no links: the path is opened whole there.
LONG OpenKeyWithoutLinks(HKEY parent, const char *path, int length, REGSAM access, ScopedKey *out) {
  char part[kKeyNameBuf];
  if (!g.isNT) {
    if (length >= static_cast<int>(sizeof part)) return ERROR_FILENAME_EXCED_RANGE;
    lstrcpynA(part, path, length + 1);
    return RegOpenKeyExA(parent, part, 0, access, out->Receive());
  }
  ScopedKey current;
  for (int start = 0; start < length || !current;) {
    int end = start;
    while (end < length && path[end] != '\\')
      end = static_cast<int>(NextCharacter(path + end) - path);
    // No key has a longer name: there is no such key.
    if (end - start >= static_cast<int>(sizeof part)) return ERROR_FILE_NOT_FOUND;
    lstrcpynA(part, path + start, end - start + 1);
    const bool last = end + 1 >= length;  // a trailing backslash ends nothing
    ScopedKey next;
    const LONG opened = RegOpenKeyExA(current ? current.Get() : parent, part, REG_OPTION_OPEN_LINK,
                                      KEY_QUERY_VALUE | (access & kViewFlags) | (last ? access : 0),
                                      next.Receive());
    if (opened != ERROR_SUCCESS) return opened;
    if (IsLinkKey(next)) return kStoppedAtLink;
    current.Reset(next.Release());
    start = end + 1;
  }
  // A key that this run has already deleted is not there for it.
  if (KeyIsGone(current)) return ERROR_FILE_NOT_FOUND;
  out->Reset(current.Release());
  return ERROR_SUCCESS;
}

// The UTF-16 registry open, found by name: the 9x family, which never deletes trees
// here, may lack it, and a program that imported it would not start there.
struct WideRegistryCalls {
  decltype(&RegOpenKeyExW) open;
  bool Find() { return FindSystemCall("advapi32.dll", "RegOpenKeyExW", open); }
};

// Deletes the key behind `key` (opened without links) with its whole tree. The subkeys
// are enumerated and opened by their UTF-16 names, relative to the key held: an ANSI name
// of a subkey that the code page cannot spell ("C?") names no key, or another one.
LONG DeleteOpenKeyTree(HKEY key, const WideRegistryCalls &calls) {
  wchar_t name[256];  // a key name has at most 255 characters
  for (;;) {
    DWORD size = sizeof name / sizeof name[0];
    LONG result = EnumSubkey(key, 0, name, &size);
    if (result == ERROR_NO_MORE_ITEMS) return ActDeleteKey(key);
    if (result != ERROR_SUCCESS) return result;
    // An empty name would open the key itself again.
    if (size == 0) return ERROR_BADKEY;
    // The first failure anywhere ends the whole deletion; what went before stays gone.
    ScopedKey child;
    result = calls.open(key, name, REG_OPTION_OPEN_LINK,
                        KEY_QUERY_VALUE | DELETE | KEY_ENUMERATE_SUB_KEYS, child.Receive());
    if (result == ERROR_SUCCESS)
      result = IsLinkKey(child) ? kStoppedAtLink : DeleteOpenKeyTree(child, calls);
    if (result != ERROR_SUCCESS) return result;
  }
}

// Reports a registry entry by the result of its deletion. Only the listed key or value
// itself not being there is "absent": once the listed key was open (`reached`), a subkey
// that is not found is a failure like any other, and the tree stays.
void NoteRegistryResult(const RegistryEntry *entry, LONG result, bool reached) {
  if (result == kStoppedAtLink)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_AT_LINK);
  else if (result == ERROR_SUCCESS)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_REMOVED);
  else if (result == ERROR_FILE_NOT_FOUND && !reached)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_ABSENT);
  else if (result == kKeyNotEmpty)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_NOT_EMPTY);
  else
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_FAILED, static_cast<DWORD>(result));
}

// Returns the error of the open or of the delete (0 when the value went).
LONG DeleteValueEntry(OpenValueKey *open, DWORD root, char *path, int separator) {
  if (!open->Holds(root, path, separator)) {
    // The key text ends at the first of the two backslashes.
    open->Close();
    const LONG opened =
        OpenKeyWithoutLinks(RootKey(root), path, separator, KEY_SET_VALUE, &open->key);
    if (opened != ERROR_SUCCESS) return opened;
    open->root = root;
    open->text = path;
    open->length = separator;
  }
  return ActDeleteValue(open->key, path + separator + 2);
}

// DeleteKeyTree in a registry view (KEY_WOW64_32KEY; 0: the program's own).
LONG DeleteKeyTreeInView(HKEY parent, const char *subkey, REGSAM view, bool *reached) {
  if (reached) *reached = false;
  if (!subkey || !subkey[0]) return ERROR_BADKEY;
  ScopedKey key;
  const LONG result = OpenKeyWithoutLinks(parent, subkey, lstrlenA(subkey),
                                          DELETE | KEY_ENUMERATE_SUB_KEYS | view, &key);
  if (result != ERROR_SUCCESS) return result;
  if (reached) *reached = true;
  WideRegistryCalls calls;
  return calls.Find() ? DeleteOpenKeyTree(key, calls) : ERROR_CALL_NOT_IMPLEMENTED;
}

// Deletes the key only when it holds no subkeys and no values: a vendor's key that another
// of its products may still use.
LONG DeleteEmptyKey(HKEY root, const char *path, REGSAM view, bool *reached) {
  ScopedKey key;
  LONG result = OpenKeyWithoutLinks(root, path, lstrlenA(path), DELETE | view, &key);
  if (result != ERROR_SUCCESS) return result;
  *reached = true;
  DWORD subkeys = 0, values = 0;
  result = CountKeyItems(key, &subkeys, &values);
  if (result != ERROR_SUCCESS) return result;
  if (subkeys || values) return kKeyNotEmpty;
  return g.isNT ? ActDeleteKey(key) : ActDeleteKeyByName(root, path);
}

LONG DeleteKeyEntry(const RegistryEntry *entry, REGSAM view, bool *reached) {
  HKEY root = RootKey(entry->root);
  *reached = false;
  if (entry->onlyIfEmpty) return DeleteEmptyKey(root, entry->path, view, reached);
  // RegDeleteKeyA deletes the whole tree on the 9x family.
  return g.isNT ? DeleteKeyTreeInView(root, entry->path, view, reached)
                : ActDeleteKeyByName(root, entry->path);
}

#ifdef _WIN64
// The product's own entry in the list of programs (HKLM\...\Uninstall\<id>). A 32-bit
// installer imports or writes it into the 32-bit view, whatever the product's bitness.
bool IsUninstallEntryKey(const RegistryEntry *entry) {
  static const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  if (entry->root != blockfmt::ROOT_HKLM || !StartsWithNoCase(entry->path, kUninstall))
    return false;
  const char *id = entry->path + sizeof kUninstall - 1;
  if (!*id) return false;
  for (const char *p = id; *p; p = NextCharacter(p))
    if (*p == '\\') return false;
  return true;
}
#endif

}  // namespace

LONG DeleteKeyTree(HKEY parent, const char *subkey, bool *reached) {
  return DeleteKeyTreeInView(parent, subkey, 0, reached);
}

void DeleteRegistryEntries() {
  if (!g.registryEntries) return;
  OpenValueKey open;
  for (DWORD i = 0; i < g.registryCount; ++i) {
    RegistryEntry *entry = g.registryEntries[i];
    if (entry && entry->path && entry->path[0]) {
      int separator = ValueSeparator(entry->path);
      if (separator >= 0) {
        NoteRegistryResult(entry, DeleteValueEntry(&open, entry->root, entry->path, separator),
                           false);
      } else {
        open.Close();
        bool reached = false;
        LONG result = DeleteKeyEntry(entry, 0, &reached);
#ifdef _WIN64
        // A 32-bit program's view is this program's own on the 32-bit build.
        if (result == ERROR_FILE_NOT_FOUND && !reached && IsUninstallEntryKey(entry))
          result = DeleteKeyEntry(entry, KEY_WOW64_32KEY, &reached);
#endif
        NoteRegistryResult(entry, result, reached);
      }
    }
    ReportProgress(PROGRESS_REGISTRY, i);
  }
  open.Close();
}
