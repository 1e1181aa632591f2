// The self-deletion script: removes the program file and its folder after the program
// has exited.
#include <windows.h>

#include "app/state.h"
#include "data/data.h"
#include "external/blocks.h"
#include "external/external.h"
#include "paths/paths.h"

namespace {

constexpr DWORD kScriptBuf = 2048;
constexpr DWORD kCommandLineBuf = 1040;
constexpr DWORD kNameBuf = 1040;  // wsprintfA writes at most 1024 characters
constexpr int kLastBatchNumber = 998;
// One try a second for about a minute: a program that never exits (or a file that is
// held for good) must not leave a script running for ever.
constexpr const char *kTryLimit = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

// Replaces `path` by its short form; a path without one (short names disabled, or a
// form that would not fit) stays long.
void ToShortPath(char *path) {
  char shortPath[kPathBuf];
  DWORD n = GetShortPathNameA(path, shortPath, kPathBuf);
  if (n > 0 && n < kPathBuf) CopyBounded(path, kPathBuf, shortPath);
}

// Appends a path for the batch interpreter. Quoted, the NT interpreter takes blanks,
// '&', '^', '(' and ')' literally; a '%' is doubled so that no part of a path can be read
// as a variable.
bool AppendScriptPath(char *script, const char *path, bool quote) {
  // The 9x interpreter takes quotes around a long name too, but only needs them for a blank.
  for (const char *p = path; !quote && *p; ++p)
    if (*p == ' ') quote = true;
  DWORD length = lstrlenA(script);
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

// The whole script, or false (with nothing to write) when it would not fit.
// `scriptFolder` (NT only, or null) is removed last, on the line that deletes the script:
// the interpreter reads no further line once its script is gone.
bool BuildScript(char *script, const char *ownPath, const char *folder, const char *batchPath,
                 const char *scriptFolder, const char *pauseProgram, bool nt) {
  script[0] = '\0';
  bool ok = Add(script, "@echo off\r\n");
  // Quoted '!' is literal only while delayed expansion is off, whatever the registry says.
  if (nt) ok = ok && Add(script, "setlocal disabledelayedexpansion\r\n");
  ok = ok && Add(script, "set tries=\r\n:Repeat\r\ndel ") && AppendScriptPath(script, ownPath, nt);
  ok = ok && Add(script, nt ? " >nul 2>nul\r\nif not exist " : "\r\nif not exist ") &&
       AppendScriptPath(script, ownPath, nt) && Add(script, " goto Removed\r\n");
  ok = ok && Add(script, "set tries=%tries%x\r\nif \"%tries%\"==\"") && Add(script, kTryLimit) &&
       Add(script, "\" goto Removed\r\n");
  if (nt)
    ok = ok && AppendScriptPath(script, pauseProgram, true) &&
         Add(script, " -n 2 127.0.0.1 >nul\r\n");
  else
    ok = ok && Add(script, "choice /c:y /t:y,1 >nul\r\n");
  ok = ok && Add(script, "goto Repeat\r\n:Removed\r\nrmdir ") &&
       AppendScriptPath(script, folder, nt);
  ok = ok && Add(script, nt ? " >nul 2>nul\r\ndel " : "\r\ndel ") &&
       AppendScriptPath(script, batchPath, nt);
  if (nt && scriptFolder)
    ok = ok && Add(script, " >nul 2>nul & rmdir ") &&
         AppendScriptPath(script, scriptFolder, true) && Add(script, " >nul 2>nul");
  return ok && Add(script, "\r\n");
}

int CountChar(const char *text, char c) {
  int n = 0;
  for (; *text; ++text)
    if (*text == c) ++n;
  return n;
}

bool WriteAll(HANDLE file, const char *text) {
  DWORD size = lstrlenA(text);
  DWORD written = 0;
  return WriteFile(file, text, size, &written, NULL) && written == size;
}

// The interpreter and its command line, or false when the batch path cannot be given
// safely. NT: cmd.exe by its full path from the System folder (not %ComSpec%, which the
// user can change), /d so that no AutoRun command runs with our rights.
bool BuildCommandLine(char *line, const char *systemFolder, const char *batchPath, bool nt) {
  char runPath[kPathBuf];
  if (!CopyBounded(runPath, kPathBuf, batchPath)) return false;
  ToShortPath(runPath);
  if (!nt)
    return CopyBounded(line, kCommandLineBuf, "command.com /C ") &&
           AppendBounded(line, kCommandLineBuf, runPath);
  // The /c text is expanded once by the interpreter, where "%%" is no escape: a pair of
  // '%' could name a variable.
  if (CountChar(runPath, '%') >= 2) return false;
  // The outer quotes are the interpreter's own, it strips them and keeps the inner pair.
  return CopyBounded(line, kCommandLineBuf, "\"") &&
         AppendBounded(line, kCommandLineBuf, systemFolder) &&
         AppendBounded(line, kCommandLineBuf, "\\cmd.exe\" /d /c \"\"") &&
         AppendBounded(line, kCommandLineBuf, runPath) &&
         AppendBounded(line, kCommandLineBuf, "\"\"");
}

}  // namespace

namespace {

// The security calls, looked up when needed: the 9x family and NT before 2000 lack some
// of them, and a program that imported them would not even start there.
struct SecurityCalls {
  BOOL(WINAPI *openProcessToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI *getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  BOOL(WINAPI *allocateAndInitializeSid)
  (PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, PSID *);
  PVOID(WINAPI *freeSid)(PSID);
  DWORD(WINAPI *getLengthSid)(PSID);
  BOOL(WINAPI *initializeAcl)(PACL, DWORD, DWORD);
  BOOL(WINAPI *addAccessAllowedAceEx)(PACL, DWORD, DWORD, DWORD, PSID);
  BOOL(WINAPI *initializeSecurityDescriptor)(PSECURITY_DESCRIPTOR, DWORD);
  BOOL(WINAPI *setSecurityDescriptorDacl)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  BOOL(WINAPI *setSecurityDescriptorControl)
  (PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);
};

template <typename T>
bool Look(HMODULE library, const char *name, T &entry) {
  entry = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(library, name)));
  return entry != nullptr;
}

// False when any call is missing. advapi32 is loaded already: the registry calls import it.
bool FindSecurityCalls(SecurityCalls &c) {
  HMODULE a = GetModuleHandleA("advapi32.dll");
  return a && Look(a, "OpenProcessToken", c.openProcessToken) &&
         Look(a, "GetTokenInformation", c.getTokenInformation) &&
         Look(a, "AllocateAndInitializeSid", c.allocateAndInitializeSid) &&
         Look(a, "FreeSid", c.freeSid) && Look(a, "GetLengthSid", c.getLengthSid) &&
         Look(a, "InitializeAcl", c.initializeAcl) &&
         Look(a, "AddAccessAllowedAceEx", c.addAccessAllowedAceEx) &&
         Look(a, "InitializeSecurityDescriptor", c.initializeSecurityDescriptor) &&
         Look(a, "SetSecurityDescriptorDacl", c.setSecurityDescriptorDacl) &&
         Look(a, "SetSecurityDescriptorControl", c.setSecurityDescriptorControl);
}

// True when the script needs a folder of its own: an elevated program's script must not
// lie where the user's other, non-elevated programs could change it before it runs. A
// token that cannot tell (NT before elevation existed) has no such other programs: all
// of the user's programs run with the same rights, and a limited user could not even
// write into a folder kept for Administrators. The 9x family has no security.
bool NeedsPrivateFolder(SecurityCalls &c) {
  if ((GetVersion() & 0x80000000u) || !FindSecurityCalls(c)) return false;
  HANDLE token;
  if (!c.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation;
  DWORD size = 0;
  BOOL known = c.getTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

// Creates a new folder under the temporary folder that only Administrators and SYSTEM may
// open (full control, inherited by the script, nothing inherited from above). A name that
// exists already, whoever made it, is never used: the next number is tried.
bool CreatePrivateFolder(const SecurityCalls &c, char *folder) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = NULL, system = NULL;
  bool created = false;
  if (c.allocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &admins) &&
      c.allocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
    DWORD aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                    c.getLengthSid(admins) + c.getLengthSid(system);
    PACL acl = (PACL)AllocBlock(aclSize);
    SECURITY_DESCRIPTOR descriptor;
    const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    bool ready = acl && c.initializeAcl(acl, aclSize, ACL_REVISION) &&
                 c.addAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, admins) &&
                 c.addAccessAllowedAceEx(acl, ACL_REVISION, inherit, GENERIC_ALL, system) &&
                 c.initializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                 c.setSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
                 c.setSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    char name[kNameBuf];
    for (int n = 1; ready && !created && n <= kLastBatchNumber; ++n) {
      DWORD length = GetTempPathA(kPathBuf, folder);
      if (length == 0 || length + 1 >= kPathBuf) break;
      AppendBackslash(folder);
      wsprintfA(name, "~rm%lu-%d.tmp", GetCurrentProcessId(), n);
      if (!AppendBounded(folder, kPathBuf, name)) break;
      if (CreateDirectoryA(folder, &attributes))
        created = true;
      else if (GetLastError() != ERROR_ALREADY_EXISTS)
        break;
    }
    FreeBlock((char *)acl);
  }
  if (system) c.freeSid(system);
  if (admins) c.freeSid(admins);
  return created;
}

}  // namespace

