// Code page conversion one character at a time through the platform's converters:
// WideCharToMultiByte and MultiByteToWideChar on Windows, glibc's iconv elsewhere.
#include "codepage.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <deque>
#endif

namespace tallowin {

namespace {

constexpr int kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251,
                              1252, 1253, 1254, 1255, 1256, 1257, 1258};
// U+F780-U+F7FF carry the bytes 0x80-0xFF that begin no character of the code page.
constexpr uint32_t kRawByteBase = 0xF700;

// The lead bytes of the double-byte code pages, as Windows has them.
bool IsLeadByte(int codePage, unsigned char b) {
  if (codePage == 932) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return (codePage == 936 || codePage == 949 || codePage == 950) && b >= 0x81 && b <= 0xFE;
}

bool IsPrivateUse(uint32_t cp) { return cp >= 0xE000 && cp <= 0xF8FF; }

#ifdef _WIN32

bool HasConverter(int codePage) { return IsValidCodePage(codePage) != 0; }

// The character of `bytes` (one character of the code page), or 0 when it stands for none.
uint32_t Decode(int codePage, const std::string &bytes) {
  wchar_t w[2];
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                    static_cast<int>(bytes.size()), w, 2);
  return n == 1 ? w[0] : 0;
}

// The bytes of a character of the Basic Multilingual Plane; empty when there are none.
std::string Encode(int codePage, uint32_t cp) {
  const wchar_t w = static_cast<wchar_t>(cp);
  char out[4];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &w, 1, out, sizeof out, nullptr,
                                    &usedDefault);
  return n > 0 && !usedDefault ? std::string(out, n) : std::string();
}

#else

// glibc's tables against Windows': Windows alone maps 0xCA of 1255, and it writes four
// box-drawing characters of 950, which have two codes each, with the second code.
// glibc's one-way mappings (932's U+00A5 to the backslash byte, the decomposed letters
// of 1255 and 1258) fall to the check that a character converts back to itself.
const struct {
  int codePage;
  uint32_t cp;
  const char *bytes;
} kWindowsPairs[] = {{1255, 0x05BA, "\xCA"},
                     {950, 0x2550, "\xF9\xF9"},
                     {950, 0x255E, "\xF9\xE9"},
                     {950, 0x2561, "\xF9\xEB"},
                     {950, 0x256A, "\xF9\xEA"}};

struct Converters {
  int codePage;
  iconv_t toUnicode, fromUnicode;
};

const Converters *ConvertersFor(int codePage) {
  static std::deque<Converters> opened;  // pointers handed out stay valid as it grows
  for (const Converters &c : opened)
    if (c.codePage == codePage) return &c;
  const std::string name = "CP" + std::to_string(codePage);
  Converters c{codePage, iconv_open("UTF-32LE", name.c_str()),
               iconv_open(name.c_str(), "UTF-32LE")};
  if (c.toUnicode == reinterpret_cast<iconv_t>(-1) ||
      c.fromUnicode == reinterpret_cast<iconv_t>(-1)) {
    if (c.toUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(c.toUnicode);
    if (c.fromUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(c.fromUnicode);
    return nullptr;
  }
  opened.push_back(c);
  return &opened.back();
}

bool HasConverter(int codePage) { return ConvertersFor(codePage) != nullptr; }

// Converts one character from a fresh state, flushing what the converter holds back (the
// 1255 and 1258 converters wait for a combining mark).
std::string Run(iconv_t cd, std::string in) {
  char buffer[16];
  char *from = &in[0], *to = buffer;
  size_t fromLeft = in.size(), toLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1) || fromLeft ||
      iconv(cd, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1))
    return std::string();
  return std::string(buffer, to);
}

// Windows gives the C1 control of the same number to a byte 0x80-0x9F that is no
// character and no lead byte of the code page; glibc gives none.
bool IsC1Byte(int codePage, const Converters &c, unsigned char b) {
  return b >= 0x80 && b <= 0x9F && !IsLeadByte(codePage, b) &&
         Run(c.toUnicode, std::string(1, static_cast<char>(b))).empty();
}

uint32_t Decode(int codePage, const std::string &bytes) {
  for (const auto &p : kWindowsPairs)
    if (p.codePage == codePage && bytes == p.bytes) return p.cp;
  const Converters *c = ConvertersFor(codePage);
  if (!c) return 0;
  const std::string u = Run(c->toUnicode, bytes);
  if (u.size() == 4)
    return static_cast<unsigned char>(u[0]) | static_cast<unsigned char>(u[1]) << 8 |
           static_cast<unsigned char>(u[2]) << 16;
  const unsigned char b = static_cast<unsigned char>(bytes[0]);
  return bytes.size() == 1 && IsC1Byte(codePage, *c, b) ? b : 0;
}

std::string Encode(int codePage, uint32_t cp) {
  for (const auto &p : kWindowsPairs)
    if (p.codePage == codePage && cp == p.cp) return p.bytes;
  const Converters *c = ConvertersFor(codePage);
  if (!c) return std::string();
  const char u[4] = {static_cast<char>(cp), static_cast<char>(cp >> 8), static_cast<char>(cp >> 16),
                     0};
  const std::string out = Run(c->fromUnicode, std::string(u, 4));
  if (out.empty() && cp <= 0x9F && IsC1Byte(codePage, *c, static_cast<unsigned char>(cp)))
    return std::string(1, static_cast<char>(cp));
  return out;
}

#endif

