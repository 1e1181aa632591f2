// A whole removal of a sample product by the built program, answered as a person would:
// shared libraries, a read-only file and a file that another program holds open.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
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
class ProgramRun {
 public:
  explicit ProgramRun(const std::string &commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_);
    if (started_) answerer_ = new winui::DialogAnswerer(process_.dwProcessId);
  }
  ~ProgramRun() {
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
        TerminateProcess(process_.hProcess, 0xDEADBEEF);
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    delete answerer_;
  }
  bool started() const { return started_ != FALSE; }
  DWORD id() const { return process_.dwProcessId; }
  winui::DialogAnswerer &answers() { return *answerer_; }
  DWORD Wait(DWORD timeoutMs = 60000) {
    if (!started_) return 0xDEADBEEF;
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.hProcess, &code);
    else
      TerminateProcess(process_.hProcess, 0xDEADBEEF);
    answerer_->Stop();
    return code;
  }

 private:
  PROCESS_INFORMATION process_ = {};
  BOOL started_ = FALSE;
  winui::DialogAnswerer *answerer_ = nullptr;
};

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
  ProgramRun run("\"" + exe_ + "\"");
  ASSERT_TRUE(run.started());
  run.answers().Answer("<1>", winui::Press::Click, IDOK, 1);
  run.answers().Answer("<9> " + dir_ / "readonly.txt", winui::Press::Click, IDYES, 1);
  run.answers().Answer("<10> " + dir_ / "shared1.dll", winui::Press::Click, IDYES, 1);
  run.answers().Answer("<2>", winui::Press::Click, IDOK, 1);
  // The warning is answered here, once the file is free: Retry must then go on.
  HWND warning = winui::WaitForWindow(run.id(), "#32770", "<15>", 30000);
  ASSERT_NE(nullptr, warning);
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
  ProgramRun run("\"" + exe_ + "\"");
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
