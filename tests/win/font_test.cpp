// TrueType full names read from real files, and font removal from the system's font lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/state.h"
#include "passes/passes.h"
#include "support/testenv.h"

namespace {

const char kNtFonts[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char k9xFonts[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

void Put16(std::vector<uint8_t> *out, unsigned v) {
  out->push_back(uint8_t(v >> 8));
  out->push_back(uint8_t(v));
}
void Put32(std::vector<uint8_t> *out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}

struct NameRecord {
  unsigned platform, nameId;
  std::string text;
};

// An sfnt file whose naming table is the table record at `nameIndex` of `tables` records.
std::vector<uint8_t> MakeFont(const std::vector<NameRecord> &records, unsigned tables = 3,
                              unsigned nameIndex = 1) {
  std::vector<uint8_t> f;
  Put32(&f, 0x00010000);
  Put16(&f, tables);
  Put16(&f, 0);
  Put16(&f, 0);
  Put16(&f, 0);
  uint32_t nameOffset = 12 + 16 * tables;
  for (unsigned i = 0; i < tables; ++i) {
    if (i == nameIndex) {
      f.insert(f.end(), {'n', 'a', 'm', 'e'});
    } else {
      f.insert(f.end(), {'g', 'l', 'y', uint8_t('a' + i % 26)});
    }
    Put32(&f, 0);
    Put32(&f, i == nameIndex ? nameOffset : 0);
    Put32(&f, 0);
  }
  Put16(&f, 0);
  Put16(&f, unsigned(records.size()));
  Put16(&f, unsigned(6 + 12 * records.size()));
  unsigned at = 0;
  for (const NameRecord &r : records) {
    Put16(&f, r.platform);
    Put16(&f, r.platform == 3 ? 1 : 0);
    Put16(&f, r.platform == 3 ? 0x409 : 0);
    Put16(&f, r.nameId);
    Put16(&f, unsigned(r.text.size()));
    Put16(&f, at);
    at += unsigned(r.text.size());
  }
  for (const NameRecord &r : records) f.insert(f.end(), r.text.begin(), r.text.end());
  return f;
}

int fontChanges = 0;
LRESULT CALLBACK CountFontChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_FONTCHANGE) ++fontChanges;
  return DefWindowProcA(window, message, wParam, lParam);
}

class FontTest : public ::testing::Test {
 protected:
  FontTest() : dir_("font") { testenv::PrepareRunState(dir_.path()); }
  ~FontTest() override { testenv::ReleaseRunState(); }

  std::string Name(const std::vector<uint8_t> &bytes) {
    std::string path = dir_ / "f.ttf";
    EXPECT_TRUE(testenv::WriteBytes(path, bytes));
    return Name(path);
  }
  std::string Name(const std::string &path) {
    std::vector<char> buf(600, 'X');
    ReadFontFullName(path.c_str(), buf.data());
    std::string name(buf.data());
    EXPECT_LT(name.size() + 11, 520u);
    for (size_t i = 520; i < buf.size(); ++i) EXPECT_EQ('X', buf[i]) << "written past 520";
    return name;
  }
  testenv::ScopedTestDir dir_;
};

TEST_F(FontTest, TheLastMacintoshFullNameWins) {
  EXPECT_EQ("Sample Sans Bold",
            Name(MakeFont({{3, 4, "W"}, {1, 1, "Family"}, {1, 4, "Sample Sans Bold"}})));
  EXPECT_EQ("Zweite",
            Name(MakeFont({{1, 4, "First"}, {1, 2, "Regular"}, {1, 4, "Zweite"}, {3, 4, "x"}})));
  EXPECT_EQ("", Name(MakeFont({{3, 4, "Windows only"}, {3, 1, "Family"}})));
  EXPECT_EQ("", Name(MakeFont({})));
}

TEST_F(FontTest, TheNameTableMustBeAmongTheFirstFortyRecords) {
  EXPECT_EQ("Forty", Name(MakeFont({{1, 4, "Forty"}}, 45, 39)));
  EXPECT_EQ("", Name(MakeFont({{1, 4, "Late"}}, 45, 40)));
  EXPECT_EQ("", Name(MakeFont({{1, 4, "Beyond"}}, 2, 2)));  // only the counted records
}

TEST_F(FontTest, FilesThatAreNotPlainTrueTypeYieldNoName) {
  std::vector<uint8_t> collection = MakeFont({{1, 4, "Inner"}});
  std::vector<uint8_t> ttc = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
  ttc.resize(16 + collection.size());
  std::copy(collection.begin(), collection.end(), ttc.begin() + 16);
  EXPECT_EQ("", Name(ttc));
  EXPECT_EQ("", Name(std::vector<uint8_t>{'M', 'Z', 0, 0}));
  EXPECT_EQ("", Name(std::vector<uint8_t>{}));
  EXPECT_EQ("", Name(dir_ / "missing.ttf"));
}

TEST_F(FontTest, TruncatedOrOversizedNamesYieldNoName) {
  std::vector<uint8_t> whole = MakeFont({{1, 4, "Cut Short"}, {3, 4, "W"}, {3, 1, "F"}});
  // Every cut before the last byte of the Macintosh string leaves no name.
  size_t stringEnd = whole.size() - 2 - 1;  // the two Windows strings are one byte each
  for (size_t cut = 12; cut < stringEnd; ++cut) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + cut);
    EXPECT_EQ("", Name(part)) << cut;
  }
  // A table record that says more records follow than the file holds.
  std::vector<uint8_t> tail = MakeFont({{1, 4, "Early"}, {3, 4, "W"}});
  tail.resize(tail.size() - 2 - 12);  // drop the last record and both strings' room
  EXPECT_EQ("", Name(tail));
  // 508 bytes fit with " (TrueType)" and the terminator, 509 do not.
  EXPECT_EQ(std::string(508, 'n'), Name(MakeFont({{1, 4, std::string(508, 'n')}})));
  EXPECT_EQ("", Name(MakeFont({{1, 4, std::string(509, 'n')}})));
  EXPECT_EQ("", Name(MakeFont({{1, 4, "Short"}, {1, 4, std::string(4000, 'n')}})));
}

