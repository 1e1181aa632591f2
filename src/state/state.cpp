#include "state/state.h"

UninstallState g;

const char *OptionText(DWORD offset) {
  if (!g.options || offset == 0) return nullptr;
  return reinterpret_cast<const char *>(g.options) + offset;
}
