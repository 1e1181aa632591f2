// Self-deletion: removes the program file and its folder after the program has exited.
// On the NT family the interpreter gets its commands on its own command line: no file
// lies between writing and running where someone else could change it, and the paths
// stay in UTF-16 from the system to the interpreter, with no code page conversion that
// could turn a character into another. The 9x family (no security, no UTF-16 interpreter)
// runs a script from the temporary folder.
#include <windows.h>

#include "base/base.h"
#include "external/external.h"
#include "paths/paths.h"
#include "reach/held_path.h"
#include "state/state.h"

namespace {

constexpr DWORD kScriptBuf = 2048;
constexpr DWORD kNameBuf = 1040;  // wsprintfA writes at most 1024 characters
constexpr DWORD kLineChars = 2048;
constexpr int kLastBatchNumber = 998;
// One try a second for about a minute: a program that never exits (or a file that is
// held for good) must not leave the interpreter running for ever.
constexpr const char *kTryLimit = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

// Replaces `path` by its short form; a path without one (short names disabled, or a
// form that would not fit) stays long.
void ToShortPath(char *path) {
  char shortPath[kPathBuf];
  DWORD n = GetShortPathNameA(path, shortPath, kPathBuf);
  if (n > 0 && n < kPathBuf) CopyBounded(path, kPathBuf, shortPath);
}

bool SameBytes(const char *a, const char *b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// Appends a path for the 9x interpreter: quoted only for a blank (it takes quotes around
// a long name, but needs them for nothing else), each '%' doubled so that no part of it
// can be read as a variable.
bool AppendScriptPath(char *script, const char *path) {
  bool quote = false;
  for (const char *p = path; *p; ++p)
    if (*p == ' ') quote = true;
  DWORD length = TextLength(script);
  auto put = [&](char c) {
    if (length + 1 >= kScriptBuf) return false;
    script[length++] = c;
    return true;
  };
  if (quote && !put('"')) return false;
  for (const char *p = path; *p; ++p) {
    if (*p == '%' && !put('%')) return false;
    if (!put(*p)) return false;
  }
  if (quote && !put('"')) return false;
  script[length] = '\0';
  return true;
}

bool Add(char *script, const char *text) { return AppendBounded(script, kScriptBuf, text); }

// The 9x script, or false (with nothing to write) when it would not fit.
bool BuildScript(char *script, const char *ownPath, const char *folder, const char *batchPath) {
  script[0] = '\0';
  bool ok = Add(script, "@echo off\r\nset tries=\r\n:Repeat\r\ndel ") &&
            AppendScriptPath(script, ownPath) && Add(script, "\r\nif not exist ") &&
            AppendScriptPath(script, ownPath) && Add(script, " goto Removed\r\n");
  ok = ok && Add(script, "set tries=%tries%x\r\nif \"%tries%\"==\"") && Add(script, kTryLimit) &&
       Add(script,
           "\" goto Removed\r\nchoice /c:y /t:y,1 >nul\r\ngoto Repeat\r\n:Removed\r\nrmdir ");
  ok = ok && AppendScriptPath(script, folder) && Add(script, "\r\ndel ") &&
       AppendScriptPath(script, batchPath);
  return ok && Add(script, "\r\n");
}

bool WriteAll(HANDLE file, const char *text) {
  DWORD size = TextLength(text);
  DWORD written = 0;
  return WriteFile(file, text, size, &written, nullptr) && written == size;
}

bool StartOnNineX() {
  char *installDir = g.installDir;
  ToShortPath(installDir);
  StripBackslash(installDir);
  DWORD ownLength = GetModuleFileNameA(g.instance, g.scratchPath, kPathBuf);
  // A cut own path would name a different file.
  if (ownLength == 0 || ownLength >= kPathBuf) return false;
  ToShortPath(g.scratchPath);
  char windowsFolder[kPathBuf];
  DWORD length = GetWindowsDirectoryA(windowsFolder, kPathBuf);
  if (length == 0 || length >= kPathBuf) return false;
  StripBackslash(windowsFolder);
  SetCurrentDirectoryA(windowsFolder);
  // The interpreter reads the script in the OEM code page: a path that would come out as
  // another one is not written at all.
  if (!ToOemPath(installDir) || !ToOemPath(g.scratchPath)) return false;

  char batchPath[kPathBuf];
  ScopedHandle file(CreateBatchFile(batchPath, "delme%d.bat"));
  if (!file) return false;
  char oemBatch[kPathBuf];
  ScopedBlock<char> script;
  AllocZeroedT(kScriptBuf, script.Receive());
  // "command.com /C " and the script's short path.
  char line[kPathBuf + 16];
  bool ready = script && CopyBounded(oemBatch, kPathBuf, batchPath) && ToOemPath(oemBatch) &&
               BuildScript(script, g.scratchPath, installDir, oemBatch) && WriteAll(file, script);
  file.Reset();
  char runPath[kPathBuf];
  ready = ready && CopyBounded(runPath, kPathBuf, batchPath);
  if (ready) ToShortPath(runPath);
  ready = ready && CopyBounded(line, sizeof line, "command.com /C ") &&
          AppendBounded(line, sizeof line, runPath);
  const bool started = ready && StartDetached(nullptr, line, SW_HIDE);
  if (!started) DeleteFileA(batchPath);
  return started;
}

struct WideLine {
  wchar_t *text;
  DWORD length;
  DWORD capacity;
};

bool Put(WideLine &line, const wchar_t *part) {
  DWORD n = lstrlenW(part);
  if (line.length + n >= line.capacity) return false;
  CopyMemory(line.text + line.length, part, (n + 1) * sizeof(wchar_t));
  line.length += n;
  return true;
}

bool PutQuoted(WideLine &line, const wchar_t *path) {
  return Put(line, L"\"") && Put(line, path) && Put(line, L"\"");
}

// True when `path` can stand between quotes on the interpreter's command line. Quoted,
// it takes blanks, '&', '^', '|', '<', '>', '(' and ')' literally, and '!' too while
// delayed expansion is off; but it expands %name% before anything else, and "%%" is no
// escape there: with the loop's own "%i", a single '%' in a path could already close a
// variable's name.
bool SafeOnCommandLine(const wchar_t *path) {
  for (; *path; ++path)
    if (*path == L'%' || *path == L'"') return false;
  return true;
}

// `path` (kPathBuf characters) as it can be given, in its short form when the long one
// cannot; false when neither can.
bool ToCommandLinePath(wchar_t *path) {
  if (SafeOnCommandLine(path)) return true;
  wchar_t shortPath[kPathBuf];
  DWORD n = GetShortPathNameW(path, shortPath, kPathBuf);
  if (n == 0 || n >= kPathBuf || !SafeOnCommandLine(shortPath)) return false;
  CopyMemory(path, shortPath, (n + 1) * sizeof(wchar_t));
  return true;
}

}  // namespace

// How many of the install folder's parents, from the nearest up, the self-deletion may
// remove: those a folder entry's climb asked for, up to the first that is protected or a
// link. Checked now; rmdir then removes a link put there meanwhile, never its target.
DWORD SafeParentLevels() {
  char folder[kPathBuf];
  char resolved[kPathBuf];
  if (!CopyBounded(folder, kPathBuf, g.installDir)) return 0;
  StripBackslash(folder);
  DWORD levels = 0;
  while (levels < g.parentLevels && CutAtLastBackslash(folder) &&
         ResolveUnprotected(folder, resolved) && IsClimbableFolder(resolved))
    ++levels;
  return levels;
}

bool ToOemPath(char *path) {
  char oem[kPathBuf];
  char back[kPathBuf];
  for (int attempt = 0; attempt < 2; ++attempt) {
    CharToOemA(path, oem);
    OemToCharA(oem, back);
    if (SameBytes(back, path)) return CopyBounded(path, kPathBuf, oem);
    char shortPath[kPathBuf];
    DWORD n = GetShortPathNameA(path, shortPath, kPathBuf);
    if (attempt > 0 || n == 0 || n >= kPathBuf) return false;
    CopyBounded(path, kPathBuf, shortPath);
  }
  return false;
}

HANDLE CreateBatchFile(char *path, const char *pattern) {
  char folder[kPathBuf];
  DWORD length = GetTempPathA(kPathBuf, folder);
  if (length == 0 || length + 1 >= kPathBuf) return INVALID_HANDLE_VALUE;
  AppendBackslash(folder);
  char name[kNameBuf];
  for (int n = 1; n <= kLastBatchNumber; ++n) {
    wsprintfA(name, pattern, n);
    if (!CopyBounded(path, kPathBuf, folder) || !AppendBounded(path, kPathBuf, name)) break;
    if (ScopedHandle(OpenExisting(path, ModeRead))) continue;
    // Created only if it does not exist, so a file that appears meanwhile is never
    // overwritten.
    HANDLE file = CreateForWriting(path);
    if (file != INVALID_HANDLE_VALUE) return file;
  }
  return INVALID_HANDLE_VALUE;
}

bool BuildSelfDeletionCommand(wchar_t *line, DWORD capacity, const wchar_t *systemFolder,
                              const wchar_t *program, DWORD parents) {
  wchar_t own[kPathBuf];
  wchar_t folder[kPathBuf];
  DWORD n = lstrlenW(program);
  if (n >= kPathBuf) return false;
  CopyMemory(own, program, (n + 1) * sizeof(wchar_t));
  if (!ToCommandLinePath(own)) return false;
  CopyMemory(folder, own, sizeof(own));
  if (!CutToFolder(folder)) return false;

  if (!SafeOnCommandLine(systemFolder)) return false;
  WideLine l = {line, 0, capacity};
  line[0] = L'\0';
  // Each try: stop if the program's path has become a folder (a link put there after the
  // program ended must not have its target emptied), delete the program, and once it is
  // gone remove the folder (only if empty) and end; otherwise pause a second. The pause
  // is the System folder's ping.exe, named in full, never looked for.
  bool ok =
      Put(l, L"\"") && Put(l, systemFolder) &&
      Put(l, L"\\cmd.exe\" /q /d /e:on /v:off /s /c \"for /l %i in (1,1,60) do ((if exist \"") &&
      Put(l, own) && Put(l, L"\\*\" exit) & del ") && PutQuoted(l, own) &&
      Put(l, L" >nul 2>nul & (if not exist ") && PutQuoted(l, own) && Put(l, L" (rmdir ") &&
      PutQuoted(l, folder) && Put(l, L" >nul 2>nul");
  // Each parent after the folder below it, and only while they go: rmdir without /s
  // removes an empty folder and nothing else.
  for (DWORD level = 0; ok && level < parents; ++level) {
    wchar_t *cut = FindParentCut(folder);
    if (!cut) break;  // never a drive root
    *cut = L'\0';
    ok = Put(l, L" && rmdir ") && PutQuoted(l, folder) && Put(l, L" >nul 2>nul");
  }
  return ok && Put(l, L" & exit)) & \"") && Put(l, systemFolder) &&
         Put(l, L"\\ping.exe\" -n 2 127.0.0.1 >nul)\"");
}

bool StartSelfDeletion() {
  if (!g.isNT) {
    g.parentLevels = 0;  // the 9x family's script removes the program's folder alone
    return StartOnNineX();
  }
  wchar_t own[kPathBuf];
  wchar_t systemFolder[kPathBuf];
  DWORD ownLength = GetModuleFileNameW(g.instance, own, kPathBuf);
  DWORD length = GetSystemDirectoryW(systemFolder, kPathBuf);
  // A cut path would name a different file.
  if (ownLength == 0 || ownLength >= kPathBuf || length == 0 || length >= kPathBuf - 9)
    return false;
  if (length > 3 && systemFolder[length - 1] == L'\\') systemFolder[--length] = L'\0';
  SetCurrentDirectoryW(systemFolder);
  ScopedBlock<wchar_t> line;
  AllocZeroedT(kLineChars * sizeof(wchar_t), line.Receive());
  wchar_t interpreter[kPathBuf];
  CopyMemory(interpreter, systemFolder, (length + 1) * sizeof(wchar_t));
  CopyMemory(interpreter + length, L"\\cmd.exe", 9 * sizeof(wchar_t));
  bool started = false;
  // What the script is given, for the log.
  g.parentLevels = SafeParentLevels();
  if (line && BuildSelfDeletionCommand(line, kLineChars, systemFolder, own, g.parentLevels)) {
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    if (CreateProcessW(interpreter, line, nullptr, nullptr, FALSE, 0, nullptr, systemFolder,
                       &startup, &info)) {
      started = true;
      ScopedHandle thread(info.hThread), process(info.hProcess);
    }
  }
  return started;
}

bool ActStartSelfDeletion() {
  return g.holdBack ? g.holdBack->startSelfDeletion() : StartSelfDeletion();
}
