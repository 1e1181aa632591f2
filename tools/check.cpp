// Checks of a block against the stub's limits and against removals that hurt the system.
#include "check.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "codepage.h"
#include "manifest.h"

namespace tallowin {

using namespace blockfmt;

namespace {

// A path the stub builds must fit its 260-byte buffers with the terminator.
constexpr size_t kMaxJoined = kPathMax - 1;
// The shortest install folder the file pass can prefix ("C:\").
constexpr size_t kMinInstallDir = 3;

// Macros that name folders every user and the system share.
const char *const kSharedMacros[] = {"windows",           "system",        "tempdir",
                                     "commonfiles",       "program files", "allusersappdata",
                                     "allusersdocuments", "allusersdir"};
const char *const kKnownMacros[] = {
    "windows",     "system",      "tempdir",      "commonfiles",     "program files",
    "mydocuments", "appdata",     "localappdata", "allusersappdata", "allusersdocuments",
    "userdir",     "allusersdir", "installdir"};

// Folders below a drive root that belong to the system or all users.
const char *const kSystemFolders[] = {"windows",
                                      "windows\\system32",
                                      "windows\\syswow64",
                                      "windows\\fonts",
                                      "program files",
                                      "program files (x86)",
                                      "program files\\common files",
                                      "program files (x86)\\common files",
                                      "programdata",
                                      "users",
                                      "users\\public",
                                      "documents and settings",
                                      "winnt",
                                      "winnt\\system32",
                                      "system volume information"};

// Macros that name the folders of the user who runs the uninstaller.
const char *const kUserMacros[] = {"appdata", "localappdata", "mydocuments", "userdir"};

// Folders below a drive root, and their subtrees, that belong to the system or all users.
const char *const kMachineTrees[] = {"windows",
                                     "winnt",
                                     "program files",
                                     "program files (x86)",
                                     "programdata",
                                     "users\\public",
                                     "documents and settings\\all users"};

// The folders that the uninstaller's protected folder test holds back, as a manifest names
// them: a folder macro and the path below it. The uninstaller deletes nothing in them.
const char *const kProtectedFolders[] = {
    "#windows#",
    "#system#",
    "#windows#\\fonts",
    "#program files#",
    "#commonfiles#",
    "#appdata#",
    "#appdata#\\microsoft\\internet explorer\\quick launch",
    "#allusersappdata#",
    "#allusersappdata#\\microsoft\\internet explorer\\quick launch",
    "#allusersdocuments#",
    "#userdir#\\desktop",
    "#allusersdir#\\desktop",
    "#appdata#\\microsoft\\windows\\start menu",
    "#appdata#\\microsoft\\windows\\start menu\\programs",
    "#appdata#\\microsoft\\windows\\start menu\\programs\\startup",
    "#allusersappdata#\\microsoft\\windows\\start menu",
    "#allusersappdata#\\microsoft\\windows\\start menu\\programs",
    "#allusersappdata#\\microsoft\\windows\\start menu\\programs\\startup",
    // Before Vista the start menus lay in the profile folders.
    "#userdir#\\start menu",
    "#userdir#\\start menu\\programs",
    "#userdir#\\start menu\\programs\\startup",
    "#allusersdir#\\start menu",
    "#allusersdir#\\start menu\\programs",
    "#allusersdir#\\start menu\\programs\\startup",
};

// Where the macros of that list lie on a default installation, for paths written out in
// full: "?" is the drive letter, "*" one folder name (the user's).
const char *const kMacroFolders[][3] = {
    {"#windows#", "?:\\windows", "?:\\winnt"},
    {"#system#", "?:\\windows\\system32", "?:\\winnt\\system32"},
    {"#program files#", "?:\\program files", "?:\\program files (x86)"},
    {"#commonfiles#", "?:\\program files\\common files", "?:\\program files (x86)\\common files"},
    {"#appdata#", "?:\\users\\*\\appdata\\roaming",
     "?:\\documents and settings\\*\\application data"},
    {"#allusersappdata#", "?:\\programdata",
     "?:\\documents and settings\\all users\\application data"},
    {"#allusersdocuments#", "?:\\users\\public\\documents",
     "?:\\documents and settings\\all users\\documents"},
    {"#userdir#", "?:\\users\\*", "?:\\documents and settings\\*"},
    {"#allusersdir#", "?:\\users\\public", "?:\\documents and settings\\all users"},
};

// `text` matches `pattern` of kMacroFolders: "?" a letter, "*" one or more characters up to
// the next backslash.
bool MatchesFolder(const char *pattern, const char *text) {
  if (!*pattern) return !*text;
  if (*pattern == '*') {
    for (size_t n = 1; text[n - 1] && text[n - 1] != '\\'; ++n)
      if (MatchesFolder(pattern + 1, text + n)) return true;
    return false;
  }
  if (*pattern == '?')
    return isalpha(static_cast<unsigned char>(*text)) && MatchesFolder(pattern + 1, text + 1);
  return *pattern == *text && MatchesFolder(pattern + 1, text + 1);
}

// Texts in the block's code page are read by characters, as the stub reads them: a
// double-byte character may end in a backslash byte.

// The end of `s` without the backslashes (and slashes, when `slashes`) that end it.
size_t EndOfText(const std::string &s, bool slashes, int cp) {
  size_t end = 0;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i, cp))
    if (s[i] != '\\' && (s[i] != '/' || !slashes)) end = i + CharLength(s, i, cp);
  return end;
}

