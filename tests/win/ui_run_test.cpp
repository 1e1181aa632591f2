// Whole runs of the built program under the UI driver: what a person would see.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/testenv.h"

namespace {

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

std::string ReadLog(const std::string &path) {
  std::vector<uint8_t> bytes;
  testenv::ReadBytes(path, &bytes);
  return std::string(bytes.begin(), bytes.end());
}

// Lines of the log that start with `prefix`.
std::vector<std::string> LinesStarting(const std::string &log, const std::string &prefix) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

class UiRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.messages = testenv::StandardMessages();
    for (int i = 0; i < 30; ++i) {
      std::string name = "file" + std::to_string(i) + ".txt";
      testenv::WriteText(dir_ / name, "x");
      block_.files.push_back({".", name, 0});
    }
    exe_ = dir_ / "uninstall.exe";
    ASSERT_TRUE(testenv::InstallStub(exe_, block_));
    log_ = dir_ / "driver.log";
  }
  DWORD Drive(const std::string &switches, const std::vector<std::string> &rules) {
    std::string line = Quote(testenv::TestProgramDir() + "\\uidriver.exe") + " --log " +
                       Quote(log_) + " --timeout 60000";
    for (const std::string &rule : rules) line += " --rule " + Quote(rule);
    line += " -- " + Quote(exe_) + (switches.empty() ? "" : " " + switches);
    return testenv::RunAndWait(line, 90000);
  }
  testenv::ScopedTestDir dir_{"ui-run"};
  blockfmt::Block block_;
  std::string exe_, log_;
};

TEST_F(UiRunTest, NormalRunShowsConfirmationProgressAndClosingMessage) {
  DWORD code = Drive("", {"box&text~m1=1#1", "box&text~m2=1#1", "box=2"});
  std::string log = ReadLog(log_);
  ASSERT_EQ(0u, code) << log;
  std::vector<std::string> windows = LinesStarting(log, "window ");
  ASSERT_EQ(3u, windows.size()) << log;
  // Each is a dialog with the caption message 0: confirmation, progress, closing message.
  for (const std::string &window : windows)
    EXPECT_NE(std::string::npos, window.find("class=#32770 caption=\"m0\"")) << window;
  size_t confirm = log.find("text=\"m1\"");
  size_t progress = log.find("class=msctls_progress32");
  size_t closing = log.find("text=\"m2\"");
  ASSERT_NE(std::string::npos, confirm) << log;
  ASSERT_NE(std::string::npos, progress) << log;
  ASSERT_NE(std::string::npos, closing) << log;
  EXPECT_LT(confirm, progress);
  EXPECT_LT(progress, closing);
  // The status line of the progress dialog opens with message 11.
  EXPECT_NE(std::string::npos, log.find("control id=1000 class=Static text=\"m11\"")) << log;
  EXPECT_EQ(std::string::npos, log.find("timeout"));
  for (int i = 0; i < 30; ++i)
    EXPECT_FALSE(testenv::FileExists(dir_ / ("file" + std::to_string(i) + ".txt")));
}

TEST_F(UiRunTest, QuietRunShowsNoWindowAtAll) {
  DWORD code = Drive("/Q", {"box=2"});
  std::string log = ReadLog(log_);
  ASSERT_EQ(0u, code) << log;
  EXPECT_TRUE(LinesStarting(log, "window ").empty()) << log;
  EXPECT_EQ(1u, LinesStarting(log, "exit 0").size()) << log;
  EXPECT_FALSE(testenv::FileExists(dir_ / "file0.txt"));
}

TEST_F(UiRunTest, CancelledConfirmationRemovesNothing) {
  DWORD code = Drive("", {"box&text~m1=2", "box=2"});
  std::string log = ReadLog(log_);
  ASSERT_EQ(0u, code) << log;
  EXPECT_EQ(1u, LinesStarting(log, "window ").size()) << log;
  EXPECT_EQ(std::string::npos, log.find("msctls_progress32")) << log;
  EXPECT_TRUE(testenv::FileExists(dir_ / "file0.txt"));
}

}  // namespace
