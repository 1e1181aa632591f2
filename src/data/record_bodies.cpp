// Readers of the record bodies: the message table, the three entry lists, the patterns.
#include <string.h>

#include "data/data.h"

namespace {

// Reads inside one body through a small buffer (one system call per field made the
// reading of a long list slow): a read that the body cannot hold fails, so a damaged
// count or length can neither read the next record nor write past the scratch buffer.
// The buffer is filled only from the body, never from the record behind it.
struct BodyReader {
  HANDLE file;
  DWORD unread;  // bytes of the body still in the file
  DWORD buffered = 0;
  DWORD position = 0;
  BYTE buffer[4096];

  BodyReader(HANDLE f, DWORD size) : file(f), unread(size) {}
  DWORD Left() const { return unread + (buffered - position); }
  bool Read(void *out, DWORD n) {
    if (n > Left()) return false;
    BYTE *to = static_cast<BYTE *>(out);
    while (n) {
      if (position == buffered) {
        const DWORD chunk = unread < sizeof buffer ? unread : sizeof buffer;
        if (ReadExact(file, buffer, chunk)) return false;
        unread -= chunk;
        buffered = chunk;
        position = 0;
      }
      const DWORD available = buffered - position;
      const DWORD take = n < available ? n : available;
      memcpy(to, buffer + position, take);
      to += take;
      position += take;
      n -= take;
    }
    return true;
  }
  bool ReadU16(WORD *value) { return Read(value, sizeof *value); }
};

// Reads one counted string into the scratch at *used; false when it would not fit in
// `limit` text bytes (terminators not counted) or the body ends.
bool ReadCounted(BodyReader *reader, char *scratch, DWORD *textBytes, DWORD limit, DWORD *used,
                 char **start) {
  WORD length;
  if (!reader->ReadU16(&length)) return false;
  if (*textBytes + length > limit) return false;
  *start = scratch + *used;
  if (length && !reader->Read(*start, length)) return false;
  // A NUL inside the text would cut it to a path that names something else.
  if (memchr(*start, 0, length)) return false;
  *textBytes += length;
  *used += length + 1;  // the cleared byte behind it is the terminator
  return true;
}

// Makes room for `count` more entries; the count itself was checked against the body.
template <typename Entry>
int GrowList(Entry ***list, DWORD current, DWORD count) {
  const SIZE_T bytes = (static_cast<SIZE_T>(current) + count) * sizeof(Entry *);
  if (!*list) return AllocZeroed(bytes, reinterpret_cast<void **>(list)) ? 0 : LOAD_NO_MEMORY;
  return Reallocate(bytes, reinterpret_cast<void **>(list)) ? 0 : LOAD_NO_MEMORY;
}

// Reads the count and checks that the body can hold that many entries.
int ReadCount(BodyReader *reader, DWORD minEntry, DWORD *count) {
  if (!reader->Read(count, sizeof *count)) return LOAD_READ_FAILED;
  if (*count > reader->Left() / minEntry) return LOAD_READ_FAILED;
  return LOAD_OK;
}

// Entries of a record that fails part-way are released, not counted. Only the slots that
// were filled are freed: a grown array's new slots are not zeroed.
template <typename Entry>
void DropPartial(Entry **list, DWORD from, DWORD n) {
  for (DWORD i = 0; i < n; ++i) FreeAndNullT(&list[from + i]);
}

char *CopyText(char **cursor, const char *text) {
  char *start = *cursor;
  size_t n = strlen(text) + 1;
  memcpy(start, text, n);
  *cursor += n;
  return start;
}

}  // namespace

int ReadMessageTable(HANDLE file, DWORD bodySize) {
  BodyReader reader(file, bodySize);
  WORD tables, strings;
  if (!reader.ReadU16(&tables)) return LOAD_READ_FAILED;
  if (tables == 0) return LOAD_OK;
  if (!reader.ReadU16(&strings)) return LOAD_READ_FAILED;
  if (strings == 0) return LOAD_OK;
  if (strings > reader.Left() / 2) return LOAD_READ_FAILED;
  char **table = nullptr;
  if (!AllocZeroedT((strings + 1) * sizeof(char *), &table)) return LOAD_NO_MEMORY;
  // The new table replaces the old one; the old texts are released, not leaked.
  if (g.messages) {
    for (char **slot = g.messages; *slot; ++slot) FreeAndNullT(slot);
    FreeAndNullT(&g.messages);
  }
  g.messages = table;
  for (WORD i = 0; i < strings; ++i) {
    WORD length;
    if (!reader.ReadU16(&length)) return LOAD_READ_FAILED;
    if (!AllocZeroedT(length + 1u, &table[i])) return LOAD_NO_MEMORY;
    if (length && !reader.Read(table[i], length)) return LOAD_READ_FAILED;
  }
  return LOAD_OK;
}

