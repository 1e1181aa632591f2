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
class MessageTable {
 public:
  explicit MessageTable(std::vector<std::string> texts) : texts_(std::move(texts)) {
    for (std::string &text : texts_) slots_.push_back(&text[0]);
    slots_.push_back(nullptr);
  }
  char **slots() { return slots_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char *> slots_;
};

// Loads the built program's resources so that the dialogs come from the shipped templates.
HMODULE StubResources() {
  static HMODULE module =
      LoadLibraryExA(testenv::StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

const unsigned char *FindTemplate(LPCSTR type, int id, DWORD *size) {
  HMODULE module = StubResources();
  HRSRC resource = FindResourceExA(module, type, MAKEINTRESOURCEA(id),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (!resource) return nullptr;
  *size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  return loaded ? static_cast<const unsigned char *>(LockResource(loaded)) : nullptr;
}

// A classic dialog template, read field by field.
struct TemplateItem {
  DWORD style, exStyle;
  short x, y, cx, cy;
  WORD id;
  int classOrdinal;  // -1 when the class is named
  std::wstring className, text;
};
struct Template {
  DWORD style, exStyle;
  short x, y, cx, cy;
  bool hasMenu, hasClass;
  std::wstring caption, font;
  WORD pointSize;
  std::vector<TemplateItem> items;
};

class Reader {
 public:
  Reader(const unsigned char *data, DWORD size) : data_(data), size_(size) {}
  WORD Word() {
    WORD v = 0;
    if (pos_ + 2 <= size_) memcpy(&v, data_ + pos_, 2);
    pos_ += 2;
    return v;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  std::wstring String() {
    std::wstring s;
    for (WORD c; (c = Word()) != 0 && pos_ <= size_;) s += static_cast<wchar_t>(c);
    return s;
  }
  // An ordinal (0xFFFF, n) or a string; returns the ordinal or -1.
  int OrdinalOr(std::wstring *name) {
    if (pos_ + 2 <= size_ && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
      Word();
      return Word();
    }
    *name = String();
    return -1;
  }
  void Align() { pos_ = (pos_ + 3) & ~static_cast<DWORD>(3); }
  DWORD pos() const { return pos_; }

 private:
  const unsigned char *data_;
  DWORD size_;
  DWORD pos_ = 0;
};

Template ParseTemplate(const unsigned char *data, DWORD size) {
  Reader r(data, size);
  Template t;
  t.style = r.Dword();
  t.exStyle = r.Dword();
  WORD count = r.Word();
  t.x = r.Word(), t.y = r.Word(), t.cx = r.Word(), t.cy = r.Word();
  std::wstring ignored;
  t.hasMenu = r.OrdinalOr(&ignored) != -1 || !ignored.empty();
  ignored.clear();
  t.hasClass = r.OrdinalOr(&ignored) != -1 || !ignored.empty();
  t.caption = r.String();
  t.pointSize = r.Word();
  t.font = r.String();
  for (WORD i = 0; i < count; ++i) {
    r.Align();
    TemplateItem item;
    item.style = r.Dword();
    item.exStyle = r.Dword();
    item.x = r.Word(), item.y = r.Word(), item.cx = r.Word(), item.cy = r.Word();
    item.id = r.Word();
    item.classOrdinal = r.OrdinalOr(&item.className);
    std::wstring text;
    EXPECT_EQ(-1, r.OrdinalOr(&item.text)) << "control " << item.id << " has an ordinal text";
    EXPECT_EQ(0, r.Word()) << "control " << item.id << " has creation data";
    t.items.push_back(item);
  }
  EXPECT_EQ(size, r.pos()) << "bytes after the last control";
  return t;
}

void ExpectItem(const TemplateItem &item, WORD id, int classOrdinal, DWORD style, short x, short y,
                short cx, short cy) {
  SCOPED_TRACE("control " + std::to_string(id));
  EXPECT_EQ(id, item.id);
  EXPECT_EQ(classOrdinal, item.classOrdinal);
  EXPECT_EQ(style, item.style);
  EXPECT_EQ(0u, item.exStyle);
  EXPECT_EQ(x, item.x);
  EXPECT_EQ(y, item.y);
  EXPECT_EQ(cx, item.cx);
  EXPECT_EQ(cy, item.cy);
}

void ExpectDialogFrame(const Template &t, DWORD style) {
  EXPECT_EQ(style, t.style);
  EXPECT_EQ(0u, t.exStyle);
  EXPECT_EQ(0, t.x);
  EXPECT_EQ(0, t.y);
  EXPECT_EQ(257, t.cx);
  EXPECT_EQ(73, t.cy);
  EXPECT_FALSE(t.hasMenu);
  EXPECT_FALSE(t.hasClass);
  EXPECT_EQ(L"", t.caption);
  EXPECT_EQ(8, t.pointSize);
  EXPECT_EQ(L"Arial", t.font);
}

TEST(UiResources, FilePromptTemplateIsAsDesigned) {
  ASSERT_TRUE(StubResources()) << testenv::StubPath();
  DWORD size = 0;
  const unsigned char *data = FindTemplate(RT_DIALOG, IDD_FILE_PROMPT, &size);
  ASSERT_TRUE(data);
  // A classic template, not the extended form (which starts with 1, 0xFFFF).
  ASSERT_FALSE(data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF);
  Template t = ParseTemplate(data, size);
  ExpectDialogFrame(t, 0x80C800C0);
  ASSERT_EQ(5u, t.items.size());
  for (const TemplateItem &item : t.items) EXPECT_EQ(L"", item.text);
  ExpectItem(t.items[0], 6, 0x80, 0x50010001, 20, 52, 50, 14);
  ExpectItem(t.items[1], 1001, 0x80, 0x50010000, 75, 52, 50, 14);
  ExpectItem(t.items[2], 1000, 0x82, 0x50020000, 7, 7, 243, 36);
  ExpectItem(t.items[3], 7, 0x80, 0x50010000, 130, 52, 50, 14);
  ExpectItem(t.items[4], 1002, 0x80, 0x50010000, 186, 52, 50, 14);
}

TEST(UiResources, ProgressTemplateIsAsDesigned) {
  ASSERT_TRUE(StubResources());
  DWORD size = 0;
  const unsigned char *data = FindTemplate(RT_DIALOG, IDD_PROGRESS, &size);
  ASSERT_TRUE(data);
  Template t = ParseTemplate(data, size);
  ExpectDialogFrame(t, 0x90C800C0);
  ASSERT_EQ(2u, t.items.size());
  ExpectItem(t.items[0], 1000, 0x82, 0x50020080, 7, 24, 243, 8);
  EXPECT_EQ(L"", t.items[0].text);
  ExpectItem(t.items[1], 1009, -1, 0x50000000, 7, 38, 243, 12);
  EXPECT_EQ(L"msctls_progress32", t.items[1].className);
  EXPECT_EQ(L"Progress1", t.items[1].text);
}

#pragma pack(push, 2)
struct GroupEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST(UiResources, IconGroupHoldsFiveImages) {
  ASSERT_TRUE(StubResources());
  DWORD size = 0;
  const unsigned char *data = FindTemplate(RT_GROUP_ICON, IDI_MAIN, &size);
  ASSERT_TRUE(data);
  ASSERT_GE(size, 6u);
  WORD count;
  memcpy(&count, data + 4, 2);
  ASSERT_EQ(5, count);
  ASSERT_EQ(6u + 5 * sizeof(GroupEntry), size);
  const int expected[5][2] = {{16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 8}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    GroupEntry entry;
    memcpy(&entry, data + 6 + i * sizeof(GroupEntry), sizeof entry);
    EXPECT_EQ(expected[i][0], entry.width);
    EXPECT_EQ(expected[i][0], entry.height);
    EXPECT_EQ(expected[i][1], entry.bitCount);
    // The image itself must agree with its directory entry.
    DWORD imageSize = 0;
    const unsigned char *image = FindTemplate(RT_ICON, entry.id, &imageSize);
    ASSERT_TRUE(image);
    EXPECT_EQ(entry.bytes, imageSize);
    BITMAPINFOHEADER header;
    ASSERT_GE(imageSize, sizeof header);
    memcpy(&header, image, sizeof header);
    EXPECT_EQ(expected[i][0], header.biWidth);
    EXPECT_EQ(2 * expected[i][0], header.biHeight);  // colour rows and mask rows
    EXPECT_EQ(expected[i][1], header.biBitCount);
  }
  // The icon loads as the class icon would.
  EXPECT_TRUE(LoadIconA(StubResources(), MAKEINTRESOURCEA(IDI_MAIN)));
}

TEST(UiResources, ManifestAsksForAdministratorAndCommonControls6) {
  ASSERT_TRUE(StubResources());
  DWORD size = 0;
  const unsigned char *data = FindTemplate(MAKEINTRESOURCEA(24), 1, &size);
  ASSERT_TRUE(data);
  std::string text(reinterpret_cast<const char *>(data), size);
  EXPECT_NE(std::string::npos, text.find("name=\"UninstallProgram\""));
  EXPECT_NE(std::string::npos, text.find("version=\"1.0.0.0\""));
  EXPECT_NE(std::string::npos, text.find("<description>Uninstall Program</description>"));
  EXPECT_NE(std::string::npos, text.find("name=\"Microsoft.Windows.Common-Controls\""));
  EXPECT_NE(std::string::npos, text.find("version=\"6.0.0.0\""));
  EXPECT_NE(std::string::npos, text.find("publicKeyToken=\"6595b64144ccf1df\""));
  EXPECT_NE(std::string::npos, text.find("level=\"requireAdministrator\""));
  EXPECT_NE(std::string::npos, text.find("uiAccess=\"false\""));
}

// Each case starts from a clean run state with the sixteen standard messages and the
// program's resources.
class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    ASSERT_TRUE(StubResources());
    g.instance = StubResources();
    g.messages = table_.slots();
    InitCommonControls();
  }
  void TearDown() override {
    if (g.progressDialog) DestroyWindow(g.progressDialog);
    if (g.mainWindow) DestroyWindow(g.mainWindow);
    ReleaseUiResources();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    ResetRunState();
  }
  MessageTable table_{testenv::StandardMessages()};
};

// A bar that counts the PBM_SETPOS messages it receives.
int g_setPosCount = 0;
WPARAM g_lastSetPos = 0;
WNDPROC g_barProc = nullptr;
LRESULT CALLBACK CountingBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    ++g_setPosCount;
    g_lastSetPos = wParam;
  }
  return CallWindowProcA(g_barProc, window, message, wParam, lParam);
}

// Posted messages reach this window only when someone dispatches them.
int g_dispatched = 0;
LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) ++g_dispatched;
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(UiTest, SetProgressSendsAndPumpsOnlyOnChange) {
  HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 100, 10, nullptr, nullptr,
                             nullptr, nullptr);
  ASSERT_TRUE(bar);
  g_barProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBarProc)));
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "UiTestCounter";
  RegisterClassA(&windowClass);
  HWND counter = CreateWindowExA(0, "UiTestCounter", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(counter);
  g.progressBar = bar;
  g_setPosCount = 0;
  g_dispatched = 0;

  // The position starts at 0: no message, no pumping.
  PostMessageA(counter, WM_APP, 0, 0);
  SetProgress(0);
  EXPECT_EQ(0, g_setPosCount);
  EXPECT_EQ(0, g_dispatched);

  SetProgress(250);  // clamped
  EXPECT_EQ(1, g_setPosCount);
  EXPECT_EQ(100u, g_lastSetPos);
  EXPECT_EQ(100u, g.progressPos);
  EXPECT_EQ(1, g_dispatched);
  EXPECT_EQ(100, SendMessageA(bar, PBM_GETPOS, 0, 0));

  PostMessageA(counter, WM_APP, 0, 0);
  SetProgress(100);
  SetProgress(0xFFFFFFFFu);
  EXPECT_EQ(1, g_setPosCount);
  EXPECT_EQ(0 + 1, g_dispatched);

  SetProgress(37);
  EXPECT_EQ(2, g_setPosCount);
  EXPECT_EQ(37u, g_lastSetPos);
  EXPECT_EQ(2, g_dispatched);

  // Without a bar the position is still kept and messages still pumped.
  g.progressBar = nullptr;
  PostMessageA(counter, WM_APP, 0, 0);
  SetProgress(40);
  EXPECT_EQ(2, g_setPosCount);
  EXPECT_EQ(40u, g.progressPos);
  EXPECT_EQ(3, g_dispatched);

  DestroyWindow(counter);
  DestroyWindow(bar);
  UnregisterClassA("UiTestCounter", GetModuleHandleA(nullptr));
}

