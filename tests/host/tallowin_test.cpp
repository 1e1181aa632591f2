#include "tallowin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "block_reader.h"
#include "format/block_writer.h"
#include "manifest.h"
#include "support.h"

using namespace tallowin;
using hosttest::FakeStub;
using hosttest::ReadFile;
using hosttest::ScopedDir;
using hosttest::WriteFile;

namespace {

int Tool(const std::vector<std::string> &args, std::string *out = nullptr,
         std::string *err = nullptr) {
  return hosttest::Run(args, out, err);
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
    stub = dir / "uninstall.exe";
    manifest = dir / "m.json";
    out = dir / "out.exe";
    ASSERT_TRUE(WriteFile(stub, FakeStub(4096)));
    ASSERT_TRUE(WriteFile(manifest, std::string(kManifest)));
  }
  int Pack(std::string *err = nullptr) {
    return Tool({"pack", manifest, "--stub", stub, "-o", out}, nullptr, err);
  }
  ScopedDir dir;
  std::string stub, manifest, out;
};

TEST_F(ToolTest, PackThenDumpGivesTheManifestBack) {
  ASSERT_EQ(Pack(), 0);
  std::string json, err;
  ASSERT_EQ(Tool({"dump", out}, &json, &err), 0) << err;
  EXPECT_EQ(err, "");
  // The dump is itself a manifest, and packing it again gives the same bytes.
  const Manifest a = ParseManifest(kManifest), b = ParseManifest(json);
  EXPECT_EQ(b.block.messages, a.block.messages);
  EXPECT_EQ(b.block.messages[0], "Caption \xE9");
  ASSERT_EQ(b.block.registry.size(), 3u);
  EXPECT_EQ(b.block.registry[1].path, "Software\\V\\\\Path");
  EXPECT_EQ(b.block.registry[0].root, blockfmt::ROOT_HKCU);
  EXPECT_EQ(b.block.options.flags, blockfmt::OPT_WAIT);
  ASSERT_TRUE(WriteFile(manifest, json));
  const std::string out2 = dir / "out2.exe";
  ASSERT_EQ(Tool({"pack", manifest, "--stub", out, "-o", out2}), 0);
  EXPECT_EQ(ReadFile(out2), ReadFile(out));
  std::string json2;
  ASSERT_EQ(Tool({"dump", out2}, &json2), 0);
  EXPECT_EQ(json2, json);
}

TEST_F(ToolTest, PackIsDeterministicAndReplacesACarriedBlock) {
  ASSERT_EQ(Pack(), 0);
  const std::vector<uint8_t> first = ReadFile(out);
  ASSERT_EQ(Pack(), 0);
  EXPECT_EQ(ReadFile(out), first);
  // Packing onto an already packed program keeps one block, not two.
  ASSERT_EQ(Tool({"pack", manifest, "--stub", out, "-o", out}), 0);
  EXPECT_EQ(ReadFile(out), first);
  EXPECT_EQ(hosttest::U32At(first, 0x106), 4096u);
}

