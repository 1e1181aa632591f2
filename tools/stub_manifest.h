// The execution level that the stub's manifest resource requests. A per-user product is
// removed at the level of the user who starts the uninstaller (whose keys and folders the
// per-user macros then name); a per-machine one asks for an administrator.
#pragma once
#include <stdint.h>

#include <vector>

#include "fault.h"

namespace tallowin {

enum class ExecutionLevel { kAsBuilt, kInvoker, kAdministrator };

/// "asInvoker" or "requireAdministrator" ("as built" for kAsBuilt).
const char *ExecutionLevelName(ExecutionLevel level);

/// The level of the program's manifest resource, when it is byte for byte the one the build
/// writes for the program's architecture at either level; false with the reason otherwise.
bool ReadExecutionLevel(const std::vector<uint8_t> &image, ExecutionLevel *level, Fault *fault);

/// Rewrites that manifest to request `level`, in place and at the same length. False, with
/// the image unchanged, for a manifest that is not the build's own: it is never patched
/// blindly. kAsBuilt gives the build's own level (an earlier output's asInvoker goes) and
/// leaves any other manifest, or none, alone.
bool SetExecutionLevel(std::vector<uint8_t> *image, ExecutionLevel level, Fault *fault);

}  // namespace tallowin
