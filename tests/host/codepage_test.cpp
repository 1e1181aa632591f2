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
    const char *folder, *name, *bytes;
  } cases[] = {
      {932, "C:\\データ\\能\\予", "ソ.txt", "C:\\\x83\x66\x81\x5B\x83\x5E\\\x94\x5C\\\x97\x5C"},
      {936, "C:\\软件", "数据", "C:\\\xC8\xED\xBC\xFE"},
      {949, "C:\\데이터", "한국어", "C:\\\xB5\xA5\xC0\xCC\xC5\xCD"},
      {950, "C:\\資料", "軟體═", "C:\\\xB8\xEA\xAE\xC6"},
  };
  for (const auto &c : cases) {
    nlohmann::json m = {{"codePage", c.codePage},
                        {"files", {{{"folder", c.folder}, {"name", c.name}}}}};
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