std::string StripTrailing(const std::string &s, int cp) {
  return s.substr(0, std::max(EndOfText(s, true, cp), std::min<size_t>(s.size(), 3)));
}

bool IsDriveRoot(const std::string &raw, int cp) {
  const std::string s = StripTrailing(raw, cp);
  if (s.empty()) return false;
  if (s.size() <= 3 && isalpha(static_cast<unsigned char>(s[0])) && s.size() >= 2 && s[1] == ':')
    return true;
  if (s == "\\" || s == "/") return true;
  // \\server\share is the root of a network drive.
  if (s.size() > 2 && s[0] == '\\' && s[1] == '\\') {
    const size_t slash = FindInText(s, "\\", cp, 2);
    return slash == std::string::npos || FindInText(s, "\\", cp, slash + 1) == std::string::npos;
  }
  return false;
}

bool IsSystemFolder(const std::string &raw, int cp) {
  const std::string s = LowerAscii(StripTrailing(raw, cp));
  if (s.size() < 4 || s[1] != ':' || s[2] != '\\') return false;
  const std::string rest = s.substr(3);
  for (const char *f : kSystemFolders)
    if (rest == f) return true;
  return false;
}

// "folder is a drive root" / "... a system folder", or "".
std::string Dangerous(const std::string &folder, int cp) {
  if (IsDriveRoot(folder, cp)) return "is a drive root";
  if (IsSystemFolder(folder, cp)) return "is a system folder";
  return std::string();
}

// Whether the uninstaller's protected folder test holds the folder back, as far as it can be
// told without the target machine: a path shorter than 4 characters, a folder of
// kProtectedFolders by its macro, or where that folder lies on a default installation.
bool IsProtected(const std::string &folder, int cp) {
  if (folder.size() < 4) return true;
  const std::string s = LowerAscii(StripTrailing(folder, cp));
  for (const char *entry : kProtectedFolders) {
    const std::string e = entry;
    if (s == e) return true;
    if (s[0] == '#') continue;
    const std::string macro = e.substr(0, e.find('#', 1) + 1), below = e.substr(macro.size());
    for (const auto &m : kMacroFolders)
      if (macro == m[0] && (MatchesFolder((m[1] + below).c_str(), s.c_str()) ||
                            MatchesFolder((m[2] + below).c_str(), s.c_str())))
        return true;
  }
  return false;
}

bool IsAbsolute(const std::string &p) {
  return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
         (p.size() >= 2 && p[0] == '\\' && p[1] == '\\');
}

std::string Parent(const std::string &p, int cp) {
  const std::string s = StripTrailing(p, cp);
  const size_t slash = FindLastInText(s, "\\", cp);
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && s[1] == ':') return s.substr(0, 3);
  return s.substr(0, slash);
}

// The Windows and System folders, as written in a file entry (whose folder is not expanded,
// though an author may still have meant the macro).
bool IsWindowsOrSystem(const std::string &folder, int cp) {
  const std::string s = LowerAscii(StripTrailing(folder, cp));
  if (s.rfind("#windows#", 0) == 0 || s.rfind("#system#", 0) == 0) return true;
  if (s.size() < 4 || s[1] != ':' || s[2] != '\\') return false;
  const std::string rest = s.substr(3);
  for (const char *f : {"windows", "windows\\system32", "windows\\syswow64", "windows\\system",
                        "windows\\sysnative", "winnt", "winnt\\system32"})
    if (rest == f) return true;
  return false;
}

