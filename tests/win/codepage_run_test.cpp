// Path text in the ANSI code page, by characters. ctest runs this program under code page
// 1252, 932 and 950 (TALLOWIN_EXPECT_ACP).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/run.h"
#include "data/data.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "reach/held_path.h"
#include "state/outcome.h"
#include "support/program_run.h"
#include "support/testenv.h"

namespace {

const std::string X = "\x95\x5C", Y = "\x95\x41";  // two double-byte characters in each

bool DoubleByte() { return IsDBCSLeadByte(0x95); }

TEST(CodePage, TheTestRunsUnderTheCodePageItWasGivenAndFindsTheArgumentText) {
  char expected[8] = "1252";
  GetEnvironmentVariableA("TALLOWIN_EXPECT_ACP", expected, sizeof expected);
  EXPECT_EQ(expected, std::to_string(GetACP()));
  const char *cases[][2] = {{"C:\\Donn\351es\\u.exe /Q", "/Q"},
                            {"\"C:\\a b\\u.exe\"/q", "/q"},
                            {"u.exe\t /X", "/X"},
                            {"\"u.exe /Q", ""}};
  for (auto &c : cases) EXPECT_STREQ(c[1], ArgumentText(c[0])) << c[0];
}

TEST(CodePage, PathTextMovesByCharacters) {
  if (!DoubleByte()) GTEST_SKIP() << "single-byte code page";
  auto apply = [](void (*helper)(char *), std::string text) {
    helper(&text[0]);
    return std::string(text.c_str());
  };
  auto cut = [](char *p) { CutAtLastBackslash(p); };
  const struct {
    void (*helper)(char *);
    std::string text, result;
  } cases[] = {{AppendBackslash, "C:\\" + X, "C:\\" + X + "\\"},
               {StripBackslash, "C:\\a" + X, "C:\\a" + X},
               {StripBackslash, "C:\\" + X + "\\", "C:\\" + X},
               {cut, "C:\\" + X + "\\" + X, "C:\\" + X},
               {cut, X + X, X + X}};
  for (auto &c : cases) EXPECT_EQ(c.result, apply(c.helper, c.text)) << c.text;
  char joined[8];
  EXPECT_TRUE(JoinPath(joined, 8, ("C:" + X).c_str(), "ab"));
  EXPECT_EQ("C:" + X + "\\ab", std::string(joined));
  EXPECT_FALSE(JoinPath(joined, 8, ("C:" + X).c_str(), "abc"));
  EXPECT_FALSE(EqualsNoCase(Y.c_str(), "\x95\x61"));           // the second byte is no letter
  EXPECT_TRUE(MatchesPattern("?a.*", (X + "A.txt").c_str()));  // ? takes one character
  EXPECT_FALSE(MatchesPattern(Y.c_str(), "\x95\x61"));
  char cutShort[3];
  EXPECT_EQ(3u, ExpandFolderMacros(cutShort, ("a" + X).c_str(), 3));
  EXPECT_STREQ("a", cutShort);  // never half a character
  char *table[] = {const_cast<char *>("%s"), nullptr};
  g.messages = table;
  std::string composed(blockfmt::kComposedMax, 'X');
  ComposeMessage(&composed[0], 0, (std::string(1022, 'a') + X).c_str());
  EXPECT_EQ(std::string(1022, 'a'), composed.c_str());
  g.messages = nullptr;
}

}  // namespace
