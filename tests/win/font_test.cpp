// TrueType full names read from real files, and font removal from the system's font lists.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

const char kNtFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
// Family names of the test's own, unlike any installed font's.
const std::string kOwnFont = "Tallowin Probe " + std::to_string(GetCurrentProcessId()) + " ";

struct NameRecord {
  unsigned platform, nameId;
  std::string text;
};

// An sfnt file whose naming table is the table record at `nameIndex` of `tables` records.
std::vector<uint8_t> MakeFont(const std::vector<NameRecord> &records, unsigned tables = 3,
                              unsigned nameIndex = 1) {
  std::vector<uint8_t> f;
  // `bytes` bytes of `v`, most significant first.
  auto put = [&f](uint32_t v, int bytes = 2) {
    while (bytes--) f.push_back(uint8_t(v >> (8 * bytes)));
  };
  put(0x00010000, 4);
  for (unsigned v : {tables, 0u, 0u, 0u}) put(v);
  for (unsigned i = 0; i < tables; ++i) {
    const char *tag = i == nameIndex ? "name" : "glyf";
    f.insert(f.end(), tag, tag + 4);
    for (uint32_t v : {0u, i == nameIndex ? 12 + 16 * tables : 0u, 0u}) put(v, 4);
  }
  for (size_t v : {size_t(0), records.size(), 6 + 12 * records.size()}) put(unsigned(v));
  unsigned at = 0;
  for (const NameRecord &r : records) {
    bool windows = r.platform == 3;
    for (unsigned v : {r.platform, windows ? 1u : 0u, windows ? 0x409u : 0u, r.nameId,
                       unsigned(r.text.size()), at})
      put(v);
    at += unsigned(r.text.size());
  }
  for (const NameRecord &r : records) f.insert(f.end(), r.text.begin(), r.text.end());
  return f;
}

class FontTest : public ::testing::Test {
 protected:
  // The reader gets the 520 bytes that removal gives it, and room for the suffix is left.
  // No bytes: no file.
  std::string Name(const std::vector<uint8_t> &bytes) {
    const std::string path = dir_ / "f.ttf";
    DeleteFileA(path.c_str());
    EXPECT_TRUE(bytes.empty() || testenv::WriteBytes(path, bytes));
    std::vector<char> buf(600, 'X');
    ReadFontFullName(path.c_str(), buf.data());
    std::string name(buf.data());
    for (size_t i = 520; i < buf.size(); ++i) EXPECT_EQ('X', buf[i]) << "written past 520";
    return name;
  }
  testenv::ScopedTestDir dir_{"font"};
  testenv::RunState state_{dir_.path()};
};

TEST_F(FontTest, TheNameIsTheLastMacintoshFullNameReadWithinTheFile) {
  const std::string n508(508, 'n'), n509(509, 'n');
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {MakeFont({{1, 4, "First"}, {1, 2, "Regular"}, {1, 4, "Zweite"}, {3, 4, "x"}}), "Zweite"},
      // The naming table as the 40th of the table records, and the 41st, past those read.
      {MakeFont({{1, 4, "Forty"}}, 45, 39), "Forty"},
      {MakeFont({{1, 4, "Late"}}, 45, 40), ""},
      // 508 bytes fit with " (TrueType)" and the terminator, 509 do not; nor a later name.
      {MakeFont({{1, 4, n508}}), n508},
      {MakeFont({{1, 4, n509}}), ""},
      {MakeFont({{1, 4, "Short"}, {1, 4, std::string(4000, 'n')}}), ""}};
  for (const auto &c : cases) EXPECT_EQ(c.second, Name(c.first));

  // Every cut before the last byte of the Macintosh string leaves no name, whether records
  // or strings are missing; cut at 0, there is no file.
  std::vector<uint8_t> whole = MakeFont({{1, 4, "Cut Short"}, {3, 4, "W"}, {3, 1, "F"}});
  size_t stringEnd = whole.size() - 2 - 1;  // the two Windows strings are one byte each
  for (size_t cut = 0; cut < stringEnd; ++cut)
    EXPECT_EQ("", Name(std::vector<uint8_t>(whole.begin(), whole.begin() + cut))) << cut;
}

// A real font, as the synthetic ones cannot show that the format is read as fonts have it.
TEST_F(FontTest, ARealTrueTypeFontGivesItsMacintoshFullName) {
  const char *path = "T:\\fonts\\DejaVuSans.ttf";
  if (!testenv::FileExists(path)) GTEST_SKIP() << path << " was not copied into the harness";
  char name[520];
  ReadFontFullName(path, name);
  EXPECT_STREQ("DejaVu Sans", name);
}

// The name comes from a file that may not be the product's (a user could have written it):
// the list's value goes only when it names that file, by full path or, in the Fonts folder,
// by name; any other stays, and a silent run does not fail for it. The file goes.
TEST_F(FontTest, TheListsValueGoesOnlyWhenItNamesTheListedFile) {
  g.silent = 1;
  char fonts[MAX_PATH];
  ASSERT_TRUE(GetSpecialFolder(fonts, CSIDL_FONTS));
  const struct {
    std::string folder, name;
    DWORD type;
    std::string data;  // "": the file's own full path
    bool terminated, goes;
  } rows[] = {{dir_.path(), "f0.ttf", REG_SZ, "", true, true},
              {fonts, "tallowin-probe.ttf", REG_SZ, "TALLOWIN-probe.ttf", true, true},
              {dir_.path(), "f3.ttf", REG_SZ, "f3.ttf", true, false},  // not in the Fonts folder
              {dir_.path(), "f4.ttf", REG_SZ, dir_ / "f0.ttf", true, false},
              {dir_.path(), "f5.ttf", REG_SZ, "", false, false},
              {dir_.path(), "f6.ttf", REG_EXPAND_SZ, "", true, false},
              {dir_.path(), "f7.ttf", REG_SZ, std::string(fonts) + "\\f7.ttf", true, false}};
  std::vector<std::string> values;
  for (const auto &r : rows) {
    const std::string file = state_.File(r.folder, r.name, blockfmt::FE_FONT);
    // A byte other than 0 after the text, or the system would count a terminator in.
    const std::string data = (r.data.empty() ? file : r.data) + (r.terminated ? "" : "!");
    values.push_back(kOwnFont + std::to_string(values.size()));
    ASSERT_TRUE(testenv::WriteBytes(file, MakeFont({{1, 4, values.back()}})));
    values.back() += " (TrueType)";
    ASSERT_TRUE(testenv::SetRegValue(HKEY_LOCAL_MACHINE, kNtFonts, values.back(), r.type,
                                     data.c_str(), DWORD(data.size() + (r.terminated ? 1 : -1))));
  }
  RemoveFiles();
  EXPECT_EQ(0, FinishRun(0));
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_FALSE(testenv::FileExists(rows[i].folder + "\\" + rows[i].name)) << i;
    EXPECT_NE(rows[i].goes, testenv::RegValueExists(HKEY_LOCAL_MACHINE, kNtFonts, values[i])) << i;
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kNtFonts, values[i].c_str());
  }
}

}  // namespace
