// The product's entry in the system's list of installed programs, as the installer
// writes it: a .reg file, or (on Windows) the registry itself.
#pragma once
#include <string>

#include "fault.h"
#include "manifest.h"

namespace tallowin {

/// The entry for the uninstaller at `exePath` (a full Windows path) as a .reg file:
/// UTF-16LE with a byte order mark and CRLF line ends. False for a manifest without an entry or a
/// path that is not a full one.
bool UninstallEntryRegFile(const Manifest &m, const std::string &exePath, std::string *out,
                           Fault *fault);

/// Writes the entry into the registry (Windows only; elsewhere false with a reason).
bool WriteUninstallEntry(const Manifest &m, const std::string &exePath, Fault *fault);

}  // namespace tallowin
