// Finds what the stub would reject or mishandle in a block, and what is dangerous.
#pragma once
#include <string>
#include <vector>

#include "format/block_writer.h"
#include "manifest.h"

namespace tallowin {

struct Finding {
  bool error;         // false: a warning
  std::string id;     // the kind of finding, stable across releases ("shared-key")
  std::string where;  // JSON path of the entry ("$.files[2]")
  std::string what;
  std::string acceptedWhy;  // a warning the manifest accepts: the reason it gives
};

// Who runs the uninstaller: the user who installed (scope "user", asInvoker), an
// administrator (scope "machine"), or not known (no uninstall entry).
enum class Scope { kUnknown, kUser, kMachine };

struct CheckInput {
  const blockfmt::Block *block = nullptr;
  // Message roles a by-name manifest leaves out (the table is then padded with empty
  // texts); for a block, roles past the end of its table are missing.
  std::vector<std::string> missingRoles;
  bool fromManifest = false;
  int codePage = 1252;  // of the block's texts
  Scope scope = Scope::kUnknown;
  std::vector<Accept> accepts;  // a manifest's; a block holds none
};

/// True for a folder macro's name (without its '#' marks) that the stub resolves, in any
/// case of the letters.
bool IsKnownMacro(const std::string &name);

/// The length of the path the file pass builds for a file entry's folder and name: a folder
/// that starts with a dot counts as the install folder of `installDirLength` characters, its
/// trailing backslash included (the text after the dot is used only after a backslash).
size_t JoinedLength(const std::string &folder, const std::string &name, size_t installDirLength);

/// The scope that a manifest's uninstall entry gives.
Scope ScopeOfEntry(const UninstallEntry &entry);

/// All findings, in list order. A warning that an accept names carries its reason in
/// acceptedWhy; an accept that matches no warning is itself a warning ("accept-unused").
std::vector<Finding> CheckBlock(const CheckInput &input);

}  // namespace tallowin
