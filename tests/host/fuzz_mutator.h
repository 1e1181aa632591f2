// Deterministic mutation fuzzing of removal data blocks, shared by the host fuzzer of the
// tool's parser and the Windows fuzzer of the stub's reader. Header-only and portable.
// Every case is derived from its own number alone, so a failing case can be rebuilt.
#pragma once
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/block_writer.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kSeed = 0x7A11A0F1F0F2B10Cull;

// Case count from TALLOWIN_FUZZ_CASES, or `fallback` when unset.
inline long CaseCount(long fallback) {
  const char *text = getenv("TALLOWIN_FUZZ_CASES");
  return text && *text ? strtol(text, nullptr, 10) : fallback;
}

struct Rng {
  uint64_t state;
  uint64_t Next() {  // splitmix64
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
};

// Valid blocks of several shapes, all made by the block writer.
inline std::vector<Bytes> SeedBlocks() {
  using namespace blockfmt;
  using S = std::string;
  std::vector<S> messages;
  for (int i = 0; i < 16; ++i) messages.push_back("message " + std::to_string(i) + " %s");
  // Every record kind, with options that carry both texts.
  Block full;
  full.messages = messages;
  full.files = {{".", "app.exe", FE_CHECK_IN_USE}, {".\\sub", "lib.dll", FE_SHARED | FE_SELFREG}};
  full.folders = {{0, ".", "", ""}, {2, ".\\a\\b", "C:\\second", "name"}};
  full.registry = {{ROOT_HKCU, "Software\\Vendor\\Product"}, {ROOT_HKLM, "Software\\X"}};
  full.patterns = {"*.log", ".\\cache\\*.tmp"};
  full.options = {OPT_WAIT | OPT_THEMED_CONTROLS, "\"C:\\x\\pre.exe\" /quiet", "https://x.invalid"};
  Block longTexts;  // texts at the reader's limits, and no options record
  longTexts.messages = {S(300, 'c')};
  longTexts.files = {{S(259, 'f'), S(259, 'n'), 0}};
  longTexts.folders = {{255, S(259, 'a'), S(259, 'b'), S(259, 'c')}};
  longTexts.registry = {{ROOT_HKCR, S(kMaxRegistryPath, 'r')}};
  longTexts.patterns = {S(200, 'p')};
  longTexts.hasOptions = false;
  std::vector<Bytes> seeds(2);
  if (!EncodeBlock(full, &seeds[0], nullptr) || !EncodeBlock(longTexts, &seeds[1], nullptr))
    return {};
  // Several records of every kind (the first seed's twice), an unknown tag, an empty record.
  RecordWriter w;
  w.Record(0x4242, {9, 9});
  w.Record(TAG_MESSAGES, {});
  seeds.push_back(w.bytes());
  seeds[2].insert(seeds[2].end(), seeds[0].begin(), seeds[0].end() - kHeaderSize);
  seeds[2].insert(seeds[2].end(), seeds[0].begin(), seeds[0].end());
  return seeds;
}

inline void MutateOnce(Rng &rng, Bytes *b) {
  if (b->empty()) return b->push_back(static_cast<uint8_t>(rng.Next()));
  const size_t n = b->size(), at = rng.Below(n);
  switch (rng.Below(4)) {
    case 0: {  // one byte: a flipped bit, 0, 0xFF or any value
      uint8_t &byte = (*b)[at];
      const uint8_t values[] = {static_cast<uint8_t>(byte ^ 1u << rng.Below(8)), 0, 0xFF,
                                static_cast<uint8_t>(rng.Next())};
      byte = values[rng.Below(4)];
      break;
    }
    case 1: {  // a u16 or a u32: one either side of what it held (a record's size, an
               // entry's count or length), the same, or a boundary value
      static const uint32_t kValues[] = {0,          0xFF,        0xFFFF,     0x10000,
                                         0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
      const size_t width = std::min<size_t>(rng.Below(2) ? 2 : 4, n - at), pick = rng.Below(10);
      uint32_t v = 0;
      for (size_t i = 0; i < width; ++i) v |= uint32_t{(*b)[at + i]} << (8 * i);
      v = pick < 3 ? v - 1 + static_cast<uint32_t>(pick) : kValues[pick - 3];
      for (size_t i = 0; i < width; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
      break;
    }
    case 2:
      b->resize(at);
      break;
    case 3: {  // a run of 1 to 4 bytes, now and then of up to 64, inserted or erased
      const size_t count = std::min(1 + rng.Below(rng.Below(4) ? 4 : 64), n - at);
      if (rng.Below(2)) {
        b->erase(b->begin() + static_cast<long>(at), b->begin() + static_cast<long>(at + count));
      } else {
        b->insert(b->begin() + static_cast<long>(at), count, static_cast<uint8_t>(rng.Next()));
      }
      break;
    }
  }
}

// Case `index`: one seed block with one to four mutations.
inline Bytes MakeCase(const std::vector<Bytes> &seeds, long index) {
  Rng rng{kSeed ^ (static_cast<uint64_t>(index) * 0xD1B54A32D192ED03ull)};
  Bytes b = seeds[rng.Below(seeds.size())];
  const size_t rounds = 1 + rng.Below(4);
  for (size_t i = 0; i < rounds; ++i) MutateOnce(rng, &b);
  return b;
}

}  // namespace fuzz
