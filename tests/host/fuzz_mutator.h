// Deterministic mutation fuzzing of removal data blocks, shared by the host fuzzer of the
// tool's parser and the Windows fuzzer of the stub's reader. Header-only and portable.
// Every case is derived from its own number alone, so a failing case can be rebuilt.
#pragma once
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "format/block_writer.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSeed = 0x7A11A0F1F0F2B10Cull;

// Case count from TALLOWIN_FUZZ_CASES, or `fallback` when unset or not a number.
inline long CaseCount(long fallback) {
  const char *text = getenv("TALLOWIN_FUZZ_CASES");
  if (!text || !*text) return fallback;
  char *end = nullptr;
  long n = strtol(text, &end, 10);
  return (*end == 0 && n >= 0) ? n : fallback;
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }

 private:
  uint64_t state_;
};

inline std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Valid blocks of several shapes, all made by the block writer.
inline std::vector<Bytes> SeedBlocks() {
  using namespace blockfmt;
  std::vector<Bytes> seeds;
  std::vector<std::string> messages;
  for (int i = 0; i < 16; ++i) messages.push_back("message " + std::to_string(i) + " %s");

  auto add = [&](const Block &block) {
    Bytes out;
    std::string error;
    if (EncodeBlock(block, &out, &error)) seeds.push_back(out);
  };

  // Every record kind, with options that carry both texts.
  Block full;
  full.messages = messages;
  full.files = {{".", "app.exe", 0},
                {".\\sub", "lib.dll", FE_SHARED | FE_SELFREG},
                {"C:\\Windows\\Fonts", "x.ttf", FE_FONT},
                {".", "", FE_CHECK_IN_USE}};
  full.folders = {{0, ".", "", ""}, {2, ".\\a\\b", "C:\\second", "name"}};
  full.registry = {{ROOT_HKCU, "Software\\Vendor\\Product"}, {ROOT_HKLM, "Software\\X"}};
  full.patterns = {"*.log", ".\\cache\\*.tmp"};
  full.options.flags = OPT_WAIT | OPT_THEMED_CONTROLS;
  full.options.preRemoval = "\"C:\\Program Files\\x\\pre.exe\" /quiet";
  full.options.closingDocument = "https://example.invalid/bye";
  add(full);

  // Messages only, options absent.
  Block minimal;
  minimal.messages = messages;
  minimal.hasOptions = false;
  add(minimal);

  // Long texts near the reader's limits.
  Block longTexts;
  longTexts.messages = {Repeat('c', 300)};
  longTexts.files = {{Repeat('f', 259), Repeat('n', 259), 0}};
  longTexts.folders = {{255, Repeat('a', 259), Repeat('b', 259), Repeat('c', 259)}};
  longTexts.registry = {{ROOT_HKCR, Repeat('r', kMaxRegistryPath)}};
  longTexts.patterns = {Repeat('p', 200)};
  longTexts.options.preRemoval = "pre";
  add(longTexts);

  // Patterns and options with one text only.
  Block patterns;
  patterns.patterns = {"*.a", "*.b", "sub\\*", "?"};
  patterns.options.closingDocument = "readme.txt";
  add(patterns);

  // Many small entries.
  Block many;
  for (int i = 0; i < 40; ++i) many.files.push_back({".", "f" + std::to_string(i), 0});
  for (int i = 0; i < 10; ++i) many.registry.push_back({ROOT_HKU, "k" + std::to_string(i)});
  add(many);

  // Several records per tag, a skipped record, an unknown tag and an empty record.
  RecordWriter w;
  w.Record(TAG_MESSAGES, EncodeMessages({"first"}));
  w.Record(TAG_MESSAGES, EncodeMessages(messages));
  w.Record(TAG_FILES, EncodeFiles({{".", "one", 0}}));
  w.Record(TAG_SKIPPED, {1, 2, 3, 4});
  w.Record(TAG_FILES, EncodeFiles({{".", "two", FE_SHARED}, {".\\s", "three", 0}}));
  w.Record(0x4242, {9, 9});
  w.Record(TAG_FOLDERS, EncodeFolders({{1, ".", "", ""}}));
  w.Record(TAG_FOLDERS, EncodeFolders({{0, ".\\x", "", "y"}}));
  w.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKCC, "a"}}));
  w.Record(TAG_REGISTRY, EncodeRegistry({{ROOT_HKLM, "b"}}));
  w.Record(TAG_PATTERNS, EncodePatterns({"*.x"}));
  w.Record(TAG_PATTERNS, EncodePatterns({"*.y", "*.z"}));
  w.Record(TAG_MESSAGES, {});
  Options first;
  first.preRemoval = "p";
  w.Record(TAG_OPTIONS, EncodeOptions(first));
  Options second;
  second.flags = OPT_WAIT;
  second.closingDocument = "d";
  w.Record(TAG_OPTIONS, EncodeOptions(second));
  w.End();
  seeds.push_back(w.bytes());
  return seeds;
}

// Start offsets of the records of a block (the end record's too), as far as they parse.
inline std::vector<size_t> RecordStarts(const Bytes &b) {
  std::vector<size_t> starts;
  size_t pos = 0;
  while (pos + blockfmt::kHeaderSize <= b.size() && starts.size() < 64) {
    starts.push_back(pos);
    uint16_t tag = static_cast<uint16_t>(b[pos] | b[pos + 1] << 8);
    if (tag == blockfmt::TAG_END) break;
    uint32_t size = static_cast<uint32_t>(b[pos + 4]) | static_cast<uint32_t>(b[pos + 5]) << 8 |
                    static_cast<uint32_t>(b[pos + 6]) << 16 |
                    static_cast<uint32_t>(b[pos + 7]) << 24;
    if (size > b.size() - pos - blockfmt::kHeaderSize) break;
    pos += blockfmt::kHeaderSize + size;
  }
  return starts;
}