// Files of the platform itself, which no product installs and no uninstaller may remove.
bool IsPlatformFile(const std::string &name) {
  static const char *const kFiles[] = {
      "kernel32.dll", "kernelbase.dll", "ntdll.dll",    "user32.dll",   "gdi32.dll",
      "advapi32.dll", "shell32.dll",    "ole32.dll",    "oleaut32.dll", "comctl32.dll",
      "comdlg32.dll", "msvcrt.dll",     "ws2_32.dll",   "wininet.dll",  "shlwapi.dll",
      "rpcrt4.dll",   "crypt32.dll",    "hal.dll",      "ntoskrnl.exe", "explorer.exe",
      "winlogon.exe", "csrss.exe",      "smss.exe",     "lsass.exe",    "services.exe",
      "svchost.exe",  "userinit.exe",   "cmd.exe",      "regedit.exe",  "rundll32.exe",
      "regsvr32.exe", "win.ini",        "system.ini",   "boot.ini",     "ntldr",
      "bootmgr",      "pagefile.sys",   "hiberfil.sys", "swapfile.sys"};
  const std::string n = LowerAscii(name);
  for (const char *f : kFiles)
    if (n == f) return true;
  return false;
}

// Folders a standard user may write, where a planted library would be loaded with the
// uninstaller's rights.
bool IsUserWritable(const std::string &folder, int cp) {
  const std::string s = LowerAscii(folder) + "\\";
  for (const char *p :
       {"#appdata#", "#localappdata#", "#tempdir#", "#mydocuments#", "#userdir#",
        "#allusersappdata#", "#allusersdocuments#", "#allusersdir#", "\\users\\",
        "\\documents and settings\\", ":\\programdata\\", "\\appdata\\", "\\temp\\", "\\tmp\\"})
    if (FindInText(s, p, cp) != std::string::npos) return true;
  return false;
}

// What in a path the passes would not take as meant: they use paths as written, with no
// resolving of relative parts and no other separator. "" when nothing.
std::string FormProblem(const std::string &p, bool installRelative, int cp) {
  size_t start = 0;
  const char *below = installRelative ? blockfmt::InstallSubfolder(p.c_str()) : nullptr;
  if (below)
    start = below[0] ? static_cast<size_t>(below - p.c_str()) : p.size();
  else if (p.rfind("\\\\", 0) == 0)
    start = 2;  // a network path
  if (p.find('/') != std::string::npos)
    return "holds a forward slash: the paths are used as written, with backslashes only";
  if (FindInText(p, "\\\\", cp, start) != std::string::npos)
    return "holds a doubled backslash: the paths are used as written";
  for (size_t pos = start; pos <= p.size();) {
    size_t end = FindInText(p, "\\", cp, pos);
    if (end == std::string::npos) end = p.size();
    const std::string part = p.substr(pos, end - pos);
    if (part == "." || part == "..")
      return "holds a \"" + part + "\" part: the paths are used as written, not resolved";
    pos = end + 1;
  }
  return std::string();
}

bool StartsWithNoCase(const std::string &s, const char *prefix) {
  return LowerAscii(s.substr(0, strlen(prefix))) == prefix;
}

// The macro that `path` begins with, in lower case, or "".
std::string LeadingMacro(const std::string &path) {
  if (path.empty() || path[0] != '#') return std::string();
  const size_t end = path.find('#', 1);
  return end == std::string::npos ? std::string() : LowerAscii(path.substr(1, end - 1));
}

// A folder of the system or of all users, by a macro that names one or by a full path in
// one of their trees.
bool IsMachineLocation(const std::string &path) {
  const std::string macro = LeadingMacro(path);
  if (!macro.empty()) {
    for (const char *m : kSharedMacros)
      if (macro == m) return true;
    return false;
  }
  const std::string s = LowerAscii(path) + "\\";
  if (s.size() < 4 || s[1] != ':' || s[2] != '\\') return false;
  for (const char *t : kMachineTrees)
    if (s.compare(3, strlen(t) + 1, std::string(t) + "\\") == 0) return true;
  return false;
}

bool IsUserMacro(const std::string &path) {
  const std::string macro = LeadingMacro(path);
  for (const char *m : kUserMacros)
    if (macro == m) return true;
  return false;
}

// A command line split as a person means it: the program and its arguments.
void SplitCommand(const std::string &c, std::string *program, std::string *args) {
  size_t cut = std::string::npos;
  if (!c.empty() && c[0] == '"') {
    const size_t close = c.find('"', 1);
    *program = c.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    cut = close == std::string::npos ? c.size() : close + 1;
  } else {
    const std::string l = LowerAscii(c);
    for (const char *ext : {".exe ", ".com ", ".bat ", ".cmd "}) {
      const size_t at = l.find(ext);
      if (at != std::string::npos && at + 4 < cut) cut = at + 4;
    }
    for (const char *sw : {" /", " -"}) {
      const size_t at = c.find(sw);
      if (at != std::string::npos && at < cut) cut = at;
    }
    if (cut == std::string::npos) cut = c.size();
    *program = c.substr(0, cut);
  }
  const size_t from = c.find_first_not_of(' ', cut);
  *args = from == std::string::npos ? std::string() : c.substr(from);
}

