// Removal data blocks, one row each, read by both readers: the stub's in the Windows
// fuzzer, which holds its lists against the tool's, the tool's in the host fuzzer. Damaged
// ones with their reason, and readable ones that merge records in every way the stub does.
// Header-only and portable, with the small byte builders that the reader tests share.
#pragma once
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "format/block_writer.h"

namespace damaged {

using Bytes = std::vector<uint8_t>;

inline Bytes U16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes U32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
/// A counted string: its u16 length, then its bytes.
inline Bytes Str(const std::string &s) {
  return Cat({U16(uint16_t(s.size())), Bytes(s.begin(), s.end())});
}
inline Bytes File(const std::string &folder, const std::string &name, uint8_t flags) {
  return Cat({Str(folder), Str(name), Bytes{flags}});
}

struct Rec {
  uint16_t tag;
  Bytes body;
  uint8_t flags = 0;
  uint32_t size = UINT32_MAX;  // the body's own size unless given
};

/// The records, then options of all zeros and the end record (none when `end` is false).
inline Bytes Block(const std::vector<Rec> &records, bool end = true) {
  blockfmt::RecordWriter w;
  for (const Rec &r : records)
    w.RawRecord(r.tag, r.flags, r.size == UINT32_MAX ? uint32_t(r.body.size()) : r.size, r.body);
  if (!end) return w.bytes();
  w.Record(blockfmt::TAG_OPTIONS, Bytes(blockfmt::kOptionsFixedSize, 0));
  w.End();
  return w.bytes();
}

// The stub reader's codes: a block read, a damaged block, a body marked not loadable.
constexpr int kRead = 0, kDamaged = 8, kNotLoadable = 1;

struct Case {
  const char *what;
  Bytes block;
  int stubCode;
  const char *reason;  // a part of the tool's report ("" for a block read)
};

inline std::vector<Case> Cases() {
  using namespace blockfmt;
  auto text = [](size_t n, char c) { return Str(std::string(n, c)); };
  auto options = [](uint32_t pre, const std::string &texts) {
    return Cat({U32(0), U32(pre), U32(0), Bytes(texts.begin(), texts.end())});
  };
  const Bytes one = Cat({U32(1), File(".", "a", 0)});
  const Bytes key = Cat({U32(ROOT_HKCU), Str("k")});
  const Rec pattern = {TAG_PATTERNS, {'b', 0, 0}};
  // Entries of every length from 1 to 517 bytes, so that fields fall across the stub's
  // reading buffer's edges at every offset; the record behind is read from its own start.
  // One byte short, the last flag would come from the next record.
  Bytes files = U32(600);
  for (int i = 0; i < 600; ++i) {
    std::string name = std::to_string(i) + std::string(1 + (i * 37) % 510, char('a' + i % 26));
    files = Cat({files, File(".\\d" + std::to_string(i % 7), name, uint8_t(i))});
  }
  // Lists in file order across records, one marked not loadable, which means nothing on a
  // list; unknown tags and empty records are skipped. Of two message tables in one body
  // only the first is read, and a table without strings keeps it; an empty options record
  // keeps the options. An end record's body is skipped, never read, even one that runs
  // past the file's end, and nothing behind it is read.
  RecordWriter lists;
  lists.Record(TAG_FILES, files);
  lists.Record(0x4242, {9});
  lists.Record(TAG_FILES, EncodeFiles({{".", "a", 1}, {".\\sub", "b", 2}, {"C:\\x", "", 8}}));
  lists.Record(TAG_FILES, EncodeFiles({{"D:\\y", "d", 4}}), RF_NOT_LOADABLE);
  lists.Record(TAG_FOLDERS, EncodeFolders({{2, "C:\\p\\q", "C:\\r", "n"}}));
  lists.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKCU, "Software\\\\V"}}));
  lists.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKLM, "S"}}));
  lists.Record(TAG_PATTERNS, {'*', '.', 't'});
  lists.Record(TAG_PATTERNS, {'x', 0, 0});
  lists.Record(TAG_MESSAGES, {});
  lists.Record(TAG_MESSAGES,
               Cat({U16(2), U16(3), Str("cap"), Str(""), Str("two"), U16(1), Str("other")}));
  lists.Record(TAG_MESSAGES, Cat({U16(1), U16(0)}));
  lists.Record(TAG_OPTIONS, EncodeOptions({2, "", "doc.htm"}));
  lists.Record(TAG_OPTIONS, {});
  lists.RawRecord(TAG_END, 0, 1000, {1, 2});
  lists.Record(TAG_FILES, EncodeFiles({{".", "after the end", 0}}));
  return {
      {"no end record", Block({{TAG_FILES, one}}, false), kDamaged, "header cut short"},
      {"size past the file's end", Block({{TAG_SKIPPED, U32(0), 0, 1000}}), kDamaged,
       "body of 1000 bytes runs past the end of the file"},
      {"size that wraps the position", Block({{TAG_FILES, one, 0, 0xFFFFFFF8u}}), kDamaged,
       "runs past the end"},
      {"registry count that would overflow the array size",
       Block({{TAG_REGISTRY, Cat({U32(0xFFFFFFFFu), key})}}), kDamaged, "registry count larger"},
      {"file entry longer than its body",
       Block({{TAG_FILES, Cat({U32(1), U16(50), Bytes{'a', 'b', 'c'}})}}), kDamaged,
       "file entry runs past"},
      {"file name pushes the pair over 518",
       Block({{TAG_FILES, Cat({U32(1), File(std::string(300, 'a'), std::string(219, 'b'), 0)})}}),
       kDamaged, "518-byte limit"},
      {"folder texts over 777 bytes",
       Block({{TAG_FOLDERS, Cat({U32(1), Bytes{0}, text(400, 'a'), text(378, 'b'), Str("")})}}),
       kDamaged, "777-byte limit"},
      {"registry path over 519 bytes",
       Block({{TAG_REGISTRY, Cat({U32(1), U32(ROOT_HKCU), text(520, 'k')})}}), kDamaged,
       "519-byte limit"},
      // A NUL would cut the text to a path that names something else.
      {"file text with a NUL byte",
       Block({{TAG_FILES, Cat({U32(1), File("C:\\a", std::string("x\0.dll", 6), 0)})}}), kDamaged,
       "NUL byte"},
      {"message text beyond the body", Block({{TAG_MESSAGES, Cat({U16(1), U16(1), U16(40)})}}),
       kDamaged, "message text runs past"},
      {"message body without its string count", Block({{TAG_MESSAGES, {1}}}), kDamaged,
       "too short for its table count"},
      {"options shorter than 12 bytes", Block({{TAG_OPTIONS, Bytes(8, 0)}}), kDamaged,
       "shorter than 12 bytes"},
      {"options offset outside the body",
       Block({{TAG_OPTIONS, options(40, std::string("x\0", 2))}}), kDamaged, "offset outside"},
      {"options text without NUL", Block({{TAG_OPTIONS, options(12, "unterminated")}}), kDamaged,
       "not terminated"},
      {"options marked not loadable", Block({{TAG_OPTIONS, Bytes(12, 0), RF_NOT_LOADABLE}}),
       kNotLoadable, "not loadable"},
      // The entry lists share one reading loop: what a record read before its failing
      // entry must be released with it.
      {"second registry record fails midway",
       Block({{TAG_REGISTRY, Cat({U32(1), key})},
              {TAG_REGISTRY, Cat({U32(2), key, U32(ROOT_HKCU), U16(0xFFFF), Bytes(16, 0)})}}),
       kDamaged, "registry entry runs past"},
      {"a long list one byte short", Block({{TAG_FILES, Bytes(files.begin(), files.end() - 1)}}),
       kDamaged, "file entry runs past"},
      {"records of every kind in turn", lists.bytes(), kRead, ""},
      // The program ends a list that lacks its closing empty text, or the last text's NUL,
      // with its spare NUL bytes. Text after the closing empty text stays hidden; the next
      // body takes the place of the last NUL; an unterminated list takes no further bodies.
      {"patterns: text after the end", Block({{TAG_PATTERNS, {'a', 0, 0, 'h', 0, 0}}, pattern}),
       kRead, ""},
      {"patterns: no closing text", Block({{TAG_PATTERNS, {'a', 0, 'b', 'c'}}}), kRead, ""},
      {"patterns: bodies joined", Block({{TAG_PATTERNS, {'a', 0}}, pattern}), kRead, ""},
      {"patterns: unterminated", Block({{TAG_PATTERNS, {'a'}}, pattern}), kRead, ""},
  };
}

}  // namespace damaged
