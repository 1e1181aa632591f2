// The user interface against the real window manager: the compiled resources, the progress
// dialog and its bar, the file prompt, the main window and the message pumps.
#include "ui/ui.h"

#include <windows.h>
// commctrl.h needs the base types first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "gtest/gtest.h"
#include "support/testenv.h"
#include "support/windows.h"
#include "ui/resource_ids.h"

namespace {

// The message table as the reader would leave it: one text per slot, a null slot last.
struct MessageTable {
  explicit MessageTable(std::vector<std::string> all) : texts(std::move(all)) {
    for (std::string &text : texts) slots.push_back(&text[0]);
    slots.push_back(nullptr);
  }
  std::vector<std::string> texts;
  std::vector<char *> slots;
};

// The built program's resources, so that the dialogs come from the shipped templates.
HMODULE StubResources() {
  static HMODULE module =
      LoadLibraryExA(testenv::StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// The bytes of a resource in US English; empty when there is none.
std::string Resource(LPCSTR type, int id) {
  HRSRC found = FindResourceExA(StubResources(), type, MAKEINTRESOURCEA(id),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  HGLOBAL loaded = found ? LoadResource(StubResources(), found) : nullptr;
  const char *data = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
  return data ? std::string(data, SizeofResource(StubResources(), found)) : std::string();
}

struct Control {
  DWORD style;
  short x, y, cx, cy;
  WORD id;
  const wchar_t *className, *text;
};
// Predefined classes go by ordinal.
const wchar_t kButton[] = {0xFFFF, 0x80, 0}, kStatic[] = {0xFFFF, 0x82, 0};

// A classic (not extended) template: 257 x 73 units at 0, 0, no menu, the default class,
// an empty caption, 8-point Arial, and controls without creation data.
std::string ClassicTemplate(DWORD style, const std::vector<Control> &controls) {
  std::string t;
  auto word = [&t](WORD v) { t.append({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}); };
  auto dword = [&](DWORD v) { word(LOWORD(v)), word(HIWORD(v)); };
  auto text = [&](const wchar_t *s) {
    while (*s) word(*s++);
    word(0);
  };
  dword(style), dword(0), word(static_cast<WORD>(controls.size()));
  for (WORD v : {0, 0, 257, 73, 0, 0, 0, 8}) word(v);
  text(L"Arial");
  for (const Control &c : controls) {
    if (t.size() % 4) word(0);
    dword(c.style), dword(0);
    for (short v : {c.x, c.y, c.cx, c.cy}) word(v);
    word(c.id);
    if (c.className[0] == 0xFFFF) {
      word(0xFFFF), word(c.className[1]);
    } else {
      text(c.className);
    }
    text(c.text), word(0);
  }
  return t;
}

TEST(UiResources, DialogTemplatesAreClassicAndAsDesigned) {
  ASSERT_TRUE(StubResources()) << testenv::StubPath();
  const struct {
    const char *what;
    int id;
    std::string expected;
  } cases[] = {
      {"file prompt", IDD_FILE_PROMPT,
       ClassicTemplate(0x80C800C0, {{0x50010001, 20, 52, 50, 14, 6, kButton, L""},
                                    {0x50010000, 75, 52, 50, 14, 1001, kButton, L""},
                                    {0x50020000, 7, 7, 243, 36, 1000, kStatic, L""},
                                    {0x50010000, 130, 52, 50, 14, 7, kButton, L""},
                                    {0x50010000, 186, 52, 50, 14, 1002, kButton, L""}})},
      {"progress", IDD_PROGRESS,
       ClassicTemplate(0x90C800C0,
                       {{0x50020080, 7, 24, 243, 8, 1000, kStatic, L""},
                        {0x50000000, 7, 38, 243, 12, 1009, L"msctls_progress32", L"Progress1"}})},
  };
  for (const auto &c : cases) {
    std::string actual = Resource(RT_DIALOG, c.id);
    size_t at = 0;
    while (at < actual.size() && at < c.expected.size() && actual[at] == c.expected[at]) ++at;
    EXPECT_EQ(c.expected, actual) << c.what << ": first difference at byte " << at;
  }
}

TEST(UiResources, IconGroupHoldsFiveImagesThatAgreeWithTheirEntries) {
  ASSERT_TRUE(StubResources());
  std::string group = Resource(RT_GROUP_ICON, IDI_MAIN);
  // The image count at 4, then 14-byte entries: width, height, colours, reserved, planes
  // (2 bytes), bits per pixel (2), image size (4), image id (2).
  auto field = [&group](size_t at, size_t size) {
    DWORD value = 0;
    memcpy(&value, group.data() + at, size);
    return static_cast<int>(value);
  };
  ASSERT_EQ(6u + 5 * 14, group.size());
  ASSERT_EQ(5, field(4, 2));
  const int expected[5][2] = {{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const size_t entry = 6 + 14 * i;
    EXPECT_EQ(expected[i][0], field(entry, 1));
    EXPECT_EQ(expected[i][0], field(entry + 1, 1));
    EXPECT_EQ(expected[i][1], field(entry + 6, 2));
    std::string image = Resource(RT_ICON, field(entry + 12, 2));
    EXPECT_EQ(field(entry + 8, 4), static_cast<int>(image.size()));
    BITMAPINFOHEADER header;
    ASSERT_GE(image.size(), sizeof header);
    memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(expected[i][0], header.biWidth);
    EXPECT_EQ(2 * expected[i][0], header.biHeight);  // colour rows and mask rows
    EXPECT_EQ(expected[i][1], header.biBitCount);
  }
}

TEST(UiResources, ManifestAsksForAdministratorAndCommonControls6) {
  ASSERT_TRUE(StubResources());
  std::string text = Resource(MAKEINTRESOURCEA(24), 1);
  for (const char *part : {"name=\"UninstallProgram\"", "version=\"1.0.0.0\"",
                           "<description>Uninstall Program</description>",
                           "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                           "publicKeyToken=\"6595b64144ccf1df\"", "level=\"requireAdministrator\"",
                           "uiAccess=\"false\""})
    EXPECT_NE(std::string::npos, text.find(part)) << part;
}

// Each case starts from a clean run state with the sixteen standard messages and the
// program's resources.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    ASSERT_TRUE(StubResources());
    g.instance = StubResources();
    g.messages = table_.slots.data();
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
    ResetRunState();
  }
  MessageTable table_{testenv::StandardMessages()};
};

// A control's text as shown; tells a missing control apart from an empty text.
std::string TextOf(const winui::WindowInfo &window, int id) {
  const winui::ControlInfo *control = window.Control(id);
  return control ? control->text : "(no control " + std::to_string(id) + ")";
}

// Saves a picture of `window` for people to look at, beside the build (T: is the build root),
// once it has had time to paint.
bool SavePicture(HWND window, const char *name) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 300; Sleep(10)) PumpMessages();
  std::string bin = testenv::BinDir();
  std::string dir = bin.substr(0, bin.find_last_of('\\')) + "\\artifacts";
  testenv::MakeDirs(dir);
  return winui::SaveWindowPng(window, dir + "\\" + name);
}

// A bar that records the PBM_SETPOS messages it receives.
std::vector<WPARAM> g_sent;
WNDPROC g_barProc = nullptr;
LRESULT CALLBACK CountingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) g_sent.push_back(wParam);
  return CallWindowProcA(g_barProc, window, message, wParam, lParam);
}