inline uint32_t BodySizeAt(const Bytes &b, size_t start) {
  return static_cast<uint32_t>(b[start + 4]) | static_cast<uint32_t>(b[start + 5]) << 8 |
         static_cast<uint32_t>(b[start + 6]) << 16 | static_cast<uint32_t>(b[start + 7]) << 24;
}

inline void PutU16(Bytes *b, size_t at, uint32_t v) {
  if (at + 2 > b->size()) return;
  (*b)[at] = static_cast<uint8_t>(v);
  (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(Bytes *b, size_t at, uint32_t v) {
  if (at + 4 > b->size()) return;
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Boundary values for a field; `near` adds the values either side of a size.
inline uint32_t Boundary(Rng &rng, uint32_t near) {
  static const uint32_t kValues[] = {0,       1,          2,           0x7F,        0x80,
                                     0xFF,    0x100,      0x7FFF,      0x8000,      0xFFFF,
                                     0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  size_t pick = rng.Below(sizeof kValues / sizeof kValues[0] + 3);
  if (pick == 0) return near - 1;
  if (pick == 1) return near;
  if (pick == 2) return near + 1;
  return kValues[pick - 3];
}

enum Op {
  OP_BIT_FLIP,
  OP_BYTE_ZERO,
  OP_BYTE_FF,
  OP_BYTE_RANDOM,
  OP_U16_BOUNDARY,
  OP_U32_BOUNDARY,
  OP_BODY_SIZE,
  OP_BODY_FIELD,
  OP_TRUNCATE,
  OP_INSERT,
  OP_DELETE,
  OP_DUPLICATE_RECORD,
  OP_COUNT
};

inline void MutateOnce(Rng &rng, Bytes *b) {
  if (b->empty()) {
    b->push_back(static_cast<uint8_t>(rng.Next()));
    return;
  }
  const size_t n = b->size();
  std::vector<size_t> starts = RecordStarts(*b);
  switch (static_cast<Op>(rng.Below(OP_COUNT))) {
    case OP_BIT_FLIP:
      (*b)[rng.Below(n)] ^= static_cast<uint8_t>(1u << rng.Below(8));
      break;
    case OP_BYTE_ZERO:
      (*b)[rng.Below(n)] = 0;
      break;
    case OP_BYTE_FF:
      (*b)[rng.Below(n)] = 0xFF;
      break;
    case OP_BYTE_RANDOM:
      (*b)[rng.Below(n)] = static_cast<uint8_t>(rng.Next());
      break;
    case OP_U16_BOUNDARY:
      PutU16(b, rng.Below(n), Boundary(rng, static_cast<uint32_t>(rng.Below(0x400))));
      break;
    case OP_U32_BOUNDARY:
      PutU32(b, rng.Below(n), Boundary(rng, static_cast<uint32_t>(rng.Below(0x400))));
      break;
    case OP_BODY_SIZE: {  // a record's declared size
      if (starts.empty()) break;
      size_t at = starts[rng.Below(starts.size())];
      PutU32(b, at + 4, Boundary(rng, BodySizeAt(*b, at)));
      break;
    }
    case OP_BODY_FIELD: {  // a count or length near the start of a body
      if (starts.empty()) break;
      size_t at = starts[rng.Below(starts.size())] + blockfmt::kHeaderSize;
      size_t field = at + rng.Below(24);
      uint32_t v = Boundary(rng, BodySizeAt(*b, at - blockfmt::kHeaderSize));
      if (rng.Below(2))
        PutU16(b, field, v);
      else
        PutU32(b, field, v);
      break;
    }
    case OP_TRUNCATE:
      b->resize(rng.Below(n));
      break;
    case OP_INSERT: {
      size_t at = rng.Below(n + 1);
      size_t count = 1 + rng.Below(rng.Below(4) ? 4 : 64);
      Bytes extra(count);
      uint8_t fill = rng.Below(2) ? static_cast<uint8_t>(rng.Next()) : 0;
      for (auto &x : extra) x = rng.Below(3) ? fill : static_cast<uint8_t>(rng.Next());
      b->insert(b->begin() + static_cast<long>(at), extra.begin(), extra.end());
      break;
    }
    case OP_DELETE: {
      size_t at = rng.Below(n);
      size_t count = 1 + rng.Below(rng.Below(4) ? 4 : 64);
      if (count > n - at) count = n - at;
      b->erase(b->begin() + static_cast<long>(at), b->begin() + static_cast<long>(at + count));
      break;
    }
    case OP_DUPLICATE_RECORD: {
      if (starts.size() < 2) break;
      size_t i = rng.Below(starts.size() - 1);  // not the end record
      Bytes record(b->begin() + static_cast<long>(starts[i]),
                   b->begin() + static_cast<long>(starts[i + 1]));
      size_t to = starts[rng.Below(starts.size())];
      b->insert(b->begin() + static_cast<long>(to), record.begin(), record.end());
      break;
    }
    case OP_COUNT:
      break;
  }
}

// Case `index`: one seed block with one to four mutations.
inline Bytes MakeCase(const std::vector<Bytes> &seeds, long index) {
  Rng rng(kSeed ^ (static_cast<uint64_t>(index) * 0xD1B54A32D192ED03ull));
  Bytes b = seeds[rng.Below(seeds.size())];
  size_t rounds = 1 + rng.Below(4);
  for (size_t i = 0; i < rounds; ++i) MutateOnce(rng, &b);
  return b;
}

}  // namespace fuzz
