#include "codepage.h"

#include <gtest/gtest.h>

#include "codepage_cases.h"

using namespace tallowin;

namespace {

TEST(CodePage, ConvertsAsWindowsDoes) { codepagecases::ExpectConversionsAsWindowsMakesThem(); }

TEST(CodePage, EveryByteAndEveryDoubleByteCharacterRoundTrips) {
  std::string out, error;
  for (int cp : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    for (int lead = 1; lead < 256; ++lead) {
      for (int trail = lead < 0x80 || cp < 932 || cp > 950 ? 0x100 : 0x40; trail <= 0x100;
           ++trail) {
        std::string s(1, static_cast<char>(lead));
        if (trail < 0x100) s += static_cast<char>(trail);
        ASSERT_TRUE(Utf8ToCodePage(CodePageToUtf8(s, cp), cp, &out, &error)) << cp << error;
        ASSERT_EQ(out, s) << cp << " " << lead << " " << trail;
      }
    }
  }
}

}  // namespace
