// The switch scanner, and the run log's refusal of paths that are no plain file of its own.
#include "app/run.h"

#include <gtest/gtest.h>

#include "state/outcome.h"
#include "support/testenv.h"

namespace {

TEST(ParseSwitches, TakesEachSwitchInEitherFormAndStopsAtAPlainWord) {
  const struct {
    const char *text;
    DWORD silent, quiet, noExternal;
    const char *log;
  } cases[] = {
      {nullptr, 0, 0, 0, ""},
      {"   -Q", 0, 1, 0, ""},
      {"C:\\path /Q", 0, 0, 0, ""},
      {"/", 0, 0, 0, ""},
      {"/Zx-q", 0, 1, 0, ""},
      {"/S   -x", 1, 1, 1, ""},
      {"-verysilent", 1, 1, 0, ""},
      {"/Q /LOG=\"C:\\my logs\\un-install /X.log\" /X", 0, 1, 1, "C:\\my logs\\un-install /X.log"},
      {"/log=C:\\a-b/c.log", 0, 0, 0, "C:\\a-b/c.log"},
      {"/LOG=\"C:\\open -s", 0, 0, 0, "C:\\open -s"},
      {"/LOG /L /V", 0, 0, 0, ""},
      {"/LOG C:\\x.log /S", 1, 1, 0, "C:\\x.log"},  // a blank for the '='
      {"-log   \"C:\\my logs\\x.log\" -q", 0, 1, 0, "C:\\my logs\\x.log"},
  };
  for (const auto &c : cases) {
    ResetRunState();
    ParseSwitches(c.text);
    EXPECT_EQ((std::vector<DWORD>{c.silent, c.quiet, c.noExternal}),
              (std::vector<DWORD>{g.silent, g.quiet, g.noExternal}))
        << (c.text ? c.text : "(null)");
    EXPECT_STREQ(c.log, g.logPath) << (c.text ? c.text : "(null)");
  }
  ResetRunState();
  ParseSwitches(("/LOG=C:\\" + std::string(300, 'a')).c_str());
  EXPECT_STREQ("", g.logPath) << "a path cut short would name another file";
}

// A log path that is no plain file of this run's own (held open by another program, a name
// of another file, a folder: under Wine a link shows as one) is not written to: the log goes to a
// new name beside it, and says which path it was refused. An existing log keeps its lines.
TEST(RunLog, APathThatIsNoPlainFileOfThisRunGetsTheLogUnderANewNameBesideIt) {
  testenv::ScopedTestDir dir("run-log");
  ASSERT_TRUE(testenv::MakeTree(
      dir.path(), {"other.txt", "held.log", "folder.log\\", "taken.log\\", "taken.log.1"}));
  ASSERT_TRUE(testenv::WriteText(dir / "plain.log", "old\n"));
  HANDLE holder =
      CreateFileA((dir / "held.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  ASSERT_TRUE(CreateHardLinkA((dir / "hard.log").c_str(), (dir / "other.txt").c_str(), nullptr));
  const std::pair<std::string, std::string> cases[] = {{"plain.log", "plain.log"},
                                                       {"held.log", "held.log.1"},
                                                       {"hard.log", "hard.log.1"},
                                                       {"folder.log", "folder.log.1"},
                                                       {"taken.log", "taken.log.2"}};
  for (const auto &c : cases) {
    ResetRunState();
    lstrcpyA(g.logPath, (dir / c.first).c_str());
    OpenRunLog("/S");
    NoteOutcome("x", OUTCOME_REMOVED);
    EXPECT_EQ(0, FinishRun(0)) << c.first;
    std::vector<std::string> lines = testenv::ReadLines(dir / c.second);
    ASSERT_LE(5u, lines.size()) << c.first;
    EXPECT_EQ("removed x", lines[lines.size() - 2]) << c.first;
    const bool same = c.first == c.second;
    EXPECT_EQ(same ? "old" : "log-refused " + dir / c.first, lines[same ? 0 : 3]) << c.first;
  }
  CloseHandle(holder);
  for (const char *file : {"other.txt", "held.log"}) {  // as MakeTree wrote them
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(testenv::ReadBytes(dir / file, &bytes) && bytes.size() == 1) << file;
  }
  ResetRunState();
}

}  // namespace