// The bytes of one character (not ASCII) in the code page, when it converts there and back
// unchanged; empty when the code page cannot hold it.
std::string EncodeChecked(int codePage, uint32_t cp) {
  if (cp >= kRawByteBase + 0x80 && cp <= kRawByteBase + 0xFF)
    return std::string(1, static_cast<char>(cp - kRawByteBase));
  if (cp > 0xFFFF || IsPrivateUse(cp)) return std::string();
  const std::string b = Encode(codePage, cp);
  if (b.empty() || b.size() != 1u + IsLeadByte(codePage, static_cast<unsigned char>(b[0])))
    return std::string();
  return Decode(codePage, b) == cp ? b : std::string();
}

void AppendUtf8(std::string *out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Pairs whose capital is the even code and small the odd one (or the reverse, `oddUpper`).
uint32_t PairUpper(uint32_t c, bool oddUpper) { return (c & 1) != oddUpper ? c - 1 : c; }

uint32_t SimpleUpper(uint32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0x131 || c == 0x3C2) return c;  // no capital of their own in the table
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || (c >= 0x1DE && c <= 0x1EF) ||
      (c >= 0x1F8 && c <= 0x21F) || (c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) ||
      (c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF) || c == 0x1A1 || c == 0x1F5)
    return PairUpper(c, false);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x1CD && c <= 0x1DC))
    return PairUpper(c, true);
  if (c == 0x192) return 0x191;
  if (c == 0x1B0) return 0x1AF;
  if (c == 0x251) return 0x2C6D;
  if (c == 0x261) return 0xA7AC;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if ((c >= 0x3B1 && c <= 0x3CB) || (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
    return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0x2170 && c <= 0x217F) return c - 0x10;
  if (c >= 0x24D0 && c <= 0x24E9) return c - 0x1A;
  return c;
}

}  // namespace

std::string FoldCase(const std::string &utf8) {
  std::string out;
  for (size_t pos = 0; pos < utf8.size();) {
    const size_t at = pos;
    uint32_t cp;
    if (DecodeUtf8(utf8, &pos, &cp) && cp <= 0xFFFF) {
      AppendUtf8(&out, SimpleUpper(cp));
    } else if (pos > at) {
      out.append(utf8, at, pos - at);  // beyond the letters of any code page
    } else {
      out.push_back(utf8[at]);
      pos = at + 1;
    }
  }
  return out;
}

bool IsSupportedCodePage(int codePage) {
  for (int id : kCodePages)
    if (id == codePage) return true;
  return false;
}

std::string SupportedCodePages() {
  std::string list;
  for (int id : kCodePages) list += (list.empty() ? "" : ", ") + std::to_string(id);
  return list;
}

bool Utf8ToCodePage(const std::string &utf8, int codePage, std::string *out, std::string *error) {
  if (!IsSupportedCodePage(codePage)) {
    *error = "code page " + std::to_string(codePage) +
             " is not supported (supported: " + SupportedCodePages() + ")";
    return false;
  }
  if (!HasConverter(codePage)) {
    *error = "code page " + std::to_string(codePage) + " has no converter on this system";
    return false;
  }
  out->clear();
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t at = pos;
    uint32_t cp;
    if (!DecodeUtf8(utf8, &pos, &cp)) {
      *error = "invalid UTF-8 at byte " + std::to_string(at);
      return false;
    }
    const std::string bytes =
        cp < 0x80 ? std::string(1, static_cast<char>(cp)) : EncodeChecked(codePage, cp);
    if (bytes.empty()) {
      char name[16];
      snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
      *error = std::string("character ") + name + " at byte " + std::to_string(at) +
               " cannot be written in code page " + std::to_string(codePage);
      return false;
    }
    *out += bytes;
  }
  return true;
}

std::string CodePageToUtf8(const std::string &bytes, int codePage) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    const size_t n = CharLength(bytes, i, codePage);
    const std::string one = bytes.substr(i, n);
    const uint32_t cp = IsSupportedCodePage(codePage) ? Decode(codePage, one) : 0;
    if (cp && EncodeChecked(codePage, cp) == one) {
      AppendUtf8(&out, cp);
      i += n;
    } else {
      AppendUtf8(&out, kRawByteBase + b);
      ++i;
    }
  }
  return out;
}

size_t CharLength(const std::string &text, size_t at, int codePage) {
  return IsLeadByte(codePage, static_cast<unsigned char>(text[at])) && at + 1 < text.size() &&
                 text[at + 1] != '\0'
             ? 2
             : 1;
}

size_t FindInText(const std::string &text, const char *needle, int codePage, size_t from) {
  for (size_t i = from; i < text.size(); i += CharLength(text, i, codePage))
    if (text.compare(i, strlen(needle), needle) == 0) return i;
  return std::string::npos;
}

size_t FindLastInText(const std::string &text, const char *needle, int codePage) {
  size_t last = std::string::npos;
  for (size_t at = 0; (at = FindInText(text, needle, codePage, at)) != std::string::npos; ++at)
    last = at;
  return last;
}

std::string LowerAscii(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool DecodeUtf8(const std::string &s, size_t *pos, uint32_t *cp) {
  const unsigned char c = static_cast<unsigned char>(s[*pos]);
  int extra;
  uint32_t min;
  if (c < 0x80) {
    *cp = c;
    ++*pos;
    return true;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, *cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, *cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, *cp = c & 0x07;
  } else {
    return false;
  }
  if (*pos + extra >= s.size()) return false;
  for (int i = 1; i <= extra; ++i) {
    const unsigned char n = static_cast<unsigned char>(s[*pos + i]);
    if ((n & 0xC0) != 0x80) return false;
    *cp = (*cp << 6) | (n & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return false;
  *pos += extra + 1;
  return true;
}

}  // namespace tallowin
