// Writes removal data blocks from in-memory lists and appends them to a stub.
// Portable: no platform headers. Texts are bytes in the target's ANSI code page.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "format/block_format.h"

namespace blockfmt {

struct FileItem {
  std::string folder;
  std::string name;
  uint8_t flags = 0;
};

struct FolderItem {
  uint8_t levels = 0;
  std::string folder;
  std::string secondFolder;
  std::string name;
};

struct RegistryItem {
  uint32_t root = ROOT_HKLM;
  std::string path;
  bool onlyIfEmpty = false;  // written to the TAG_EMPTY_KEYS record; names a key
};

struct Options {
  uint32_t flags = 0;
  std::string preRemoval;       // empty: none
  std::string closingDocument;  // empty: none
};

struct Block {
  std::vector<std::string> messages;  // message 0 first
  std::vector<FileItem> files;
  std::vector<FolderItem> folders;
  std::vector<RegistryItem> registry;
  std::vector<std::string> patterns;
  bool hasOptions = true;
  Options options;
};

/// Low-level record writer: the tests use it to build damaged or unusual blocks.
class RecordWriter {
 public:
  void Record(uint16_t tag, const std::vector<uint8_t> &body, uint8_t flags = 0);
  void RawRecord(uint16_t tag, uint8_t flags, uint32_t declaredSize,
                 const std::vector<uint8_t> &body);
  void End() { Record(TAG_END, {}); }
  const std::vector<uint8_t> &bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

// Body encoders, one per record kind.
std::vector<uint8_t> EncodeMessages(const std::vector<std::string> &messages);
std::vector<uint8_t> EncodeFiles(const std::vector<FileItem> &files);
std::vector<uint8_t> EncodeFolders(const std::vector<FolderItem> &folders);
std::vector<uint8_t> EncodeRegistry(const std::vector<RegistryItem> &entries);
std::vector<uint8_t> EncodePatterns(const std::vector<std::string> &patterns);
std::vector<uint8_t> EncodeOptions(const Options &options);

/// Checks every string against the reader's limits (and the u16/u32 fields) without
/// encoding; false with the entry and the reason in *error.
bool ValidateBlock(const Block &block, std::string *error);

/// The whole block: messages, files, folders, registry (the keys removed only when empty in
/// a record of their own after it), patterns, options, end record.
/// Empty lists write no record. Fails (false, reason in *error) when a string is over
/// a reader limit.
bool EncodeBlock(const Block &block, std::vector<uint8_t> *out, std::string *error);

/// True when `image` begins as a PE program does: "MZ", and "PE\0\0" where its header says.
bool HasPeSignature(const std::vector<uint8_t> &image);

/// Where a program image keeps its locator, and the block offset stamped there.
struct Locator {
  size_t at = 0;        // the marker's first byte
  uint32_t offset = 0;  // where the block begins; 0: the program carries none
};
/// The locator of a program image: the first copy of the marker, as the program itself reads
/// its own. Copies inside a block it carries (at or after its offset) do not count; any other
/// copy makes the locator ambiguous. False with the reason (none, too close to the end of
/// the file, more than once) otherwise.
bool FindLocator(const std::vector<uint8_t> &image, Locator *locator, std::string *error);
/// The stub without any block it carries (cut at a locator offset below its size), then
/// the block appended with the locator pointing at it. False with a reason on a stub that
/// is not a PE program or whose marker is missing or ambiguous.
bool AppendBlockToStub(const std::vector<uint8_t> &stub, const std::vector<uint8_t> &block,
                       std::vector<uint8_t> *out, std::string *error);

}  // namespace blockfmt
