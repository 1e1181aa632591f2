// Readers of the record bodies: the message table, the three entry lists, the patterns.
#include <stddef.h>
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
        if (!ReadExact(file, buffer, chunk)) return false;
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
int GrowList(void ***list, DWORD current, DWORD count) {
  const SIZE_T bytes = (static_cast<SIZE_T>(current) + count) * sizeof(void *);
  if (!*list) return AllocZeroed(bytes, reinterpret_cast<void **>(list)) ? 0 : LOAD_NO_MEMORY;
  return Reallocate(bytes, reinterpret_cast<void **>(list)) ? 0 : LOAD_NO_MEMORY;
}

// Reads the count and checks that the body can hold that many entries.
int ReadCount(BodyReader *reader, DWORD minEntry, DWORD *count) {
  if (!reader->Read(count, sizeof *count)) return LOAD_READ_FAILED;
  if (*count > reader->Left() / minEntry) return LOAD_READ_FAILED;
  return LOAD_OK;
}

char *CopyText(char **cursor, const char *text) {
  char *start = *cursor;
  size_t n = TextLength(text) + 1;
  memcpy(start, text, n);
  *cursor += n;
  return start;
}

// One field of a list entry, in body order: a little-endian number of fileBytes, or
// (fileBytes 0) a counted text; memoryBytes and offset place it in the entry.
struct EntryField {
  BYTE fileBytes;
  BYTE memoryBytes;
  BYTE offset;
};
constexpr BYTE kText = 0;
constexpr DWORD kMaxFields = 4;

// What the three lists differ in. Each entry is one block: the fixed part, then its texts.
struct EntryLayout {
  DWORD entrySize;
  DWORD minEntry;     // bytes of the smallest entry in the body
  DWORD textLimit;    // text bytes of one entry, terminators not counted
  DWORD scratchSize;  // the texts with their terminators
  DWORD fieldCount;
  EntryField fields[kMaxFields];
};

constexpr EntryField Text(size_t offset) {
  return {kText, sizeof(char *), static_cast<BYTE>(offset)};
}
constexpr EntryField Number(BYTE fileBytes, size_t memoryBytes, size_t offset) {
  return {fileBytes, static_cast<BYTE>(memoryBytes), static_cast<BYTE>(offset)};
}

constexpr EntryLayout kFileLayout = {
    sizeof(FileEntry),
    blockfmt::kMinFileEntry,
    blockfmt::kMaxFileEntryText,
    blockfmt::kFileScratch,
    3,
    {Text(offsetof(FileEntry, folder)), Text(offsetof(FileEntry, name)),
     Number(1, sizeof(FileEntry::flags), offsetof(FileEntry, flags))}};
constexpr EntryLayout kFolderLayout = {
    sizeof(FolderEntry),
    blockfmt::kMinFolderEntry,
    blockfmt::kMaxFolderEntryText,
    blockfmt::kFolderScratch,
    4,
    {Number(1, sizeof(FolderEntry::levels), offsetof(FolderEntry, levels)),
     Text(offsetof(FolderEntry, folder)), Text(offsetof(FolderEntry, secondFolder)),
     Text(offsetof(FolderEntry, name))}};
constexpr EntryLayout kRegistryLayout = {
    sizeof(RegistryEntry),
    blockfmt::kMinRegistryEntry,
    blockfmt::kMaxRegistryPath,
    blockfmt::kRegistryScratch,
    2,
    {Number(4, sizeof(RegistryEntry::root), offsetof(RegistryEntry, root)),
     Text(offsetof(RegistryEntry, path))}};

// The scratch must hold the longest texts with their terminators, the smallest entry must
// be what the fields add up to, and no number may be wider in the file than in memory.
constexpr bool LayoutConsistent(const EntryLayout &layout) {
  DWORD texts = 0, smallest = 0;
  for (DWORD i = 0; i < layout.fieldCount; ++i) {
    const EntryField &field = layout.fields[i];
    if (field.fileBytes == kText) {
      ++texts;
      smallest += sizeof(WORD);
    } else {
      if (field.fileBytes > field.memoryBytes || field.memoryBytes > sizeof(DWORD)) return false;
      smallest += field.fileBytes;
    }
    if (field.offset + field.memoryBytes > layout.entrySize) return false;
  }
  return layout.fieldCount <= kMaxFields && layout.scratchSize == layout.textLimit + texts &&
         layout.minEntry == smallest;
}
static_assert(LayoutConsistent(kFileLayout), "file entry layout");
static_assert(LayoutConsistent(kFolderLayout), "folder entry layout");
static_assert(LayoutConsistent(kRegistryLayout), "registry entry layout");