TEST_F(UiTest, PumpDropsQuitAndCloseMainWindowStillEnds) {
  ASSERT_TRUE(RegisterMainWindowClass());
  ASSERT_TRUE(CreateMainWindow());
  RECT rect;
  ASSERT_TRUE(GetWindowRect(g.mainWindow, &rect));
  EXPECT_EQ(320, rect.right - rect.left);
  EXPECT_EQ(200, rect.bottom - rect.top);
  EXPECT_EQ(std::max(0, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2), rect.left);
  EXPECT_EQ(std::max(0, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2), rect.top);
  EXPECT_FALSE(IsWindowVisible(g.mainWindow));
  char caption[64];
  GetWindowTextA(g.mainWindow, caption, sizeof caption);
  EXPECT_STREQ("m0", caption);
  WNDCLASSA windowClass;
  ASSERT_TRUE(GetClassInfoA(g.instance, "TallowinClass", &windowClass));
  EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), windowClass.style);
  EXPECT_TRUE(windowClass.hIcon);

  PostQuitMessage(5);
  PumpMessages();
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));

  // A message still queued for the window is dispatched by the drain.
  CloseMainWindow();
  EXPECT_EQ(nullptr, g.mainWindow);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  // No window: nothing to wait for, so it returns at once.
  CloseMainWindow();
  EXPECT_TRUE(UnregisterClassA("TallowinClass", g.instance));
}