HANDLE CreateBatchFile(char *path, const char *pattern, bool *inPrivateFolder) {
  char folder[kPathBuf];
  SecurityCalls calls;
  bool privateFolder = NeedsPrivateFolder(calls);
  if (inPrivateFolder) *inPrivateFolder = privateFolder;
  if (privateFolder) {
    if (!CreatePrivateFolder(calls, folder)) return INVALID_HANDLE_VALUE;
  } else {
    DWORD length = GetTempPathA(kPathBuf, folder);
    if (length == 0 || length + 1 >= kPathBuf) return INVALID_HANDLE_VALUE;
  }
  AppendBackslash(folder);
  char name[kNameBuf];
  for (int n = 1; n <= kLastBatchNumber; ++n) {
    wsprintfA(name, pattern, n);
    if (!CopyBounded(path, kPathBuf, folder) || !AppendBounded(path, kPathBuf, name)) break;
    HANDLE existing = OpenExisting(path, ModeRead);
    if (existing != INVALID_HANDLE_VALUE) {
      CloseFile(existing);
      continue;
    }
    // Created only if it does not exist, so a file that appears meanwhile is never
    // overwritten.
    HANDLE file = CreateForWriting(path);
    if (file != INVALID_HANDLE_VALUE) return file;
  }
  if (privateFolder) {
    StripBackslash(folder);
    RemoveDirectoryA(folder);
  }
  return INVALID_HANDLE_VALUE;
}

