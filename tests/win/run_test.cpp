// The switch scanner, and the run log's refusal of paths that are no plain file of its own.
#include "app/run.h"

#include <gtest/gtest.h>

#include "base/base.h"
#include "state/outcome.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"
#include "ui/resource_ids.h"

namespace {

TEST(ParseSwitches, TakesEachSwitchInEitherFormAndStopsAtAPlainWord) {
  const struct {
    const char *text;
    DWORD silent, quiet, noExternal;
    const char *log;
  } cases[] = {
      {nullptr, 0, 0, 0, ""},
      {"    ", 0, 0, 0, ""},
      {"   -Q", 0, 1, 0, ""},
      {"/Quiet", 0, 1, 0, ""},
      {"C:\\path /Q", 0, 0, 0, ""},
      {"/Q/X", 0, 1, 1, ""},
      {"/Z /Q", 0, 1, 0, ""},
      {"/", 0, 0, 0, ""},
      {"/Zx-q", 0, 1, 0, ""},
      {"/S   -x", 1, 1, 1, ""},
      {"/SILENT /SUPPRESSMSGBOXES", 1, 1, 0, ""},
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
    const char *text = c.text ? c.text : "(null)";
    EXPECT_EQ(c.silent, g.silent) << text;
    EXPECT_EQ(c.quiet, g.quiet) << text;
    EXPECT_EQ(c.noExternal, g.noExternal) << text;
    EXPECT_STREQ(c.log, g.logPath) << text;
  }
  ResetRunState();
  ParseSwitches(("/LOG=C:\\" + std::string(300, 'a')).c_str());
  EXPECT_STREQ("", g.logPath) << "a path cut short would name another file";
}

// A log path that is no plain file of this run's own (held open by another program, a name
// of another file, a link, a folder) is not written to: the log goes to a new name beside
// it, and says which path it was refused.
TEST(RunLog, APathThatIsNoPlainFileOfThisRunGetsTheLogUnderANewNameBesideIt) {
  testenv::ScopedTestDir dir("run-log");
  const std::string other = dir / "other.txt", plain = dir / "plain.log", held = dir / "held.log",
                    hard = dir / "hard.log", link = dir / "link.log", folder = dir / "folder.log",
                    taken = dir / "taken.log";
  for (const std::string &file : {other, plain, held})
    ASSERT_TRUE(testenv::WriteText(file, "old\n"));
  HANDLE holder = CreateFileA(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  ASSERT_TRUE(CreateHardLinkA(hard.c_str(), other.c_str(), nullptr));
  ASSERT_TRUE(testenv::MakeDirs(dir / "target") && testenv::MakeFolderLink(link, "target"));
  ASSERT_TRUE(testenv::MakeDirs(folder) && testenv::MakeDirs(taken));
  ASSERT_TRUE(testenv::WriteText(taken + ".1", "old\n"));  // the first new name is taken
  const struct {
    std::string path, written;
  } cases[] = {{plain, plain},      {held, held + ".1"},     {hard, hard + ".1"},
               {link, link + ".1"}, {folder, folder + ".1"}, {taken, taken + ".2"}};
  for (const auto &c : cases) {
    ResetRunState();
    lstrcpynA(g.logPath, c.path.c_str(), sizeof g.logPath);
    OpenRunLog("/S");
    NoteOutcome("x", OUTCOME_REMOVED);
    EXPECT_EQ(0, FinishRun(0)) << c.path;
    std::vector<std::string> lines = testenv::ReadLines(c.written);
    ASSERT_LE(5u, lines.size()) << c.path;
    EXPECT_EQ("removed x", lines[lines.size() - 2]) << c.path;
    // An existing log keeps its lines; a new one names the path that was refused.
    const bool same = c.path == c.written;
    EXPECT_EQ(same ? "old" : "log-refused " + c.path, lines[same ? 0 : 3]) << c.path;
  }
  CloseHandle(holder);
  for (const std::string &file : {other, held})
    EXPECT_EQ(std::vector<std::string>{"old"}, testenv::ReadLines(file)) << file;
  EXPECT_TRUE(testenv::RemoveFolderLink(link));
  ResetRunState();
}

}  // namespace
