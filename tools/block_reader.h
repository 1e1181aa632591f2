// Reads a removal data block back out of a program image, as the stub would load it.
// Every read is bounds-checked: the image may come from any writer, or be damaged.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "format/block_writer.h"

namespace tallowin {

struct ReadBlockResult {
  blockfmt::Block block;           // hasOptions false when no options record was loaded
  uint32_t blockOffset = 0;        // file offset of the first record
  uint64_t blockEnd = 0;           // file offset just past the end record
  std::vector<std::string> notes;  // what the manifest cannot show (skipped records, ...)
};

/// Walks the records from `offset` in `image`, merging them as the stub does. False with
/// "record N (tag 0x....) at offset X: reason" in *error when the block is damaged.
bool ReadBlockAt(const uint8_t *image, size_t imageSize, size_t offset, ReadBlockResult *result,
                 std::string *error);

/// Finds the locator in a program image and reads the block it points at.
bool ReadBlockFromImage(const std::vector<uint8_t> &image, ReadBlockResult *result,
                        std::string *error);

}  // namespace tallowin
