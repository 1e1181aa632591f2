// Program headers, bounds-checked: the image may come from anywhere.
#include "pe_image.h"

#include <stdio.h>

#include "format/block_writer.h"

namespace tallowin {

namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kSecurityEntry = 4;  // index of the certificate table's directory entry
constexpr size_t kCertAlign = 8;      // certificate tables start 8-byte aligned

uint32_t Get(const std::vector<uint8_t> &v, size_t at, int bytes) {
  uint32_t x = 0;
  for (int i = bytes - 1; i >= 0; --i) x = x << 8 | v[at + i];
  return x;
}

void Put32(std::vector<uint8_t> *v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) (*v)[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

std::string Hex(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

}  // namespace

bool ReadPeHeaders(const std::vector<uint8_t> &image, PeHeaders *out, Fault *fault) {
  *out = PeHeaders();
  const size_t size = image.size();
  const size_t pe = blockfmt::HasPeSignature(image) ? Get(image, 0x3C, 4) : size;
  if (size - pe < 24) return Fail(fault, "", "not a PE program (no MZ/PE signature)");
  const uint16_t machine = static_cast<uint16_t>(Get(image, pe + 4, 2));
  const size_t optSize = Get(image, pe + 20, 2);
  const size_t opt = pe + 24;
  const uint16_t magic = size - opt >= 2 ? static_cast<uint16_t>(Get(image, opt, 2)) : 0;
  const bool plus = magic == kMagicPe32Plus && machine == kMachineAmd64;
  if (!plus && !(magic == kMagicPe32 && machine == kMachineI386))
    return Fail(fault, "",
                "a PE program for machine " + Hex(machine) + " with optional header " + Hex(magic) +
                    ": a stub is PE32 i386 or PE32+ x86-64");
  const size_t countAt = opt + (plus ? 108 : 92), dirs = opt + (plus ? 112 : 96);
  if (optSize < dirs - opt || size < opt + optSize || opt + optSize < countAt + 4)
    return Fail(fault, "", "its optional header is cut short");
  out->pe32Plus = plus;
  out->checksumAt = opt + 64;
  out->directoriesAt = dirs;
  out->directoryCount = (opt + optSize - dirs) / 8;
  if (Get(image, countAt, 4) < out->directoryCount) out->directoryCount = Get(image, countAt, 4);
  out->sectionsAt = opt + optSize;
  out->sectionCount = static_cast<uint16_t>(Get(image, pe + 6, 2));
  if ((size - out->sectionsAt) / 40 < out->sectionCount) out->sectionCount = 0;
  // What the program itself occupies: a block or a certificate table never starts there.
  out->programEnd = Get(image, opt + 60, 4);  // size of the headers
  // Every entry that lies in the file counts, also of a table the file cuts short.
  const size_t count = Get(image, pe + 6, 2);
  for (size_t i = 0; i < count && out->sectionsAt + 40 * (i + 1) <= size; ++i) {
    const size_t at = out->sectionsAt + 40 * i;
    const uint64_t rawSize = Get(image, at + 16, 4), rawStart = Get(image, at + 20, 4);
    if (rawSize && rawStart + rawSize > out->programEnd)
      out->programEnd = static_cast<size_t>(rawStart + rawSize);
  }
  const size_t entry = dirs + 8 * kSecurityEntry;
  if (Get(image, countAt, 4) > kSecurityEntry && entry + 8 <= opt + optSize) {
    out->securityAt = entry;
    out->certOffset = Get(image, entry, 4);
    out->certSize = Get(image, entry + 4, 4);
  }
  return true;
}

bool RvaToFileOffset(const std::vector<uint8_t> &image, const PeHeaders &h, uint32_t rva,
                     uint32_t size, size_t *at) {
  for (uint32_t i = 0; i < h.sectionCount; ++i) {
    const size_t s = h.sectionsAt + 40 * i;
    const uint64_t virtualSize = Get(image, s + 8, 4), virtualAt = Get(image, s + 12, 4);
    const uint64_t rawSize = Get(image, s + 16, 4), rawAt = Get(image, s + 20, 4);
    const uint64_t held = virtualSize < rawSize ? virtualSize : rawSize;
    if (rva < virtualAt || uint64_t{rva} + size > virtualAt + held) continue;
    const uint64_t offset = rawAt + (rva - virtualAt);
    if (offset + size > image.size()) return false;
    *at = static_cast<size_t>(offset);
    return true;
  }
  return false;
}

bool FindResource(const std::vector<uint8_t> &image, const PeHeaders &h, uint32_t type, uint32_t id,
                  size_t *at, size_t *size) {
  constexpr uint32_t kResourceEntry = 2;
  if (h.directoryCount <= kResourceEntry) return false;
  const uint32_t rsrcRva = Get(image, h.directoriesAt + 8 * kResourceEntry, 4);
  const uint32_t rsrcSize = Get(image, h.directoriesAt + 8 * kResourceEntry + 4, 4);
  size_t base = 0;
  if (rsrcRva == 0 || !RvaToFileOffset(image, h, rsrcRva, rsrcSize, &base)) return false;
  // Three levels: type, id, language (the first). Each offset is checked against the
  // resource section, so a damaged table cannot lead the walk anywhere else.
  uint32_t node = 0;
  const uint32_t wanted[] = {type, id, 0};
  for (int level = 0; level < 3; ++level) {
    if (node > rsrcSize || rsrcSize - node < 16) return false;
    const size_t dir = base + node;
    const uint32_t entries = Get(image, dir + 12, 2) + Get(image, dir + 14, 2);
    if ((rsrcSize - node - 16) / 8 < entries) return false;
    bool found = false;
    for (uint32_t i = 0; i < entries && !found; ++i) {
      const uint32_t name = Get(image, dir + 16 + 8 * i, 4);
      const uint32_t target = Get(image, dir + 20 + 8 * i, 4);
      const bool isDirectory = (target & 0x80000000u) != 0;
      if ((level < 2 && name != wanted[level]) || isDirectory != (level < 2)) continue;
      node = target & 0x7FFFFFFFu;
      found = true;
    }
    if (!found) return false;
  }
  if (node > rsrcSize || rsrcSize - node < 16) return false;
  const uint32_t dataRva = Get(image, base + node, 4), dataSize = Get(image, base + node + 4, 4);
  if (!RvaToFileOffset(image, h, dataRva, dataSize, at)) return false;
  *size = dataSize;
  return true;
}

uint32_t PeChecksum(const std::vector<uint8_t> &image, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

bool RemoveCertificateTable(std::vector<uint8_t> *image, size_t blockStart, size_t keepBelow,
                            std::vector<std::string> *notes, Fault *fault) {
  PeHeaders h;
  if (!ReadPeHeaders(*image, &h, fault)) return false;
  if (!h.Signed()) return true;
  const uint64_t start = h.certOffset, end = start + h.certSize;
  const std::string table = "certificate table (" + std::to_string(h.certSize) +
                            " bytes at offset " + std::to_string(start) + ")";
  if (start < keepBelow && start < image->size())
    return Fail(fault, "", "its " + table + " claims the program's own headers or data");
  if (start < h.programEnd && start < image->size())
    return Fail(fault, "",
                "its " + table + " starts inside the program's own sections, which end at offset " +
                    std::to_string(h.programEnd) +
                    ": the stub was changed after it was signed; take the signature off "
                    "(osslsigncode remove-signature) or pack the unsigned stub");
  if (end == image->size()) {
    image->resize(start);
  } else if (start < blockStart && start < image->size()) {
    return Fail(fault, "",
                "its " + table +
                    " lies inside the program with bytes after it: sign only "
                    "the packed output");
  }
  Put32(image, h.securityAt, 0);
  Put32(image, h.securityAt + 4, 0);
  notes->push_back("removed its " + table + ": sign the output after packing");
  return true;
}

void UpdateChecksum(std::vector<uint8_t> *image, const PeHeaders &headers, bool stubHadOne) {
  if (stubHadOne && headers.checksumAt + 4 <= image->size())
    Put32(image, headers.checksumAt, PeChecksum(*image, headers.checksumAt));
}

std::vector<std::string> CertificateFindings(const std::vector<uint8_t> &image, const PeHeaders &h,
                                             size_t blockStart, size_t blockEnd) {
  std::vector<std::string> out;
  if (!h.Signed()) return out;
  const uint64_t start = h.certOffset, end = start + h.certSize;
  const std::string table = "the certificate table (" + std::to_string(h.certSize) +
                            " bytes at offset " + std::to_string(start) + ")";
  const std::string fix = ": pack onto an unsigned stub, then sign";
  if (start < blockEnd && end > blockStart)
    out.push_back(table + " overlaps the block: the signature is broken" + fix);
  else if (end > image.size() || h.certSize < 8)
    out.push_back(table + " lies past the end of the file: the signature is broken" + fix);
  else if (end <= blockStart)
    out.push_back("the block lies after " + table + ": the signature does not cover it" + fix);
  else if (end < image.size())
    out.push_back(std::to_string(image.size() - end) + " bytes follow " + table +
                  ": Windows rejects such a signature where padding checks are enforced");
  if (out.empty() && start % kCertAlign != 0)
    out.push_back(table + " is not 8-byte aligned: Windows rejects the signature");
  return out;
}

}  // namespace tallowin
