// Single-byte code page conversion from built-in tables.
#include "codepage.h"

#include <stdint.h>
#include <stdio.h>

namespace tallowin {

namespace {

#include "codepage_tables.inc"

constexpr uint32_t kPrivateBase = 0xF700;

const CodePageTable *FindTable(int codePage) {
  for (const CodePageTable &t : kCodePages)
    if (t.id == codePage) return &t;
  return nullptr;
}

// The code point an upper-half byte stands for, undefined bytes included.
uint32_t HighToCodePoint(const CodePageTable &t, unsigned b) {
  uint32_t cp = t.high[b - 0x80];
  if (cp != 0) return cp;
  return b < 0xA0 ? b : kPrivateBase + b;
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

// Decodes one UTF-8 sequence at *pos; false on a malformed, overlong or surrogate one.
bool NextCodePoint(const std::string &s, size_t *pos, uint32_t *cp) {
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

}  // namespace

bool IsSupportedCodePage(int codePage) { return FindTable(codePage) != nullptr; }

std::string SupportedCodePages() {
  std::string list;
  for (const CodePageTable &t : kCodePages) {
    if (!list.empty()) list += ", ";
    list += std::to_string(t.id);
  }
  return list;
}

bool Utf8ToCodePage(const std::string &utf8, int codePage, std::string *out, std::string *error) {
  const CodePageTable *t = FindTable(codePage);
  if (!t) {
    *error = "code page " + std::to_string(codePage) +
             " is not supported (supported: " + SupportedCodePages() + ")";
    return false;
  }
  out->clear();
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t at = pos;
    uint32_t cp;
    if (!NextCodePoint(utf8, &pos, &cp)) {
      *error = "invalid UTF-8 at byte " + std::to_string(at);
      return false;
    }
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
      continue;
    }
    int found = -1;
    for (unsigned b = 0x80; b <= 0xFF && found < 0; ++b)
      if (HighToCodePoint(*t, b) == cp) found = static_cast<int>(b);
    if (found < 0) {
      char name[16];
      snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(cp));
      *error = std::string("character ") + name + " at byte " + std::to_string(at) +
               " cannot be written in code page " + std::to_string(codePage);
      return false;
    }
    out->push_back(static_cast<char>(found));
  }
  return true;
}

std::string CodePageToUtf8(const std::string &bytes, int codePage) {
  const CodePageTable *t = FindTable(codePage);
  std::string out;
  for (char ch : bytes) {
    const unsigned b = static_cast<unsigned char>(ch);
    AppendUtf8(&out, b < 0x80 || !t ? b : HighToCodePoint(*t, b));
  }
  return out;
}

}  // namespace tallowin
