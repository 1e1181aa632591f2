// The tool's operations, for the command line and for installers that link the library.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace tallowin {

/// Reads a whole file; false with a reason in *error.
bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *out, std::string *error);
/// Writes a file through a temporary beside it and a rename, so a failure leaves any
/// existing file untouched. False with a reason in *error.
bool WriteFileAtomic(const std::string &path, const std::vector<uint8_t> &bytes,
                     std::string *error);

/// pack: manifest text + stub image -> packed program image. False with
/// "JSONPATH: reason" in *error.
bool PackImage(const std::string &manifestJson, const std::vector<uint8_t> &stub,
               std::vector<uint8_t> *out, std::string *error);

/// The command line: returns the exit code (0 fine, 1 warnings, 2 errors).
int RunCommandLine(const std::vector<std::string> &args, std::string *out, std::string *err);

}  // namespace tallowin
