#include "check.h"

#include <gtest/gtest.h>

#include "manifest.h"

using namespace tallowin;

namespace {

std::vector<Finding> CheckJson(const std::string &json) {
  static Manifest m;
  m = ParseManifest(json);
  CheckInput in;
  in.block = &m.block;
  in.fromManifest = m.messagesByRole;
  in.missingRoles = m.missingRoles;
  return CheckBlock(in);
}

// A manifest with all messages and options, plus `lists` (JSON members).
std::string With(const std::string &lists) {
  std::string s = R"({"messages": {)";
  for (unsigned i = 0; i < blockfmt::MSG_COUNT; ++i)
    s += std::string(i ? "," : "") + "\"" + kMessageRoles[i] + "\": \"text %s\"";
  return s + "}" + (lists.empty() ? "" : ", " + lists) + "}";
}

// "error $.where" / "warning $.where" of each finding.
std::vector<std::string> Brief(const std::vector<Finding> &findings) {
  std::vector<std::string> out;
  for (const Finding &f : findings) out.push_back((f.error ? "error " : "warning ") + f.where);
  return out;
}

TEST(Check, CleanManifestHasNoFindings) {
  EXPECT_TRUE(CheckJson(With(R"("files": [{"folder": ".", "name": "a.exe"}],
      "folders": [{"folder": "C:\\Program Files\\V\\App", "levels": 1}],
      "registry": [{"root": "HKCU", "key": "Software\\V\\App"}],
      "patterns": ["logs\\*.*", "#AppData#\\V\\*.*", "#InstallDir#\\*.tmp"])"))
                  .empty());
}

TEST(Check, StubLimitsAndMessages) {
  EXPECT_EQ(Brief(CheckJson("{}")), (std::vector<std::string>{"error $.messages"}));
  auto f = CheckJson(R"({"messages": {"caption": "c", "confirm": "ok?"}})");
  EXPECT_EQ(f.size(), 14u);
  EXPECT_EQ(f[0].where, "$.messages.finished");
  EXPECT_TRUE(f[0].error);

  f = CheckJson(With(R"("files": [{"folder": "C:\\)" + std::string(250, 'd') +
                     R"(", "name": "123456789"}])"));
  EXPECT_EQ(Brief(f), (std::vector<std::string>{"error $.files[0]"}));
  f = CheckJson(With(R"("files": [{"folder": "C:\\)" + std::string(245, 'd') +
                     R"(", "name": "123456789"}])"));
  EXPECT_TRUE(f.empty());
  f = CheckJson(
      With(R"("registry": [{"root": "HKCU", "key": ")" + std::string(520, 'k') + R"("}])"));
  EXPECT_TRUE(!f.empty() && f[0].error && f[0].where == "$");
  f = CheckJson(With(R"("patterns": [")" + std::string(254, 'p') + R"(\\*.x"])"));
  EXPECT_EQ(Brief(f), (std::vector<std::string>{"error $.patterns[0]"}));
  f = CheckJson(With(R"("patterns": [")" + std::string(250, 'p') + R"(\\*.x"])"));
  EXPECT_TRUE(f.empty());
}

TEST(Check, ComposedTextsTakeOneStringArgument) {
  std::string json = With("");
  auto replace = [&](const char *role, const char *text) {
    std::string s = json;
    const std::string key = std::string("\"") + role + "\": \"text %s\"";
    s.replace(s.find(key), key.size(), std::string("\"") + role + "\": \"" + text + "\"");
    return Brief(CheckJson(s));
  };
  EXPECT_EQ(replace("readOnlyFile", "%s is %d%% done"),
            std::vector<std::string>{"error $.messages.readOnlyFile"});
  EXPECT_EQ(replace("sharedFile", "%s and %s"),
            std::vector<std::string>{"error $.messages.sharedFile"});
  EXPECT_TRUE(replace("sharedFile", "100%% sure about %s?").empty());
  EXPECT_TRUE(replace("confirm", "%d is shown as written").empty());  // not composed
  EXPECT_EQ(replace("readOnlyFile", ""),
            std::vector<std::string>{"warning $.messages.readOnlyFile"});
}

TEST(Check, DangerousRemovalsAreWarnings) {
  const struct {
    const char *lists;
    const char *where;
  } cases[] = {
      {R"("registry": [{"root": "HKLM", "key": "Software"}])", "$.registry[0].key"},
      {R"("registry": [{"root": "HKLM", "key": "\\Software\\"}])", "$.registry[0].key"},
      {R"("registry": [{"root": "HKCU", "key": ""}])", "$.registry[0].key"},
      {R"("registry": [{"root": 2147483652, "key": "A\\B"}])", "$.registry[0].root"},
      {R"("folders": [{"folder": "D:\\"}])", "$.folders[0].folder"},
      {R"("folders": [{"folder": "C:\\Windows"}])", "$.folders[0].folder"},
      {R"("folders": [{"folder": "c:\\program files\\"}])", "$.folders[0].folder"},
      {R"("folders": [{"folder": "C:\\X", "secondFolder": "\\\\srv\\share"}])",
       "$.folders[0].secondFolder"},
      {R"("folders": [{"folder": "C:\\Vendor\\App", "levels": 2}])", "$.folders[0].levels"},
      {R"("folders": [{"folder": "C:\\Program Files\\V\\App", "levels": 2}])",
       "$.folders[0].levels"},
      {R"("folders": [{"folder": "#InstallDir#\\x"}])", "$.folders[0].folder"},
      {R"("patterns": ["C:\\*.*"])", "$.patterns[0]"},
      {R"("patterns": ["C:\\Windows\\System32\\*.dll"])", "$.patterns[0]"},
      {R"("patterns": ["#AllUsersAppData#\\*.*"])", "$.patterns[0]"},
      {R"("patterns": ["#System#\\*.dll"])", "$.patterns[0]"},
      {R"("patterns": ["#NoSuchMacro#\\v\\*.*"])", "$.patterns[0]"},
      {R"("files": [{"folder": ".", "name": "s.dll", "flags": ["shared"]}])", "$.files[0]"},
      {R"("files": [{"folder": "C:\\Windows", "name": ""}])", "$.files[0]"},
      {R"("files": [{"folder": "relative", "name": "x"}])", "$.files[0]"},
  };
  for (const auto &c : cases) {
    const std::vector<Finding> f = CheckJson(With(c.lists));
    ASSERT_EQ(f.size(), 1u) << c.lists << (f.size() > 1 ? f[1].what : "");
    EXPECT_FALSE(f[0].error) << c.lists << f[0].what;
    EXPECT_EQ(f[0].where, c.where) << c.lists;
  }
}

TEST(Check, BlockWithoutOptionsIsAnError) {
  Manifest m = ParseManifest(With(""));
  m.block.hasOptions = false;
  CheckInput in;
  in.block = &m.block;
  EXPECT_EQ(Brief(CheckBlock(in)), std::vector<std::string>{"error $.options"});
}

}  // namespace