TEST_F(UiTest, ProgressDialogShowsCaptionStatusAndIgnoresKeysAndClose) {
  g.fileCount = 3;
  g.folderCount = 2;
  g.registryCount = 4;
  ASSERT_TRUE(RegisterMainWindowClass());
  ASSERT_TRUE(CreateMainWindow());
  CreateProgressDialog();
  ASSERT_TRUE(g.progressDialog);
  EXPECT_EQ(GetDlgItem(g.progressDialog, IDC_PROGRESS_BAR), g.progressBar);
  EXPECT_TRUE(g.progressBar);
  EXPECT_EQ(4u + 2 * 3 + 2, g.progressTotal);
  EXPECT_EQ(g.mainWindow, GetWindow(g.progressDialog, GW_OWNER));
  winui::WindowInfo info = winui::ReadWindow(g.progressDialog);
  EXPECT_TRUE(info.visible);
  EXPECT_EQ("m0", info.caption);
  ASSERT_TRUE(info.Control(IDC_TEXT));
  EXPECT_EQ("m11", info.Control(IDC_TEXT)->text);
  ASSERT_TRUE(info.Control(IDC_PROGRESS_BAR));
  EXPECT_EQ(0, info.Control(IDC_PROGRESS_BAR)->progressPos);

  // The font is the template's, made normal weight, on every child.
  ASSERT_TRUE(g.dialogFont);
  LOGFONTA font;
  ASSERT_EQ(static_cast<int>(sizeof font), GetObjectA(g.dialogFont, sizeof font, &font));
  EXPECT_EQ(FW_NORMAL, font.lfWeight);
  EXPECT_EQ(reinterpret_cast<LRESULT>(g.dialogFont),
            SendDlgItemMessageA(g.progressDialog, IDC_TEXT, WM_GETFONT, 0, 0));

  SetStatusText(12);
  EXPECT_EQ("m12", winui::ReadWindow(g.progressDialog).Control(IDC_TEXT)->text);
  SetStatusText(99);  // beyond the table: the empty text
  EXPECT_EQ("", winui::ReadWindow(g.progressDialog).Control(IDC_TEXT)->text);

  for (winui::Press how : {winui::Press::Enter, winui::Press::Escape, winui::Press::Close}) {
    winui::PressOn(g.progressDialog, how);
    PumpMessages();
    EXPECT_TRUE(IsWindow(g.progressDialog));
    EXPECT_TRUE(IsWindowVisible(g.progressDialog));
  }
  // Commands sent straight to it are swallowed too.
  SendMessageA(g.progressDialog, WM_COMMAND, IDCANCEL, 0);
  SendMessageA(g.progressDialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(g.progressDialog));

  SetProgress(42);
  EXPECT_EQ(42, winui::ReadWindow(g.progressDialog).Control(IDC_PROGRESS_BAR)->progressPos);
  DestroyWindow(g.progressDialog);
  g.progressDialog = g.progressBar = nullptr;
  SetStatusText(13);  // no dialog: nothing to do
  DestroyWindow(g.mainWindow);
  g.mainWindow = nullptr;
  UnregisterClassA("TallowinClass", g.instance);
}

