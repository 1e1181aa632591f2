// Path text, the wildcard matcher and composed texts in the ANSI code page, by characters.
// ctest runs this program under code page 1252, 932 and 950 (TALLOWIN_EXPECT_ACP).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/run.h"
#include "base/base.h"
#include "data/data.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "state/state.h"

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

// Each helper touches one character at most, a double-byte one whole; roots keep their
// backslash. A copy that does not fit leaves the buffer as it was.
TEST(CodePage, PathTextMovesByCharacters) {
  auto cut = [](char *p) { CutAtLastBackslash(p); };
  const struct {
    void (*helper)(char *);
    std::string text, result;
    bool doubleByte;
  } cases[] = {{StripBackslash, "C:\\", "C:\\", false},
               {StripBackslash, "C:\\a\\\\", "C:\\a\\", false},
               {AppendBackslash, "", "", false},
               {AppendBackslash, "C:\\a", "C:\\a\\", false},
               {AppendBackslash, "C:\\a\\", "C:\\a\\", false},
               {AppendBackslash, "C:\\" + X, "C:\\" + X + "\\", true},
               {StripBackslash, "C:\\a" + X, "C:\\a" + X, true},
               {StripBackslash, "C:\\" + X + "\\", "C:\\" + X, true},
               {cut, "C:\\" + X + "\\" + X, "C:\\" + X, true},
               {cut, X + X, X + X, true}};
  for (const auto &c : cases) {
    char p[16];
    lstrcpyA(p, c.text.c_str());
    if (c.doubleByte && !DoubleByte()) continue;
    c.helper(p);
    EXPECT_EQ(c.result, std::string(p)) << c.text;
  }
  char buf[9] = "";
  buf[8] = 'X';
  EXPECT_TRUE(CopyBounded(buf, 8, "1234567"));
  EXPECT_FALSE(CopyBounded(buf, 8, "12345678"));  // 8 characters need 9 bytes
  EXPECT_TRUE(CopyBounded(buf, 8, "abc"));
  EXPECT_FALSE(AppendBounded(buf, 8, "defgh"));
  EXPECT_STREQ("abc", buf);
  EXPECT_TRUE(AppendBounded(buf, 8, "defg"));
  EXPECT_STREQ("abcdefg", buf);
  EXPECT_EQ('X', buf[8]);  // nothing past the capacity
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_FALSE(AppendBounded(unterminated, 4, ""));
  EXPECT_FALSE(EqualsNoCase("\xC4", "\xE4"));  // A-umlaut in code page 1252
  EXPECT_FALSE(EqualsNoCase("[", "{"));        // 0x5B and 0x7B differ by the case bit only
  // A composed text takes its argument as it is, never as a format; stray conversions stay.
  // A message past the table's end is empty. The text stops within its buffer, and neither
  // the argument nor the text is cut inside a character.
  std::string last = std::string(1022, 'a') + X;
  char first[] = "remove %s now? 100%% sure %d", argumentOnly[] = "%s";
  char *table[] = {first, argumentOnly, &last[0], nullptr};
  g.messages = table;
  std::string composed(blockfmt::kComposedMax + 1, 'X');
  ComposeMessage(&composed[0], 0, std::string(3000, 'p').c_str());
  EXPECT_EQ("remove " + std::string(1016, 'p'), composed.c_str());
  EXPECT_EQ('X', composed[blockfmt::kComposedMax]);
  ComposeMessage(&composed[0], 0, "C:\\a%s%d");
  EXPECT_STREQ("remove C:\\a%s%d now? 100% sure %d", composed.c_str());
  ComposeMessage(&composed[0], 3, "x");
  EXPECT_STREQ("", composed.c_str());
  for (DWORD number : {1u, 2u}) {
    ComposeMessage(&composed[0], number, last.c_str());
    EXPECT_EQ(last.substr(0, DoubleByte() ? 1022 : 1023), composed.c_str()) << number;
  }
  g.messages = nullptr;
  if (!DoubleByte()) return;

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
}

// Names as the directory search reads its patterns, by long names. Only A to Z fold: not
// the A-umlaut of code page 1252.
TEST(MatchesPatternTest, WildcardsAsTheSearchReadsThemOnLongNames) {
  const struct {
    const char *pattern, *name;
    bool matches;
  } cases[] = {{"*.HTM", "Page.htm", true},
               {"readme.", "README", true},
               {"readme.*", "readme", true},
               {"log?.txt", "log.txt", true},
               {"a*.", "abc", true},
               {"*.tar.gz", "x.y.tar.gz", true},
               {"?*?*?*?*?*?*?*?*?x", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaax", true},
               {"*.htm", "x.html", false},
               {"a?c.txt", "ac.txt", false},
               {"a?c", "a.c", false},
               {"*.", "a.b", false},
               {"..", "a", false},
               {"\xC4*.log", "\xE4x.log", false},
               {"?*?*?*?*?*?*?*?*?x", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaay", false},
               {"", "a", false}};
  for (const auto &c : cases)
    EXPECT_EQ(c.matches, MatchesPattern(c.pattern, c.name)) << c.pattern << " / " << c.name;
}

}  // namespace
