// The readable manifest: JSON in, a block's lists out, and back.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "fault.h"
#include "format/block_writer.h"

namespace tallowin {

/// The message roles in table order (message 0 first).
extern const char *const kMessageRoles[blockfmt::MSG_COUNT];

/// The file flags by their manifest names.
struct FileFlagName {
  const char *name;
  uint8_t bit;
};
extern const FileFlagName kFileFlags[4];
/// The flag bit of a name, or 0 for an unknown name.
uint8_t FileFlagFromName(const std::string &name);

/// Where deployment tools and the system's list of programs find an uninstaller.
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

/// The product's entry under kUninstallKey; texts in UTF-8, as the manifest gives them.
struct UninstallEntry {
  bool given = false;
  std::string id, displayName, displayVersion, publisher, displayIcon;
  std::string helpLink, urlInfoAbout, comments, readme;
  std::string installDate;  // YYYYMMDD; empty: --write writes the day it runs
  uint32_t estimatedSizeKB = 0;
  bool perUser = false;  // scope "user": below HKCU, else HKLM
};

/// A warning of `check` that the manifest acknowledges: on the entry at `owner` (a list
/// entry such as "$.registry[2]", or "$" for the findings outside the four lists), the
/// finding `finding`, for the reason `why`.
struct Accept {
  std::string owner, finding, why;
  std::string where;  // the accept itself ("$.registry[2].accept[0]")
};

struct Manifest {
  int codePage = 1252;
  blockfmt::Block block;  // texts already in the code page; the entry's key removal last
  std::vector<std::string> missingRoles;  // roles a by-name table leaves out
  bool messagesByRole = false;
  UninstallEntry uninstallEntry;
  std::vector<Accept> accepts;  // not part of the block: `check` reads them from the manifest
};

/// Values for ${NAME} in the manifest's texts (--set NAME=VALUE), in UTF-8.
using Variables = std::map<std::string, std::string>;

/// True for a variable name: a letter or '_', then letters, digits and '_'.
bool IsVariableName(const std::string &name);

/// Parses manifest JSON text. False with the JSON path in fault->where on malformed JSON,
/// unknown keys, wrong types, bad values and texts the code page cannot hold. Every ${NAME}
/// in a text takes its value from `vars` (an undefined one is an error) and "$${" stands for
/// a literal "${". With `vars` null the variables stay as written (a manifest read only
/// for its entries, meant to be packed later).
bool ParseManifest(const std::string &jsonText, Manifest *out, Fault *fault, const Variables *vars);

/// A text with each "${" written as "$${", so that it reads back as itself.
std::string EscapeVariables(const std::string &text);

/// The canonical manifest JSON of a block whose texts are in `codePage`, and the notes of
/// what it cannot show.
std::string BlockToManifestJson(const blockfmt::Block &block, int codePage,
                                std::vector<std::string> *notes);

/// Registry roots by name; false for an unknown name.
bool RootFromName(const std::string &name, uint32_t *root);
/// The short name of a predefined root, or "" for another value.
std::string RootName(uint32_t root);
/// The long name of a predefined root ("HKEY_LOCAL_MACHINE"), or "".
std::string RootLongName(uint32_t root);

/// Splits a stored registry path in `codePage` into key and value the way the registry pass
/// does: by characters, so a double-byte character that ends in a backslash byte is no
/// separator.
void SplitRegistryPath(const std::string &path, int codePage, std::string *key, std::string *value,
                       bool *hasValue);

}  // namespace tallowin
