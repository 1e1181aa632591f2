// Conversions that the Linux and the Windows build of the tool must make alike, checked on
// both: the double-byte code pages, 0x5C second bytes, and where glibc's tables differ
// from Windows' (C1 controls, 1255's 0xCA, 950's box drawing, one-way mappings).
#pragma once
#include <gtest/gtest.h>

#include "codepage.h"

namespace codepagecases {

inline void ExpectConversionsAsWindowsMakesThem() {
  const struct {
    int codePage;
    const char *utf8, *bytes;
  } same[] = {
      {1252, "Café € … \xC2\x81", "Caf\xE9 \x80 \x85 \x81"},  // U+0081: no character there
      {1255, "\xD6\xBA", "\xCA"},
      {932, "ソ表能予ｱ～", "\x83\x5C\x95\x5C\x94\x5C\x97\x5C\xB1\x81\x60"},
      {932, "\xEF\x9E\xA0", "\xA0"},  // U+F7A0 carries a byte that begins no character
      {936, "数据€", "\xCA\xFD\xBE\xDD\x80"},
      {950, "軟體═", "\xB3\x6E\xC5\xE9\xF9\xF9"},
  };
  for (const auto &c : same) {
    std::string out, error;
    EXPECT_TRUE(tallowin::Utf8ToCodePage(c.utf8, c.codePage, &out, &error)) << c.utf8 << error;
    EXPECT_EQ(out, c.bytes) << c.utf8;
    EXPECT_EQ(tallowin::CodePageToUtf8(c.bytes, c.codePage), c.utf8);
  }
  const struct {
    int codePage;
    const char *utf8, *error;
  } refused[] = {
      {1252, "abП", "character U+041F at byte 2 cannot be written in code page 1252"},
      {932, "¥", "character U+00A5 at byte 0"},  // not the backslash byte
      {932, "〜", "character U+301C at byte 0"},
      {1258, "Ạ", "character U+1EA0 at byte 0"},  // not split into a letter and a mark
      {950, "\xF0\x9F\x98\x80", "character U+1F600 at byte 0"},
      {1252, "\xC0\xAF", "invalid UTF-8"},      // overlong
      {1252, "\xED\xA0\x80", "invalid UTF-8"},  // surrogate
      {65001, "a", "code page 65001 is not supported"},
  };
  for (const auto &c : refused) {
    std::string out, error;
    EXPECT_FALSE(tallowin::Utf8ToCodePage(c.utf8, c.codePage, &out, &error)) << c.utf8;
    EXPECT_EQ(error.find(c.error), 0u) << c.utf8 << ": " << error;
  }
}

}  // namespace codepagecases