// Why the pre-removal command cannot start as written, with the form that can, or "". Only
// a command that begins with a folder macro is split into program and arguments; any other
// is joined to the install folder whole, quotes and arguments included.
std::string PreRemovalProblem(const std::string &c) {
  size_t k = !c.empty() && c[0] == '"' ? 1 : 0;
  while (k < c.size() && c[k] == ' ') ++k;
  const bool macro = k < c.size() && c[k] == '#' && c.find('#', k + 1) != std::string::npos;
  std::string program, args;
  SplitCommand(c, &program, &args);
  const std::string quoted = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
  if (!macro) {
    const std::string inside = "\"#InstallDir#\\" + program + "\" " + args;
    if (IsAbsolute(program))
      return "a full path is joined to the install folder and cannot start: begin it with a "
             "folder macro, as in \"#Program Files#\\Vendor\\tool.exe\" /x";
    if (c[0] == '"' || !args.empty())
      return "a relative command is joined to the install folder with its quotes and "
             "arguments and cannot start: write " +
             (args.empty() ? "#InstallDir#\\" + program : inside);
    return std::string();
  }
  if (c[0] == '"') {
    const size_t close = c.find('"', 1);
    if (close == std::string::npos) return "the quote is never closed: write " + quoted;
    return std::string();
  }
  if (!args.empty())
    return "without quotes the arguments become part of the program's path: write " + quoted;
  return std::string();
}

class Checker {
 public:
  explicit Checker(const CheckInput &in) : in_(in), b_(*in.block), cp_(in.codePage) {}

  std::vector<Finding> Run() {
    Limits();
    Messages();
    for (size_t i = 0; i < b_.files.size(); ++i) File(i);
    FileOrder();
    for (size_t i = 0; i < b_.folders.size(); ++i) Folder(i);
    for (size_t i = 0; i < b_.registry.size(); ++i) Registry(i);
    for (size_t i = 0; i < b_.patterns.size(); ++i) Pattern(i);
    if (!b_.hasOptions)
      Error("no-options", "$.options",
            "the block has no options record, which the stub reads on every run");
    else
      Options();
    UninstallKey();
    if (in_.scope == Scope::kUser) UserScope();
    if (in_.scope == Scope::kMachine) MachineScope();
    return std::move(out_);
  }

 private:
  // Findings quote the block's texts; they are reported in UTF-8.
  void Error(const char *id, const std::string &where, const std::string &what) {
    out_.push_back({true, id, where, CodePageToUtf8(what, cp_), ""});
  }
  void Warn(const char *id, const std::string &where, const std::string &what) {
    out_.push_back({false, id, where, CodePageToUtf8(what, cp_), ""});
  }
  static std::string At(const char *list, size_t i) {
    return std::string("$.") + list + "[" + std::to_string(i) + "]";
  }

  void Limits() {
    std::string error;
    if (!ValidateBlock(b_, &error)) Error("reader-limit", "$", error);
  }

  void Messages() {
    const std::vector<std::string> &m = b_.messages;
    if (m.empty()) {
      Error("no-messages", "$.messages", "no message table: every box and button would be empty");
      return;
    }
    if (in_.fromManifest) {
      for (const std::string &role : in_.missingRoles)
        Error("message-missing", "$.messages." + role, "message missing");
    } else {
      for (size_t i = m.size(); i < MSG_COUNT; ++i)
        Error("message-missing", "$.messages." + std::string(kMessageRoles[i]),
              "message missing from the table");
    }
    for (size_t i = 0; i < m.size() && i < MSG_COUNT; ++i) {
      const std::string where = "$.messages." + std::string(kMessageRoles[i]);
      const bool composed = i >= MSG_OUT_OF_MEMORY && i <= MSG_SHARED_FILE;
      if (m[i].empty()) {
        if (i == MSG_READ_ONLY_FILE)
          Warn("question-skipped", where, "empty: read-only files are deleted without asking");
        else if (i == MSG_SHARED_FILE)
          Warn("question-skipped", where, "empty: shared components are removed without asking");
        continue;
      }
      if (composed) Composed(m[i], where);
      if (m[i].size() > kComposedMax - 1)
        Warn("message-too-long", where, "longer than 1023 characters: the stub cuts it short");
    }
  }

