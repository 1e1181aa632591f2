// The product's entry in the system's list of installed programs, as the installer
// writes it: a .reg file, or (on Windows) the registry itself.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "fault.h"
#include "manifest.h"

namespace tallowin {

/// The architecture of the packed uninstaller, which decides the registry view of an entry
/// below HKLM: on 64-bit Windows a 32-bit program's HKLM\Software is another key
/// (Software\WOW6432Node) than a 64-bit program's.
enum class StubBits { kUnknown, k32, k64 };

/// The architecture of a program's image; kUnknown for anything but a PE32 or PE32+ program.
StubBits StubBitsOf(const std::vector<uint8_t> &image);

/// The entry for the uninstaller at `exePath` (a full Windows path) as a .reg file:
/// UTF-16LE with a byte order mark and CRLF line ends, with comment lines that say which
/// registry view it is for (by `bits`; both when unknown) and how to import it there. False
/// for a manifest without an entry or a path that is not a full one.
bool UninstallEntryRegFile(const Manifest &m, const std::string &exePath, StubBits bits,
                           std::string *out, Fault *fault);

/// Writes the entry into the registry view that a stub of `bits` sees, from a 32-bit or a
/// 64-bit tool alike (Windows only; elsewhere false with a reason).
bool WriteUninstallEntry(const Manifest &m, const std::string &exePath, StubBits bits,
                         Fault *fault);

}  // namespace tallowin