void StartSelfDeletion() {
  ToShortPath(g.installDir);
  StripBackslash(g.installDir);
  DWORD ownLength = GetModuleFileNameA(g.instance, g.scratchPath, kPathBuf);
  // A cut own path would name a different file.
  if (ownLength == 0 || ownLength >= kPathBuf) return;
  ToShortPath(g.scratchPath);

  char systemFolder[kPathBuf];
  DWORD length = g.isNT ? GetSystemDirectoryA(systemFolder, kPathBuf)
                        : GetWindowsDirectoryA(systemFolder, kPathBuf);
  if (length == 0 || length >= kPathBuf) return;
  StripBackslash(systemFolder);
  SetCurrentDirectoryA(systemFolder);

  char batchPath[kPathBuf];
  bool privateFolder = false;
  HANDLE file = CreateBatchFile(batchPath, "delme%d.bat", &privateFolder);
  if (file == INVALID_HANDLE_VALUE) return;

  // The private folder (when there is one) is the script's own: it goes with the script.
  char scriptFolder[kPathBuf];
  privateFolder = privateFolder && CopyBounded(scriptFolder, kPathBuf, batchPath);
  if (privateFolder) {
    char *cut = scriptFolder;
    for (char *p = scriptFolder; *p; p = CharNextA(p))
      if (*p == '\\') cut = p;
    *cut = '\0';
  }
  char oemScriptFolder[kPathBuf];
  if (privateFolder) CharToOemA(scriptFolder, oemScriptFolder);

  char *script = AllocBlock(kScriptBuf);
  char *line = AllocBlock(kCommandLineBuf);
  char oemBatch[kPathBuf];
  char pauseProgram[kPathBuf];
  bool nt = g.isNT != 0;
  // The interpreter reads the script in the OEM code page.
  CharToOemA(g.installDir, g.installDir);
  CharToOemA(g.scratchPath, g.scratchPath);
  CharToOemA(batchPath, oemBatch);
  bool ready = script && line && CopyBounded(pauseProgram, kPathBuf, systemFolder) &&
               AppendBounded(pauseProgram, kPathBuf, "\\ping.exe");
  if (ready) CharToOemA(pauseProgram, pauseProgram);
  // A script that would not fit is not written: a shortened one could name another folder.
  ready = ready && BuildScript(script, g.scratchPath, g.installDir, oemBatch,
                               privateFolder ? oemScriptFolder : NULL, pauseProgram, nt);
  ready = ready && WriteAll(file, script);
  CloseHandle(file);
  ready = ready && BuildCommandLine(line, systemFolder, batchPath, nt);

  bool started = false;
  if (ready) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof(info));
    if (CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
      started = true;
    }
  }
  if (!started) DeleteFileA(batchPath);
  if (!started && privateFolder) RemoveDirectoryA(scriptFolder);
  FreeBlock(line);
  FreeBlock(script);
}
