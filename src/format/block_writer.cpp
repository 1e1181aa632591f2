// Writes removal data blocks and appends them to a stub.
#include "format/block_writer.h"

#include <string.h>

namespace blockfmt {

namespace {

constexpr uint32_t kU16Max = 0xFFFF;
// The stub seeks with signed 32-bit positions: a block must start and end below 2 GiB.
constexpr uint64_t kMaxImage = 0x7FFFFFFFu;

void PutU8(std::vector<uint8_t> *out, uint8_t v) { out->push_back(v); }

void PutU16(std::vector<uint8_t> *out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v & 0xFF));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t> *out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void SetU32(std::vector<uint8_t> *out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const std::vector<uint8_t> &in, size_t at) {
  return static_cast<uint32_t>(in[at]) | static_cast<uint32_t>(in[at + 1]) << 8 |
         static_cast<uint32_t>(in[at + 2]) << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

// Callers check the length first; the cast keeps only what was checked.
void PutCounted(std::vector<uint8_t> *out, const std::string &s) {
  PutU16(out, static_cast<uint16_t>(s.size()));
  out->insert(out->end(), s.begin(), s.end());
}

void PutTerminated(std::vector<uint8_t> *out, const std::string &s) {
  out->insert(out->end(), s.begin(), s.end());
  out->push_back(0);
}

bool Fail(std::string *error, const std::string &reason) {
  if (error) *error = reason;
  return false;
}

// The reader keeps strings NUL-terminated, so an embedded NUL would silently cut one short.
bool CheckText(const std::string &s, uint32_t maxLen, const std::string &what, std::string *error) {
  if (s.find('\0') != std::string::npos) return Fail(error, what + ": contains a NUL byte");
  if (s.size() > maxLen)
    return Fail(error, what + ": " + std::to_string(s.size()) + " bytes, at most " +
                           std::to_string(maxLen) + " allowed");
  return true;
}

std::string Item(const char *list, size_t i) {
  return std::string(list) + "[" + std::to_string(i) + "]";
}

size_t FindFrom(const std::vector<uint8_t> &image, size_t from) {
  if (image.size() < sizeof(kMarker)) return std::string::npos;
  for (size_t i = from; i + sizeof(kMarker) <= image.size(); ++i) {
    if (image[i] == kMarker[0] && memcmp(&image[i], kMarker, sizeof(kMarker)) == 0) return i;
  }
  return std::string::npos;
}

}  // namespace

void RecordWriter::Record(uint16_t tag, const std::vector<uint8_t> &body, uint8_t flags) {
  RawRecord(tag, flags, static_cast<uint32_t>(body.size()), body);
}

void RecordWriter::RawRecord(uint16_t tag, uint8_t flags, uint32_t declaredSize,
                             const std::vector<uint8_t> &body) {
  PutU16(&out_, tag);
  PutU8(&out_, flags);
  PutU8(&out_, 0);
  PutU32(&out_, declaredSize);
  out_.insert(out_.end(), body.begin(), body.end());
}

std::vector<uint8_t> EncodeMessages(const std::vector<std::string> &messages) {
  std::vector<uint8_t> body;
  PutU16(&body, 1);
  PutU16(&body, static_cast<uint16_t>(messages.size()));
  for (const std::string &m : messages) PutCounted(&body, m);
  return body;
}

std::vector<uint8_t> EncodeFiles(const std::vector<FileItem> &files) {
  std::vector<uint8_t> body;
  PutU32(&body, static_cast<uint32_t>(files.size()));
  for (const FileItem &f : files) {
    PutCounted(&body, f.folder);
    PutCounted(&body, f.name);
    PutU8(&body, f.flags);
  }
  return body;
}

std::vector<uint8_t> EncodeFolders(const std::vector<FolderItem> &folders) {
  std::vector<uint8_t> body;
  PutU32(&body, static_cast<uint32_t>(folders.size()));
  for (const FolderItem &f : folders) {
    PutU8(&body, f.levels);
    PutCounted(&body, f.folder);
    PutCounted(&body, f.secondFolder);
    PutCounted(&body, f.name);
  }
  return body;
}

std::vector<uint8_t> EncodeRegistry(const std::vector<RegistryItem> &entries) {
  std::vector<uint8_t> body;
  PutU32(&body, static_cast<uint32_t>(entries.size()));
  for (const RegistryItem &r : entries) {
    PutU32(&body, r.root);
    PutCounted(&body, r.path);
  }
  return body;
}

std::vector<uint8_t> EncodePatterns(const std::vector<std::string> &patterns) {
  std::vector<uint8_t> body;
  for (const std::string &p : patterns) PutTerminated(&body, p);
  body.push_back(0);
  return body;
}

std::vector<uint8_t> EncodeOptions(const Options &options) {
  std::vector<uint8_t> body;
  PutU32(&body, options.flags);
  PutU32(&body, 0);
  PutU32(&body, 0);
  if (!options.preRemoval.empty()) {
    SetU32(&body, 4, static_cast<uint32_t>(body.size()));
    PutTerminated(&body, options.preRemoval);
  }
  if (!options.closingDocument.empty()) {
    SetU32(&body, 8, static_cast<uint32_t>(body.size()));
    PutTerminated(&body, options.closingDocument);
  }
  return body;
}

bool ValidateBlock(const Block &block, std::string *error) {
  if (block.messages.size() > kU16Max)
    return Fail(error, "messages: " + std::to_string(block.messages.size()) +
                           " texts, at most 65535 allowed");
  for (size_t i = 0; i < block.messages.size(); ++i)
    if (!CheckText(block.messages[i], kU16Max, Item("messages", i), error)) return false;

  for (size_t i = 0; i < block.files.size(); ++i) {
    const FileItem &f = block.files[i];
    if (!CheckText(f.folder, kU16Max, Item("files", i) + ".folder", error) ||
        !CheckText(f.name, kU16Max, Item("files", i) + ".name", error) ||
        !CheckText(f.folder + f.name, kMaxFileEntryText, Item("files", i) + " folder + name",
                   error))
      return false;
  }
  for (size_t i = 0; i < block.folders.size(); ++i) {
    const FolderItem &f = block.folders[i];
    if (!CheckText(f.folder, kU16Max, Item("folders", i) + ".folder", error) ||
        !CheckText(f.secondFolder, kU16Max, Item("folders", i) + ".secondFolder", error) ||
        !CheckText(f.name, kU16Max, Item("folders", i) + ".name", error) ||
        !CheckText(f.folder + f.secondFolder + f.name, kMaxFolderEntryText,
                   Item("folders", i) + " folder + secondFolder + name", error))
      return false;
  }
  for (size_t i = 0; i < block.registry.size(); ++i)
    if (!CheckText(block.registry[i].path, kMaxRegistryPath, Item("registry", i) + ".key", error))
      return false;
  for (size_t i = 0; i < block.patterns.size(); ++i) {
    // An empty pattern would end the list early and hide every pattern after it.
    if (block.patterns[i].empty()) return Fail(error, Item("patterns", i) + ": empty pattern");
    if (!CheckText(block.patterns[i], kMaxImage, Item("patterns", i), error)) return false;
  }
  if (block.hasOptions) {
    if (!CheckText(block.options.preRemoval, kMaxImage, "options.preRemoval", error) ||
        !CheckText(block.options.closingDocument, kMaxImage, "options.closingDocument", error))
      return false;
  }
  return true;
}

bool EncodeBlock(const Block &block, std::vector<uint8_t> *out, std::string *error) {
  if (!ValidateBlock(block, error)) return false;
  RecordWriter w;
  if (!block.messages.empty()) w.Record(TAG_MESSAGES, EncodeMessages(block.messages));
  if (!block.files.empty()) w.Record(TAG_FILES, EncodeFiles(block.files));
  if (!block.folders.empty()) w.Record(TAG_FOLDERS, EncodeFolders(block.folders));
  std::vector<RegistryItem> registry[2];
  for (const RegistryItem &r : block.registry) registry[r.onlyIfEmpty].push_back(r);
  if (!registry[0].empty()) w.Record(TAG_REGISTRY, EncodeRegistry(registry[0]));
  if (!registry[1].empty()) w.Record(TAG_EMPTY_KEYS, EncodeRegistry(registry[1]));
  if (!block.patterns.empty()) w.Record(TAG_PATTERNS, EncodePatterns(block.patterns));
  if (block.hasOptions) w.Record(TAG_OPTIONS, EncodeOptions(block.options));
  w.End();
  if (w.bytes().size() > kMaxImage) return Fail(error, "block: larger than 2 GiB");
  // A second marker in the packed program would make its locator ambiguous.
  if (FindFrom(w.bytes(), 0) != std::string::npos)
    return Fail(error, "block: its texts contain the locator marker bytes");
  *out = w.bytes();
  return true;
}

bool HasPeSignature(const std::vector<uint8_t> &image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  uint64_t pe = GetU32(image, 0x3C);
  if (pe + 4 > image.size()) return false;
  return memcmp(&image[pe], "PE\0\0", 4) == 0;
}

bool FindLocator(const std::vector<uint8_t> &image, Locator *locator, std::string *error) {
  const size_t first = FindFrom(image, 0);
  if (first == std::string::npos) return Fail(error, "locator marker not found");
  if (first + kLocatorSize > image.size() || first > kMaxImage)
    return Fail(error, "locator marker too close to the end of the file");
  const uint32_t offset = GetU32(image, first + 6);
  // The program's own copy comes first. A block it carries (from another writer) may hold
  // the marker too; a copy between the two leaves unclear which one the program reads.
  const bool carried = offset >= first + kLocatorSize && offset < image.size();
  if (FindFrom(image, first + 1) < (carried ? offset : image.size()))
    return Fail(error, "locator marker found more than once");
  locator->at = first;
  locator->offset = offset;
  return true;
}

bool AppendBlockToStub(const std::vector<uint8_t> &stub, const std::vector<uint8_t> &block,
                       std::vector<uint8_t> *out, std::string *error) {
  if (!HasPeSignature(stub)) return Fail(error, "stub is not a PE program (no MZ/PE signature)");
  std::vector<uint8_t> image;
  Locator locator;
  if (!FindLocator(stub, &locator, error)) return false;
  size_t keep = stub.size();
  const size_t field = locator.at + 6;
  const uint32_t old = locator.offset;
  if (old != 0 && old < stub.size()) {
    // Cutting there would remove the locator itself: the offset cannot be a block's.
    if (old < field + 4)
      return Fail(error, "stub's locator offset " + std::to_string(old) +
                             " points inside the program, not at a block");
    keep = old;
  }
  if (static_cast<uint64_t>(keep) + block.size() > kMaxImage)
    return Fail(error, "program with its block would exceed 2 GiB");
  image.reserve(keep + block.size());
  image.assign(stub.begin(), stub.begin() + static_cast<long>(keep));
  image.insert(image.end(), block.begin(), block.end());
  SetU32(&image, field, static_cast<uint32_t>(keep));
  if (error) error->clear();
  *out = std::move(image);
  return true;
}

}  // namespace blockfmt
