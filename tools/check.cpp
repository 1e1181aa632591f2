// Checks of a block against the stub's limits and against removals that hurt the system.
#include "check.h"

#include <ctype.h>

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

std::string StripTrailing(std::string s) {
  while (s.size() > 3 && (s.back() == '\\' || s.back() == '/')) s.pop_back();
  return s;
}

bool IsDriveRoot(const std::string &raw) {
  const std::string s = StripTrailing(raw);
  if (s.empty()) return false;
  if (s.size() <= 3 && isalpha(static_cast<unsigned char>(s[0])) && s.size() >= 2 && s[1] == ':')
    return true;
  if (s == "\\" || s == "/") return true;
  // \\server\share is the root of a network drive.
  if (s.size() > 2 && s[0] == '\\' && s[1] == '\\') {
    const size_t slash = s.find('\\', 2);
    return slash == std::string::npos || s.find('\\', slash + 1) == std::string::npos;
  }
  return false;
}

bool IsSystemFolder(const std::string &raw) {
  const std::string s = Lower(StripTrailing(raw));
  if (s.size() < 4 || s[1] != ':' || s[2] != '\\') return false;
  const std::string rest = s.substr(3);
  for (const char *f : kSystemFolders)
    if (rest == f) return true;
  return false;
}

// "folder is a drive root" / "... a system folder", or "".
std::string Dangerous(const std::string &folder) {
  if (IsDriveRoot(folder)) return "is a drive root";
  if (IsSystemFolder(folder)) return "is a system folder";
  return std::string();
}

bool IsAbsolute(const std::string &p) {
  return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
         (p.size() >= 2 && p[0] == '\\' && p[1] == '\\');
}

std::string Parent(const std::string &p) {
  const std::string s = StripTrailing(p);
  const size_t slash = s.rfind('\\');
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && s[1] == ':') return s.substr(0, 3);
  return s.substr(0, slash);
}

// The length of the path the file pass builds for a folder and a name, counting the
// shortest install folder for a folder that starts with a dot (whose text after the dot
// is used only after a backslash).
size_t JoinedLength(const std::string &folder, const std::string &name) {
  size_t len = folder.size();
  if (!folder.empty() && folder[0] == '.') {
    len = kMinInstallDir + (folder.size() >= 2 && folder[1] == '\\' ? folder.size() - 2 : 0);
  }
  return len + (name.empty() ? 0 : 1) + name.size();
}

class Checker {
 public:
  explicit Checker(const CheckInput &in) : in_(in), b_(*in.block) {}

  std::vector<Finding> Run() {
    Limits();
    Messages();
    for (size_t i = 0; i < b_.files.size(); ++i) File(i);
    for (size_t i = 0; i < b_.folders.size(); ++i) Folder(i);
    for (size_t i = 0; i < b_.registry.size(); ++i) Registry(i);
    for (size_t i = 0; i < b_.patterns.size(); ++i) Pattern(i);
    if (!b_.hasOptions)
      Error("$.options", "the block has no options record, which the stub reads on every run");
    return std::move(out_);
  }

 private:
  void Error(const std::string &where, const std::string &what) {
    out_.push_back({true, where, what});
  }
  void Warn(const std::string &where, const std::string &what) {
    out_.push_back({false, where, what});
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

  void File(size_t i) {
    const FileItem &f = b_.files[i];
    const std::string where = At("files", i);
    if (JoinedLength(f.folder, f.name) > kMaxJoined)
      Error(where, "path longer than 259 characters once joined: the stub skips it");
    const bool relative = !f.folder.empty() && f.folder[0] == '.';
    if (relative && f.folder.size() > 1 && f.folder[1] != '\\')
      Warn(where, "folder text after the dot is ignored unless it starts with a backslash");
    if (!relative && !IsAbsolute(f.folder))
      Warn(where, "folder is neither install-relative (\".\") nor a full path");
    if ((f.flags & FE_SHARED) && (relative || !IsAbsolute(f.folder)))
      Warn(where, "shared file without a full path: its use count is kept by full path");
    if (f.name.empty() && !relative) {
      const std::string d = Dangerous(f.folder);
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
      if (p.size() > kMaxJoined) Error(w, "longer than 259 characters: the stub skips it");
      if (p.find('#') != std::string::npos)
        Warn(w, "folder entries do not expand macros: the path is used as written");
      else if (!IsAbsolute(p))
        Warn(w, "not a full path");
      std::string d = Dangerous(p);
      if (!d.empty()) {
        Warn(w, "folder " + d);
        continue;
      }
      std::string up = p;
      for (unsigned l = 0; l < f.levels; ++l) {
        up = Parent(up);
        if (up.empty()) break;
        d = Dangerous(up);
        if (!d.empty()) {
          Warn(where + ".levels",
               std::to_string(f.levels) + " levels climb to " + up + ", which " + d);
          break;
        }
      }
    }
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
    SplitRegistryPath(r.path, &key, &value, &hasValue);
    if (r.path.empty()) {
      Warn(where + ".key", "empty: the entry is skipped");
      return;
    }
    std::string trimmed = key;
    while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
    while (!trimmed.empty() && trimmed.front() == '\\') trimmed.erase(0, 1);
    if (trimmed.empty())
      Warn(where + ".key", hasValue ? "a value directly in the root key" : "empty key");
    else if (!hasValue && trimmed.find('\\') == std::string::npos)
      Warn(where + ".key",
           "key directly below the root: removes \"" + trimmed + "\" with all its subkeys");
  }

  void Pattern(size_t i) {
    const std::string &p = b_.patterns[i];
    const std::string where = At("patterns", i);
    // Without a macro the pass joins the pattern to the install folder.
    const size_t joined = p.size() + (p.find('#') == std::string::npos ? kMinInstallDir : 0);
    if (joined > kMaxJoined)
      Error(where, "longer than 259 characters once joined: the stub skips it");
    const size_t slash = p.rfind('\\');
    const std::string folder = slash == std::string::npos ? std::string() : p.substr(0, slash);
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    const bool all = name == "*.*" || name == "*";
    // Macros between '#' pairs; an unknown one expands to nothing and moves the path.
    size_t pos = 0;
    while ((pos = p.find('#', pos)) != std::string::npos) {
      const size_t end = p.find('#', pos + 1);
      if (end == std::string::npos) break;
      const std::string macro = Lower(p.substr(pos + 1, end - pos - 1));
      bool known = false;
      for (const char *k : kKnownMacros) known = known || macro == k;
      if (!known)
        Warn(where, "unknown macro #" + p.substr(pos + 1, end - pos - 1) + "# expands to nothing");
      pos = end + 1;
    }
    if (folder.empty() || folder.find('#') == std::string::npos) {
      const std::string d = Dangerous(folder);
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
  std::vector<Finding> out_;
};

}  // namespace

std::vector<Finding> CheckBlock(const CheckInput &input) { return Checker(input).Run(); }

}  // namespace tallowin