TEST_F(UiTest, ProgressDialogMissingLeavesProgressOff) {
  g.fileCount = 3;
  g.instance = GetModuleHandleA(nullptr);  // holds no dialog 110
  CreateProgressDialog();
  EXPECT_EQ(nullptr, g.progressDialog);
  EXPECT_EQ(nullptr, g.progressBar);
  EXPECT_EQ(0u, g.progressTotal);
}

struct PromptCase {
  winui::Press how;
  int button;
  int expected;
};

TEST_F(UiTest, FilePromptAnswersByButtonKeyAndCloseBox) {
  const PromptCase cases[] = {
      {winui::Press::Enter, 0, IDYES},    {winui::Press::Escape, 0, IDCANCEL},
      {winui::Press::Close, 0, IDCANCEL}, {winui::Press::Click, 1001, 1001},
      {winui::Press::Command, 7, IDNO},   {winui::Press::Click, 1002, 1002},
  };
  for (const PromptCase &c : cases) {
    SCOPED_TRACE("expected " + std::to_string(c.expected));
    winui::DialogAnswerer answerer;
    answerer.Answer("", c.how, c.button);
    EXPECT_EQ(c.expected, AskDeleteFile("C:\\x\\read&only.txt"));
    answerer.Stop();
    std::vector<winui::WindowInfo> seen = answerer.Seen();
    ASSERT_EQ(1u, seen.size());
    const winui::WindowInfo &prompt = seen[0];
    EXPECT_EQ("m0", prompt.caption);
    ASSERT_TRUE(prompt.Control(IDC_TEXT));
    EXPECT_EQ("m9 C:\\x\\read&only.txt", prompt.Control(IDC_TEXT)->text);
    ASSERT_TRUE(prompt.Control(6) && prompt.Control(7) && prompt.Control(1001) &&
                prompt.Control(1002));
    EXPECT_EQ("m3", prompt.Control(6)->text);
    EXPECT_EQ("m4", prompt.Control(1001)->text);
    EXPECT_EQ("m5", prompt.Control(7)->text);
    EXPECT_EQ("m6", prompt.Control(1002)->text);
  }
  // The first prompt made the shared font.
  EXPECT_TRUE(g.dialogFont);
}

