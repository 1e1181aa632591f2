// Bounds-checked block reader for dump and check.
#include "block_reader.h"

#include <string.h>

namespace tallowin {

using namespace blockfmt;

namespace {

// A cursor over one record body; reads past its end fail instead of reading on.
class BodyCursor {
 public:
  BodyCursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  size_t left() const { return size_ - pos_; }
  bool U8(uint8_t *v) {
    if (left() < 1) return false;
    *v = data_[pos_++];
    return true;
  }
  bool U16(uint16_t *v) {
    if (left() < 2) return false;
    *v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t *v) {
    if (left() < 4) return false;
    *v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
         static_cast<uint32_t>(data_[pos_ + 2]) << 16 |
         static_cast<uint32_t>(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  bool Counted(std::string *s) {
    uint16_t len;
    if (!U16(&len) || left() < len) return false;
    s->assign(reinterpret_cast<const char *>(data_ + pos_), len);
    pos_ += len;
    return true;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

std::string Hex(uint32_t v, int width) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (int i = width - 1; i >= 0; --i) s.push_back(digits[(v >> (4 * i)) & 0xF]);
  return "0x" + s;
}

uint32_t ReadU32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// An embedded NUL would end the stub's copy of a counted string early.
bool HasNul(const std::string &s) { return s.find('\0') != std::string::npos; }

const char *ReadMessages(BodyCursor *c, ReadBlockResult *r) {
  uint16_t tables, count;
  if (!c->U16(&tables)) return "message table body too short for its table count";
  if (tables == 0) {
    r->notes.push_back("a message table record with table count 0 was ignored");
    return nullptr;
  }
  if (!c->U16(&count)) return "message table body too short for its string count";
  if (count == 0) {
    r->notes.push_back("a message table record with no strings was ignored");
    return nullptr;
  }
  std::vector<std::string> texts(count);
  for (std::string &t : texts)
    if (!c->Counted(&t)) return "message text runs past the end of the record";
  if (tables > 1) r->notes.push_back("tables after the first of a message record are skipped");
  if (!r->block.messages.empty()) r->notes.push_back("a later message table replaced one");
  r->block.messages = std::move(texts);
  return nullptr;
}

// One shape for the three entry lists, as the stub reads them: a count that the body must
// be able to hold at the list's smallest entry, then each entry through `readEntry`,
// which names what is wrong with it or returns null.
template <typename Item, typename ReadEntry>
const char *ReadList(BodyCursor *c, size_t smallestEntry, const char *noCount, const char *tooMany,
                     std::vector<Item> *list, ReadEntry readEntry) {
  uint32_t count;
  if (!c->U32(&count)) return noCount;
  if (count > c->left() / smallestEntry) return tooMany;
  for (uint32_t i = 0; i < count; ++i) {
    Item item;
    if (const char *why = readEntry(c, &item)) return why;
    list->push_back(std::move(item));
  }
  return nullptr;
}

const char *ReadFiles(BodyCursor *c, ReadBlockResult *r) {
  return ReadList(c, kMinFileEntry, "file list body too short for its count",
                  "file count larger than the record can hold", &r->block.files,
                  [](BodyCursor *c, FileItem *f) -> const char * {
                    if (!c->Counted(&f->folder) || !c->Counted(&f->name) || !c->U8(&f->flags))
                      return "file entry runs past the end of the record";
                    if (f->folder.size() + f->name.size() > kMaxFileEntryText)
                      return "file entry over the reader's 518-byte limit";
                    if (HasNul(f->folder) || HasNul(f->name))
                      return "file entry text holds a NUL byte";
                    return nullptr;
                  });
}

const char *ReadFolders(BodyCursor *c, ReadBlockResult *r) {
  return ReadList(
      c, kMinFolderEntry, "folder list body too short for its count",
      "folder count larger than the record can hold", &r->block.folders,
      [](BodyCursor *c, FolderItem *f) -> const char * {
        if (!c->U8(&f->levels) || !c->Counted(&f->folder) || !c->Counted(&f->secondFolder) ||
            !c->Counted(&f->name))
          return "folder entry runs past the end of the record";
        if (f->folder.size() + f->secondFolder.size() + f->name.size() > kMaxFolderEntryText)
          return "folder entry over the reader's 777-byte limit";
        if (HasNul(f->folder) || HasNul(f->secondFolder) || HasNul(f->name))
          return "folder entry text holds a NUL byte";
        return nullptr;
      });
}

const char *ReadRegistry(BodyCursor *c, ReadBlockResult *r) {
  return ReadList(c, kMinRegistryEntry, "registry list body too short for its count",
                  "registry count larger than the record can hold", &r->block.registry,
                  [](BodyCursor *c, RegistryItem *e) -> const char * {
                    if (!c->U32(&e->root) || !c->Counted(&e->path))
                      return "registry entry runs past the end of the record";
                    if (e->path.size() > kMaxRegistryPath)
                      return "registry path over the reader's 519-byte limit";
                    if (HasNul(e->path)) return "registry path holds a NUL byte";
                    return nullptr;
                  });
}

const char *ReadOptions(const uint8_t *body, uint32_t size, ReadBlockResult *r) {
  if (size < kOptionsFixedSize) return "options record shorter than 12 bytes";
  Options o;
  o.flags = ReadU32(body);
  std::string *texts[2] = {&o.preRemoval, &o.closingDocument};
  for (int i = 0; i < 2; ++i) {
    const uint32_t at = ReadU32(body + 4 + 4 * i);
    if (at == 0) continue;
    if (at < kOptionsFixedSize || at >= size) return "options text offset outside the texts";
    const void *nul = memchr(body + at, 0, size - at);
    if (!nul) return "options text not terminated inside the record";
    texts[i]->assign(reinterpret_cast<const char *>(body + at),
                     static_cast<const uint8_t *>(nul) - (body + at));
    if (texts[i]->empty()) r->notes.push_back("an options text offset points at an empty text");
  }
  if (o.flags & ~(OPT_WAIT | OPT_THEMED_CONTROLS))
    r->notes.push_back("options flags " + Hex(o.flags, 8) + " carry unknown bits (dropped)");
  if (r->block.hasOptions) r->notes.push_back("a later options record replaced one");
  r->block.hasOptions = true;
  r->block.options = o;
  return nullptr;
}

// Splits the merged pattern list the way the wildcard pass reads it. The program keeps two
// NUL bytes behind the stored list, so a last text without its NUL, or a list without
// the closing empty text, still reads: such a list is noted, not refused.
void FinishPatterns(const std::vector<uint8_t> &list, ReadBlockResult *r) {
  size_t pos = 0;
  while (pos < list.size()) {
    const void *nul = memchr(list.data() + pos, 0, list.size() - pos);
    const size_t end = nul ? static_cast<const uint8_t *>(nul) - list.data() : list.size();
    if (end == pos) {
      if (end + 1 < list.size()) r->notes.push_back("pattern list text after its end was hidden");
      return;
    }
    r->block.patterns.emplace_back(reinterpret_cast<const char *>(list.data() + pos), end - pos);
    if (!nul) {
      r->notes.push_back("pattern list's last text is not terminated (the program ends it)");
      return;
    }
    pos = end + 1;
  }
  r->notes.push_back("pattern list not ended by an empty text (the program ends it)");
}

}  // namespace

bool ReadBlockAt(const uint8_t *image, size_t imageSize, size_t offset, ReadBlockResult *result,
                 std::string *error) {
  ReadBlockResult &r = *result;
  r = ReadBlockResult();
  r.block.hasOptions = false;
  r.blockOffset = static_cast<uint32_t>(offset);
  std::vector<uint8_t> patterns;
  bool patternsUnterminated = false;
  size_t pos = offset;
  for (unsigned index = 0;; ++index) {
    auto damaged = [&](uint16_t tag, const std::string &why) {
      *error = "record " + std::to_string(index) + (tag ? " (tag " + Hex(tag, 4) + ")" : "") +
               " at offset " + std::to_string(pos) + " (" + Hex(static_cast<uint32_t>(pos), 8) +
               "): " + why;
      return false;
    };
    if (pos > imageSize || imageSize - pos < kHeaderSize)
      return damaged(0, "header cut short: the file ends before the end record");
    const uint8_t *h = image + pos;
    const uint16_t tag = static_cast<uint16_t>(h[0] | h[1] << 8);
    const uint8_t flags = h[2];
    const uint32_t size = ReadU32(h + 4);
    if (size == 0) {
      if (tag == TAG_END) {
        r.blockEnd = pos + kHeaderSize;
        break;
      }
      pos += kHeaderSize;
      continue;
    }
    // The end record's body is skipped, never read, however far its size reaches.
    if (size > imageSize - pos - kHeaderSize && tag != TAG_END)
      return damaged(tag,
                     "body of " + std::to_string(size) + " bytes runs past the end of the file");
    const uint8_t *body = h + kHeaderSize;
    BodyCursor cursor(body, size);
    const char *why = nullptr;
    switch (tag) {
      case TAG_MESSAGES:
        why = ReadMessages(&cursor, &r);
        break;
      case TAG_FILES:
        why = ReadFiles(&cursor, &r);
        break;
      case TAG_FOLDERS:
        why = ReadFolders(&cursor, &r);
        break;
      case TAG_REGISTRY:
        why = ReadRegistry(&cursor, &r);
        break;
      case TAG_EMPTY_KEYS: {
        const size_t before = r.block.registry.size();
        why = ReadRegistry(&cursor, &r);
        for (size_t i = before; i < r.block.registry.size(); ++i)
          r.block.registry[i].onlyIfEmpty = true;
        break;
      }
      case TAG_PATTERNS:
        if (flags & RF_NOT_LOADABLE) return damaged(tag, "marked not loadable (flags bit 1)");
        if (patternsUnterminated) {
          r.notes.push_back("a pattern record after an unterminated list was dropped");
        } else if (patterns.empty()) {
          patterns.assign(body, body + size);
        } else {
          patterns.pop_back();
          patterns.insert(patterns.end(), body, body + size);
        }
        patternsUnterminated = patterns.back() != 0;
        break;
      case TAG_OPTIONS:
        if (flags & RF_NOT_LOADABLE) return damaged(tag, "marked not loadable (flags bit 1)");
        why = ReadOptions(body, size, &r);
        break;
      case TAG_END:
        r.notes.push_back("the end record's body was skipped");
        break;
      default:
        r.notes.push_back("record " + std::to_string(index) + " with tag " + Hex(tag, 4) +
                          " skipped");
        break;
    }
    if (why) return damaged(tag, why);
    if (tag == TAG_FILES || tag == TAG_FOLDERS || tag == TAG_REGISTRY || tag == TAG_EMPTY_KEYS) {
      if (cursor.left() != 0)
        r.notes.push_back("record " + std::to_string(index) + " has " +
                          std::to_string(cursor.left()) + " unused bytes");
    }
    pos += kHeaderSize + size;
    if (tag == TAG_END) {
      r.blockEnd = pos;
      break;
    }
  }
  if (!patterns.empty()) FinishPatterns(patterns, &r);
  return true;
}

bool ReadBlockFromImage(const std::vector<uint8_t> &image, ReadBlockResult *result,
                        std::string *error) {
  blockfmt::Locator locator;
  if (!blockfmt::FindLocator(image, &locator, error)) return false;
  if (locator.offset == 0) {
    *error = "locator offset is 0: the program carries no block";
    return false;
  }
  return ReadBlockAt(image.data(), image.size(), locator.offset, result, error);
}

}  // namespace tallowin
