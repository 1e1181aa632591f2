// Conversion between UTF-8 (the manifest's text) and a single-byte ANSI code page (the
// block's text). Portable: built-in tables, no platform conversion calls.
#pragma once
#include <string>

namespace tallowin {

/// True when `codePage` is one of the built-in single-byte code pages.
bool IsSupportedCodePage(int codePage);
/// The supported code pages as text ("874, 1250, ..."), for error messages.
std::string SupportedCodePages();

/// Converts UTF-8 text to the code page. False with a reason in *error (the offending
/// character and its position) when the text is not UTF-8 or holds a character the code
/// page cannot hold.
bool Utf8ToCodePage(const std::string &utf8, int codePage, std::string *out, std::string *error);

/// Converts code page bytes to UTF-8. Bytes the code page leaves undefined become U+0080-
/// U+009F (as the system maps them) or, above 0x9F, private-use U+F780-U+F7FF, so that
/// they convert back to the same byte.
std::string CodePageToUtf8(const std::string &bytes, int codePage);

}  // namespace tallowin