// Reads one entry's fields into the cleared scratch, then copies them into one new block.
int ReadEntry(BodyReader *reader, const EntryLayout &layout, char *scratch, BYTE **entry) {
  ZeroMemory(scratch, layout.scratchSize);
  DWORD numbers[kMaxFields] = {};
  char *texts[kMaxFields] = {};
  DWORD textBytes = 0, used = 0;
  for (DWORD i = 0; i < layout.fieldCount; ++i) {
    const EntryField &field = layout.fields[i];
    const bool read =
        field.fileBytes == kText
            ? ReadCounted(reader, scratch, &textBytes, layout.textLimit, &used, &texts[i])
            : reader->Read(&numbers[i], field.fileBytes);  // little-endian, zero-extended
    if (!read) return LOAD_READ_FAILED;
  }
  if (!AllocZeroedT(layout.entrySize + used, entry)) return LOAD_NO_MEMORY;
  char *cursor = reinterpret_cast<char *>(*entry + layout.entrySize);
  for (DWORD i = 0; i < layout.fieldCount; ++i) {
    const EntryField &field = layout.fields[i];
    BYTE *place = *entry + field.offset;
    if (field.fileBytes == kText) {
      char *copy = CopyText(&cursor, texts[i]);
      memcpy(place, &copy, sizeof copy);
    } else {
      memcpy(place, &numbers[i], field.memoryBytes);
    }
  }
  return LOAD_OK;
}

// The one reading loop of the entry lists. The list's count grows only when the whole
// record was read; entries of a record that fails part-way are released, and only the
// slots that were filled, since a grown array's new slots are not zeroed.
int ReadEntryList(HANDLE file, DWORD bodySize, const EntryLayout &layout, void ***list,
                  DWORD *listCount) {
  BodyReader reader(file, bodySize);
  DWORD count;
  int code = ReadCount(&reader, layout.minEntry, &count);
  if (code || count == 0) return code;
  if (GrowList(list, *listCount, count)) return LOAD_NO_MEMORY;
  ScopedBlock<char> scratch;
  if (!AllocZeroedT(layout.scratchSize, scratch.Receive())) return LOAD_NO_MEMORY;
  void **slots = *list + *listCount;
  DWORD stored = 0;
  for (; stored < count; ++stored) {
    BYTE *entry = nullptr;
    code = ReadEntry(&reader, layout, scratch, &entry);
    if (code) break;
    slots[stored] = entry;
  }
  if (code) {
    for (DWORD i = 0; i < stored; ++i) FreeAndNull(&slots[i]);
    return code;
  }
  *listCount += count;
  return LOAD_OK;
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
  return ReadEntryList(file, bodySize, kFileLayout, reinterpret_cast<void ***>(&g.files),
                       &g.fileCount);
}

int ReadFolderList(HANDLE file, DWORD bodySize) {
  return ReadEntryList(file, bodySize, kFolderLayout, reinterpret_cast<void ***>(&g.folders),
                       &g.folderCount);
}

int ReadRegistryList(HANDLE file, DWORD bodySize) {
  return ReadEntryList(file, bodySize, kRegistryLayout,
                       reinterpret_cast<void ***>(&g.registryEntries), &g.registryCount);
}

int ReadEmptyKeyList(HANDLE file, DWORD bodySize) {
  const DWORD first = g.registryCount;
  const int code = ReadRegistryList(file, bodySize);
  for (DWORD i = first; code == LOAD_OK && i < g.registryCount; ++i)
    if (g.registryEntries[i]) g.registryEntries[i]->onlyIfEmpty = TRUE;
  return code;
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
