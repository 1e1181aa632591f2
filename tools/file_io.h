// Whole-file reads with a size bound, and output written so that nothing is half-written
// and no link planted beside the output is followed. Names are UTF-8 on every system.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "fault.h"

namespace tallowin {

/// Bounds on what the tool reads: a manifest is text, a program the stub with its block.
constexpr uint64_t kMaxManifestBytes = 8u << 20;
constexpr uint64_t kMaxProgramBytes = 256u << 20;

/// Reads a whole regular file of at most maxBytes; a larger one is refused before any of
/// it is read. False with the reason in fault->what.
bool ReadFileBytes(const std::string &path, uint64_t maxBytes, std::vector<uint8_t> *out,
                   Fault *fault);

/// Writes a new file of an unpredictable name in the output's folder, created exclusively
/// and never through a link, then renames it over `path` (which replaces a link there
/// rather than writing through it). A failure leaves any existing file untouched.
bool WriteFileAtomic(const std::string &path, const std::vector<uint8_t> &bytes, Fault *fault);

#ifdef _WIN32
/// UTF-8 text as UTF-16, for the wide calls of Windows: the tool's text (arguments, paths,
/// manifest strings) is UTF-8 everywhere, so no name passes through the ANSI code page,
/// whose best fit could turn it into another name. Empty when the text is not UTF-8.
std::wstring Utf8ToWide(const std::string &utf8);
/// UTF-16 text as UTF-8; false when it is not valid UTF-16 (a lone surrogate).
bool WideToUtf8(const std::wstring &wide, std::string *utf8);
#endif

/// True when both names exist and reach the same file (same device and inode, or the
/// same volume and file index), however they are spelt or linked.
bool SameFile(const std::string &a, const std::string &b);

}  // namespace tallowin
