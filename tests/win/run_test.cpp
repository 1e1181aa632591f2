// The switch scanner, and whole runs of the built program under Wine.
#include "app/run.h"

#include <gtest/gtest.h>

#include "data/data.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

struct Switches {
  const char *text;
  DWORD quiet;
  DWORD noExternal;
};

TEST(ParseSwitches, TakesQAndXInEitherFormAndStopsAtAPlainWord) {
  const Switches cases[] = {
      {nullptr, 0, 0},   {"", 0, 0},       {"    ", 0, 0},      {"/q", 1, 0},
      {"-Q", 1, 0},      {"/Quiet", 1, 0}, {"   /Q", 1, 0},     {"/X", 1, 1},
      {"-x", 1, 1},      {"/Xq", 1, 1},    {"/S", 0, 0},        {"C:\\path /Q", 0, 0},
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

class WholeProgram : public ::testing::Test {
 protected:
  WholeProgram() : dir_("run"), exe_(dir_ / "product\\uninstall.exe") {}
  testenv::ScopedTestDir dir_;
  std::string exe_;
};

TEST_F(WholeProgram, StubWithoutBlockShowsOneEmptyBoxAndExitsMinusOne) {
  std::vector<uint8_t> stub;
  ASSERT_TRUE(testenv::ReadBytes(testenv::StubPath(), &stub));
  testenv::MakeDirs(dir_ / "product");
  ASSERT_TRUE(testenv::WriteBytes(exe_, stub));
  testenv::ProgramRun run(exe_);
  run.answers().Answer("", winui::Press::Click, IDOK);
  EXPECT_EQ(0xFFFFFFFFu, run.Wait());
  auto seen = run.answers().Seen();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("", seen[0].caption);
  const winui::ControlInfo *text = seen[0].Control(0xFFFF);
  EXPECT_TRUE(text == nullptr || text->text.empty());
}

TEST_F(WholeProgram, OptionsAndEndOnlyWithXExitsZeroAndShowsNothing) {
  blockfmt::Block block;
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  testenv::ProgramRun run("\"" + exe_ + "\" /X");
  EXPECT_EQ(0u, run.Wait());
  EXPECT_TRUE(run.answers().Seen().empty());
  EXPECT_TRUE(testenv::FileExists(exe_));  // X: no self-deletion
}

TEST_F(WholeProgram, BlockWithoutEndRecordReportsMessage8WithOwnPath) {
  blockfmt::RecordWriter w;
  w.Record(blockfmt::TAG_MESSAGES, blockfmt::EncodeMessages(testenv::StandardMessages()));
  ASSERT_TRUE(testenv::InstallStubRaw(exe_, w.bytes()));
  testenv::ProgramRun run("\"" + exe_ + "\" /X");
  run.answers().Answer("", winui::Press::Click, IDOK);
  EXPECT_EQ(0xFFFFFFFFu, run.Wait());
  auto seen = run.answers().Seen();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("m0", seen[0].caption);
  EXPECT_TRUE(seen[0].Contains("m8 " + exe_)) << seen[0].Describe();
}

TEST_F(WholeProgram, CancelledConfirmationRemovesNothingAndExitsZero) {
  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  block.files.push_back({".", "keep.txt", 0});
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  ASSERT_TRUE(testenv::WriteText(dir_ / "product\\keep.txt", "x"));
  testenv::ProgramRun run(exe_);
  run.answers().Answer("m1", winui::Press::Click, IDCANCEL);
  EXPECT_EQ(0u, run.Wait());
  auto seen = run.answers().Seen();
  ASSERT_EQ(1u, seen.size());
  EXPECT_TRUE(seen[0].Contains("m1"));
  EXPECT_EQ("m0", seen[0].caption);
  Sleep(500);  // a self-deletion script, if one were wrongly started, would act by now
  EXPECT_TRUE(testenv::FileExists(dir_ / "product\\keep.txt"));
  EXPECT_TRUE(testenv::FileExists(exe_));
}

}  // namespace
