#include "tallowin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "codepage_cases.h"
#include "pe_image.h"
#include "preview.h"
#include "support.h"

using namespace tallowin;
using hosttest::FakeStub;
using hosttest::ReadFile;
using hosttest::Tool;
using hosttest::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Repeat(const std::string &s, size_t n) {
  std::string out;
  while (n--) out += s;
  return out;
}

const char kManifest[] = R"({
  "codePage": 1252,
  "messages": {"caption": "Caption \u00e9", "confirm": "Sure?", "finished": "Done $${NOT_A_VARIABLE}"},
  "files": [
    {"folder": ".", "name": "app.exe", "flags": ["selfRegister", "checkInUse"]},
    {"folder": "C:\\Windows\\Fonts", "name": "x.ttf", "flags": ["shared", "font"]}
  ],
  "folders": [{"folder": "C:\\P\\App", "secondFolder": "C:\\Q", "name": "n", "levels": 2}],
  "registry": [
    {"root": "HKCU", "key": "Software\\V\\App"},
    {"root": "HKLM", "key": "Software\\V", "value": "Path"},
    {"root": "HKU", "key": "S", "value": ""},
    {"root": "HKCU", "key": "Software\\V", "ifEmpty": true}
  ],
  "patterns": ["logs\\*.log", "#AppData#\\V\\*.tmp"],
  "options": {"wait": true, "preRemoval": "#InstallDir#\\stop.exe /q",
              "closingDocument": "https://example.invalid/bye"}
})";

// Double-byte texts whose characters end in a backslash byte, before and after separators.
const char kDoubleByte[] =
    R"({"codePage": 932, "files": [{"folder": "C:\\ソフト\\表", "name": "能"}],
    "folders": [{"folder": "C:\\ソフト\\表"}], "registry": [{"root": "HKCU",
    "key": "Software\\能\\予\\V", "value": "表"}, {"root": "HKCU", "key": "表"}]})";

// A stub changed after its build: one section whose raw data now reaches `rawEnd`, past
// the locator's offset when resources grew, and a certificate table at `cert` (0: none).
Bytes EditedStub(size_t size, uint32_t locatorOffset, uint32_t rawEnd, uint32_t cert) {
  Bytes d = FakeStub(size, 0x200);
  d[0x46] = 1;  // one section, its header right after the optional header (at 0xF0)
  std::fill(d.begin() + 0xF0, d.begin() + 0x118, 0);
  const std::pair<size_t, uint32_t> fields[] = {{0x200 + 6, locatorOffset},
                                                {0x100, rawEnd - 0x400},
                                                {0x104, 0x400},
                                                {0xE8, cert},
                                                {0xEC, cert ? 16 : 0}};
  for (const auto &[at, v] : fields)
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
  return d;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFile(stub, FakeStub(4096)));
    ASSERT_TRUE(WriteFile(manifest, std::string(kManifest)));
  }
  // A manifest with an uninstall entry sets the level in the stub's manifest resource, which
  // only a stub of this build has.
  void UseBuiltStub() {
    ASSERT_TRUE(WriteFile(stub, ReadFile(TALLOWIN_BUILD_ROOT "/win64/uninstall.exe")));
  }
  int Pack() { return Tool({"pack", manifest, "--stub", stub, "-o", out}); }
  // A command that must fail, with one line on standard error only.
  void Refused(const std::vector<std::string> &args, const std::string &error) {
    std::string o, err;
    EXPECT_EQ(Tool(args, &o, &err), 2) << error;
    EXPECT_EQ(err.find("tallowin: " + error), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(o, "");
  }
  hosttest::ScopedDir dir;
  const std::string stub = dir / "uninstall.exe", manifest = dir / "m.json", out = dir / "out.exe";
};