TEST_F(UiTest, EmptyPromptTextAnswersYesToAllWithoutDialog) {
  std::vector<std::string> texts = testenv::StandardMessages();
  texts.resize(9);  // messages 0 to 8 only
  MessageTable shortTable(texts);
  g.messages = shortTable.slots();
  winui::DialogAnswerer answerer;
  answerer.Answer("", winui::Press::Escape);
  EXPECT_EQ(1001, AskDeleteFile("C:\\x\\file.txt"));
  Sleep(100);
  answerer.Stop();
  EXPECT_TRUE(answerer.Seen().empty());
  g.messages = nullptr;
}

TEST_F(UiTest, PromptWithoutTemplateAnswersNo) {
  g.instance = GetModuleHandleA(nullptr);  // holds no dialog 109
  EXPECT_EQ(IDNO, AskDeleteFile("C:\\x\\file.txt"));
}

TEST_F(UiTest, VisualStylesLibraryComesFromSystemFolder) {
  InitVisualStyles();
  char system[MAX_PATH], loaded[MAX_PATH];
  UINT n = GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  if (!g.themeLibrary) GTEST_SKIP() << "no visual-styles library on this system";
  DWORD m = GetModuleFileNameA(g.themeLibrary, loaded, MAX_PATH);
  ASSERT_TRUE(m > 0 && m < MAX_PATH);
  EXPECT_EQ(0, lstrcmpiA((std::string(system) + "\\uxtheme.dll").c_str(), loaded));
  EXPECT_TRUE(g.setThemeAppPropertiesEntry);
  RestrictVisualStyles();
  ReleaseUiResources();
  EXPECT_EQ(nullptr, g.themeLibrary);
  EXPECT_EQ(nullptr, g.setThemeAppPropertiesEntry);
}

}  // namespace

