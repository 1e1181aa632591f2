// Whole runs of the built program under the UI driver, which records every top-level window
// of the program, of any class: what a person would see.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/testenv.h"

namespace {

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

size_t Count(const std::string &log, const std::string &text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

TEST(UiRun, EachRunShowsItsWindowsInOrderAndRemovesWhatItShould) {
  testenv::ScopedTestDir dir("ui-run");
  const struct {
    const char *what, *switches;
    size_t windows;  // each a dialog with the caption message 0
    bool removes, selfDeletes;
    std::vector<std::string> rules, inOrder;  // inOrder: what the windows show, in this order
  } cases[] = {
      // Confirmation; progress, whose status line opens with message 11; closing message.
      {"normal",
       "",
       3,
       true,
       true,
       {"box&text~m1=1#1", "box&text~m2=1#1", "box=2"},
       {"text=\"m1\"", "class=Static text=\"m11\"", "class=msctls_progress32", "text=\"m2\""}},
      {"cancelled confirmation", "", 1, false, false, {"box&text~m1=2", "box=2"}, {"text=\"m1\""}},
      {"X", " /X", 0, true, false, {"box=2"}, {}},
      {"Q", " /Q", 0, true, true, {"box=2"}, {}},
  };
  for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
    const auto &c = cases[k];
    // A folder of its own, so that no run's self-deletion reaches another run's program.
    std::string folder = dir / std::to_string(k), exe = folder + "\\uninstall.exe",
                log = dir / (std::to_string(k) + ".log");
    auto name = [](int i) { return "f" + std::to_string(i) + ".txt"; };
    blockfmt::Block block;
    block.messages = testenv::StandardMessages();
    for (int i = 0; i < 30; ++i) block.files.push_back({".", name(i), 0});
    ASSERT_TRUE(testenv::InstallStub(exe, block));
    for (int i = 0; i < 30; ++i) testenv::WriteText(folder + "\\" + name(i), "x");

    std::string line = Quote(testenv::TestProgramDir() + "\\uidriver.exe") + " --log " +
                       Quote(log) + " --timeout 60000";
    for (const std::string &rule : c.rules) line += " --rule " + Quote(rule);
    DWORD code = testenv::RunAndWait(line + " -- " + Quote(exe) + c.switches, 90000);
    std::vector<uint8_t> bytes;
    testenv::ReadBytes(log, &bytes);
    std::string shown(bytes.begin(), bytes.end());

    ASSERT_EQ(0u, code) << c.what << "\n" << shown;
    EXPECT_EQ(c.windows, Count(shown, "\nwindow ")) << c.what << "\n" << shown;
    EXPECT_EQ(c.windows, Count(shown, "class=#32770 caption=\"m0\"")) << c.what << "\n" << shown;
    size_t at = 0;
    for (const std::string &text : c.inOrder) {
      at = shown.find(text, at);
      ASSERT_NE(std::string::npos, at) << c.what << ": " << text << " missing or out of order\n"
                                       << shown;
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