// Every field the writer wrote, as the reader reads it back; a program checks as its
// manifest, its texts read by characters in the code page given.
TEST_F(ToolTest, DumpAndCheckReadTheProgramAsItsManifest) {
  for (const auto &[cp, text] : {std::pair("1252", kManifest), std::pair("932", kDoubleByte)}) {
    ASSERT_TRUE(WriteFile(manifest, std::string(text)));
    ASSERT_EQ(Pack(), 0);
    std::string json, err, fromManifest, report;
    ASSERT_EQ(Tool({"dump", "--code-page", cp, out}, &json, &err), 0) << err;
    const nlohmann::json dumped = nlohmann::json::parse(json), given = nlohmann::json::parse(text);
    for (const auto &[key, value] : given.items()) EXPECT_EQ(dumped[key], value) << key;
    if (text == kManifest) continue;  // its short table: a program's report cannot name roles
    const int code = Tool({"check", manifest}, &fromManifest);
    EXPECT_EQ(Tool({"check", "--code-page", cp, out}, &report), code);
    EXPECT_EQ(report, std::regex_replace(fromManifest, std::regex(manifest), out));
  }
}

TEST_F(ToolTest, BadManifestsAreRefusedWithTheirJsonPathAndNothingWritten) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"files": [)", "$: malformed JSON"},
      {"{\"files\": " + std::string(120000, '['),
       "$.files" + Repeat("[0]", 31) + ": nested deeper than 32 levels"},
      {std::string(10 << 20, ' '), "10485760 bytes, more than the 8 MiB"},
      {R"({"files": [{"name": "x"}]})", "$.files[0].folder: required key missing"},
      {R"({"files": [{"folder": ".", "flags": ["sharde"]}]})",
       R"($.files[0].flags[0]: unknown flag "sharde")"},
      {R"({"registry": [{"root": "HKCU", "key": "a\\\\b"}]})",
       "$.registry[0].key: a doubled backslash"},
      {R"({"registry": [{"root": "HKCU", "key": "a", "value": "b", "ifEmpty": true}]})",
       "$.registry[0].ifEmpty: names a key"},
      {R"({"codePage": 932, "registry": [{"root": "HKCU", "key": "a\uf781", "value": "b"}]})",
       "$.registry[0].key: ends in the first byte of a double-byte character"},
      {R"({"codePage": 4294968548})", "$.codePage: code page 4294968548 is not supported"},
      {R"({"files": [{"folder": "."}, {"folder": ".", "name": "a", "name": "b"}]})",
       "$.files[1].name: key given twice"},
      {R"({"files": [{"folder": ".", "name": "\u0000"}]})", "$.files[0].name: texts"},
      {R"({"uninstallEntry": {"id": "a\\b", "displayName": "d", "displayVersion": "1",
          "publisher": "p"}})",
       "$.uninstallEntry.id: must be one key name"},
      {R"({"files": [{"folder": "${INSTDIR}\\x", "name": "a"}]})",
       "$.files[0].folder: ${INSTDIR} is not defined: give --set INSTDIR=VALUE"},
      {R"({"files": [{"folder": "#CommonFiles#\\V", "name": "a"}]})",
       "$.files[0].folder: folder macros in file and folder entries are expanded only when "},
      {R"({"folders": [{"folder": "C:\\a", "secondFolder": "#AppData#\\#x#"}]})",
       "$.folders[0].secondFolder: unknown macro #x# would expand to nothing"},
      // Over the reader's limit in the code page's bytes: refused before anything is written.
      {R"({"codePage": 932, "registry": [{"root": "HKCU", "key": ")" + Repeat("能", 260) +
           R"("}]})",
       "$.registry[0].key: 520 bytes, at most 519 allowed"},
  };
  for (const auto &[json, error] : cases) {
    ASSERT_TRUE(WriteFile(manifest, json));
    Refused({"pack", manifest, "--stub", stub, "-o", out}, manifest + ": " + error);
    EXPECT_TRUE(ReadFile(out).empty()) << error;
  }
}

