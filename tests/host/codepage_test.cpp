#include "codepage.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "codepage_cases.h"
#include "manifest.h"
#include "support.h"

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
    const char *folder, *name, *key, *value;
  } cases[] = {
      // Characters whose second byte is a backslash, before and after separators.
      {932, "C:\\ソフト\\表", "能", "Software\\能\\予\\V", "表"},
      {950, "C:\\許功\\蓋", "功", "Software\\許\\功\\V", "蓋"},
  };
  for (const auto &c : cases) {
    nlohmann::json m = {{"codePage", c.codePage},
                        {"files", {{{"folder", c.folder}, {"name", c.name}}}}};
    m["folders"] = {{{"folder", c.folder}}};
    m["registry"] = {{{"root", "HKCU"}, {"key", c.key}, {"value", c.value}},
                     {{"root", "HKCU"}, {"key", c.key}},
                     {{"root", "HKCU"}, {"key", c.value}}};
    ASSERT_TRUE(hosttest::WriteFile(dir / "m.json", m.dump()));
    const std::string cp = std::to_string(c.codePage);
    std::string json, err;
    ASSERT_EQ(
        hosttest::Tool({"pack", dir / "m.json", "--stub", dir / "stub.exe", "-o", dir / "out.exe"},
                       nullptr, &err),
        0)
        << err;
    ASSERT_EQ(hosttest::Tool({"dump", "--code-page", cp, dir / "out.exe"}, &json, &err), 0) << err;
    Manifest parsed;
    Fault fault;
    ASSERT_TRUE(ParseManifest(json, &parsed, &fault)) << fault.Text();
    for (const char *list : {"files", "folders", "registry"})
      EXPECT_EQ(nlohmann::json::parse(json)[list], m[list]);
    EXPECT_EQ(parsed.block.registry.at(0).path,
              parsed.block.registry.at(1).path + "\\\\" + parsed.block.registry.at(2).path);
    // Checked by characters too, in UTF-8: no messages, no uninstall entry, a key below the
    // root, nothing else.
    for (const std::string &input : {dir / "m.json", dir / "out.exe"}) {
      std::string report;
      hosttest::Tool({"check", "--code-page", cp, input}, &report);
      EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;
      EXPECT_NE(report.find("removes \"" + std::string(c.value) + "\" with"), std::string::npos);
    }
  }
}

}  // namespace
