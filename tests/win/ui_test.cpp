// The user interface against the real window manager: the progress dialog and its bar, the
// file prompt, the main window and the message pumps.
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

using testenv::StubResources;

// Each case starts from a clean run state with the sixteen standard messages and the
// program's resources.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StubResources());
    g.instance = StubResources();
    state_.Messages(testenv::StandardMessages());
    InitCommonControls();
  }
  void TearDown() override {
    if (g.progressDialog) DestroyWindow(g.progressDialog);
    if (g.mainWindow) DestroyWindow(g.mainWindow);
    UnregisterClassA("TallowinClass", StubResources());
    ReleaseUiResources();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  testenv::RunState state_{"C:\\x"};
};

// A control's text as shown; tells a missing control apart from an empty text.
std::string TextOf(const winui::WindowInfo &window, int id) {
  const winui::ControlInfo *control = window.Control(id);
  return control ? control->text : "(no control " + std::to_string(id) + ")";
}

TEST_F(UiTest, HiddenMainWindowOwnsAProgressDialogThatCannotBeClosedAndShowsProgress) {
  ASSERT_TRUE(RegisterMainWindowClass() && CreateMainWindow());
  EXPECT_FALSE(IsWindowVisible(g.mainWindow));
  EXPECT_EQ("<0>", winui::ReadWindow(g.mainWindow).caption);
  WNDCLASSA windowClass;
  ASSERT_TRUE(GetClassInfoA(g.instance, "TallowinClass", &windowClass));
  EXPECT_TRUE(windowClass.hIcon);

  CreateProgressDialog();
  ASSERT_TRUE(g.progressDialog);
  EXPECT_EQ(GetDlgItem(g.progressDialog, IDC_PROGRESS_BAR), g.progressBar);
  EXPECT_EQ(g.mainWindow, GetWindow(g.progressDialog, GW_OWNER));
  winui::WindowInfo info = winui::ReadWindow(g.progressDialog);
  EXPECT_TRUE(info.visible);
  EXPECT_EQ("<0>", info.caption);
  EXPECT_EQ("<11>", TextOf(info, IDC_TEXT));
  ASSERT_TRUE(info.Control(IDC_PROGRESS_BAR));
  EXPECT_EQ(0, info.Control(IDC_PROGRESS_BAR)->progressPos);
  // The font is the template's, made normal weight, on every child.
  ASSERT_TRUE(g.dialogFont);
  LOGFONTA font;
  ASSERT_EQ(static_cast<int>(sizeof font), GetObjectA(g.dialogFont, sizeof font, &font));
  EXPECT_EQ(FW_NORMAL, font.lfWeight);
  EXPECT_EQ(reinterpret_cast<LRESULT>(g.dialogFont),
            SendDlgItemMessageA(g.progressDialog, IDC_TEXT, WM_GETFONT, 0, 0));

  for (winui::Press how : {winui::Press::Enter, winui::Press::Escape, winui::Press::Close}) {
    winui::PressOn(g.progressDialog, how);
    PumpMessages();
    EXPECT_TRUE(IsWindow(g.progressDialog) && IsWindowVisible(g.progressDialog));
  }

  SetStatusText(99);  // beyond the table: the empty text
  EXPECT_EQ("", TextOf(winui::ReadWindow(g.progressDialog), IDC_TEXT));
  SetStatusText(12);
  SetProgress(42);
  info = winui::ReadWindow(g.progressDialog);
  EXPECT_EQ("<12>", TextOf(info, IDC_TEXT));
  EXPECT_EQ(42, info.Control(IDC_PROGRESS_BAR)->progressPos);
  DestroyWindow(g.progressDialog);
  g.progressDialog = g.progressBar = nullptr;

  MSG msg;
  // A quit message taken by the pump is dropped; closing the main window still ends, on the
  // quit message of its destruction, and leaves nothing queued.
  PostQuitMessage(5);
  PumpMessages();
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  CloseMainWindow();
  EXPECT_EQ(nullptr, g.mainWindow);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  CloseMainWindow();  // no window: nothing to wait for, so it returns at once
  EXPECT_TRUE(UnregisterClassA("TallowinClass", g.instance)) << "a window of the class is left";
}

TEST_F(UiTest, FilePromptShowsItsTextsAndAnswersByButtonAndKey) {
  const struct {
    const char *what;
    winui::Press how;
    int button;
    int expected;
  } cases[] = {
      {"Enter", winui::Press::Enter, 0, IDYES},
      {"Escape", winui::Press::Escape, 0, IDCANCEL},
      {"Yes to all", winui::Press::Click, 1001, 1001},
      {"No to all", winui::Press::Click, 1002, 1002},
  };
  for (const auto &c : cases) {
    winui::DialogAnswerer answerer;
    answerer.Answer("", c.how, c.button);
    EXPECT_EQ(c.expected, AskDeleteFile("C:\\x\\read&only.txt")) << c.what;
    answerer.Stop();
    std::vector<winui::WindowInfo> seen = answerer.Seen();
    ASSERT_EQ(1u, seen.size()) << c.what;
    const winui::WindowInfo &prompt = seen[0];
    EXPECT_EQ("<0>", prompt.caption) << c.what;
    const std::pair<int, const char *> texts[] = {{IDC_TEXT, "<9> C:\\x\\read&only.txt"},
                                                  {6, "<3>"},
                                                  {1001, "<4>"},
                                                  {7, "<5>"},
                                                  {1002, "<6>"}};
    for (const auto &t : texts) EXPECT_EQ(t.second, TextOf(prompt, t.first)) << c.what;
  }
  EXPECT_TRUE(g.dialogFont) << "the first prompt makes the shared font";

  // Without the templates (this program holds neither) there is no progress dialog, and
  // the prompt says no.
  g.fileCount = 3;
  g.instance = GetModuleHandleA(nullptr);
  CreateProgressDialog();
  EXPECT_EQ(nullptr, g.progressDialog);
  EXPECT_EQ(nullptr, g.progressBar);
  EXPECT_EQ(0u, g.progressTotal);
  EXPECT_EQ(IDNO, AskDeleteFile("C:\\x\\file.txt"));

  // Without message 9 the composed text is empty: yes to all, and no dialog.
  std::vector<std::string> texts = testenv::StandardMessages();
  state_.Messages({texts.begin(), texts.begin() + 9});
  winui::DialogAnswerer answerer;
  answerer.Answer("", winui::Press::Escape);
  EXPECT_EQ(1001, AskDeleteFile("C:\\x\\file.txt"));
  answerer.Stop();
  EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(UiTest, ComposedTextsTakeTheArgumentAsItIsAndStayWithinTheBuffer) {
  state_.Messages({"remove %s now? 100%% sure %d %x", "no conversion 100%% %d"});
  char buffer[1100];
  ComposeMessage(buffer, 0, "C:\\a%s%d");
  // The argument is never itself a format; stray conversions stay as written.
  EXPECT_STREQ("remove C:\\a%s%d now? 100% sure %d %x", buffer);
  ComposeMessage(buffer, 1, "ignored");
  EXPECT_STREQ("no conversion 100%% %d", buffer);
  memset(buffer, '#', sizeof buffer);
  ComposeMessage(buffer, 0, std::string(3000, 'p').c_str());
  EXPECT_EQ("remove " + std::string(1016, 'p'), buffer);  // 1023 bytes and the NUL
  EXPECT_EQ('#', buffer[1024]);
}

}  // namespace