TEST_F(ToolTest, BadManifestsNameTheJsonPath) {
  struct Case {
    const char *json;
    const char *expect;
  } cases[] = {
      {"{\"files\": [", "$: malformed JSON"},
      {"[]", "$: a manifest is a JSON object"},
      {"{\"file\": []}", "$.file: unknown key"},
      {"{\"files\": [{\"folder\": \".\", \"nmae\": \"x\"}]}", "$.files[0].nmae: unknown key"},
      {"{\"files\": [{\"name\": \"x\"}]}", "$.files[0].folder: required key missing"},
      {"{\"files\": [{\"folder\": 3}]}", "$.files[0].folder: expected a string, found number"},
      {"{\"files\": [{\"folder\": \".\", \"flags\": [\"sharde\"]}]}",
       "$.files[0].flags[0]: unknown flag \"sharde\""},
      {"{\"folders\": [{\"folder\": \"C:\\\\a\", \"levels\": 256}]}", "$.folders[0].levels"},
      {"{\"registry\": [{\"root\": \"HKXX\", \"key\": \"a\"}]}",
       "$.registry[0].root: unknown root"},
      {"{\"registry\": [{\"root\": \"HKCU\", \"key\": \"a\\\\\\\\b\"}]}",
       "$.registry[0].key: a doubled backslash"},
      {"{\"registry\": [{\"root\": \"HKCU\", \"key\": \"a\", \"value\": \"b\\\\c\"}]}",
       "$.registry[0].value"},
      {"{\"messages\": {\"captoin\": \"x\"}}", "$.messages.captoin: unknown role"},
      {"{\"messages\": [\"\\u0416\"]}", "$.messages[0]: character U+0416"},
      {"{\"codePage\": 1251, \"messages\": [\"\\u00e9\"]}", "$.messages[0]: character U+00E9"},
      {"{\"codePage\": 65001}", "$.codePage: code page 65001 is not supported"},
      {"{\"codePage\": 4294968548}", "$.codePage: code page 4294968548 is not supported"},
      {"{\"files\": [], \"files\": []}", "$.files: key given twice"},
      {"{\"files\": [{\"folder\": \".\"}, {\"folder\": \".\", \"name\": \"a\", \"name\": \"b\"}]}",
       "$.files[1].name: key given twice"},
      {"{\"patterns\": [\"\"]}", "$.patterns[0]: an empty pattern"},
      {"{\"options\": {\"wait\": 1}}", "$.options.wait: expected true or false"},
      {"{\"options\": {\"themed\": true}}", "$.options.themed: unknown key"},
      {"{\"files\": [{\"folder\": \".\", \"name\": \"\\u0000\"}]}", "$.files[0].name: texts"},
      {"{\"registry\": [{\"root\": \"HKCU\", \"key\": \""
       "kkkkkkkkkk"
       "\"}]}",
       nullptr},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(WriteFile(manifest, std::string(c.json)));
    std::string err;
    const int code = Pack(&err);
    if (!c.expect) {
      EXPECT_EQ(code, 0) << c.json << err;
      continue;
    }
    EXPECT_EQ(code, 2) << c.json;
    EXPECT_NE(err.find(manifest + ": " + c.expect), std::string::npos) << c.json << "\n" << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  std::remove(out.c_str());
  ASSERT_TRUE(WriteFile(manifest, std::string("{\"files\": 1}")));
  EXPECT_EQ(Pack(), 2);
  EXPECT_TRUE(ReadFile(out).empty());  // nothing written
}

TEST_F(ToolTest, FailedPackLeavesOutputAndStubAlone) {
  ASSERT_EQ(Pack(), 0);
  const std::vector<uint8_t> good = ReadFile(out), stubBytes = ReadFile(stub);
  std::string err;
  // Over the reader's limit: rejected before anything is written.
  ASSERT_TRUE(WriteFile(manifest, "{\"registry\": [{\"root\": \"HKCU\", \"key\": \"" +
                                      std::string(520, 'k') + "\"}]}"));
  EXPECT_EQ(Pack(&err), 2);
  EXPECT_NE(err.find("registry[0]"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(out), good);
  EXPECT_EQ(ReadFile(stub), stubBytes);

  ASSERT_TRUE(WriteFile(manifest, std::string(kManifest)));
  EXPECT_EQ(Tool({"pack", manifest, "--stub", stub, "-o", dir / "missing/out.exe"}, nullptr, &err),
            2);
  EXPECT_NE(err.find("cannot write"), std::string::npos);
  if (geteuid() != 0) {
    const std::string ro = dir / "ro";
    mkdir(ro.c_str(), 0500);
    EXPECT_EQ(Tool({"pack", manifest, "--stub", stub, "-o", ro + "/out.exe"}, nullptr, &err), 2);
  }
}

TEST_F(ToolTest, BadStubsAreRefused) {
  std::string err;
  std::vector<uint8_t> s = FakeStub(4096);
  s[0] = 'Z';
  ASSERT_TRUE(WriteFile(stub, s));
  EXPECT_EQ(Pack(&err), 2);
  EXPECT_NE(err.find(stub + ": stub is not a PE program"), std::string::npos) << err;
  s = FakeStub(4096);
  s[0x100] = 0;
  ASSERT_TRUE(WriteFile(stub, s));
  EXPECT_EQ(Pack(&err), 2);
  EXPECT_NE(err.find("marker not found"), std::string::npos) << err;
  s = FakeStub(4096);
  std::copy(s.begin() + 0x100, s.begin() + 0x10A, s.begin() + 0x200);
  ASSERT_TRUE(WriteFile(stub, s));
  EXPECT_EQ(Pack(&err), 2);
  EXPECT_NE(err.find("more than once"), std::string::npos) << err;
  EXPECT_EQ(Tool({"pack", manifest, "--stub", dir / "nothere.exe", "-o", out}, nullptr, &err), 2);
  EXPECT_TRUE(ReadFile(out).empty());
}

TEST_F(ToolTest, DumpReportsDamageWithOffsetAndRecord) {
  blockfmt::RecordWriter w;
  w.Record(blockfmt::TAG_OPTIONS, std::vector<uint8_t>(12, 0));
  w.RawRecord(blockfmt::TAG_FILES, 0, 9, {1, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0});
  w.End();
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(blockfmt::AppendBlockToStub(FakeStub(4096), w.bytes(), &image, &error));
  ASSERT_TRUE(WriteFile(out, image));
  std::string json, err;
  EXPECT_EQ(Tool({"dump", out}, &json, &err), 2);
  EXPECT_NE(err.find("damaged block: record 1 (tag 0x1235) at offset 4116 (0x00001014)"),
            std::string::npos)
      << err;
  EXPECT_EQ(json, "");
  EXPECT_EQ(Tool({"check", out}, &json), 2);
  EXPECT_NE(json.find("damaged block"), std::string::npos);

  ASSERT_TRUE(WriteFile(out, FakeStub(4096)));  // stamped, nothing appended
  EXPECT_EQ(Tool({"dump", out}, &json, &err), 2);
  EXPECT_NE(err.find("header cut short"), std::string::npos) << err;
}

TEST_F(ToolTest, CheckExitCodes) {
  std::string report;
  ASSERT_TRUE(WriteFile(manifest, std::string(kManifest)));
  // Three messages only: the others are missing, which the stub shows as empty texts.
  EXPECT_EQ(Tool({"check", manifest}, &report), 2);
  EXPECT_NE(report.find("error: $.messages.filesInUse: message missing"), std::string::npos)
      << report;

  ASSERT_EQ(Tool({"pack", "--stub", stub, "-o", out, dir / "../nothing.json"}), 2);
  std::string full = R"({"messages": {)";
  for (unsigned i = 0; i < blockfmt::MSG_COUNT; ++i)
    full += std::string(i ? "," : "") + "\"" + kMessageRoles[i] + "\": \"t %s\"";
  full += "}, \"registry\": [{\"root\": \"HKCU\", \"key\": \"Software\"}]}";
  ASSERT_TRUE(WriteFile(manifest, full));
  EXPECT_EQ(Tool({"check", manifest}, &report), 1) << report;
  EXPECT_NE(report.find("warning: $.registry[0].key: key directly below the root"),
            std::string::npos)
      << report;
  EXPECT_EQ(Tool({"check", "--strict", manifest}, &report), 2);
  // The packed program reports the same.
  ASSERT_EQ(Pack(), 0);
  EXPECT_EQ(Tool({"check", out}, &report), 1) << report;
  EXPECT_NE(report.find("$.registry[0].key"), std::string::npos);
}

TEST(CommandLine, UsageErrors) {
  std::string err;
  EXPECT_EQ(Tool({}, nullptr, &err), 2);
  EXPECT_EQ(Tool({"frob"}, nullptr, &err), 2);
  EXPECT_NE(err.find("unknown command"), std::string::npos);
  EXPECT_EQ(Tool({"pack", "m.json"}, nullptr, &err), 2);
  EXPECT_EQ(Tool({"dump", "--code-page", "42", "x.exe"}, nullptr, &err), 2);
  EXPECT_EQ(Tool({"dump", "--bogus", "x.exe"}, nullptr, &err), 2);
  EXPECT_EQ(Tool({"--help"}), 0);
}

}  // namespace