int ReadFileList(HANDLE file, DWORD bodySize) {
  BodyReader reader(file, bodySize);
  DWORD count;
  int code = ReadCount(&reader, blockfmt::kMinFileEntry, &count);
  if (code || count == 0) return code;
  if (GrowList(&g.files, g.fileCount, count)) return LOAD_NO_MEMORY;
  char *scratch = nullptr;
  if (!AllocZeroedT(blockfmt::kFileScratch, &scratch)) return LOAD_NO_MEMORY;
  DWORD stored = 0;
  for (DWORD i = 0; i < count && code == LOAD_OK; ++i) {
    ZeroMemory(scratch, blockfmt::kFileScratch);
    DWORD text = 0, used = 0;
    char *folder, *name;
    BYTE flags;
    if (!ReadCounted(&reader, scratch, &text, blockfmt::kMaxFileEntryText, &used, &folder) ||
        !ReadCounted(&reader, scratch, &text, blockfmt::kMaxFileEntryText, &used, &name) ||
        !reader.Read(&flags, 1)) {
      code = LOAD_READ_FAILED;
      break;
    }
    FileEntry *entry = nullptr;
    if (!AllocZeroed(sizeof(FileEntry) + used, reinterpret_cast<void **>(&entry))) {
      code = LOAD_NO_MEMORY;
      break;
    }
    char *cursor = reinterpret_cast<char *>(entry + 1);
    entry->folder = CopyText(&cursor, folder);
    entry->name = CopyText(&cursor, name);
    entry->flags = flags;
    g.files[g.fileCount + i] = entry;
    ++stored;
  }
  FreeAndNullT(&scratch);
  if (code) {
    DropPartial(g.files, g.fileCount, stored);
    return code;
  }
  g.fileCount += count;
  return LOAD_OK;
}

int ReadFolderList(HANDLE file, DWORD bodySize) {
  BodyReader reader(file, bodySize);
  DWORD count;
  int code = ReadCount(&reader, blockfmt::kMinFolderEntry, &count);
  if (code || count == 0) return code;
  if (GrowList(&g.folders, g.folderCount, count)) return LOAD_NO_MEMORY;
  char *scratch = nullptr;
  if (!AllocZeroedT(blockfmt::kFolderScratch, &scratch)) return LOAD_NO_MEMORY;
  DWORD stored = 0;
  for (DWORD i = 0; i < count && code == LOAD_OK; ++i) {
    ZeroMemory(scratch, blockfmt::kFolderScratch);
    DWORD text = 0, used = 0;
    BYTE levels;
    char *folder, *second, *name;
    const DWORD limit = blockfmt::kMaxFolderEntryText;
    if (!reader.Read(&levels, 1) || !ReadCounted(&reader, scratch, &text, limit, &used, &folder) ||
        !ReadCounted(&reader, scratch, &text, limit, &used, &second) ||
        !ReadCounted(&reader, scratch, &text, limit, &used, &name)) {
      code = LOAD_READ_FAILED;
      break;
    }
    FolderEntry *entry = nullptr;
    if (!AllocZeroed(sizeof(FolderEntry) + used, reinterpret_cast<void **>(&entry))) {
      code = LOAD_NO_MEMORY;
      break;
    }
    char *cursor = reinterpret_cast<char *>(entry + 1);
    entry->levels = levels;
    entry->folder = CopyText(&cursor, folder);
    entry->secondFolder = CopyText(&cursor, second);
    entry->name = CopyText(&cursor, name);
    g.folders[g.folderCount + i] = entry;
    ++stored;
  }
  FreeAndNullT(&scratch);
  if (code) {
    DropPartial(g.folders, g.folderCount, stored);
    return code;
  }
  g.folderCount += count;
  return LOAD_OK;
}

int ReadRegistryList(HANDLE file, DWORD bodySize) {
  BodyReader reader(file, bodySize);
  DWORD count;
  int code = ReadCount(&reader, blockfmt::kMinRegistryEntry, &count);
  if (code || count == 0) return code;
  if (GrowList(&g.registryEntries, g.registryCount, count)) return LOAD_NO_MEMORY;
  char *scratch = nullptr;
  if (!AllocZeroedT(blockfmt::kRegistryScratch, &scratch)) return LOAD_NO_MEMORY;
  DWORD stored = 0;
  for (DWORD i = 0; i < count && code == LOAD_OK; ++i) {
    ZeroMemory(scratch, blockfmt::kRegistryScratch);
    DWORD text = 0, used = 0, root;
    char *path;
    if (!reader.Read(&root, sizeof root) ||
        !ReadCounted(&reader, scratch, &text, blockfmt::kMaxRegistryPath, &used, &path)) {
      code = LOAD_READ_FAILED;
      break;
    }
    RegistryEntry *entry = nullptr;
    if (!AllocZeroed(sizeof(RegistryEntry) + used, reinterpret_cast<void **>(&entry))) {
      code = LOAD_NO_MEMORY;
      break;
    }
    char *cursor = reinterpret_cast<char *>(entry + 1);
    entry->root = root;
    entry->path = CopyText(&cursor, path);
    g.registryEntries[g.registryCount + i] = entry;
    ++stored;
  }
  FreeAndNullT(&scratch);
  if (code) {
    DropPartial(g.registryEntries, g.registryCount, stored);
    return code;
  }
  g.registryCount += count;
  return LOAD_OK;
}

int AppendPatterns(void *body, DWORD size) {
  // The list always keeps two spare NUL bytes behind its stored length, so the wildcard
  // pass ends at an empty text even when a body does not end with one.
  if (!g.patterns) {
    if (!Reallocate(static_cast<SIZE_T>(size) + 2, &body)) {
      FreeAndNull(&body);
      return LOAD_NO_MEMORY;
    }
    char *list = static_cast<char *>(body);
    list[size] = list[size + 1] = 0;
    g.patterns = list;
    g.patternsLength = size;
    return LOAD_OK;
  }
  if (!Reallocate(static_cast<SIZE_T>(g.patternsLength) + size + 2,
                  reinterpret_cast<void **>(&g.patterns))) {
    FreeAndNull(&body);
    return LOAD_NO_MEMORY;
  }
  // A list that does not end with NUL accepts no further pattern records.
  if (g.patterns[g.patternsLength - 1] == 0) {
    memcpy(g.patterns + g.patternsLength - 1, body, size);
    g.patternsLength += size - 1;
    g.patterns[g.patternsLength] = g.patterns[g.patternsLength + 1] = 0;
  }
  FreeAndNull(&body);
  return LOAD_OK;
}