namespace {

// Pictures for people to look at, kept beside the build (T: is the build root).
std::string ArtifactsDir() {
  std::string bin = testenv::BinDir();
  std::string dir = bin.substr(0, bin.find_last_of('\\')) + "\\artifacts";
  testenv::MakeDirs(dir);
  return dir;
}

void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    PumpMessages();
    Sleep(10);
  }
}

DWORD WINAPI ShootAndEscape(void *param) {
  bool *saved = static_cast<bool *>(param);
  HWND prompt = winui::WaitForWindow(0, "#32770", "m9", 10000);
  if (!prompt) return 0;
  Sleep(300);  // let the modal loop paint it
  *saved = winui::SaveWindowPng(prompt, ArtifactsDir() + "\\file-prompt.png");
  winui::PressOn(prompt, winui::Press::Escape);
  return 0;
}

TEST_F(UiTest, ScreenshotsOfProgressAndPrompt) {
  g.fileCount = 10;
  ASSERT_TRUE(RegisterMainWindowClass());
  ASSERT_TRUE(CreateMainWindow());
  CreateProgressDialog();
  ASSERT_TRUE(g.progressDialog);
  SetStatusText(12);
  SetProgress(42);
  PumpFor(300);
  EXPECT_TRUE(winui::SaveWindowPng(g.progressDialog, ArtifactsDir() + "\\progress.png"));

  bool saved = false;
  HANDLE thread = CreateThread(nullptr, 0, ShootAndEscape, &saved, 0, nullptr);
  ASSERT_TRUE(thread);
  EXPECT_EQ(IDCANCEL, AskDeleteFile("C:\\Program Files\\Product\\settings.ini"));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(saved);
  DestroyWindow(g.progressDialog);
  g.progressDialog = g.progressBar = nullptr;
  DestroyWindow(g.mainWindow);
  g.mainWindow = nullptr;
  UnregisterClassA("TallowinClass", g.instance);
}

}  // namespace
