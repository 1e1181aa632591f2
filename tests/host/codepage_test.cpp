#include "codepage.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "codepage_cases.h"
#include "manifest.h"
#include "support.h"
#include "tallowin.h"

using namespace tallowin;

namespace {

TEST(CodePage, ConvertsAsWindowsDoes) { codepagecases::ExpectConversionsAsWindowsMakesThem(); }

TEST(CodePage, EveryByteAndEveryDoubleByteCharacterRoundTrips) {
  std::string out, error;
  for (int cp : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    for (int lead = 1; lead < 256; ++lead) {
      for (int trail = lead < 0x80 || cp < 932 || cp > 950 ? 0x100 : 0x40; trail <= 0x100;
           ++trail) {
        std::string s(1, static_cast<char>(lead));
        if (trail < 0x100) s += static_cast<char>(trail);
        ASSERT_TRUE(Utf8ToCodePage(CodePageToUtf8(s, cp), cp, &out, &error)) << cp << error;
        ASSERT_EQ(out, s) << cp << " " << lead << " " << trail;
      }
    }
  }
}

TEST(CodePage, DoubleByteManifestsPackAndDumpUnchanged) {
  hosttest::ScopedDir dir;
  ASSERT_TRUE(hosttest::WriteFile(dir / "stub.exe", hosttest::FakeStub()));
  const struct {
    int codePage;
    const char *folder, *name, *bytes, *key = "Software\\V", *value = "v";
  } cases[] = {
      {932, "C:\\データ\\能\\予", "ソ.txt", "C:\\\x83\x66\x81\x5B\x83\x5E\\\x94\x5C\\\x97\x5C"},
      {936, "C:\\软件", "数据", "C:\\\xC8\xED\xBC\xFE"},
      {949, "C:\\데이터", "한국어", "C:\\\xB5\xA5\xC0\xCC\xC5\xCD"},
      {950, "C:\\資料", "軟體═", "C:\\\xB8\xEA\xAE\xC6"},
      // Characters whose second byte is a backslash, before and after separators.
      {932, "C:\\ソフト\\表", "能", "C:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C", "Software\\能\\予\\V",
       "表"},
      {950, "C:\\許功\\蓋", "功", "C:\\\xB3\x5C\xA5\x5C\\\xBB\x5C", "Software\\許\\功\\V", "蓋"},
  };
  for (const auto &c : cases) {
    nlohmann::json m = {{"codePage", c.codePage},
                        {"files", {{{"folder", c.folder}, {"name", c.name}}}}};
    m["folders"] = {{{"folder", c.folder}}};
    m["registry"] = {{{"root", "HKCU"}, {"key", c.key}, {"value", c.value}},
                     {{"root", "HKCU"}, {"key", c.key}},
                     {{"root", "HKCU"}, {"key", c.value}}};
    ASSERT_TRUE(hosttest::WriteFile(dir / "m.json", m.dump()));
    std::string json, err;
    ASSERT_EQ(0, RunCommandLine({"tallowin", "pack", dir / "m.json", "--stub", dir / "stub.exe",
                                 "-o", dir / "out.exe"},
                                &json, &err))
        << err;
    ASSERT_EQ(0, RunCommandLine({"tallowin", "dump", "--code-page", std::to_string(c.codePage),
                                 dir / "out.exe"},
                                &json, &err))
        << err;
    Manifest parsed;
    Fault fault;
    ASSERT_TRUE(ParseManifest(json, &parsed, &fault)) << fault.Text();
    EXPECT_EQ(parsed.block.files.at(0).folder, c.bytes);
    EXPECT_EQ(nlohmann::json::parse(json)["files"], m["files"]);
    EXPECT_EQ(nlohmann::json::parse(json)["folders"], m["folders"]);
    EXPECT_EQ(nlohmann::json::parse(json)["registry"], m["registry"]);
    EXPECT_EQ(parsed.block.registry.at(0).path,
              parsed.block.registry.at(1).path + "\\\\" + parsed.block.registry.at(2).path);
    // Checked by characters too, in UTF-8: no messages, no uninstall entry, a key below the
    // root, nothing else.
    for (const std::string &input : {dir / "m.json", dir / "out.exe"}) {
      std::string report;
      RunCommandLine({"tallowin", "check", "--code-page", std::to_string(c.codePage), input},
                     &report, &err);
      EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;
      EXPECT_NE(report.find("removes \"" + std::string(c.value) + "\" with"), std::string::npos);
    }
  }
}

TEST(CodePage, PackNamesTheFieldThatDoesNotConvertOrFitInBytes) {
  std::string key;
  for (int i = 0; i < 260; ++i) key += "能";  // 520 bytes: one over the reader's limit
  const std::pair<nlohmann::json, std::string> cases[] = {
      {{{"codePage", 932}, {"files", {{{"folder", "."}, {"name", "a¥"}}}}},
       "$.files[0].name: character U+00A5 at byte 1 cannot be written in code page 932"},
      {{{"codePage", 932}, {"registry", {{{"root", "HKCU"}, {"key", key}}}}},
       "$.registry[0].key: 520 bytes, at most 519 allowed"},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> out;
    Fault fault;
    EXPECT_FALSE(PackImage(c.first.dump(), hosttest::FakeStub(), &out, &fault));
    EXPECT_EQ(fault.Text(), c.second);
  }
}

}  // namespace
