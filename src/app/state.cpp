#include "app/state.h"

UninstallState g;

void ResetRunState() {
  ZeroMemory(&g, sizeof g);
  g.filePromptAnswer = -1;
}

const char *OptionText(DWORD offset) {
  if (!g.options || offset == 0) return nullptr;
  return reinterpret_cast<const char *>(g.options) + offset;
}
