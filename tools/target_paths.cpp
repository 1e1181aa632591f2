// The uninstaller expands no macro in the folders of its file and folder lists: a manifest
// that names one is packed on the target, where the uninstaller's own expansion runs.
#include "target_paths.h"

#include <optional>
#include <vector>

#include "check.h"
#include "codepage.h"

#ifdef _WIN32
#include "app/run.h"
#include "file_io.h"
#include "paths/paths.h"
#include "state/state.h"
#endif

namespace tallowin {

namespace {

// The '#' pairs of a text, paired as the uninstaller pairs them; true when one is a macro
// it resolves. The first pair that is none goes to *unknown.
bool HoldsMacro(const std::string &text, int cp, std::vector<std::string> *macros,
                std::string *unknown) {
  for (size_t at = FindInText(text, "#", cp); at != std::string::npos;) {
    const size_t close = FindInText(text, "#", cp, at + 1);
    if (close == std::string::npos) break;
    const std::string macro = text.substr(at, close + 1 - at);
    if (IsKnownMacro(macro.substr(1, macro.size() - 2)))
      macros->push_back(macro);
    else if (unknown->empty())
      *unknown = macro;
    at = FindInText(text, "#", cp, close + 1);
  }
  return !macros->empty();
}

#ifdef _WIN32

// The two fields of the uninstaller's state that its expansion reads, lent for the pack.
class TargetState {
 public:
  TargetState() : installDir_(g.installDir), isNT_(g.isNT) {
    DetectOsFamily();
    g.installDir = dir_;
  }
  ~TargetState() {
    g.installDir = installDir_;
    g.isNT = isNT_;
  }
  TargetState(const TargetState &) = delete;
  TargetState &operator=(const TargetState &) = delete;
  char *dir() { return dir_; }

 private:
  char *installDir_;
  DWORD isNT_;
  char dir_[kPathBuf] = "";
};

// The folder of exePath with its backslash, in the code page, as the uninstaller there
// takes its own folder.
bool InstallDir(const std::string &exePath, int cp, char *dir, Fault *fault) {
  const std::wstring wide = Utf8ToWide(exePath);
  std::wstring full(32768, L'\0');
  const DWORD n = wide.empty() ? 0 : GetFullPathNameW(wide.c_str(), 32768, &full[0], nullptr);
  full.resize(n < 32768 ? n : 0);
  const size_t slash = full.rfind(L'\\');
  std::string utf8, text, why;
  if (slash == std::wstring::npos || !WideToUtf8(full.substr(0, slash + 1), &utf8))
    return Fail(fault, "", "no full path for the output");
  if (!Utf8ToCodePage(utf8, cp, &text, &why)) return Fail(fault, "", "the output's folder: " + why);
  if (!CopyBounded(dir, kPathBuf, text.c_str()))
    return Fail(fault, "", "the output's folder is longer than 259 characters");
  return true;
}

bool Expand(std::string *text, const std::vector<std::string> &macros, const std::string &where,
            Fault *fault) {
  for (const std::string &macro : macros) {
    char one[kPathBuf];
    if (!CopyBounded(one, kPathBuf, macro.c_str()))
      return Fail(fault, where, "macro longer than a path");
    ResolveFolderMacro(one);
    if (macro == one) return Fail(fault, where, macro + " cannot be resolved on this machine");
  }
  char out[kPathBuf];
  if (ExpandFolderMacros(out, text->c_str(), kPathBuf) >= kPathBuf)
    return Fail(fault, where, "longer than 259 characters once expanded on this machine");
  *text = out;
  return true;
}

#endif

}  // namespace

bool ResolveEntryMacros(Manifest *m, const std::string *exePath, bool stub64, Fault *fault) {
  std::vector<std::pair<std::string, std::string *>> fields;
  for (size_t i = 0; i < m->block.files.size(); ++i)
    fields.push_back({"$.files[" + std::to_string(i) + "].folder", &m->block.files[i].folder});
  for (size_t i = 0; i < m->block.folders.size(); ++i) {
    const std::string at = "$.folders[" + std::to_string(i) + "].";
    fields.push_back({at + "folder", &m->block.folders[i].folder});
    fields.push_back({at + "secondFolder", &m->block.folders[i].secondFolder});
  }
#ifdef _WIN32
  std::optional<TargetState> target;
#endif
  for (const auto &[where, text] : fields) {
    std::vector<std::string> macros;
    std::string unknown;
    if (!HoldsMacro(*text, m->codePage, &macros, &unknown)) continue;
    if (!unknown.empty())
      return Fail(
          fault, where,
          "unknown macro " + CodePageToUtf8(unknown, m->codePage) + " would expand to nothing");
    if (!exePath)
      return Fail(fault, where,
                  "folder macros in file and folder entries are expanded only when packing on "
                  "the target machine: run the Windows tool there with pack --on-target");
#ifdef _WIN32
    if (stub64 != (sizeof(void *) == 8))
      return Fail(fault, where,
                  std::string("the stub is the ") + (stub64 ? "64" : "32") +
                      "-bit build, which sees other folders than this tool: pack it with the " +
                      (stub64 ? "64" : "32") + "-bit tallowin.exe");
    // The expansion works in the system's ANSI code page, as the uninstaller's does.
    if (static_cast<int>(GetACP()) != m->codePage)
      return Fail(fault, "$.codePage",
                  "this machine's ANSI code page is " + std::to_string(GetACP()) +
                      ": packing on the target needs the manifest in that code page");
    if (!target && !InstallDir(*exePath, m->codePage, target.emplace().dir(), fault)) return false;
    if (!Expand(text, macros, where, fault)) return false;
#else
    (void)stub64;
    return Fail(fault, where, "only the Windows tool packs on the target machine");
#endif
  }
  return true;
}

}  // namespace tallowin