// A failed pack leaves the output and the stub as they were. A stub too large to be one is
// refused by its size, without being read; an output that is an input, under another name
// too, is refused before anything is read.
TEST_F(ToolTest, FailedPackLeavesOutputAndStubAlone) {
  ASSERT_EQ(Pack(), 0);
  const std::string big = dir / "big", alias = dir / "alias.json";
  ASSERT_TRUE(WriteFile(big, std::string()));
  ASSERT_EQ(truncate(big.c_str(), off_t(2) << 30), 0);
  ASSERT_EQ(symlink(manifest.c_str(), alias.c_str()), 0);
  const struct {
    Bytes stubBytes;  // written to stubPath first unless empty
    std::string stubPath, output, error;
  } cases[] = {
      {EditedStub(8192, 4096, 8192, 0), stub, out,
       stub + ": its locator offset 4096 lies inside the program's own sections"},
      {EditedStub(4096, 4096, 4096, 0x800), stub, out,
       stub + ": its certificate table (16 bytes at offset 2048) starts inside"},
      {FakeStub(4096), stub, dir / "missing/out.exe", dir / "missing/out.exe: cannot write"},
      {{}, big, out, big + ": 2147483648 bytes, more than the 256 MiB"},
      {{}, stub, alias, alias + ": is the manifest itself: write the output to another file\n"},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(c.stubBytes.empty() || WriteFile(c.stubPath, c.stubBytes));
    const Bytes before = ReadFile(c.output), good = ReadFile(out);
    Refused({"pack", manifest, "--stub", c.stubPath, "-o", c.output}, c.error);
    EXPECT_EQ(ReadFile(out), good) << c.error;
    EXPECT_EQ(ReadFile(c.output), before) << c.error;
    EXPECT_TRUE(c.stubBytes.empty() || ReadFile(c.stubPath) == c.stubBytes) << c.error;
  }
  // A link at the output is replaced, not followed; the temporary file was renamed, so
  // nothing else is left in the folder (stub, manifest, output, the two inputs refused
  // above that are there, victim, link).
  const std::string victim = dir / "victim", link = dir / "link.exe";
  ASSERT_TRUE(WriteFile(victim, std::string("keep")));
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  ASSERT_EQ(Tool({"pack", manifest, "--stub", stub, "-o", link}), 0);
  EXPECT_EQ(ReadFile(victim), Bytes({'k', 'e', 'e', 'p'}));
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(link)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / ""), {}), 7);
}

// A base that checks clean on its own: every message, the uninstall entry.
const char kScanBase[] = R"({"messages": ["a", "b", "c", "d", "e", "f", "g", "h %s", "i %s",
    "j %s", "k %s", "l", "m", "n", "o", "p"], "files": [{"folder": "C:\\Data", "name": "x"}],
    "uninstallEntry": {"id": "P", "displayName": "P", "displayVersion": "1", "publisher": "P"}})";

// 0 clean, 1 warnings, 2 errors or warnings under --strict. A program reports as its
// manifest, but cannot carry an acknowledgement.
TEST_F(ToolTest, CheckExitCodes) {
  UseBuiltStub();
  const std::string belowRoot = R"({"root": "HKLM", "key": "A"})",
                    progId = R"({"root": "HKCR", "key": "Vendor.Note", "accept": [{"finding":
                        "shared-key", "why": "our ProgID"}]})";
  const struct {
    std::string registry;
    std::vector<std::string> args;
    int code;
    const char *says;
  } rows[] = {
      {belowRoot, {"check", manifest}, 1, ": warning: $.registry[0].key: key directly below"},
      {progId, {"check", "--strict", manifest}, 0, ": accepted: $.registry[0].key: removes HKCR"},
      {progId, {"check", "--strict", out}, 2, "[shared-key]"},
  };
  for (const auto &r : rows) {
    std::string json = kScanBase, report;
    ASSERT_TRUE(
        WriteFile(manifest, json.insert(json.size() - 1, ", \"registry\": [" + r.registry + "]")));
    ASSERT_EQ(Pack(), 0);
    EXPECT_EQ(Tool(r.args, &report), r.code) << r.registry << report;
    EXPECT_NE(report.find(r.says), std::string::npos) << report;
  }
}