  // A composed text goes through wsprintfA: any conversion but one %s reads garbage.
  void Composed(const std::string &text, const std::string &where) {
    if (text.find("%s") == std::string::npos) return;
    int strings = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '%') continue;
      const char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if (next == '%') {
        ++i;
      } else if (next == 's') {
        ++strings;
        ++i;
      } else {
        Error("bad-format", where,
              "a '%' that is neither %s nor %%: the stub would format garbage");
        return;
      }
    }
    if (strings > 1) Error("bad-format", where, "more than one %s: the stub has one argument");
  }

  // A path's form, reported once at `where`; true when something was reported.
  bool Form(const std::string &where, const std::string &path, bool installRelative = false) {
    const std::string problem = FormProblem(path, installRelative, cp_);
    if (!problem.empty()) Warn("path-form", where, problem);
    return !problem.empty();
  }

  void Options() {
    const blockfmt::Options &o = b_.options;
    if (!o.preRemoval.empty()) {
      const std::string problem = PreRemovalProblem(o.preRemoval);
      if (!problem.empty()) Warn("pre-removal-command", "$.options.preRemoval", problem);
    }
    const std::string &d = o.closingDocument;
    const size_t colon = d.find(':');
    const bool address = colon != std::string::npos && colon > 1 &&
                         std::min(FindInText(d, "\\", cp_), d.find_first_of("/#")) >
                             colon;  // "https:", "mailto:", ...
    if (d.empty() || address) return;
    if (!IsAbsolute(d))
      Warn("closing-document-relative", "$.options.closingDocument",
           d.find('#') != std::string::npos
               ? "folder macros are not expanded here: give a full path or a web address"
               : "a relative path is opened from whatever folder is current by then, not the "
                 "install folder: give a full path or a web address");
    else
      Form("$.options.closingDocument", d);
  }

  // Deployment tools and the list of programs find the product by its uninstall entry;
  // the uninstaller should take it away.
  void UninstallKey() {
    const std::string prefix = LowerAscii(kUninstallKey) + "\\";
    for (const RegistryItem &r : b_.registry) {
      const std::string p = LowerAscii(r.path);
      if ((r.root == ROOT_HKLM || r.root == ROOT_HKCU) && p.rfind(prefix, 0) == 0 &&
          p.size() > prefix.size())
        return;
    }
    Warn("no-uninstall-entry", "$.uninstallEntry",
         "no uninstall entry and no key below " + std::string(kUninstallKey) +
             " removed: the product would stay in the list of installed programs");
  }

  // A per-user uninstaller runs at the level of the user who starts it: what all users
  // share is not that user's to remove, and the system refuses it.
  void UserScope() {
    const std::string why =
        ": a per-user product's uninstaller runs with the user's rights and cannot remove it "
        "(make the product per-machine, scope \"machine\", or keep it out of the manifest)";
    for (size_t i = 0; i < b_.files.size(); ++i) {
      const FileItem &f = b_.files[i];
      if (f.flags & (FE_SHARED | FE_FONT | FE_SELFREG))
        Error("user-scope-machine-wide", At("files", i) + ".flags",
              "shared, font and selfRegister entries are registered for the whole machine" + why);
      else if (IsMachineLocation(f.folder))
        Error("user-scope-machine-location", At("files", i) + ".folder",
              f.folder + " is a folder of the system or all users" + why);
    }
    for (size_t i = 0; i < b_.folders.size(); ++i) {
      const FolderItem &f = b_.folders[i];
      for (const auto &[path, name] :
           {std::pair(&f.folder, "folder"), std::pair(&f.secondFolder, "secondFolder")})
        if (IsMachineLocation(*path))
          Error("user-scope-machine-location", At("folders", i) + "." + name,
                *path + " is a folder of the system or all users" + why);
    }
    for (size_t i = 0; i < b_.patterns.size(); ++i)
      if (IsMachineLocation(b_.patterns[i]))
        Error("user-scope-machine-location", At("patterns", i),
              b_.patterns[i] + " lies in a folder of the system or all users" + why);
    for (size_t i = 0; i < b_.registry.size(); ++i) {
      const uint32_t root = b_.registry[i].root;
      if (root == ROOT_HKLM || root == ROOT_HKCR || root == ROOT_HKU)
        Error("user-scope-machine-key", At("registry", i) + ".root",
              RootName(root) + " holds keys of the machine or of all users" + why);
    }
  }

  // A per-machine uninstaller runs as an administrator. When a standard user starts it, the
  // system runs it as the administrator who elevates it: the per-user locations are then
  // that account's.
  void MachineScope() {
    const std::string what =
        " in a per-machine product: an elevated run by another account (a standard user's "
        "uninstaller runs as the administrator who elevates it) removes that account's, not "
        "the installing user's";
    for (size_t i = 0; i < b_.registry.size(); ++i)
      if (b_.registry[i].root == ROOT_HKCU)
        Warn("machine-scope-user-location", At("registry", i) + ".root", "HKCU" + what);
    for (size_t i = 0; i < b_.patterns.size(); ++i)
      if (IsUserMacro(b_.patterns[i]))
        Warn("machine-scope-user-location", At("patterns", i),
             "#" + LeadingMacro(b_.patterns[i]) + "#" + what);
    const std::string &c = b_.options.preRemoval;
    const size_t start = c.find_first_not_of("\" ");
    const std::string command = start == std::string::npos ? std::string() : c.substr(start);
    if (IsUserMacro(command))
      Warn("machine-scope-user-location", "$.options.preRemoval",
           "#" + LeadingMacro(command) + "#" + what);
  }

  void File(size_t i) {
    const FileItem &f = b_.files[i];
    const std::string where = At("files", i);
    Form(where + ".folder", f.folder, true);
    Form(where + ".name", f.name);
    if (!f.name.empty() && IsPlatformFile(f.name) && !blockfmt::InstallSubfolder(f.folder.c_str()))
      Warn("platform-file", where + ".name", "\"" + f.name + "\" is a file of the platform itself");
    else if (!f.name.empty() && IsWindowsOrSystem(f.folder, cp_) && !(f.flags & FE_SHARED))
      Warn("file-in-system-folder", where,
           "a file in the Windows or System folder that is not a shared component: it "
           "belongs to the platform or to other products");
    // The flags that have the stub act on what the file holds, with its rights.
    if ((f.flags & (FE_SELFREG | FE_FONT)) && IsUserWritable(f.folder, cp_))
      Warn("flag-in-user-writable-folder", where + ".flags",
           std::string(f.flags & FE_SELFREG ? "selfRegister" : "font") +
               " in a folder that users may write: a file planted there would be taken as the "
               "product's, with the uninstaller's rights (a library run, a font's registration "
               "looked up and the font unloaded)");
    if (JoinedLength(f.folder, f.name, kMinInstallDir) > kMaxJoined)
      Error("path-too-long", where,
            "path longer than 259 characters once joined: the stub skips it");
    const bool relative = blockfmt::InstallSubfolder(f.folder.c_str()) != nullptr;
    if (relative && f.folder.size() > 1 && f.folder[1] != '\\')
      Warn("dot-folder-text", where,
           "folder text after the dot is ignored unless it starts with a backslash");
    if (!relative && !IsAbsolute(f.folder))
      Warn("not-a-full-path", where, "folder is neither install-relative (\".\") nor a full path");
    if ((f.flags & FE_SHARED) && (relative || !IsAbsolute(f.folder)))
      Warn("shared-not-full-path", where,
           "shared file without a full path: its use count is kept by full path");
    if (f.name.empty() && !relative) {
      const std::string d = Dangerous(f.folder, cp_);
      if (!d.empty()) Warn("dangerous-folder", where, "removes the folder itself, which " + d);
    }
    if (f.name.find_first_of("*?") != std::string::npos)
      Warn("wildcard-in-name", where, "wildcards in a file name are not expanded: use patterns");
  }

  // The file pass walks its list from the end: a folder entry (an empty name) listed after
  // entries inside its folder is tried while they are still there, and stays.
  void FileOrder() {
    std::vector<std::string> folders;  // each entry's folder as the pass builds it
    for (const FileItem &f : b_.files) {
      std::string d = f.folder;
      // The install folder itself is "." however the entry spells it.
      if (const char *below = blockfmt::InstallSubfolder(d.c_str()))
        d = below[0] ? ".\\" + std::string(below) : ".";
      folders.push_back(LowerAscii(StripTrailing(d, cp_)));
    }
    for (size_t i = 0; i < b_.files.size(); ++i) {
      if (!b_.files[i].name.empty()) continue;
      const std::string &d = folders[i];
      for (size_t j = 0; j < i; ++j) {
        const std::string &inner = folders[j];
        const bool below = inner.size() > d.size() && inner.compare(0, d.size(), d) == 0 &&
                           FindInText(inner, "\\", cp_, d.size()) == d.size();
        if (below || (inner == d && !b_.files[j].name.empty())) {
          Warn("folder-after-contents", At("files", i),
               "removes its folder before " + At("files", j) +
                   " inside it is deleted (the file pass runs the list from its end), so the "
                   "folder stays: list the folder before what it holds");
          break;
        }
      }
    }
  }

  void Folder(size_t i) {
    const FolderItem &f = b_.folders[i];
    const std::string where = At("folders", i);
    const std::string *paths[2] = {&f.folder, &f.secondFolder};
    const char *names[2] = {"folder", "secondFolder"};
    for (int k = 0; k < 2; ++k) {
      const std::string &p = *paths[k];
      if (p.empty()) continue;
      const std::string w = where + "." + names[k];
      Form(w, p);
      if (p.size() > kMaxJoined)
        Error("path-too-long", w, "longer than 259 characters: the stub skips it");
      if (p.find('#') != std::string::npos)
        Warn("macro-not-expanded", w,
             "folder entries do not expand macros: the path is used as written");
      else if (!IsAbsolute(p))
        Warn("not-a-full-path", w, "not a full path");
      std::string d = Dangerous(p, cp_);
      if (!d.empty()) {
        Warn("dangerous-folder", w, "folder " + d);
        continue;
      }
      std::string up = p;
      for (unsigned l = 0; l < f.levels; ++l) {
        up = Parent(up, cp_);
        if (up.empty()) break;
        d = Dangerous(up, cp_);
        if (!d.empty()) {
          Warn("levels-climb", where + ".levels",
               std::to_string(f.levels) + " levels climb to " + up + ", which " + d);
          break;
        }
      }
    }
    Form(where + ".name", f.name);
    if (!f.name.empty() && !f.folder.empty() && f.folder.size() + 1 + f.name.size() > kMaxJoined)
      Error("path-too-long", where + ".name",
            "path longer than 259 characters once joined: the stub skips it");
  }

  void Registry(size_t i) {
    const RegistryItem &r = b_.registry[i];
    const std::string where = At("registry", i);
    if (RootName(r.root).empty())
      Warn("unknown-root", where + ".root",
           "not one of the predefined roots HKCR, HKCU, HKLM, HKU, HKCC");
    std::string key, value;
    bool hasValue;
    SplitRegistryPath(r.path, cp_, &key, &value, &hasValue);
    if (r.path.empty()) {
      Warn("empty-key", where + ".key", "empty: the entry is skipped");
      return;
    }
    std::string trimmed = key.substr(0, EndOfText(key, false, cp_));
    trimmed.erase(0, trimmed.find_first_not_of('\\'));
    if (FindInText(trimmed, "\\\\", cp_) != std::string::npos)
      Warn("doubled-backslash", where + ".key",
           "holds a doubled backslash: no key has an empty name");
    // A key removed only when empty takes nothing of anyone else's with it.
    const std::string platform =
        hasValue || r.onlyIfEmpty ? std::string() : PlatformKey(r.root, LowerAscii(trimmed), cp_);
    if (!platform.empty())
      Warn("shared-key", where + ".key",
           "removes " + RootName(r.root) + "\\" + trimmed + " with all its subkeys: " + platform);
    else if (trimmed.empty())
      Warn("empty-key", where + ".key",
           hasValue ? "a value directly in the root key" : "empty key");
    else if (!hasValue && !r.onlyIfEmpty && FindInText(trimmed, "\\", cp_) == std::string::npos)
      Warn("key-below-root", where + ".key",
           "key directly below the root: removes \"" + trimmed + "\" with all its subkeys");
  }

  // Why a key removal hurts the platform or every product, or "".
  static std::string PlatformKey(uint32_t root, const std::string &key, int cp) {
    const std::string uninstall = LowerAscii(kUninstallKey);
    if ((root == ROOT_HKLM || root == ROOT_HKCU) && key == uninstall)
      return "the entries of every installed product";
    // The first two levels below these keys belong to the platform and all products.
    const char *const machine[] = {"system", "software\\microsoft", "software\\classes"};
    std::vector<std::string> bases;
    if (root == ROOT_HKLM) bases.assign(std::begin(machine), std::end(machine));
    if (root == ROOT_HKCR) bases.push_back("");
    for (const std::string &base : bases) {
      if (!base.empty() && key != base && key.rfind(base + "\\", 0) != 0) continue;
      const std::string below = key.substr(std::min(key.size(), base.size() + !base.empty()));
      size_t levels = below.empty() ? 0 : 1;
      for (size_t at = 0; (at = FindInText(below, "\\", cp, at)) != std::string::npos; ++at)
        ++levels;
      if (levels <= 2) return "a key that the platform and other products share";
    }
    return std::string();
  }

  void Pattern(size_t i) {
    const std::string &p = b_.patterns[i];
    const std::string where = At("patterns", i);
    Form(where, p);
    // Without a macro the pass joins the pattern to the install folder.
    const size_t joined = p.size() + (p.find('#') == std::string::npos ? kMinInstallDir : 0);
    if (joined > kMaxJoined)
      Error("path-too-long", where, "longer than 259 characters once joined: the stub skips it");
    const size_t slash = FindLastInText(p, "\\", cp_);
    const std::string folder = slash == std::string::npos ? std::string() : p.substr(0, slash);
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    // Without a macro or a full path the folder lies below the install folder.
    if (slash != std::string::npos && (p[0] == '#' || IsAbsolute(p)) && IsProtected(folder, cp_)) {
      Warn("wildcard-protected-folder", where,
           "the folder " + (folder.empty() ? std::string("\\") : folder) +
               " is a system or shell folder, in which the uninstaller deletes nothing: name "
               "the product's own folder below it");
      return;
    }
    if (StartsWithNoCase(p, "#windows#") || StartsWithNoCase(p, "#system#")) {
      Warn("wildcard-in-windows", where,
           "a wildcard in the Windows or System folder: it matches files of the platform "
           "and of other products");
      return;
    }
    const bool all = name == "*.*" || name == "*";
    // Macros between '#' pairs; an unknown one expands to nothing and moves the path.
    size_t pos = 0;
    while ((pos = p.find('#', pos)) != std::string::npos) {
      const size_t end = p.find('#', pos + 1);
      if (end == std::string::npos) break;
      const std::string macro = LowerAscii(p.substr(pos + 1, end - pos - 1));
      if (!IsKnownMacro(macro))
        Warn("unknown-macro", where,
             "unknown macro #" + p.substr(pos + 1, end - pos - 1) + "# expands to nothing");
      pos = end + 1;
    }
    if (folder.empty() || folder.find('#') == std::string::npos) {
      const std::string d = Dangerous(folder, cp_);
      if (!d.empty()) Warn("dangerous-folder", where, "wildcard folder " + d);
      return;
    }
    // A macro folder on its own, with nothing below it.
    if (folder.front() == '#' && folder.back() == '#' && folder.find('#', 1) == folder.size() - 1) {
      const std::string macro = LowerAscii(folder.substr(1, folder.size() - 2));
      bool shared = false;
      for (const char *s : kSharedMacros) shared = shared || macro == s;
      if (all && shared)
        Warn("wildcard-shared-folder", where,
             "\"" + name + "\" on " + folder + ", a folder that all users share");
      else if (shared || macro != "installdir")
        Warn("wildcard-shell-folder", where,
             "wildcard directly in " + folder + ", a system or shell folder");
    }
  }

  const CheckInput &in_;
  const Block &b_;
  const int cp_;
  std::vector<Finding> out_;
};

}  // namespace

