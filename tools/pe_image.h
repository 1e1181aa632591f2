// What the tool needs of a program's headers: its kind, its checksum and its certificate
// table (the signature), so packing leaves a program that can be signed and checking
// finds a signature that no longer covers the block.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fault.h"

namespace tallowin {

struct PeHeaders {
  bool pe32Plus = false;    // PE32+ x86-64; else PE32 i386
  size_t checksumAt = 0;    // file offset of the checksum field
  size_t securityAt = 0;    // file offset of the certificate table's entry; 0: none
  uint32_t certOffset = 0;  // the table as the entry gives it (a file offset)
  uint32_t certSize = 0;
  size_t directoriesAt = 0;  // file offset of the data directories
  uint32_t directoryCount = 0;
  size_t sectionsAt = 0;  // file offset of the section table
  uint32_t sectionCount = 0;
  size_t programEnd = 0;  // end of the headers and of the last section's raw data

  bool Signed() const { return securityAt != 0 && (certOffset != 0 || certSize != 0); }
  /// "PE32 i386" or "PE32+ x86-64".
  const char *Kind() const { return pe32Plus ? "PE32+ x86-64" : "PE32 i386"; }
};

/// Reads the headers of a PE32 i386 or PE32+ x86-64 program; false with the reason for
/// anything else.
bool ReadPeHeaders(const std::vector<uint8_t> &image, PeHeaders *out, Fault *fault);

/// The file range [*at, *at + size) of the data at `rva`, when one section's raw data holds
/// all of it; false otherwise.
bool RvaToFileOffset(const std::vector<uint8_t> &image, const PeHeaders &headers, uint32_t rva,
                     uint32_t size, size_t *at);

/// The file range of the resource of `type` and `id` in its first language; false when the
/// program has none or its resource table does not lead to one inside the file.
bool FindResource(const std::vector<uint8_t> &image, const PeHeaders &headers, uint32_t type,
                  uint32_t id, size_t *at, size_t *size);

/// The image's checksum as the system computes it (the checksum field itself skipped).
uint32_t PeChecksum(const std::vector<uint8_t> &image, size_t checksumAt);

/// Takes a certificate table out of a stub or an earlier output before it is packed:
/// the table's bytes are cut when they end the file or lie at or after `blockStart` (where
/// packing cuts anyway), and the entry is cleared. Adds what it did to *notes. False for
/// a table inside the program with bytes after it, or one whose cut would reach below
/// `keepBelow` (the locator's end), which cannot be taken out safely.
bool RemoveCertificateTable(std::vector<uint8_t> *image, size_t blockStart, size_t keepBelow,
                            std::vector<std::string> *notes, Fault *fault);

/// Sets the checksum field of a packed image when the stub had one.
void UpdateChecksum(std::vector<uint8_t> *image, const PeHeaders &headers, bool stubHadOne);

/// What is wrong with a signed program's certificate table with respect to its block
/// [blockStart, blockEnd): each a sentence, empty when nothing is.
std::vector<std::string> CertificateFindings(const std::vector<uint8_t> &image,
                                             const PeHeaders &headers, size_t blockStart,
                                             size_t blockEnd);

}  // namespace tallowin
