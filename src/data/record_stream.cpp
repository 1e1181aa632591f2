// The record walk over the removal data block, and the release of what it loaded.
#include "data/data.h"

namespace {

#pragma pack(push, 1)
struct RecordHeader {
  WORD tag;
  BYTE flags;
  BYTE reserved;
  DWORD size;
};
#pragma pack(pop)
static_assert(sizeof(RecordHeader) == blockfmt::kHeaderSize, "header is 8 bytes");

// Offsets must point at a NUL-terminated text inside the body.
bool OptionOffsetValid(const BYTE *body, DWORD size, DWORD offset) {
  if (offset == 0) return true;
  if (offset < blockfmt::kOptionsFixedSize || offset >= size) return false;
  for (DWORD i = offset; i < size; ++i)
    if (body[i] == 0) return true;
  return false;
}

int LoadOptions(HANDLE file, const RecordHeader &header) {
  FreeAndNullT(&g.options);
  g.optionsSize = 0;
  ScopedBlock<void> body;
  int code = LoadRecordBody(file, header.flags, header.size, body.Receive(), nullptr);
  if (code) return code;
  const BYTE *bytes = static_cast<const BYTE *>(body.Get());
  const RunOptions *options = static_cast<const RunOptions *>(body.Get());
  if (header.size < blockfmt::kOptionsFixedSize ||
      !OptionOffsetValid(bytes, header.size, options->preRemovalOffset) ||
      !OptionOffsetValid(bytes, header.size, options->closingDocumentOffset)) {
    return LOAD_READ_FAILED;
  }
  g.options = static_cast<RunOptions *>(body.Release());
  g.optionsSize = header.size;
  return LOAD_OK;
}

int Dispatch(HANDLE file, const RecordHeader &header) {
  switch (header.tag) {
    case blockfmt::TAG_MESSAGES:
      return ReadMessageTable(file, header.size);
    case blockfmt::TAG_FILES:
      return ReadFileList(file, header.size);
    case blockfmt::TAG_FOLDERS:
      return ReadFolderList(file, header.size);
    case blockfmt::TAG_REGISTRY:
      return ReadRegistryList(file, header.size);
    case blockfmt::TAG_EMPTY_KEYS:
      return ReadEmptyKeyList(file, header.size);
    case blockfmt::TAG_PATTERNS: {
      void *body = nullptr;
      int code = LoadRecordBody(file, header.flags, header.size, &body, nullptr);
      return code ? code : AppendPatterns(body, header.size);
    }
    case blockfmt::TAG_OPTIONS:
      return LoadOptions(file, header);
    default:
      return LOAD_OK;  // 0x1238 and unknown tags are skipped by their size
  }
}

int WalkRecords(HANDLE file, DWORD offset) {
  // The block lies below 2 GiB; a record reaching past the file's end is damaged, which
  // also keeps the walk from wrapping around or seeking backwards.
  const DWORD fileSize = GetFileSize(file, nullptr);
  // The seek takes positions as signed: from 2 GiB on it would not move, and the walk
  // would read the file from wherever it stood.
  if (offset > 0x7FFFFFFFu) return LOAD_READ_FAILED;
  DWORD position = offset;
  SeekTo(file, position);
  for (;;) {
    RecordHeader header;
    if (!ReadExact(file, &header, sizeof header)) return LOAD_READ_FAILED;
    const DWORD bodyStart = position + sizeof header;
    if (header.tag == blockfmt::TAG_END) return LOAD_OK;  // its body is never read
    if (header.size == 0) {
      position = bodyStart;
      continue;
    }
    const DWORD next = bodyStart + header.size;
    if (next < bodyStart || next > fileSize || next > 0x7FFFFFFFu) return LOAD_READ_FAILED;
    int code = Dispatch(file, header);
    if (code) return code;
    position = next;
    SeekTo(file, position);
  }
}

}  // namespace

int LoadRecordBody(HANDLE file, DWORD flags, DWORD size, void **body, DWORD *sizeOut) {
  if (sizeOut) *sizeOut = size;
  if (flags & blockfmt::RF_NOT_LOADABLE) return LOAD_BODY_FAILED;
  if (!AllocRaw(size, body)) return LOAD_BODY_NO_MEMORY;
  if (!ReadExact(file, *body, size)) {
    FreeAndNull(body);
    return LOAD_BODY_FAILED;
  }
  return LOAD_OK;
}

int ReadBlockFile(const char *path, DWORD offset) {
  ScopedHandle file(OpenExisting(path, ModeRead));
  if (!file) return LOAD_NO_FILE;
  int code = WalkRecords(file, offset);
  // A block without options reads as options of all zeros.
  if (code == LOAD_OK && !g.options) {
    if (!AllocZeroedT(blockfmt::kOptionsFixedSize, &g.options)) return LOAD_NO_MEMORY;
    g.optionsSize = blockfmt::kOptionsFixedSize;
  }
  return code;
}

BOOL ReadRemovalData() {
  const DWORD offset = LocatorOffset();
  if (offset == 0) return FALSE;
  DWORD n = GetModuleFileNameA(g.instance, g.ownPath, blockfmt::kPathMax);
  // A cut-off own path would name another file.
  if (n == 0 || n >= blockfmt::kPathMax) return FALSE;
  int code = ReadBlockFile(g.ownPath, offset);
  if (code == LOAD_OK) return TRUE;
  // A silent run has no one to read the report: the log and the exit code tell it.
  if (code == LOAD_NO_FILE || g.silent) return FALSE;
  ScopedBlock<char> text;
  if (!AllocZeroedT(blockfmt::kComposedMax, text.Receive())) return FALSE;
  // The table has no texts of its own for codes 1 and 5: they read as a damaged block.
  ComposeMessage(text,
                 code == LOAD_NO_MEMORY ? blockfmt::MSG_OUT_OF_MEMORY : blockfmt::MSG_READ_FAILED,
                 g.ownPath);
  ShowMessage(text, MB_ICONINFORMATION);
  return FALSE;
}

namespace {
template <typename Entry>
void FreeList(Entry ***list, DWORD *count) {
  if (*list) {
    for (DWORD i = 0; i < *count; ++i) FreeAndNullT(&(*list)[i]);
    FreeAndNullT(list);
  }
  *count = 0;
}
}  // namespace

void FreeRemovalData() {
  FreeAndNullT(&g.patterns);
  g.patternsLength = 0;
  FreeList(&g.registryEntries, &g.registryCount);
  FreeList(&g.folders, &g.folderCount);
  FreeList(&g.files, &g.fileCount);
  FreeAndNullT(&g.options);
  g.optionsSize = 0;
  if (g.messages) {
    for (char **slot = g.messages; *slot; ++slot) FreeAndNullT(slot);
    FreeAndNullT(&g.messages);
  }
}
