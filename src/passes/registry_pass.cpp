// The registry pass: listed keys with their whole trees, and single values.
#include <string.h>

#include "data/data.h"
#include "passes.h"
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
  for (const char *p = path; *p; previous = p, p = CharNextA(p)) {
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

// Reports a registry entry by the result of its deletion.
void NoteRegistryResult(const RegistryEntry *entry, LONG result) {
  if (result == ERROR_SUCCESS)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_REMOVED);
  else if (result == ERROR_FILE_NOT_FOUND)
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_ABSENT);
  else
    NoteKeyOutcome(entry->root, entry->path, OUTCOME_FAILED, static_cast<DWORD>(result));
}

// Returns the error of the open or of the delete (0 when the value went).
LONG DeleteValueEntry(OpenValueKey *open, DWORD root, char *path, int separator) {
  if (!open->Holds(root, path, separator)) {
    // The key text ends at the first of the two backslashes; put it back afterwards
    // so the entry reads the same as before.
    path[separator] = '\0';
    LONG opened = RegOpenKeyA(RootKey(root), path, open->key.Receive());
    path[separator] = '\\';
    if (opened != ERROR_SUCCESS) return opened;
    open->root = root;
    open->text = path;
    open->length = separator;
  }
  return RegDeleteValueA(open->key, path + separator + 2);
}

}  // namespace

LONG DeleteKeyTree(HKEY parent, const char *subkey) {
  if (!subkey || !subkey[0]) return ERROR_BADKEY;
  ScopedKey key;
  LONG result = RegOpenKeyExA(parent, subkey, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, key.Receive());
  if (result != ERROR_SUCCESS) return result;
  char name[1024];
  for (;;) {
    DWORD size = sizeof(name);
    result = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) {
      result = RegDeleteKeyA(parent, subkey);
      break;
    }
    if (result != ERROR_SUCCESS) break;
    // The first failure anywhere ends the whole deletion; what went before stays gone.
    result = DeleteKeyTree(key, name);
    if (result != ERROR_SUCCESS) break;
  }
  return result;
}

void DeleteRegistryEntries() {
  if (!g.registryEntries) return;
  OpenValueKey open;
  for (DWORD i = 0; i < g.registryCount; ++i) {
    RegistryEntry *entry = g.registryEntries[i];
    if (entry && entry->path && entry->path[0]) {
      int separator = ValueSeparator(entry->path);
      if (separator >= 0) {
        // Value entries do not move the bar; the next key entry's index covers them.
        NoteRegistryResult(entry, DeleteValueEntry(&open, entry->root, entry->path, separator));
        continue;
      }
      open.Close();
      HKEY root = RootKey(entry->root);
      // RegDeleteKeyA deletes the whole tree on the 9x family.
      NoteRegistryResult(
          entry, g.isNT ? DeleteKeyTree(root, entry->path) : RegDeleteKeyA(root, entry->path));
    }
    ReportProgress(g.fileCount + g.folderCount, i);
  }
  open.Close();
}
