#include "codepage.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

TEST(CodePage, Windows1252RoundTrips) {
  std::string out, error;
  ASSERT_TRUE(Utf8ToCodePage("Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\xA6 ASCII", 1252, &out, &error));
  EXPECT_EQ(out, "Caf\xE9 \x80 \x85 ASCII");
  EXPECT_EQ(CodePageToUtf8(out, 1252), "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\xA6 ASCII");
  // Every byte survives the way back, the five undefined ones included.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (int cp : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    ASSERT_TRUE(Utf8ToCodePage(CodePageToUtf8(all, cp), cp, &out, &error)) << cp << error;
    EXPECT_EQ(out, all) << cp;
  }
}

TEST(CodePage, OtherCodePagesMapTheirOwnLetters) {
  std::string out, error;
  ASSERT_TRUE(Utf8ToCodePage("\xD0\x9F\xD1\x80\xD0\xB8", 1251, &out, &error));  // "При"
  EXPECT_EQ(out, "\xCF\xF0\xE8");
  ASSERT_TRUE(Utf8ToCodePage("\xC5\x81\xC3\xB3\x64\xC5\xBA", 1250, &out, &error));  // "Łódź"
  EXPECT_EQ(out, "\xA3\xF3\x64\x9F");
}

TEST(CodePage, ReportsWhatCannotBeConverted) {
  std::string out, error;
  EXPECT_FALSE(Utf8ToCodePage("ab\xD0\x9F", 1252, &out, &error));  // Cyrillic in 1252
  EXPECT_NE(error.find("U+041F"), std::string::npos) << error;
  EXPECT_NE(error.find("byte 2"), std::string::npos) << error;
  EXPECT_FALSE(Utf8ToCodePage("\xF0\x9F\x98\x80", 1252, &out, &error));  // emoji
  EXPECT_NE(error.find("U+1F600"), std::string::npos) << error;

  for (const char *bad : {"\xC3", "\xC3(", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xFF"})
    EXPECT_FALSE(Utf8ToCodePage(bad, 1252, &out, &error)) << bad;
  EXPECT_NE(error.find("invalid UTF-8"), std::string::npos);

  EXPECT_FALSE(Utf8ToCodePage("a", 65001, &out, &error));
  EXPECT_NE(error.find("not supported"), std::string::npos);
  EXPECT_FALSE(IsSupportedCodePage(932));
}

}  // namespace
