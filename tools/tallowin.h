// The tool's operations, for the command line and for installers that link the library.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "fault.h"
#include "manifest.h"
#include "stub_manifest.h"

namespace tallowin {

/// The block of a parsed manifest. False with the JSON path and the reason in fault->what
/// for a text over a reader limit.
bool EncodeManifest(const Manifest &m, std::vector<uint8_t> *block, Fault *fault);

/// A stub (or an earlier output) with `block` in place of any block it carries and its
/// manifest set to request `level`. A certificate table is removed and a set checksum
/// updated, each said in *notes, so the output is an unsigned program ready to be signed.
/// False for a stub that is not a PE32 i386 or PE32+ x86-64 program, whose locator is
/// missing or ambiguous, or whose manifest is not the build's own when a level is asked for.
bool PackBlock(const std::vector<uint8_t> &block, const std::vector<uint8_t> &stub,
               ExecutionLevel level, std::vector<uint8_t> *out, std::vector<std::string> *notes,
               Fault *fault);

/// The level a manifest's uninstall entry asks for: the user's own for scope "user", an
/// administrator for "machine"; without an entry, the stub's as built.
ExecutionLevel LevelOfManifest(const Manifest &m);

/// Both steps from manifest text; a stub fault has fault->where "stub".
bool PackImage(const std::string &manifestJson, const std::vector<uint8_t> &stub,
               std::vector<uint8_t> *out, Fault *fault);

/// The command line: returns the exit code (0 fine, 1 warnings, 2 errors).
int RunCommandLine(const std::vector<std::string> &args, std::string *out, std::string *err);

}  // namespace tallowin