TEST_F(UiTest, SetProgressClampsAndSendsAndPumpsOnlyOnChange) {
  HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr,
                             nullptr, nullptr);
  ASSERT_TRUE(bar);
  g_barProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBarProc)));
  const struct {
    const char *what;
    DWORD value;
    bool bar;
    bool sent, pumped;
    DWORD pos;
  } steps[] = {
      {"the start position", 0, true, false, false, 0},
      {"above 100", 250, true, true, true, 100},
      {"unchanged", 100, true, false, false, 100},
      {"the largest value, clamped to the same", 0xFFFFFFFFu, true, false, false, 100},
      {"a change", 37, true, true, true, 37},
      {"no bar: kept and pumped, not sent", 40, false, false, true, 40},
  };
  for (const auto &s : steps) {
    g.progressBar = s.bar ? bar : nullptr;
    g_sent.clear();
    // A posted thread message stays queued unless the call pumps.
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    SetProgress(s.value);
    MSG msg;
    EXPECT_EQ(s.pumped, !PeekMessageA(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) << s.what;
    EXPECT_EQ(s.sent ? std::vector<WPARAM>{s.pos} : std::vector<WPARAM>{}, g_sent) << s.what;
    EXPECT_EQ(s.pos, g.progressPos) << s.what;
  }
  DestroyWindow(bar);
}

