#include "tallowin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format/block_writer.h"
#include "manifest.h"
#include "support.h"

using namespace tallowin;
using hosttest::FakeStub;
using hosttest::ReadFile;
using hosttest::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

int Tool(std::vector<std::string> args, std::string *out = nullptr, std::string *err = nullptr) {
  std::string o, e;
  args.insert(args.begin(), "tallowin");
  const int code = RunCommandLine(args, &o, &e);
  if (out) *out = o;
  if (err) *err = e;
  return code;
}

const char kManifest[] = R"({
  "codePage": 1252,
  "messages": ["Caption \u00e9", "Sure?", "Done"],
  "files": [
    {"folder": ".", "name": "app.exe", "flags": ["checkInUse", "selfRegister"]},
    {"folder": "C:\\Windows\\Fonts", "name": "x.ttf", "flags": ["font", "shared"]}
  ],
  "folders": [{"folder": "C:\\P\\App", "secondFolder": "C:\\Q", "name": "n", "levels": 2}],
  "registry": [
    {"root": "HKEY_CURRENT_USER", "key": "Software\\V\\App"},
    {"root": "HKLM", "key": "Software\\V", "value": "Path"},
    {"root": "HKU", "key": "S", "value": ""}
  ],
  "patterns": ["logs\\*.log", "#AppData#\\V\\*.tmp"],
  "options": {"wait": true, "preRemoval": "#InstallDir#\\stop.exe /q",
              "closingDocument": "https://example.invalid/bye"}
})";

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFile(stub, FakeStub(4096)));
    ASSERT_TRUE(WriteFile(manifest, std::string(kManifest)));
  }
  int Pack(std::string *err = nullptr) {
    return Tool({"pack", manifest, "--stub", stub, "-o", out}, nullptr, err);
  }
  hosttest::ScopedDir dir;
  const std::string stub = dir / "uninstall.exe", manifest = dir / "m.json", out = dir / "out.exe";
};

TEST_F(ToolTest, DumpGivesAManifestThatPacksToTheSameProgram) {
  ASSERT_EQ(Pack(), 0);
  const Bytes packed = ReadFile(out);
  EXPECT_EQ(hosttest::U32At(packed, 0x106), 4096u);  // the block follows the stub
  std::string json, err;
  ASSERT_EQ(Tool({"dump", out}, &json, &err), 0) << err;
  EXPECT_EQ(err, "");
  // The texts as the stub reads them: in the code page, a value behind a doubled backslash.
  const Manifest m = ParseManifest(json);
  EXPECT_EQ(m.block.messages.at(0), "Caption \xE9");
  EXPECT_EQ(m.block.registry.at(1).path, "Software\\V\\\\Path");
  // Packed onto the packed program itself, in place: its block is replaced, not added to.
  ASSERT_TRUE(WriteFile(manifest, json));
  ASSERT_EQ(Tool({"pack", manifest, "--stub", out, "-o", out}), 0);
  EXPECT_EQ(ReadFile(out), packed);
}

TEST_F(ToolTest, BadManifestsNameTheJsonPathAndWriteNothing) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"files": [)", "$: malformed JSON"},
      {"[]", "$: a manifest is a JSON object"},
      {R"({"file": []})", "$.file: unknown key"},
      {R"({"files": 1})", "$.files: expected an array, found number"},
      {R"({"files": [{"folder": ".", "nmae": "x"}]})", "$.files[0].nmae: unknown key"},
      {R"({"files": [{"name": "x"}]})", "$.files[0].folder: required key missing"},
      {R"({"files": [{"folder": 3}]})", "$.files[0].folder: expected a string, found number"},
      {R"({"files": [{"folder": ".", "flags": ["sharde"]}]})",
       R"($.files[0].flags[0]: unknown flag "sharde")"},
      {R"({"folders": [{"folder": "C:\\a", "levels": 256}]})", "$.folders[0].levels"},
      {R"({"registry": [{"root": "HKXX", "key": "a"}]})", "$.registry[0].root: unknown root"},
      {R"({"registry": [{"root": "HKCU", "key": "a\\\\b"}]})",
       "$.registry[0].key: a doubled backslash"},
      {R"({"registry": [{"root": "HKCU", "key": "a", "value": "b\\c"}]})", "$.registry[0].value"},
      {R"({"messages": {"captoin": "x"}})", "$.messages.captoin: unknown role"},
      {R"({"messages": ["\u0416"]})", "$.messages[0]: character U+0416"},
      {R"({"codePage": 1251, "messages": ["\u00e9"]})", "$.messages[0]: character U+00E9"},
      {R"({"codePage": 65001})", "$.codePage: code page 65001 is not supported"},
      {R"({"codePage": 4294968548})", "$.codePage: code page 4294968548 is not supported"},
      {R"({"files": [], "files": []})", "$.files: key given twice"},
      {R"({"files": [{"folder": "."}, {"folder": ".", "name": "a", "name": "b"}]})",
       "$.files[1].name: key given twice"},
      {R"({"patterns": [""]})", "$.patterns[0]: an empty pattern"},
      {R"({"options": {"wait": 1}})", "$.options.wait: expected true or false"},
      {R"({"options": {"themed": true}})", "$.options.themed: unknown key"},
      {R"({"files": [{"folder": ".", "name": "\u0000"}]})", "$.files[0].name: texts"},
      // Over the reader's limit: refused before anything is written.
      {R"({"registry": [{"root": "HKCU", "key": ")" + std::string(520, 'k') + R"("}]})",
       "$.registry[0].key: 520 bytes, at most 519 allowed"},
  };
  for (const auto &[json, error] : cases) {
    ASSERT_TRUE(WriteFile(manifest, json));
    std::string err;
    EXPECT_EQ(Pack(&err), 2) << json;
    EXPECT_EQ(err.find("tallowin: " + manifest + ": " + error), 0u) << json << "\n" << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(ReadFile(out).empty()) << json;
  }
}

