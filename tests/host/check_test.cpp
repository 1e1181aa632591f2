#include "check.h"

#include <gtest/gtest.h>

#include "manifest.h"

using namespace tallowin;
using Findings = std::vector<std::string>;

namespace {

// "error $.where" / "warning $.where" of each finding, for the manifest's block (less its
// options record when `options` is false, as a block may be); against the entry's scope
// when `scoped`.
Findings CheckJson(const std::string &json, bool options = true, bool scoped = false) {
  Manifest m;
  Fault fault;
  const Variables none;
  if (!ParseManifest(json, &m, &fault, &none)) return {"fault " + fault.Text()};
  m.block.hasOptions = options;
  CheckInput in;
  in.block = &m.block;
  in.codePage = m.codePage;
  in.fromManifest = m.messagesByRole;
  in.missingRoles = m.missingRoles;
  if (scoped) in.scope = ScopeOfEntry(m.uninstallEntry);
  in.accepts = m.accepts;
  Findings out;
  for (const Finding &f : CheckBlock(in))
    out.push_back((f.error                 ? "error "
                   : f.acceptedWhy.empty() ? "warning "
                                           : "accepted ") +
                  f.where);
  return out;
}

// A manifest with all messages ("text %s", or `text` for `role`), an uninstall entry of
// `scope` ("": none), options and `lists`.
std::string With(const std::string &lists, const std::string &role = "",
                 const std::string &text = "", const std::string &scope = "machine") {
  std::string s = R"({"messages": {)";
  for (unsigned i = 0; i < blockfmt::MSG_COUNT; ++i)
    s += std::string(i ? "," : "") + "\"" + kMessageRoles[i] + "\": \"" +
         (role == kMessageRoles[i] ? text : "text %s") + "\"";
  if (!scope.empty())
    s += R"(}, "uninstallEntry": {"id": "V", "displayName": "V", "displayVersion": "1",
        "publisher": "V", "scope": ")" +
         scope + "\"";
  return s + "}" + (lists.empty() ? "" : ", " + lists) + "}";
}

TEST(Check, FindingsOfManifests) {
  const struct {
    std::string json;
    Findings findings;
  } cases[] = {
      // A folder listed before what it holds; a wildcard below a protected folder; deep
      // enough below the shared keys, shared in the System folder, commands that start.
      {With(
           R"("files": [{"folder": ".\\plugins2", "name": "a"}, {"folder": ".\\plugins", "name": ""},
            {"folder": ".\\plugins", "name": "b"}, {"folder": ".\\plugins\\x", "name": "c"},
            {"folder": "C:\\Windows\\System32", "name": "v.dll", "flags": ["shared"]}],
            "folders": [{"folder": "C:\\Program Files\\V\\App", "levels": 1}],
            "registry": [{"root": "HKCU", "key": "Software\\V\\App"},
                         {"root": "HKLM", "key": "System\\CurrentControlSet\\Services\\V"}],
            "patterns": ["logs\\*.*", "#AppData#\\V\\*.*", "#InstallDir#\\*.tmp",
                         "#AppData#\\Microsoft\\Windows\\Start Menu\\Programs\\V\\*.lnk"],
            "options": {"preRemoval": "\"#InstallDir#\\stop.exe\" /q",
                        "closingDocument": "https://example.invalid/bye"})"),
       {}},
      // Acknowledged warnings, of an entry and of the document.
      {With(R"("patterns": [{"path": "#UserDir#\\Desktop\\*.lnk",
            "accept": [{"finding": "wildcard-protected-folder", "why": "older releases"}]}],
            "accept": [{"finding": "question-skipped", "why": "asked by the installer"}])",
            "readOnlyFile", ""),
       {"accepted $.messages.readOnlyFile", "accepted $.patterns[0]"}},
      {With(R"("registry": [{"root": "HKCU", "key": "A", "accept": [{"finding": "shared-key",
            "why": "w"}]}])"),
       {"warning $.registry[0].key", "warning $.registry[0].accept[0]"}},
      {"{}", {"error $.messages", "warning $.uninstallEntry"}},
      {With(R"("registry": [{"root": "HKCU", "key": ")" + std::string(520, 'k') + R"("}])"),
       {"error $", "warning $.registry[0].key"}},
      // A composed text goes through a formatter with one string argument.
      {With("", "readOnlyFile", "%s is %d%% done"), {"error $.messages.readOnlyFile"}},
      {With("", "sharedFile", "%s and %s"), {"error $.messages.sharedFile"}},
      {With("", "sharedFile", "100%% sure about %s?"), {}},
      {With(R"("options": {"preRemoval": "stop.exe", "closingDocument": "C:\\V\\bye.txt"})"), {}},
      // Read by characters: a second byte 0x5C is no backslash.
      {With(R"("codePage": 932, "folders": [{"folder": "C:\\データ\\能\\予", "levels": 2}],
            "files": [{"folder": "C:\\能users\\V", "name": "v.dll", "flags": ["selfRegister", "font"]}],
            "registry": [{"root": "HKCU", "key": "Software\\ソ\\表", "value": "能"}],
            "patterns": ["\\\\能\\表\\予\\*.*"])"),
       {}},
  };
  for (const auto &c : cases) EXPECT_EQ(CheckJson(c.json), c.findings) << c.json;
  // Paths the stub joins must fit its 260-byte buffers, install folder counted.
  for (const size_t over : {0, 1}) {
    const std::string folder(246 + over, 'd'), pattern(252 + over, 'p');
    EXPECT_EQ(
        CheckJson(With(R"("files": [{"folder": "C:\\)" + folder + R"(", "name": "123456789"}])")),
        over ? Findings{"error $.files[0]"} : Findings{});
    EXPECT_EQ(CheckJson(With(R"("patterns": [")" + pattern + R"(\\*.x"])")),
              over ? Findings{"error $.patterns[0]"} : Findings{});
  }

  // Removals that hurt the system or all users: one warning each.
  const char *const warnings[][2] = {
      {R"("registry": [{"root": "HKLM", "key": "\\Software\\"}])", "registry[0].key"},
      {R"("registry": [{"root": 2147483652, "key": "A\\B"}])", "registry[0].root"},
      {R"("folders": [{"folder": "c:\\program files\\"}])", "folders[0].folder"},
      {R"("folders": [{"folder": "#InstallDir#\\x"}])", "folders[0].folder"},
      {R"("patterns": ["#AllUsersAppData#\\*.*"])", "patterns[0]"},
      {R"("patterns": ["#NoSuchMacro#\\v\\*.*"])", "patterns[0]"},
      {R"("files": [{"folder": ".", "name": "s.dll", "flags": ["shared"]}])", "files[0]"},
      {R"("files": [{"folder": "C:\\Windows", "name": ""}])", "files[0]"},
      {R"("files": [{"folder": "relative", "name": "x"}])", "files[0]"},
      {R"("files": [{"folder": "C:\\Windows\\System32", "name": "Kernel32.dll"}])",
       "files[0].name"},
      {R"("files": [{"folder": "C:\\Windows", "name": "v.dll"}])", "files[0]"},
      {R"("files": [{"folder": "C:\\Users\\Public\\V", "name": "v.dll",
          "flags": ["selfRegister"]}])",
       "files[0].flags"},
      {R"("files": [{"folder": "C:\\P\\..\\Windows", "name": "a"}])", "files[0].folder"},
      {R"("patterns": ["#Windows#\\Logs\\*.log"])", "patterns[0]"},
      // Protected folders, in which the wildcard pass deletes nothing.
      {R"("patterns": ["#AppData#\\Microsoft\\Windows\\Start Menu\\Programs\\*.lnk"])",
       "patterns[0]"},
      // The file pass runs from the end: the folder would be tried before its contents.
      {R"("files": [{"folder": ".\\p", "name": "a"}, {"folder": ".\\p", "name": ""}])", "files[1]"},
      {R"("files": [{"folder": "C:\\V\\App\\Sub", "name": "a"}, {"folder": "c:\\v\\app\\",
          "name": ""}])",
       "files[1]"},
      {R"("registry": [{"root": "HKCU",
          "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}])",
       "registry[0].key"},
      {R"("options": {"preRemoval": "notes.exe /uninstall"})", "options.preRemoval"},
      {R"("options": {"preRemoval": "#InstallDir#\\stop.exe /q"})", "options.preRemoval"},
      {R"("options": {"closingDocument": "#InstallDir#\\bye.txt"})", "options.closingDocument"},
      {R"("codePage": 932, "folders": [{"folder": "C:\\Program Files\\ソフト\\App", "levels": 2}])",
       "folders[0].levels"},
      {R"("codePage": 950, "patterns": ["\\\\srv\\許\\*.*"])", "patterns[0]"},  // a share
  };
  for (const auto &w : warnings)
    EXPECT_EQ(CheckJson(With(w[0])), Findings{"warning $." + std::string(w[1])}) << w[0];

  // Held against the scope: what a user may not remove in a per-user product, what
  // another account's elevation would misdirect in a per-machine one; each beside what the
  // scope allows.
  const struct {
    const char *scope, *lists;
    Findings findings;
  } scoped[] = {
      {"user",
       R"("registry": [{"root": "HKCU", "key": "Software\\V"}, {"root": "HKLM", "key": "S\\V"}],
          "patterns": ["#LocalAppData#\\V\\*.log", "logs\\*.log"],
          "files": [{"folder": "C:\\Program Files\\V", "name": "a"},
                    {"folder": "D:\\V", "name": "v.dll", "flags": ["shared"]}],
          "folders": [{"folder": "C:\\Users\\bob\\AppData\\Local\\Programs\\V"},
                      {"folder": "C:\\V", "secondFolder": "C:\\Windows\\V"}])",
       {"error $.files[0].folder", "error $.files[1].flags", "error $.folders[1].secondFolder",
        "error $.registry[1].root"}},
      {"machine",
       R"("registry": [{"root": "HKLM", "key": "Software\\V"}, {"root": "HKCU", "key": "S\\V"}],
          "patterns": ["#Program Files#\\V\\*.log"],
          "options": {"preRemoval": "\"#AppData#\\V\\stop.exe\" /q"})",
       {"warning $.registry[1].root", "warning $.options.preRemoval"}},
  };
  for (const auto &c : scoped)
    EXPECT_EQ(CheckJson(With(c.lists, "", "", c.scope), true, true), c.findings)
        << c.scope << " " << c.lists;

  // The stub reads the options on every run; a manifest always gives them, a block may not.
  EXPECT_EQ(CheckJson(With(""), false), Findings{"error $.options"});
}

}  // namespace
