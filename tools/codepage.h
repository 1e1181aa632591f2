// Conversion between UTF-8 (the manifest's text) and an ANSI code page of Windows (the
// block's text), single- or double-byte, through the platform's own converters.
#pragma once
#include <stdint.h>

#include <string>

namespace tallowin {

/// True when `codePage` is one of the ANSI code pages of Windows: 874, 932, 936, 949, 950
/// and 1250 to 1258.
bool IsSupportedCodePage(int codePage);
/// The supported code pages as text ("874, 932, ..."), for error messages.
std::string SupportedCodePages();

/// Converts UTF-8 text to the code page, as Windows converts it without best fit: a
/// character is written only when it converts back to itself. False with a reason in
/// *error (the offending character and its position) when the text is not UTF-8 or holds a
/// character the code page cannot hold; private-use characters are refused, their bytes
/// differ from one system to the next. U+F780-U+F7FF stand for the bytes 0x80-0xFF.
bool Utf8ToCodePage(const std::string &utf8, int codePage, std::string *out, std::string *error);

/// Decodes the UTF-8 sequence at *pos of `s` into *cp and moves *pos past it; false on a
/// malformed, overlong or surrogate one (or one cut short by the end).
bool DecodeUtf8(const std::string &s, size_t *pos, uint32_t *cp);

/// Converts code page bytes to UTF-8. A byte that begins no character which converts back
/// to the same bytes becomes U+F780-U+F7FF, so every text converts back unchanged.
std::string CodePageToUtf8(const std::string &bytes, int codePage);

/// UTF-8 text with every letter in upper case as the system's upcase table has it, which
/// decides when two file names are one: the same for every character the code pages hold
/// (Latin with Latin-1, Extended-A and B and Vietnamese, Greek, Cyrillic, Roman numerals,
/// circled and full-width letters; µ, dotless ı and final ς stay as they are). Other
/// characters and malformed sequences are kept.
std::string FoldCase(const std::string &utf8);

/// The bytes of the character at `at` of code page text, as the system steps through ANSI
/// text: two for a lead byte with a byte other than NUL after it, else one.
size_t CharLength(const std::string &text, size_t at, int codePage);

/// Where the ASCII `needle` first stands at the start of a character of code page text, from
/// `from` on (0 or the end of an earlier match: the start of a character); npos when nowhere.
/// A backslash byte that ends a double-byte character is no backslash.
size_t FindInText(const std::string &text, const char *needle, int codePage, size_t from = 0);
/// The same, for the last place.
size_t FindLastInText(const std::string &text, const char *needle, int codePage);

/// The text with the ASCII letters A to Z lowered and every other byte kept, as the system
/// compares paths and key names of code page text without regard to case.
std::string LowerAscii(std::string text);

}  // namespace tallowin