// --set fills the uninstall entry's texts as it fills the block's (which the Windows tool's
// test packs); "$$" stands for the character itself.
TEST_F(ToolTest, SetFillsVariablesInEveryText) {
  ASSERT_TRUE(WriteFile(manifest, R"({"uninstallEntry": {"id": "P", "displayName": "P ${VERSION}",
      "displayVersion": "${VERSION}", "publisher": "$${VERSION}"}})"));
  std::string reg;
  const std::vector<std::string> args = {
      "uninstall-entry", manifest, "--exe", "C:\\P\\u.exe", "-o", "-", "--set", "VERSION=2.1"};
  ASSERT_EQ(Tool(args, &reg), 0);
  const std::u16string text(reinterpret_cast<const char16_t *>(reg.data()), reg.size() / 2);
  EXPECT_NE(text.find(u"\"DisplayName\"=\"P 2.1\""), std::u16string::npos);
  EXPECT_NE(text.find(u"\"Publisher\"=\"${VERSION}\""), std::u16string::npos);
}

// Makes each file (a name that ends in '/' is a folder) below `root`, in the order given.
void MakeTree(const std::string &root, const std::vector<std::string> &names) {
  for (const std::string &n : names) {
    std::filesystem::create_directories(std::filesystem::path(root + "/" + n).parent_path());
    if (n.back() != '/') {
      ASSERT_TRUE(WriteFile(root + "/" + n, n));
    }
  }
}

TEST_F(ToolTest, ScanRefusesWhatWindowsCannotHoldEachWithItsPath) {
  const std::string root = dir / "st", output = dir / "o.json";
  MakeTree(root, {"ok.txt", "Ωmega.txt", "dot.", "blank ", "Case.txt", "CASE.TXT", "con.txt",
                  "drop/Ω.txt", "deep/" + Repeat("d", 120) + "/" + Repeat("n", 30)});
  ASSERT_EQ(symlink("/etc", (root + "/link").c_str()), 0);
  ASSERT_TRUE(WriteFile(manifest, std::string(kScanBase)));
  std::string err;
  EXPECT_EQ(Tool({"scan", root, "--base", manifest, "-o", output, "--install-dir-length", "110",
                  "--exclude", "drop"},
                 nullptr, &err),
            2);
  const std::string at = "tallowin: " + root + ": ";
  for (const std::string &line : std::vector<std::string>{
           "Case.txt: differs only in case from \"CASE.TXT\": Windows holds one of them",
           "blank : ends in a dot or a blank",
           "dot.: ends in a dot or a blank",
           "con.txt: is the name of a device on Windows",
           "link: is a link: links are not followed",
           "Ωmega.txt: character U+03A9 at byte 0 cannot be written in code page 1252",
           "deep\\" + Repeat("d", 120) + "\\" + Repeat("n", 30) +
               ": 267 characters with an install folder of 110: more than the 259",
       })
    EXPECT_NE(err.find(at + line), std::string::npos) << line << "\n" << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 7) << err;
  EXPECT_TRUE(ReadFile(output).empty());
}

