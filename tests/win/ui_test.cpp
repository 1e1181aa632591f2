// The user interface against the real window manager: the progress dialog, the file
// prompt, the main window and the message pumps, and composed texts.
#include "ui/ui.h"

#include <windows.h>
// commctrl.h needs the base types first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "data/data.h"
#include "gtest/gtest.h"
#include "state/state.h"
#include "support/testenv.h"
#include "support/windows.h"
#include "ui/resource_ids.h"

namespace {

// Each case starts from a clean run state with the sixteen standard messages and the
// program's resources.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g.instance = testenv::StubResources();
    ASSERT_TRUE(g.instance);
    state_.Messages(testenv::StandardMessages());
    InitCommonControls();
  }
  void TearDown() override {
    if (g.progressDialog) DestroyWindow(g.progressDialog);
    if (g.mainWindow) DestroyWindow(g.mainWindow);
    UnregisterClassA("TallowinClass", testenv::StubResources());
    ReleaseUiResources();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  testenv::RunState state_{"C:\\x"};
};

// Nothing closes the progress dialog while the run goes on. Closing the main window ends,
// on the quit message of its destruction, and leaves nothing queued.
TEST_F(UiTest, TheProgressCannotBeClosedAndTheMainWindowEndsOnce) {
  ASSERT_TRUE(RegisterMainWindowClass() && CreateMainWindow());
  EXPECT_FALSE(IsWindowVisible(g.mainWindow));
  CreateProgressDialog();
  ASSERT_TRUE(g.progressDialog);
  for (winui::Press how : {winui::Press::Enter, winui::Press::Escape, winui::Press::Close}) {
    winui::PressOn(g.progressDialog, how);
    PumpMessages();
    EXPECT_TRUE(IsWindow(g.progressDialog) && IsWindowVisible(g.progressDialog));
  }
  DestroyWindow(g.progressDialog);
  g.progressDialog = g.progressBar = nullptr;

  CloseMainWindow();
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  CloseMainWindow();  // no window: nothing to wait for, so it returns at once
  EXPECT_TRUE(UnregisterClassA("TallowinClass", g.instance)) << "a window of the class is left";
}

// Escape answers the prompt (its buttons, the whole runs press); each button says what it
// does.
TEST_F(UiTest, FilePromptShowsItsTextsAndEscapeCancels) {
  winui::DialogAnswerer answerer;
  answerer.Answer("", winui::Press::Escape);
  EXPECT_EQ(IDCANCEL, AskDeleteFile("C:\\x\\read&only.txt"));
  answerer.Stop();
  std::vector<winui::WindowInfo> seen = answerer.Seen();
  ASSERT_EQ(1u, seen.size());
  const std::pair<int, const char *> texts[] = {{IDC_TEXT, "<9> C:\\x\\read&only.txt"},
                                                {IDC_PROMPT_YES, "<3>"},
                                                {IDC_PROMPT_YES_ALL, "<4>"},
                                                {IDC_PROMPT_NO, "<5>"},
                                                {IDC_PROMPT_NO_ALL, "<6>"}};
  for (const auto &t : texts) {
    const winui::ControlInfo *control = seen[0].Control(t.first);
    EXPECT_EQ(t.second, control ? control->text : "(no control)");
  }

  // A prompt that cannot be shown (here without its template) keeps the file; without
  // message 9 the composed text is empty, and the answer is yes to all without one.
  g.instance = GetModuleHandleA(nullptr);
  EXPECT_EQ(IDNO, AskDeleteFile("C:\\x\\file.txt"));
  std::vector<std::string> standard = testenv::StandardMessages();
  state_.Messages({standard.begin(), standard.begin() + 9});
  EXPECT_EQ(IDC_PROMPT_YES_ALL, AskDeleteFile("C:\\x\\file.txt"));
}

// The argument is never itself a format; stray conversions stay as written, and a message
// past the end of the table is empty.
TEST_F(UiTest, ComposedTextsTakeTheArgumentAsItIsAndStayWithinTheBuffer) {
  state_.Messages({"remove %s now? 100%% sure %d %x", "no conversion 100%% %d"});
  char buffer[1100];
  ComposeMessage(buffer, 0, "C:\\a%s%d");
  EXPECT_STREQ("remove C:\\a%s%d now? 100% sure %d %x", buffer);
  ComposeMessage(buffer, 1, "ignored");
  EXPECT_STREQ("no conversion 100%% %d", buffer);
  ComposeMessage(buffer, 2, "ignored");
  EXPECT_STREQ("", buffer);
  memset(buffer, '#', sizeof buffer);
  ComposeMessage(buffer, 0, std::string(3000, 'p').c_str());
  EXPECT_EQ("remove " + std::string(1016, 'p'), buffer);  // 1023 bytes and the NUL
  EXPECT_EQ('#', buffer[1024]);
}

}  // namespace
