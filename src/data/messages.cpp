// The message table: lookup, message boxes, and composing a text with its one argument.
#include "data/data.h"

namespace {
const char kEmptyText[] = "";

bool HasStringConversion(const char *text) {
  for (; *text; text = CharNextA(text))
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
  // a meaning, and only in a text that holds "%s"; every other '%' stays as it is. The
  // result is cut before the first character that does not fit whole.
  const char *text = GetMessageText(number);
  const bool compose = HasStringConversion(text);
  const DWORD last = blockfmt::kComposedMax - 1;
  DWORD out = 0;
  for (const char *p = text; *p;) {
    const char *piece = p;
    DWORD n = static_cast<DWORD>(CharNextA(p) - p);
    if (compose && p[0] == '%' && (p[1] == 's' || p[1] == '%')) {
      p += 2;
      if (piece[1] == 's') {
        const char *a = argument ? argument : "";
        DWORD length = TextLength(a);
        DWORD fit = WholeCharacters(a, length, last - out);
        for (DWORD i = 0; i < fit; ++i) buffer[out++] = a[i];
        if (fit < length) break;
        continue;
      }
      n = 1;  // "%%" gives one '%'
    } else {
      p += n;
    }
    if (n > last - out) break;
    for (DWORD i = 0; i < n; ++i) buffer[out++] = piece[i];
  }
  buffer[out] = 0;
}
