// The outcomes of a run: the tally behind the exit code of a silent run, and the /LOG file.
#include "base/base.h"
#include "state/outcome.h"
#include "state/state.h"

namespace {

const char *const kKeywords[] = {
    "removed",    "absent",    "kept-answer", "kept-default", "kept-shared", "kept-other",
    "not-empty",  "protected", "link",        "odd-name",     "in-use",      "not-a-file",
    "not-loaded", "restart",   "failed",      "unreadable",   "cancelled"};
static_assert(sizeof kKeywords / sizeof kKeywords[0] == OUTCOME_CANCELLED + 1,
              "one keyword per outcome");

// Writes one whole line in one call, so a run killed in between leaves whole lines.
// Control characters are written as '?': a name from the block cannot forge a line.
void WriteLine(const char *head, const char *root, const char *text) {
  if (!g.log) return;
  const DWORD size = TextLength(head) + TextLength(root) + TextLength(text) + 4;
  ScopedBlock<char> line;
  if (!AllocZeroedT(size, line.Receive())) return;
  DWORD n = 0;
  const char *const parts[] = {head, root, text};
  for (const char *part : parts)
    for (const char *p = part; *p; ++p) line[n++] = static_cast<unsigned char>(*p) < ' ' ? '?' : *p;
  line[n++] = '\r';
  line[n++] = '\n';
  DWORD written = 0;
  WriteFile(g.log, line, n, &written, nullptr);
}

void Note(const char *root, const char *text, Outcome what, DWORD error) {
  // What stays against the removal: an error, another process, a link or an odd name
  // that stopped it, a folder in a file's place, a library an elevated run may not load.
  if (what == OUTCOME_FAILED || what == OUTCOME_IN_USE || what == OUTCOME_AT_LINK ||
      what == OUTCOME_ODD_NAME || what == OUTCOME_NOT_FILE || what == OUTCOME_NOT_LOADED)
    ++g.failedCount;
  if (what == OUTCOME_RESTART) ++g.scheduledCount;
  if (!g.log) return;  // the line is made only for a log: the passes call this per entry
  if (!text) text = "";
  char head[40];
  if (error)
    wsprintfA(head, "%s:%lu ", LogKeyword(kKeywords[what]), error);
  else
    wsprintfA(head, text[0] || root[0] ? "%s " : "%s", LogKeyword(kKeywords[what]));
  WriteLine(head, root, text);
}

// The root's long name and a backslash into `buffer` (24 bytes); an unknown root by number.
const char *RootName(DWORD root, char *buffer) {
  for (const blockfmt::RootName &r : blockfmt::kRootNames)
    if (r.root == root) {
      wsprintfA(buffer, "%s\\", r.longName);
      return buffer;
    }
  wsprintfA(buffer, "0x%08lX\\", root);
  return buffer;
}

}  // namespace

void NoteOutcome(const char *pathOrKey, Outcome what, DWORD error) {
  Note("", pathOrKey ? pathOrKey : "", what, error);
}

void NoteKeyOutcome(DWORD root, const char *path, Outcome what, DWORD error) {
  char buffer[24];
  Note(RootName(root, buffer), path ? path : "", what, error);
}

void WriteLogLine(const char *head, const char *text) { WriteLine(head, "", text); }

const char *LogKeyword(const char *keyword) {
  return g.holdBack ? g.holdBack->keyword(keyword) : keyword;
}

void NoteEvent(const char *keyword, const char *text) {
  char head[40];
  wsprintfA(head, "%s ", LogKeyword(keyword));
  WriteLine(head, "", text ? text : "");
}

int FinishRun(int code) {
  if (g.silent && code == 0)
    code = g.failedCount ? kExitFailed : g.scheduledCount ? kExitRestartNeeded : 0;
  if (g.log) {
    char last[24];
    wsprintfA(last, "%d", code);
    WriteLine("exit ", "", last);
    CloseHandle(g.log);
    g.log = nullptr;
  }
  return code;
}
