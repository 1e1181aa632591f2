// The switch scanner, and whole runs of the built program under Wine, answered as a person
// would.
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
      {"no end record", &noEnd.bytes(), " /X", "<0>", "<8> " + exe},
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

TEST(WholeProgram, EachRunShowsItsDialogsInOrderAndRemovesWhatItShould) {
  testenv::ScopedTestDir dir("whole-run");
  const struct {
    const char *what, *switches;
    std::vector<std::pair<std::string, int>> answers;  // dialog text, button
    std::vector<std::string> shown;                    // what each dialog shows, in order
    bool removes, selfDeletes;
  } cases[] = {
      // Confirmation; progress, whose status line opens with message 11; the prompt for the
      // read-only file, answered once the progress is seen; closing message.
      {"normal", "", {{"<1>", IDOK}, {"<2>", IDOK}}, {"<1>", "<11>", "<9>", "<2>"}, true, true},
      {"cancelled confirmation", "", {{"<1>", IDCANCEL}}, {"<1>"}, false, false},
      // The questions of the file pass still come up when quiet.
      {"X", " /X", {{"<9>", IDC_PROMPT_YES}}, {"<9>"}, true, false},
      {"Q", " /Q", {{"<9>", IDC_PROMPT_YES}}, {"<9>"}, true, true},
  };
  for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
    const auto &c = cases[k];
    // A folder of its own, so that no run's self-deletion reaches another run's program.
    std::string folder = dir / std::to_string(k), exe = folder + "\\uninstall.exe";
    auto name = [](int i) { return "f" + std::to_string(i) + ".txt"; };
    blockfmt::Block block;
    block.messages = testenv::StandardMessages();
    // Handled last to first: the read-only file last, with the progress dialog up.
    for (int i = 0; i < 30; ++i) block.files.push_back({".", name(i), 0});
    ASSERT_TRUE(testenv::InstallStub(exe, block));
    for (int i = 0; i < 30; ++i) testenv::WriteText(folder + "\\" + name(i), "x");
    SetFileAttributesA((folder + "\\" + name(0)).c_str(), FILE_ATTRIBUTE_READONLY);

    testenv::ProgramRun run("\"" + exe + "\"" + c.switches);
    for (const auto &answer : c.answers)
      run.answers().Answer(answer.first, winui::Press::Click, answer.second, 1);
    if (c.removes && !c.switches[0]) {
      HWND progress = winui::WaitForWindow(run.id(), "#32770", "<11>", 30000);
      ASSERT_NE(nullptr, progress) << c.what;
      EXPECT_TRUE(winui::ReadWindow(progress).Control(IDC_PROGRESS_BAR)) << c.what;
      run.answers().Answer("<9>", winui::Press::Click, IDC_PROMPT_YES, 1);
    }
    EXPECT_EQ(0u, run.Wait()) << c.what;
    std::vector<winui::WindowInfo> seen = run.answers().Seen();
    const std::string all = winui::DescribeAll(seen);
    ASSERT_EQ(c.shown.size(), seen.size()) << c.what << "\n" << all;
    for (size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ("<0>", seen[i].caption) << c.what << "\n" << all;
      EXPECT_TRUE(seen[i].Contains(c.shown[i])) << c.what << ": " << c.shown[i] << "\n" << all;
    }
    int left = 0;
    for (int i = 0; i < 30; ++i) left += testenv::FileExists(folder + "\\" + name(i));
    EXPECT_EQ(c.removes ? 0 : 30, left) << c.what;
    if (c.selfDeletes) continue;
    Sleep(500);  // a self-deletion script, if one were wrongly started, would act by now
    EXPECT_TRUE(testenv::FileExists(exe)) << c.what << ": no self-deletion";
  }
}

}  // namespace
