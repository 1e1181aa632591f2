#include "state/state.h"

#include "reach/held_path.h"

UninstallState g;

void ResetRunState() {
  ReleaseHeldPath();  // its handles would keep the folders they hold from going
  ZeroMemory(&g, sizeof g);
  g.filePromptAnswer = -1;
}

const char *OptionText(DWORD offset) {
  if (!g.options || offset == 0) return nullptr;
  return reinterpret_cast<const char *>(g.options) + offset;
}