TEST_F(UiTest, HiddenMainWindowOwnsAProgressDialogThatCannotBeClosed) {
  g.fileCount = 3, g.folderCount = 2, g.registryCount = 4;
  ASSERT_TRUE(RegisterMainWindowClass() && CreateMainWindow());
  RECT rect;
  ASSERT_TRUE(GetWindowRect(g.mainWindow, &rect));
  EXPECT_EQ(320, rect.right - rect.left);
  EXPECT_EQ(200, rect.bottom - rect.top);
  EXPECT_EQ(std::max(0, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2), rect.left);
  EXPECT_EQ(std::max(0, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2), rect.top);
  EXPECT_FALSE(IsWindowVisible(g.mainWindow));
  EXPECT_EQ("m0", winui::ReadWindow(g.mainWindow).caption);
  WNDCLASSA windowClass;
  ASSERT_TRUE(GetClassInfoA(g.instance, "TallowinClass", &windowClass));
  EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), windowClass.style);
  EXPECT_TRUE(windowClass.hIcon);

  CreateProgressDialog();
  ASSERT_TRUE(g.progressDialog);
  EXPECT_EQ(GetDlgItem(g.progressDialog, IDC_PROGRESS_BAR), g.progressBar);
  EXPECT_EQ(4u + 2 * 3 + 2, g.progressTotal);
  EXPECT_EQ(g.mainWindow, GetWindow(g.progressDialog, GW_OWNER));
  winui::WindowInfo info = winui::ReadWindow(g.progressDialog);
  EXPECT_TRUE(info.visible);
  EXPECT_EQ("m0", info.caption);
  EXPECT_EQ("m11", TextOf(info, IDC_TEXT));
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
  SendMessageA(g.progressDialog, WM_COMMAND, IDCANCEL, 0);
  SendMessageA(g.progressDialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(g.progressDialog));

  SetStatusText(99);  // beyond the table: the empty text
  EXPECT_EQ("", TextOf(winui::ReadWindow(g.progressDialog), IDC_TEXT));
  SetStatusText(12);
  SetProgress(42);
  info = winui::ReadWindow(g.progressDialog);
  EXPECT_EQ("m12", TextOf(info, IDC_TEXT));
  EXPECT_EQ(42, info.Control(IDC_PROGRESS_BAR)->progressPos);
  EXPECT_TRUE(SavePicture(g.progressDialog, "progress.png"));
  DestroyWindow(g.progressDialog);
  g.progressDialog = g.progressBar = nullptr;

  // A quit message taken by the pump is dropped; closing the main window still ends, on the
  // quit message of its destruction, and leaves nothing queued.
  PostQuitMessage(5);
  PumpMessages();
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  CloseMainWindow();
  EXPECT_EQ(nullptr, g.mainWindow);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  CloseMainWindow();  // no window: nothing to wait for, so it returns at once
  EXPECT_TRUE(UnregisterClassA("TallowinClass", g.instance)) << "a window of the class is left";
}

TEST_F(UiTest, WithoutTheTemplatesThereIsNoProgressAndThePromptSaysNo) {
  g.fileCount = 3;
  g.instance = GetModuleHandleA(nullptr);  // holds neither dialog 109 nor 110
  CreateProgressDialog();
  EXPECT_EQ(nullptr, g.progressDialog);
  EXPECT_EQ(nullptr, g.progressBar);
  EXPECT_EQ(0u, g.progressTotal);
  EXPECT_EQ(IDNO, AskDeleteFile("C:\\x\\file.txt"));
}

TEST_F(UiTest, FilePromptShowsItsTextsAndAnswersByButtonKeyAndCloseBox) {
  const struct {
    const char *what;
    winui::Press how;
    int button;
    int expected;
  } cases[] = {
      {"Enter", winui::Press::Enter, 0, IDYES},
      {"Escape", winui::Press::Escape, 0, IDCANCEL},
      {"close box", winui::Press::Close, 0, IDCANCEL},
      {"Yes to all", winui::Press::Click, 1001, 1001},
      {"No", winui::Press::Command, 7, IDNO},
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
    EXPECT_EQ("m0", prompt.caption) << c.what;
    const std::pair<int, const char *> texts[] = {
        {IDC_TEXT, "m9 C:\\x\\read&only.txt"}, {6, "m3"}, {1001, "m4"}, {7, "m5"}, {1002, "m6"}};
    for (const auto &t : texts) EXPECT_EQ(t.second, TextOf(prompt, t.first)) << c.what;
  }
  EXPECT_TRUE(g.dialogFont) << "the first prompt makes the shared font";

  HWND picture =
      CreateDialogParamA(g.instance, MAKEINTRESOURCEA(IDD_FILE_PROMPT), nullptr, FilePromptProc,
                         reinterpret_cast<LPARAM>("m9 C:\\Program Files\\Product\\a.ini"));
  ASSERT_TRUE(picture);
  ShowWindow(picture, SW_SHOW);
  EXPECT_TRUE(SavePicture(picture, "file-prompt.png"));
  DestroyWindow(picture);

  // Without message 9 the composed text is empty: yes to all, and no dialog.
  MessageTable shortTable({table_.texts.begin(), table_.texts.begin() + 9});
  g.messages = shortTable.slots.data();
  winui::DialogAnswerer answerer;
  answerer.Answer("", winui::Press::Escape);
  EXPECT_EQ(1001, AskDeleteFile("C:\\x\\file.txt"));
  answerer.Stop();
  EXPECT_TRUE(answerer.Seen().empty());
  g.messages = table_.slots.data();
}

TEST_F(UiTest, VisualStylesLibraryComesFromSystemFolder) {
  InitVisualStyles();
  if (!g.themeLibrary) GTEST_SKIP() << "no visual-styles library on this system";
  char system[MAX_PATH], loaded[MAX_PATH];
  ASSERT_TRUE(GetSystemDirectoryA(system, MAX_PATH) &&
              GetModuleFileNameA(g.themeLibrary, loaded, MAX_PATH));
  EXPECT_EQ(0, lstrcmpiA((std::string(system) + "\\uxtheme.dll").c_str(), loaded));
  EXPECT_TRUE(g.setThemeAppPropertiesEntry);
  RestrictVisualStyles();
  ReleaseUiResources();
  EXPECT_EQ(nullptr, g.themeLibrary);
  EXPECT_EQ(nullptr, g.setThemeAppPropertiesEntry);
}

}  // namespace
