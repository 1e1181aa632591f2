// The file prompt when it cannot ask: what the whole runs, whose prompts always show,
// cannot reach.
#include "ui/ui.h"

#include <windows.h>

#include <vector>

#include "app/run.h"
#include "gtest/gtest.h"
#include "state/state.h"
#include "ui/resource_ids.h"

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

}  // namespace
