// A product's file and folder entries from its staged tree, and what an upgrade leaves.
#pragma once
#include <stddef.h>

#include <string>
#include <vector>

namespace tallowin {

struct ScanRequest {
  std::string stagingDir, base, output;
  std::vector<std::string> excludes;  // wildcards on the relative path: * and ?, any case
  std::string previous;               // the older version's manifest or packed program
  std::string dropped;                // where the older version's dropped paths go
  size_t installDirLength = 100;      // the install folder's characters, no backslash
};

/// The scan command: the base manifest with an entry for each staged file and folder (and
/// the older version's entries the tree no longer has), written only when the whole tree
/// passes. Returns the exit code: 0, or 2 with one line per fault on *err.
int Scan(const ScanRequest &request, std::string *err);

}  // namespace tallowin