TEST_F(FontTest, ARealTrueTypeFontGivesItsMacintoshFullName) {
  const char *path = "T:\\fonts\\DejaVuSans.ttf";
  if (!testenv::FileExists(path)) GTEST_SKIP() << path << " was not copied into the harness";
  EXPECT_EQ("DejaVu Sans", Name(std::string(path)));
}

TEST_F(FontTest, RemovalDeletesTheValueOfItsOwnFamilyAndBroadcasts) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CountFontChanges;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "FontChangeCounter";
  RegisterClassA(&wc);
  HWND window = CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              wc.hInstance, nullptr);
  ASSERT_NE(nullptr, window);

  std::string name = "Tallowin Probe " + std::to_string(GetCurrentProcessId());
  std::string value = name + " (TrueType)";
  std::string path = dir_ / "probe.ttf";
  ASSERT_TRUE(testenv::WriteBytes(path, MakeFont({{1, 4, name}})));
  for (DWORD nt : {1u, 0u}) {
    g.isNT = nt;
    for (const char *key : {kNtFonts, k9xFonts}) {
      ASSERT_TRUE(testenv::SetRegString(HKEY_LOCAL_MACHINE, key, value, "probe.ttf"));
      ASSERT_TRUE(testenv::SetRegString(HKEY_LOCAL_MACHINE, key, name, "probe.ttf"));
    }
    fontChanges = 0;
    RemoveFont(path.c_str());
    EXPECT_EQ(1, fontChanges);
    const char *own = nt ? kNtFonts : k9xFonts;
    const char *other = nt ? k9xFonts : kNtFonts;
    EXPECT_FALSE(testenv::RegValueExists(HKEY_LOCAL_MACHINE, own, value));
    EXPECT_TRUE(testenv::RegValueExists(HKEY_LOCAL_MACHINE, own, name));
    EXPECT_TRUE(testenv::RegValueExists(HKEY_LOCAL_MACHINE, other, value));
  }
  // No name: nothing is deleted, the broadcast still goes out.
  fontChanges = 0;
  std::string bitmap = dir_ / "bitmap.fon";
  testenv::WriteBytes(bitmap, {'M', 'Z', 0x90, 0});
  RemoveFont(bitmap.c_str());
  EXPECT_EQ(1, fontChanges);
  EXPECT_TRUE(testenv::RegValueExists(HKEY_LOCAL_MACHINE, kNtFonts, name));

  for (const char *key : {kNtFonts, k9xFonts}) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &k) == 0) {
      RegDeleteValueA(k, value.c_str());
      RegDeleteValueA(k, name.c_str());
      RegCloseKey(k);
    }
  }
  DestroyWindow(window);
}

}  // namespace
