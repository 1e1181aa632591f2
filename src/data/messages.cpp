// The message table: lookup, message boxes, and composing a text with its one argument.
#include "data/data.h"

namespace {
const char kEmptyText[] = "";

bool HasStringConversion(const char *text) {
  for (; *text; ++text)
    if (text[0] == '%' && text[1] == 's') return true;
  return false;
}
}  // namespace

const char *GetMessageText(DWORD number) {
  if (!g.messages) return kEmptyText;
  for (DWORD i = 0; i <= number; ++i)
    if (!g.messages[i]) return kEmptyText;
  return g.messages[number];
}

int ShowMessage(const char *text, UINT style) {
  return MessageBoxA(g.mainWindow, text, GetMessageText(blockfmt::MSG_CAPTION), style);
}

void ComposeMessage(char *buffer, DWORD number, const char *argument) {
  // The text comes from the block: it is never used as a format. Only "%s" and "%%" have
  // a meaning, and only in a text that holds "%s"; every other '%' stays as it is.
  const char *text = GetMessageText(number);
  const bool compose = HasStringConversion(text);
  const DWORD last = blockfmt::kComposedMax - 1;
  DWORD out = 0;
  for (const char *p = text; *p && out < last; ++p) {
    if (compose && p[0] == '%' && p[1] == 's') {
      for (const char *a = argument ? argument : ""; *a && out < last; ++a) buffer[out++] = *a;
      ++p;
    } else if (compose && p[0] == '%' && p[1] == '%') {
      buffer[out++] = '%';
      ++p;
    } else {
      buffer[out++] = *p;
    }
  }
  buffer[out] = 0;
}
