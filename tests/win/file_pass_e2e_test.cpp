// A whole removal of a sample product by the built program, answered as a person would:
// shared libraries, a read-only file and a file that another program holds open.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// Bracketed message texts, so that no text is a part of another ("<1>" is not in "<15>").
std::vector<std::string> BracketedMessages() {
  std::vector<std::string> m;
  for (int i = 0; i < 16; ++i) m.push_back("<" + std::to_string(i) + ">");
  for (int i = 7; i <= 10; ++i) m[i] += " %s";
  return m;
}

// The program under test, started directly, with an answerer on its dialogs.

class FilePassEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.messages = BracketedMessages();
    // Listed in install order; the pass removes them in reverse.
    block_.files = {{".", "plain.txt", 0},
                    {".", "shared2.dll", blockfmt::FE_SHARED},
                    {".", "shared1.dll", blockfmt::FE_SHARED},
                    {".", "readonly.txt", 0},
                    {".", "inuse.txt", blockfmt::FE_CHECK_IN_USE}};
    for (const blockfmt::FileItem &file : block_.files)
      ASSERT_TRUE(testenv::WriteText(dir_ / file.name, file.name));
    // Not listed: keeps the folder after the run.
    ASSERT_TRUE(testenv::WriteText(dir_ / "user-data.txt", "mine"));
    ASSERT_TRUE(SetFileAttributesA((dir_ / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared2.dll", 2));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared1.dll", 1));
    exe_ = dir_ / "uninstall.exe";
    ASSERT_TRUE(testenv::InstallStub(exe_, block_));
    // Held without sharing, as a running program would hold its file.
    inUse_ = CreateFileA((dir_ / "inuse.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inUse_);
  }
  void TearDown() override {
    Release();
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, (dir_ / "shared2.dll").c_str());
      RegDeleteValueA(key, (dir_ / "shared1.dll").c_str());
      RegCloseKey(key);
    }
    SetFileAttributesA((dir_ / "readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  void Release() {
    if (inUse_ != INVALID_HANDLE_VALUE) CloseHandle(inUse_);
    inUse_ = INVALID_HANDLE_VALUE;
  }
  static int Count(const std::vector<winui::WindowInfo> &seen, const std::string &text) {
    int n = 0;
    for (const winui::WindowInfo &w : seen) n += w.Contains(text) ? 1 : 0;
    return n;
  }
  static std::string DescribeAll(const std::vector<winui::WindowInfo> &seen) {
    std::string out;
    for (const winui::WindowInfo &w : seen) out += w.Describe();
    return out;
  }

  testenv::ScopedTestDir dir_{"file-pass-e2e"};
  blockfmt::Block block_;
  std::string exe_;
  HANDLE inUse_ = INVALID_HANDLE_VALUE;
};

TEST_F(FilePassEndToEnd, RetryAfterReleaseRemovesExactlyWhatNoOneElseUses) {
  testenv::ProgramRun run("\"" + exe_ + "\"");
  ASSERT_TRUE(run.started());
  run.answers().Answer("<1>", winui::Press::Click, IDOK, 1);
  run.answers().Answer("<9> " + dir_ / "readonly.txt", winui::Press::Click, IDYES, 1);
  run.answers().Answer("<10> " + dir_ / "shared1.dll", winui::Press::Click, IDYES, 1);
  run.answers().Answer("<2>", winui::Press::Click, IDOK, 1);
  // The warning is answered here, once the file is free: Retry must then go on.
  HWND warning = winui::WaitForWindow(run.id(), "#32770", "<15>", 30000);
  ASSERT_NE(nullptr, warning);
  // Pressed once the answerer has recorded it, so that the count below is exact.
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
    if (Count(run.answers().Seen(), "<15>") > 0) break;
  Release();
  ASSERT_TRUE(winui::PressOn(warning, winui::Press::Click, IDRETRY));
  DWORD code = run.Wait();
  // Checked at once: the self-deletion script may remove the program itself any moment.
  std::vector<winui::WindowInfo> seen = run.answers().Seen();
  std::string all = DescribeAll(seen);
  EXPECT_EQ(0u, code) << all;

  EXPECT_FALSE(testenv::FileExists(dir_ / "plain.txt"));
  EXPECT_FALSE(testenv::FileExists(dir_ / "inuse.txt"));
  EXPECT_FALSE(testenv::FileExists(dir_ / "readonly.txt"));
  EXPECT_FALSE(testenv::FileExists(dir_ / "shared1.dll"));
  EXPECT_TRUE(testenv::FileExists(dir_ / "shared2.dll"));  // another product still counts it
  EXPECT_TRUE(testenv::FileExists(dir_ / "user-data.txt"));
  EXPECT_TRUE(testenv::DirExists(dir_.path()));
  DWORD count = 0;
  EXPECT_TRUE(testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared2.dll", &count));
  EXPECT_EQ(1u, count);
  EXPECT_FALSE(testenv::RegValueExists(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared1.dll"));

  // The questions: each exactly once, and none about the library others still use.
  EXPECT_EQ(1, Count(seen, "<1>")) << all;
  EXPECT_EQ(1, Count(seen, "<15>")) << all;
  EXPECT_EQ(1, Count(seen, "<9> " + dir_ / "readonly.txt")) << all;
  EXPECT_EQ(1, Count(seen, "<9> ")) << all;
  EXPECT_EQ(1, Count(seen, "<10> " + dir_ / "shared1.dll")) << all;
  EXPECT_EQ(1, Count(seen, "<10> ")) << all;
  EXPECT_EQ(1, Count(seen, "<2>")) << all;
  // In run order: confirmation, warning, then the pass's questions, the closing message last.
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(seen.front().Contains("<1>")) << all;
  EXPECT_TRUE(seen.back().Contains("<2>")) << all;
  size_t prompt = 0, question = 0;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].Contains("<9> ")) prompt = i;
    if (seen[i].Contains("<10> ")) question = i;
  }
  EXPECT_LT(prompt, question) << all;  // the read-only file is listed after shared1.dll
}

TEST_F(FilePassEndToEnd, CancelledWarningRemovesNothing) {
  testenv::ProgramRun run("\"" + exe_ + "\"");
  ASSERT_TRUE(run.started());
  run.answers().Answer("<1>", winui::Press::Click, IDOK, 1);
  run.answers().Answer("<15>", winui::Press::Click, IDCANCEL, 1);
  DWORD code = run.Wait();
  std::vector<winui::WindowInfo> seen = run.answers().Seen();
  std::string all = DescribeAll(seen);
  EXPECT_EQ(0u, code) << all;
  ASSERT_EQ(2u, seen.size()) << all;  // no progress, no closing message
  EXPECT_TRUE(seen[0].Contains("<1>")) << all;
  EXPECT_TRUE(seen[1].Contains("<15>")) << all;

  for (const blockfmt::FileItem &file : block_.files)
    EXPECT_TRUE(testenv::FileExists(dir_ / file.name)) << file.name;
  DWORD count = 0;
  EXPECT_TRUE(testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared2.dll", &count));
  EXPECT_EQ(2u, count);
  EXPECT_TRUE(testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared1.dll", &count));
  EXPECT_EQ(1u, count);
  // A cancelled run does not delete itself either.
  Sleep(500);
  EXPECT_TRUE(testenv::FileExists(exe_));
}

}  // namespace

namespace {

// The answerer itself: a dialog whose text is filled in only after it is shown (as a
// message box can be read in that moment) is still answered by a rule on its text.
INT_PTR CALLBACK LateTextProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetTimer(dialog, 1, 300, nullptr);
    return TRUE;
  }
  if (message == WM_TIMER) {
    KillTimer(dialog, 1);
    SetDlgItemTextA(dialog, 100, "late text");
    return TRUE;
  }
  if (message == WM_COMMAND) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

// A visible dialog with an empty static (id 100) and the buttons OK and Cancel.
std::vector<WORD> LateTextTemplate() {
  std::vector<WORD> t;
  auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  auto align = [&t]() {
    if (t.size() % 2) t.push_back(0);
  };
  dword(WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME);
  dword(0);
  t.insert(t.end(), {3, 10, 10, 200, 80, 0, 0, 0});  // items, x, y, cx, cy, menu, class, title
  struct Item {
    DWORD style;
    short x, y, cx, cy;
    WORD id, atom;
  };
  const Item items[] = {{WS_CHILD | WS_VISIBLE | SS_LEFT, 5, 5, 190, 20, 100, 0x0082},
                        {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 5, 50, 60, 14, IDOK, 0x0080},
                        {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 80, 50, 60, 14, IDCANCEL, 0x0080}};
  for (const Item &item : items) {
    align();
    dword(item.style);
    dword(0);
    t.insert(t.end(), {static_cast<WORD>(item.x), static_cast<WORD>(item.y),
                       static_cast<WORD>(item.cx), static_cast<WORD>(item.cy), item.id, 0xFFFF,
                       item.atom, 0, 0});  // class atom, empty text, no creation data
  }
  return t;
}

TEST(DialogAnswererTexts, ADialogWhoseTextComesLateIsAnsweredByItsText) {
  std::vector<WORD> dialogTemplate = LateTextTemplate();
  winui::DialogAnswerer answerer;
  answerer.Answer("late text", winui::Press::Click, IDCANCEL, 1);
  answerer.Answer("", winui::Press::Click, IDOK, 1);  // what an early read would get
  INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
                                           nullptr, LateTextProc, 0);
  answerer.Stop();
  EXPECT_EQ(IDCANCEL, result);
  std::vector<winui::WindowInfo> seen = answerer.Seen();
  ASSERT_EQ(1u, seen.size());
  EXPECT_TRUE(seen[0].Contains("late text")) << seen[0].Describe();
}

}  // namespace
