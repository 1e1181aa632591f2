// Folder macros in file and folder entries, which only the target machine can resolve.
#pragma once
#include <string>

#include "fault.h"
#include "manifest.h"

namespace tallowin {

/// The folders of file and folder entries that name folder macros (#CommonFiles#, ...).
/// With `exePath`, where the packed uninstaller will stand on this machine (the Windows
/// tool packing on the target), each is expanded as that uninstaller would expand it
/// here, #InstallDir# as the folder of exePath; `stub64` says whether that uninstaller is
/// the x86-64 build, which must be the tool's own (a 32-bit program sees the 32-bit
/// Program Files and registry view). Without exePath such an entry is refused, as is an
/// unknown macro (it would expand to nothing). False with the JSON path in the fault.
bool ResolveEntryMacros(Manifest *m, const std::string *exePath, bool stub64, Fault *fault);

}  // namespace tallowin
