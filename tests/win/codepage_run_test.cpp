// Path text in the ANSI code page, and whole runs of the program started without quotes
// from folders with non-ASCII names. ctest runs this program under code page 1252, 932
// and 950 (TALLOWIN_EXPECT_ACP); in the double-byte ones the names end in characters
// whose second byte is 0x5C.
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

// Four two-byte names: in a double-byte code page, characters that each end in 0x5C.
std::string Names() {
  if (!DoubleByte()) return "D\xe9\xe8s\xeaz\xeb\xef";
  const wchar_t *wide = GetACP() == 932 ? L"\u30bd\u8868\u80fd\u4e88" : L"\u8a31\u529f\u84cb\u9910";
  char bytes[16] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, 4, bytes, sizeof bytes - 1, nullptr, nullptr);
  return bytes;
}

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

// The held path walks a path by characters: a folder whose name ends in a 0x5C byte is
// one folder, and a user's link below it still stops the entry.
TEST(CodePage, LinkCheckSeesALinkBelowAFolderEndingInABackslashByte) {
  if (!DoubleByte()) GTEST_SKIP() << "single-byte code page";
  testenv::ScopedTestDir dir("cplink");
  const std::string folder = dir / Names().substr(0, 2);
  ASSERT_TRUE(testenv::MakeDirs(folder + "\\target"));
  ASSERT_TRUE(testenv::MakeFolderLink(folder + "\\link", "target"));
  testenv::PrepareRunState(dir.path());
  g.isNT = 1;
  Outcome refused;
  EXPECT_TRUE(HoldFolder((folder + "\\target").c_str(), false, &refused));
  EXPECT_FALSE(HoldFolder((folder + "\\link").c_str(), true, &refused));
  EXPECT_EQ(OUTCOME_AT_LINK, refused);
  ReleaseHeldPath();
  testenv::ReleaseRunState();
  EXPECT_TRUE(testenv::RemoveFolderLink(folder + "\\link"));
}

// Runs "exe /Q" without quotes; any box it shows is cancelled. True when it was quiet.
bool RunQuietUnquoted(const std::string &exe) {
  testenv::ProgramRun run(exe + " /Q");
  run.answers().Answer("", winui::Press::Click, IDCANCEL);
  return run.Wait() == 0 && run.answers().Seen().empty();
}

// Started without quotes from non-ASCII folders, in the double-byte code pages folders that
// end in backslash bytes.
TEST(CodePage, ProductInFoldersEndingInBackslashBytesIsRemovedExactly) {
  const std::string n = Names(), a = n.substr(0, 2), b = n.substr(2, 2), c = n.substr(4, 2),
                    d = n.substr(6, 2), one = DoubleByte() ? "?" : "??";
  ASSERT_EQ(8u, n.size());
  for (size_t i = 1; i < 8 && DoubleByte(); i += 2) ASSERT_EQ('\\', n[i]) << GetACP();
  testenv::ScopedTestDir dir("cprun");
  // Relative to the test folder: the product in I, a user's folder K below it.
  const std::string I = a + b, K = I + "\\" + b + "\\" + a, install = dir / I,
                    exe = install + "\\uninstall.exe", levels = dir / ("data\\" + c + "\\" + d);
  const std::string regKey = "Software\\TallowinTests\\CodePage\\" + a;
  ASSERT_TRUE(testenv::MakeTree(dir.path(),
                                {I + "\\" + c + "\\" + d + "\\c.txt", I + "\\x.txt", K + "\\m.log",
                                 K + "\\keep.txt", I + "\\" + a + ".tmp", I + "\\" + a + a + ".tmp",
                                 "data\\" + c + "\\" + d + "\\f.txt", "data\\keep.txt"}));
  ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, regKey + "\\k", "v", 1));
  ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, regKey, "keep", 1));
  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  block.files = {{".\\" + c + "\\" + d, "c.txt", 0}, {install, "x.txt", 0}};
  block.folders = {{2, levels, "", "f.txt"}};
  block.patterns = {b + "\\*.log", one + ".tmp"};  // one character
  block.registry = {{blockfmt::ROOT_HKCU, regKey + "\\k"}};
  ASSERT_TRUE(testenv::InstallStub(exe, block));

  EXPECT_TRUE(RunQuietUnquoted(exe));
  testenv::ExpectTree(
      dir.path(), {K + "\\keep.txt", I + "\\" + a + a + ".tmp", "data\\keep.txt"},
      {I + "\\" + c, I + "\\x.txt", K + "\\m.log", I + "\\" + a + ".tmp", "data\\" + c});
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, regKey + "\\k"));
  EXPECT_TRUE(testenv::RegValueExists(HKEY_CURRENT_USER, regKey, "keep"));
  testenv::DeleteRegTree(HKEY_CURRENT_USER, "Software\\TallowinTests\\CodePage");

  // Without what it left, the program deletes itself and its folder.
  for (int i = 0; i < 150 && testenv::FileExists(exe); ++i) Sleep(100);
  testenv::RemoveTree(install + "\\" + b);
  DeleteFileA((install + "\\" + a + a + ".tmp").c_str());
  ASSERT_TRUE(testenv::InstallStub(exe, block));
  EXPECT_TRUE(RunQuietUnquoted(exe));
  // The script deletes the program once it has exited, then its folder when empty.
  for (int i = 0; i < 150 && testenv::DirExists(install); ++i) Sleep(100);
  EXPECT_FALSE(testenv::DirExists(install));
}

}  // namespace