bool IsKnownMacro(const std::string &name) {
  for (const char *k : kKnownMacros)
    if (LowerAscii(name) == k) return true;
  return false;
}

size_t JoinedLength(const std::string &folder, const std::string &name, size_t installDirLength) {
  size_t len = folder.size();
  if (const char *below = blockfmt::InstallSubfolder(folder.c_str()))
    len = installDirLength + strlen(below);
  return len + (name.empty() ? 0 : 1) + name.size();
}

Scope ScopeOfEntry(const UninstallEntry &e) {
  if (!e.given) return Scope::kUnknown;
  return e.perUser ? Scope::kUser : Scope::kMachine;
}

namespace {

// Whether a finding at `where` belongs to the entry at `owner`: the entry itself or a part
// of it; the document ("$") owns what lies outside the four lists.
bool Owns(const std::string &owner, const std::string &where) {
  if (owner == "$") {
    for (const char *list : {"$.files[", "$.folders[", "$.registry[", "$.patterns["})
      if (where.rfind(list, 0) == 0) return false;
    return true;
  }
  return where == owner || where.rfind(owner + ".", 0) == 0;
}

}  // namespace

std::vector<Finding> CheckBlock(const CheckInput &input) {
  std::vector<Finding> findings = Checker(input).Run();
  // An accept that names nothing here is reported, so that it cannot outlive its reason
  // and hide a later warning of the same kind.
  for (const Accept &a : input.accepts) {
    bool used = false;
    for (Finding &f : findings) {
      if (f.error || f.id != a.finding || !Owns(a.owner, f.where)) continue;
      f.acceptedWhy = a.why;
      used = true;
    }
    if (!used)
      findings.push_back(
          {false, "accept-unused", a.where,
           "accepts \"" + a.finding + "\", which no warning of " + a.owner + " has: remove it",
           ""});
  }
  return findings;
}

}  // namespace tallowin
