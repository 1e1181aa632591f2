// The switch scanner, and whole runs of the built program under Wine that end early.
#include "app/run.h"

#include <gtest/gtest.h>

#include "data/data.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

TEST(ParseSwitches, TakesQAndXInEitherFormAndStopsAtAPlainWord) {
  const struct {
    const char *text;
    DWORD quiet, noExternal;
  } cases[] = {
      {nullptr, 0, 0},   {"", 0, 0},       {"    ", 0, 0},      {"/q", 1, 0},
      {"-Q", 1, 0},      {"/Quiet", 1, 0}, {"   /Q", 1, 0},     {"/X", 1, 1},
      {"-x", 1, 1},      {"/Xq", 1, 1},    {"/S", 1, 0},        {"C:\\path /Q", 0, 0},
      {"/Q/X", 1, 1},    {"-Q -X", 1, 1},  {"/Quiet -x", 1, 1}, {"/Z /Q", 1, 0},
      {"/", 0, 0},       {"-", 0, 0},      {"/Zx-q", 1, 0},     {"word /X", 0, 0},
      {"/S   -X", 1, 1},
  };
  for (const auto &c : cases) {
    ResetRunState();
    ParseSwitches(c.text);
    EXPECT_EQ(c.quiet, g.quiet) << (c.text ? c.text : "(null)");
    EXPECT_EQ(c.noExternal, g.noExternal) << (c.text ? c.text : "(null)");
  }
}

TEST(WholeProgram, UnreadableBlockShowsOneBoxAndExitsMinusOne) {
  testenv::ScopedTestDir dir("run");
  const std::string exe = dir / "uninstall.exe";
  blockfmt::RecordWriter noEnd;
  noEnd.Record(blockfmt::TAG_MESSAGES, blockfmt::EncodeMessages(testenv::StandardMessages()));
  const struct {
    const char *what;
    const std::vector<uint8_t> *block;  // null: the bare stub
    const char *switches;
    std::string caption, text;
  } cases[] = {
      // No message table yet: the box has neither caption nor text.
      {"no block", nullptr, "", "", ""},
      // Errors show even with X.
      {"no end record", &noEnd.bytes(), " /X", "m0", "m8 " + exe},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(c.block ? testenv::InstallStubRaw(exe, *c.block)
                        : CopyFileA(testenv::StubPath().c_str(), exe.c_str(), FALSE))
        << c.what;
    testenv::ProgramRun run("\"" + exe + "\"" + c.switches);
    run.answers().Answer("", winui::Press::Click, IDOK);
    EXPECT_EQ(0xFFFFFFFFu, run.Wait()) << c.what;
    auto seen = run.answers().Seen();
    ASSERT_EQ(1u, seen.size()) << c.what;
    EXPECT_EQ(c.caption, seen[0].caption) << c.what;
    const winui::ControlInfo *text = seen[0].Control(0xFFFF);
    EXPECT_EQ(c.text, text ? text->text : "") << c.what << "\n" << seen[0].Describe();
  }
}

}  // namespace