TEST_F(ToolTest, FailedPackLeavesOutputAndStubAlone) {
  ASSERT_EQ(Pack(), 0);
  const Bytes good = ReadFile(out);
  Bytes notPe = FakeStub(4096);
  notPe[0] = 'Z';
  const std::string ro = dir / "ro", missing = dir / "nothere.exe";
  ASSERT_EQ(mkdir(ro.c_str(), 0500), 0);
  const struct {
    Bytes stubBytes;
    std::string stubPath, output, error;
  } cases[] = {
      {notPe, stub, out, stub + ": stub is not a PE program"},  // a stub fault names the stub
      {{}, missing, out, missing + ": cannot open for reading"},
      {FakeStub(4096), stub, dir / "missing/out.exe", dir / "missing/out.exe: cannot write"},
      {FakeStub(4096), stub, ro + "/out.exe", ro + "/out.exe: cannot write"},
  };
  for (const auto &c : cases) {
    if (c.output.rfind(ro, 0) == 0 && geteuid() == 0) continue;  // root may write there
    ASSERT_TRUE(c.stubBytes.empty() || WriteFile(c.stubPath, c.stubBytes));
    std::string err;
    EXPECT_EQ(Tool({"pack", manifest, "--stub", c.stubPath, "-o", c.output}, nullptr, &err), 2);
    EXPECT_EQ(err.find("tallowin: " + c.error), 0u) << err;
    EXPECT_EQ(ReadFile(out), good) << c.error;
    EXPECT_EQ(ReadFile(c.stubPath), c.stubBytes) << c.error;
    EXPECT_EQ(ReadFile(c.output), c.output == out ? good : Bytes()) << c.error;
  }
  EXPECT_EQ(Tool({"pack", dir / "nothing.json", "--stub", stub, "-o", out}), 2);
  EXPECT_EQ(ReadFile(out), good);
}

TEST_F(ToolTest, DumpAndCheckReportDamageWithOffsetAndRecord) {
  blockfmt::RecordWriter w;
  w.Record(blockfmt::TAG_OPTIONS, Bytes(12, 0));
  w.Record(blockfmt::TAG_FILES, {1, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0});
  w.End();
  Bytes image;
  std::string json, err;
  ASSERT_TRUE(blockfmt::AppendBlockToStub(FakeStub(4096), w.bytes(), &image, &err));
  ASSERT_TRUE(WriteFile(out, image));
  EXPECT_EQ(Tool({"dump", out}, &json, &err), 2);
  EXPECT_EQ(err.find("tallowin: " + out +
                     ": damaged block: record 1 (tag 0x1235) at offset 4116 (0x00001014)"),
            0u)
      << err;
  EXPECT_EQ(json, "");
  EXPECT_EQ(Tool({"check", out}, &json), 2);
  EXPECT_EQ(json.find(out + ": error: damaged block: record 1"), 0u) << json;

  ASSERT_TRUE(WriteFile(out, FakeStub(4096)));  // stamped, nothing appended
  EXPECT_EQ(Tool({"dump", out}, &json, &err), 2);
  EXPECT_NE(err.find("damaged block: record 0 at offset 4096 (0x00001000): header cut short"),
            std::string::npos)
      << err;
}

TEST_F(ToolTest, CheckExitCodes) {
  std::string report;
  // Three messages only: the others are missing, which the stub shows as empty texts.
  EXPECT_EQ(Tool({"check", manifest}, &report), 2);
  EXPECT_NE(report.find(manifest + ": error: $.messages.filesInUse: message missing"),
            std::string::npos)
      << report;
  // A full table, in table order; messages without %s are shown as written.
  ASSERT_TRUE(WriteFile(manifest, R"({"messages": ["a", "b", "c", "d", "e", "f", "g", "h", "i",
      "j", "k", "l", "m", "n", "o", "p"], "registry": [{"root": "HKCU", "key": "A"}]})"));
  const std::string warning =
      ": warning: $.registry[0].key: key directly below the root: removes \"A\" with all its "
      "subkeys\n";
  EXPECT_EQ(Tool({"check", manifest}, &report), 1);
  EXPECT_EQ(report, manifest + warning);
  EXPECT_EQ(Tool({"check", "--strict", manifest}, &report), 2);
  ASSERT_EQ(Pack(), 0);  // the packed program reports the same
  EXPECT_EQ(Tool({"check", out}, &report), 1);
  EXPECT_EQ(report, out + warning);
}

TEST(CommandLine, UsageErrors) {
  const struct {
    std::vector<std::string> args;
    int code;
    const char *err;
  } cases[] = {
      {{}, 2, "usage: tallowin pack"},
      {{"frob"}, 2, "tallowin: unknown command frob\nusage:"},
      {{"pack", "m.json"}, 2, "usage: tallowin pack"},
      {{"pack", "m.json", "--stub"}, 2, "tallowin: --stub needs a value\n"},
      {{"dump", "--code-page", "42", "x.exe"}, 2, "tallowin: --code-page 42: not supported"},
      {{"dump", "--bogus", "x.exe"}, 2, "tallowin: unknown option --bogus\n"},
      {{"--help"}, 0, ""},
  };
  for (const auto &c : cases) {
    std::string out, err;
    EXPECT_EQ(Tool(c.args, &out, &err), c.code) << c.err;
    EXPECT_EQ(err.find(c.err), 0u) << err;
    EXPECT_EQ(out.find("usage: tallowin pack"), c.code ? std::string::npos : 0u) << out;
  }
}

}  // namespace
