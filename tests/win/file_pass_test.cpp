// The file pass where no whole run reaches: a prompt that cannot be shown, and a run that is
// not elevated (the test prefix runs elevated).
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "app/run.h"
#include "format/block_format.h"
#include "passes/passes.h"
#include "state/state.h"
#include "support/testenv.h"
#include "ui/resource_ids.h"
#include "ui/ui.h"

namespace {

// A prompt that cannot be shown (here without its template) keeps the file; without
// message 9 there is nothing to ask, and the answer is yes to all.
TEST(FilePrompt, APromptThatCannotBeShownKeepsTheFile) {
  ResetRunState();
  g.instance = GetModuleHandleA(nullptr);
  char text[] = "<9> %s";
  std::vector<char *> messages(10, text);
  messages.push_back(nullptr);
  g.messages = messages.data();
  EXPECT_EQ(IDNO, AskDeleteFile("C:\\x\\file.txt"));
  messages[9] = nullptr;
  EXPECT_EQ(IDC_PROMPT_YES_ALL, AskDeleteFile("C:\\x\\file.txt"));
  g.messages = nullptr;
}

// A library listed to unregister itself: an unelevated run loads it, unregisters and
// deletes it. (An elevated one may not, from a folder that a standard user could change:
// under Wine every owner is the user, and the whole runs show the library left.)
TEST(SelfRegistration, AnUnelevatedRunUnregistersAListedLibrary) {
  testenv::ScopedTestDir dir("selfreg");
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\selfreg_probe.dll").c_str(),
                        (dir / "reg.dll").c_str(), FALSE));
  testenv::RunState state(dir.path());
  state.File(dir.path(), "reg.dll", blockfmt::FE_SELFREG);
  g.elevated = 0;
  RemoveFiles();
  EXPECT_TRUE(testenv::FileExists(dir / "reg.dll.unregistered"));
  EXPECT_FALSE(testenv::FileExists(dir / "reg.dll"));
  EXPECT_EQ(0u, g.failedCount);
}

}  // namespace