// Version 2 drops two files and a folder of version 1, and renames one only in case: its
// manifest keeps the dropped ones, read from version 1's program (from a manifest below).
TEST_F(ToolTest, ScanKeepsWhatTheOlderVersionListedAndTheNewTreeDropped) {
  UseBuiltStub();
  MakeTree(dir / "v1", {"app.exe", "Readme.txt", "old.dll", "gone/a.dat", "gone/b/"});
  MakeTree(dir / "v2", {"app.exe", "README.TXT", "new.dll", "${VERSION}.txt"});
  ASSERT_TRUE(WriteFile(manifest, std::string(kScanBase)));
  const std::string v1 = dir / "v1.json", v1exe = dir / "v1.exe", v2 = dir / "v2.json";
  ASSERT_EQ(Tool({"scan", dir / "v1", "--base", manifest, "-o", v1}), 0);
  ASSERT_EQ(Tool({"pack", v1, "--stub", stub, "-o", v1exe}), 0);
  ASSERT_EQ(Tool({"scan", dir / "v2", "--base", manifest, "-o", v2, "--previous", v1exe,
                  "--dropped", dir / "dropped.txt"}),
            0);
  const Bytes dropped = ReadFile(dir / "dropped.txt");
  EXPECT_EQ(std::string(dropped.begin(), dropped.end()),
            "old.dll\r\ngone\\b\\\r\ngone\\a.dat\r\ngone\\\r\n");
  const nlohmann::json files = nlohmann::json::parse(ReadFile(v2))["files"];
  ASSERT_EQ(files.size(), 9u);
  EXPECT_EQ(files[1]["name"], "$${VERSION}.txt");  // a name, not a variable
  EXPECT_EQ(files[5], nlohmann::json::parse(R"({"folder": ".\\gone", "name": "a.dat"})"));
  std::string report;
  EXPECT_EQ(Tool({"check", v2}, &report), 0) << report;
  // Names that Windows reads as others (a trailing dot, a short name, a parent part) would
  // have the installer delete what they stand for: neither kept nor dropped.
  ASSERT_TRUE(WriteFile(v1, R"({"files": [{"folder": ".", "name": "app.exe."},
      {"folder": ".", "name": "APP~1.EXE"}, {"folder": ".\\..", "name": "x"}]})"));
  ASSERT_EQ(Tool({"scan", dir / "v2", "--base", manifest, "-o", v2, "--previous", v1, "--dropped",
                  dir / "dropped.txt"}),
            0);
  EXPECT_TRUE(ReadFile(dir / "dropped.txt").empty());
  EXPECT_EQ(nlohmann::json::parse(ReadFile(v2))["files"].size(), 5u);
}

// Usage errors: exit 2, the fault and then the usage on standard error only. Help and the
// version: exit 0, standard output only.
TEST(CommandLine, HelpVersionAndUsageErrors) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char *start;
  } cases[] = {
      {{}, 2, "tallowin: no command given\nusage:"},
      {{"--help"}, 0, "usage: tallowin pack"},
      {{"preview", "uninstall.exe"}, 2, "tallowin: preview runs on Windows only"},
  };
  for (const auto &c : cases) {
    std::string out, err;
    EXPECT_EQ(Tool(c.args, &out, &err), c.code) << c.start;
    EXPECT_EQ((c.code ? err : out).find(c.start), 0u) << out << err;
    EXPECT_EQ(c.code ? out : err, "") << c.start;
  }
}

// Each Windows tool previews only programs of its own architecture (the i686 tool cannot
// run here: its side of the rule is held here, on the stubs of this build).
TEST(Preview, EachToolRefusesTheOtherArchitectureNamingTheToolToUse) {
  for (const std::string bits : {"32", "64"}) {
    PeHeaders h;
    Fault fault;
    const Bytes stub = ReadFile(TALLOWIN_BUILD_ROOT "/win" + bits + "/uninstall.exe");
    ASSERT_TRUE(ReadPeHeaders(stub, &h, &fault)) << fault.Text();
    EXPECT_EQ(PreviewArchitectureRefusal(h, bits == "64"), "");
    const std::string why = PreviewArchitectureRefusal(h, bits == "32");
    EXPECT_NE(why.find("preview it with the " + bits + "-bit tool, win" + bits + "\\tallowin.exe"),
              std::string::npos)
        << why;
  }
}

TEST(CodePage, ConvertsAsWindowsDoes) { codepagecases::ExpectConversionsAsWindowsMakesThem(); }

}  // namespace
