#include "codepage.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

TEST(CodePage, ConvertsEachCodePagesOwnLettersAndEveryByteRoundTrips) {
  const struct {
    const char *utf8;
    int codePage;
    const char *bytes;
  } cases[] = {
      {"Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\xA6 ASCII", 1252, "Caf\xE9 \x80 \x85 ASCII"},
      {"\xD0\x9F\xD1\x80\xD0\xB8", 1251, "\xCF\xF0\xE8"},          // "При"
      {"\xC5\x81\xC3\xB3\x64\xC5\xBA", 1250, "\xA3\xF3\x64\x9F"},  // "Łódź"
  };
  std::string out, error;
  for (const auto &c : cases) {
    ASSERT_TRUE(Utf8ToCodePage(c.utf8, c.codePage, &out, &error)) << c.utf8 << error;
    EXPECT_EQ(out, c.bytes) << c.utf8;
    EXPECT_EQ(CodePageToUtf8(out, c.codePage), c.utf8);
  }
  // Every byte survives the way back, the undefined ones included.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (int cp : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    ASSERT_TRUE(Utf8ToCodePage(CodePageToUtf8(all, cp), cp, &out, &error)) << cp << error;
    EXPECT_EQ(out, all) << cp;
  }
}

TEST(CodePage, ReportsWhatCannotBeConverted) {
  const struct {
    const char *utf8;
    int codePage;
    const char *error;
  } cases[] = {
      {"ab\xD0\x9F", 1252, "character U+041F at byte 2 cannot be written in code page 1252"},
      {"\xF0\x9F\x98\x80", 1252, "character U+1F600 at byte 0"},
      {"a\xC3", 1252, "invalid UTF-8 at byte 1"},
      {"\xC3(", 1252, "invalid UTF-8 at byte 0"},
      {"\xE2\x82", 1252, "invalid UTF-8"},
      {"\xC0\xAF", 1252, "invalid UTF-8"},      // overlong
      {"\xED\xA0\x80", 1252, "invalid UTF-8"},  // surrogate
      {"\xFF", 1252, "invalid UTF-8"},
      {"a", 65001, "code page 65001 is not supported"},
      {"a", 437, "code page 437 is not supported"},
  };
  for (const auto &c : cases) {
    std::string out, error;
    EXPECT_FALSE(Utf8ToCodePage(c.utf8, c.codePage, &out, &error)) << c.utf8;
    EXPECT_EQ(error.find(c.error), 0u) << c.utf8 << ": " << error;
  }
}

}  // namespace
