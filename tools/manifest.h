// The readable manifest: JSON in, a block's lists out, and back.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

#include "format/block_writer.h"

namespace tallowin {

/// A manifest fault: the JSON path of the offending value and the reason.
struct ManifestError : std::runtime_error {
  ManifestError(const std::string &path, const std::string &reason)
      : std::runtime_error(path + ": " + reason), path(path) {}
  std::string path;
};

/// The message roles in table order (message 0 first).
extern const char *const kMessageRoles[blockfmt::MSG_COUNT];

struct Manifest {
  int codePage = 1252;
  blockfmt::Block block;                  // texts already in the code page
  std::vector<std::string> missingRoles;  // roles a by-name table leaves out
  bool messagesByRole = false;
};

/// Parses manifest JSON text. Throws ManifestError naming the JSON path on malformed JSON,
/// unknown keys, wrong types, bad values and texts the code page cannot hold.
Manifest ParseManifest(const std::string &jsonText);

/// The canonical manifest JSON of a block whose texts are in `codePage`, and the notes of
/// what it cannot show.
std::string BlockToManifestJson(const blockfmt::Block &block, int codePage,
                                std::vector<std::string> *notes);

/// Registry roots by name; false for an unknown name.
bool RootFromName(const std::string &name, uint32_t *root);
/// The short name of a predefined root, or "" for another value.
std::string RootName(uint32_t root);

/// Splits a stored registry path into key and value the way the registry pass does.
void SplitRegistryPath(const std::string &path, std::string *key, std::string *value,
                       bool *hasValue);

}  // namespace tallowin
