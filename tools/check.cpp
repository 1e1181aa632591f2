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

std::string Lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
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
  const std::string s = Lower(StripTrailing(raw, cp));
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
  const std::string s = Lower(StripTrailing(folder, cp));
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
  const std::string n = Lower(name);
  for (const char *f : kFiles)
    if (n == f) return true;
  return false;
}

// Folders a standard user may write, where a planted library would be loaded with the
// uninstaller's rights.
bool IsUserWritable(const std::string &folder, int cp) {
  const std::string s = Lower(folder) + "\\";
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
  if (installRelative && !p.empty() && p[0] == '.')
    start = p.size() >= 2 && p[1] == '\\' ? 2 : p.size();
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
  return Lower(s.substr(0, strlen(prefix))) == prefix;
}

// A command line split as a person means it: the program and its arguments.
void SplitCommand(const std::string &c, std::string *program, std::string *args) {
  size_t cut = std::string::npos;
  if (!c.empty() && c[0] == '"') {
    const size_t close = c.find('"', 1);
    *program = c.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    cut = close == std::string::npos ? c.size() : close + 1;
  } else {
    const std::string l = Lower(c);
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
    for (size_t i = 0; i < b_.folders.size(); ++i) Folder(i);
    for (size_t i = 0; i < b_.registry.size(); ++i) Registry(i);
    for (size_t i = 0; i < b_.patterns.size(); ++i) Pattern(i);
    if (!b_.hasOptions)
      Error("$.options", "the block has no options record, which the stub reads on every run");
    else
      Options();
    UninstallKey();
    return std::move(out_);
  }

 private:
  // Findings quote the block's texts; they are reported in UTF-8.
  void Error(const std::string &where, const std::string &what) {
    out_.push_back({true, where, CodePageToUtf8(what, cp_)});
  }
  void Warn(const std::string &where, const std::string &what) {
    out_.push_back({false, where, CodePageToUtf8(what, cp_)});
  }
  static std::string At(const char *list, size_t i) {
    return std::string("$.") + list + "[" + std::to_string(i) + "]";
  }

  void Limits() {
    std::string error;
    if (!ValidateBlock(b_, &error)) Error("$", error);
  }

  void Messages() {
    const std::vector<std::string> &m = b_.messages;
    if (m.empty()) {
      Error("$.messages", "no message table: every box and button would be empty");
      return;
    }
    if (in_.fromManifest) {
      for (const std::string &role : in_.missingRoles)
        Error("$.messages." + role, "message missing");
    } else {
      for (size_t i = m.size(); i < MSG_COUNT; ++i)
        Error("$.messages." + std::string(kMessageRoles[i]), "message missing from the table");
    }
    for (size_t i = 0; i < m.size() && i < MSG_COUNT; ++i) {
      const std::string where = "$.messages." + std::string(kMessageRoles[i]);
      const bool composed = i >= MSG_OUT_OF_MEMORY && i <= MSG_SHARED_FILE;
      if (m[i].empty()) {
        if (i == MSG_READ_ONLY_FILE)
          Warn(where, "empty: read-only files are deleted without asking");
        else if (i == MSG_SHARED_FILE)
          Warn(where, "empty: shared components are removed without asking");
        continue;
      }
      if (composed) Composed(m[i], where);
      if (m[i].size() > kComposedMax - 1)
        Warn(where, "longer than 1023 characters: the stub cuts it short");
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
        Error(where, "a '%' that is neither %s nor %%: the stub would format garbage");
        return;
      }
    }
    if (strings > 1) Error(where, "more than one %s: the stub has one argument");
  }

  // A path's form, reported once at `where`; true when something was reported.
  bool Form(const std::string &where, const std::string &path, bool installRelative = false) {
    const std::string problem = FormProblem(path, installRelative, cp_);
    if (!problem.empty()) Warn(where, problem);
    return !problem.empty();
  }

  void Options() {
    const blockfmt::Options &o = b_.options;
    if (!o.preRemoval.empty()) {
      const std::string problem = PreRemovalProblem(o.preRemoval);
      if (!problem.empty()) Warn("$.options.preRemoval", problem);
    }
    const std::string &d = o.closingDocument;
    const size_t colon = d.find(':');
    const bool address = colon != std::string::npos && colon > 1 &&
                         std::min(FindInText(d, "\\", cp_), d.find_first_of("/#")) >
                             colon;  // "https:", "mailto:", ...
    if (d.empty() || address) return;
    if (!IsAbsolute(d))
      Warn("$.options.closingDocument",
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
    const std::string prefix = Lower(kUninstallKey) + "\\";
    for (const RegistryItem &r : b_.registry) {
      const std::string p = Lower(r.path);
      if ((r.root == ROOT_HKLM || r.root == ROOT_HKCU) && p.rfind(prefix, 0) == 0 &&
          p.size() > prefix.size())
        return;
    }
    Warn("$.uninstallEntry",
         "no uninstall entry and no key below " + std::string(kUninstallKey) +
             " removed: the product would stay in the list of installed programs");
  }

  void File(size_t i) {
    const FileItem &f = b_.files[i];
    const std::string where = At("files", i);
    Form(where + ".folder", f.folder, true);
    Form(where + ".name", f.name);
    if (!f.name.empty() && IsPlatformFile(f.name) && !(f.folder.size() && f.folder[0] == '.'))
      Warn(where + ".name", "\"" + f.name + "\" is a file of the platform itself");
    else if (!f.name.empty() && IsWindowsOrSystem(f.folder, cp_) && !(f.flags & FE_SHARED))
      Warn(where,
           "a file in the Windows or System folder that is not a shared component: it "
           "belongs to the platform or to other products");
    // The flags that have the stub act on what the file holds, with its rights.
    if ((f.flags & (FE_SELFREG | FE_FONT)) && IsUserWritable(f.folder, cp_))
      Warn(where + ".flags",
           std::string(f.flags & FE_SELFREG ? "selfRegister" : "font") +
               " in a folder that users may write: a file planted there would be taken as the "
               "product's, with the uninstaller's rights (a library run, a font's registration "
               "looked up and the font unloaded)");
    if (JoinedLength(f.folder, f.name, kMinInstallDir) > kMaxJoined)
      Error(where, "path longer than 259 characters once joined: the stub skips it");
    const bool relative = !f.folder.empty() && f.folder[0] == '.';
    if (relative && f.folder.size() > 1 && f.folder[1] != '\\')
      Warn(where, "folder text after the dot is ignored unless it starts with a backslash");
    if (!relative && !IsAbsolute(f.folder))
      Warn(where, "folder is neither install-relative (\".\") nor a full path");
    if ((f.flags & FE_SHARED) && (relative || !IsAbsolute(f.folder)))
      Warn(where, "shared file without a full path: its use count is kept by full path");
    if (f.name.empty() && !relative) {
      const std::string d = Dangerous(f.folder, cp_);
      if (!d.empty()) Warn(where, "removes the folder itself, which " + d);
    }
    if (f.name.find_first_of("*?") != std::string::npos)
      Warn(where, "wildcards in a file name are not expanded: use patterns");
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
      if (p.size() > kMaxJoined) Error(w, "longer than 259 characters: the stub skips it");
      if (p.find('#') != std::string::npos)
        Warn(w, "folder entries do not expand macros: the path is used as written");
      else if (!IsAbsolute(p))
        Warn(w, "not a full path");
      std::string d = Dangerous(p, cp_);
      if (!d.empty()) {
        Warn(w, "folder " + d);
        continue;
      }
      std::string up = p;
      for (unsigned l = 0; l < f.levels; ++l) {
        up = Parent(up, cp_);
        if (up.empty()) break;
        d = Dangerous(up, cp_);
        if (!d.empty()) {
          Warn(where + ".levels",
               std::to_string(f.levels) + " levels climb to " + up + ", which " + d);
          break;
        }
      }
    }
    Form(where + ".name", f.name);
    if (!f.name.empty() && !f.folder.empty() && f.folder.size() + 1 + f.name.size() > kMaxJoined)
      Error(where + ".name", "path longer than 259 characters once joined: the stub skips it");
  }

  void Registry(size_t i) {
    const RegistryItem &r = b_.registry[i];
    const std::string where = At("registry", i);
    if (RootName(r.root).empty())
      Warn(where + ".root", "not one of the predefined roots HKCR, HKCU, HKLM, HKU, HKCC");
    std::string key, value;
    bool hasValue;
    SplitRegistryPath(r.path, cp_, &key, &value, &hasValue);
    if (r.path.empty()) {
      Warn(where + ".key", "empty: the entry is skipped");
      return;
    }
    std::string trimmed = key.substr(0, EndOfText(key, false, cp_));
    trimmed.erase(0, trimmed.find_first_not_of('\\'));
    if (FindInText(trimmed, "\\\\", cp_) != std::string::npos)
      Warn(where + ".key", "holds a doubled backslash: no key has an empty name");
    const std::string platform =
        hasValue ? std::string() : PlatformKey(r.root, Lower(trimmed), cp_);
    if (!platform.empty())
      Warn(where + ".key",
           "removes " + RootName(r.root) + "\\" + trimmed + " with all its subkeys: " + platform);
    else if (trimmed.empty())
      Warn(where + ".key", hasValue ? "a value directly in the root key" : "empty key");
    else if (!hasValue && FindInText(trimmed, "\\", cp_) == std::string::npos)
      Warn(where + ".key",
           "key directly below the root: removes \"" + trimmed + "\" with all its subkeys");
  }

  // Why a key removal hurts the platform or every product, or "".
  static std::string PlatformKey(uint32_t root, const std::string &key, int cp) {
    const std::string uninstall = Lower(kUninstallKey);
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
    if (StartsWithNoCase(p, "#windows#") || StartsWithNoCase(p, "#system#")) {
      Warn(where,
           "a wildcard in the Windows or System folder: it matches files of the platform "
           "and of other products");
      return;
    }
    // Without a macro the pass joins the pattern to the install folder.
    const size_t joined = p.size() + (p.find('#') == std::string::npos ? kMinInstallDir : 0);
    if (joined > kMaxJoined)
      Error(where, "longer than 259 characters once joined: the stub skips it");
    const size_t slash = FindLastInText(p, "\\", cp_);
    const std::string folder = slash == std::string::npos ? std::string() : p.substr(0, slash);
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    const bool all = name == "*.*" || name == "*";
    // Macros between '#' pairs; an unknown one expands to nothing and moves the path.
    size_t pos = 0;
    while ((pos = p.find('#', pos)) != std::string::npos) {
      const size_t end = p.find('#', pos + 1);
      if (end == std::string::npos) break;
      const std::string macro = Lower(p.substr(pos + 1, end - pos - 1));
      if (!IsKnownMacro(macro))
        Warn(where, "unknown macro #" + p.substr(pos + 1, end - pos - 1) + "# expands to nothing");
      pos = end + 1;
    }
    if (folder.empty() || folder.find('#') == std::string::npos) {
      const std::string d = Dangerous(folder, cp_);
      if (!d.empty()) Warn(where, "wildcard folder " + d);
      return;
    }
    // A macro folder on its own, with nothing below it.
    if (folder.front() == '#' && folder.back() == '#' && folder.find('#', 1) == folder.size() - 1) {
      const std::string macro = Lower(folder.substr(1, folder.size() - 2));
      bool shared = false;
      for (const char *s : kSharedMacros) shared = shared || macro == s;
      if (all && shared)
        Warn(where, "\"" + name + "\" on " + folder + ", a folder that all users share");
      else if (shared || macro != "installdir")
        Warn(where, "wildcard directly in " + folder + ", a system or shell folder");
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
    if (Lower(name) == k) return true;
  return false;
}

size_t JoinedLength(const std::string &folder, const std::string &name, size_t installDirLength) {
  size_t len = folder.size();
  if (!folder.empty() && folder[0] == '.') {
    len = installDirLength + (folder.size() >= 2 && folder[1] == '\\' ? folder.size() - 2 : 0);
  }
  return len + (name.empty() ? 0 : 1) + name.size();
}

std::vector<Finding> CheckBlock(const CheckInput &input) { return Checker(input).Run(); }

}  // namespace tallowin
