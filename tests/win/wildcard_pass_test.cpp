// The wildcard matcher: names as the directory search reads its patterns, by long names.
#include <gtest/gtest.h>

#include "passes/passes.h"

namespace {

TEST(MatchesPatternTest, WildcardsAsTheSearchReadsThemOnLongNames) {
  const char *matching[][2] = {
      {"*.HTM", "Page.htm"},
      {"a?c.txt", "abc.txt"},
      {"a*b*c", "aXbYbZc"},
      {"*", "anything.at.all"},
      {"*.*", "noextension"},
      {"*.", "noextension"},
      {"readme.", "README"},
      {"readme.*", "readme"},
      {"log?.txt", "log.txt"},
      {"a??", "a"},
      {"a*.", "abc"},
      {"*.tar.gz", "x.y.tar.gz"},
      {"?*?*?*?*?*?*?*?*?x", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaax"}};
  // Only A to Z fold: not the A-umlaut of the ANSI code page.
  const char *notMatching[][2] = {
      {"*.htm", "x.html"},
      {"a?c.txt", "ac.txt"},
      {"a?c", "a.c"},
      {"a*b*c", "aXbYc.d"},
      {"*.", "a.b"},
      {"a*.", "ab.c"},
      {"..", "a"},
      {"*x*", "abc"},
      {"*.htm", "x.htm.bak"},
      {"\xC4*.log", "\xE4x.log"},
      {"?*?*?*?*?*?*?*?*?x", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaay"}};
  for (auto &c : matching) EXPECT_TRUE(MatchesPattern(c[0], c[1])) << c[0] << " / " << c[1];
  for (auto &c : notMatching) EXPECT_FALSE(MatchesPattern(c[0], c[1])) << c[0] << " / " << c[1];
  EXPECT_FALSE(MatchesPattern("", "a"));
}

}  // namespace
