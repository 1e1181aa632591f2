// The registry pass on real keys below HKCU\Software\TallowinTests.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "passes/passes.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

const char kBase[] = "Software\\TallowinTests\\RegistryPass";
// Keys whose names the ANSI code page cannot spell.
const wchar_t kJapanese[] = L"Software\\TallowinTests\\RegistryPass\\Tree\\\x65E5\x672C\x8A9E";
const wchar_t kJapaneseInner[] =
    L"Software\\TallowinTests\\RegistryPass\\Tree\\\x65E5\x672C\x8A9E\\\x5B50";

std::string Key(const std::string &relative) { return std::string(kBase) + "\\" + relative; }
bool HasKey(const std::string &relative) {
  return testenv::RegKeyExists(HKEY_CURRENT_USER, Key(relative));
}
bool HasValue(const std::string &relative, const std::string &name) {
  return testenv::RegValueExists(HKEY_CURRENT_USER, Key(relative), name);
}

class RegistryPassTest : public ::testing::Test {
 protected:
  void SetUp() override { testenv::DeleteRegTree(HKEY_CURRENT_USER, kBase); }
  // The ANSI helpers cannot name the blocking key.
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TallowinTests\\RegistryPass");
  }

  // Makes each relative key with the value "v", or the named values after a "|".
  void Make(const std::vector<std::string> &items) {
    for (const std::string &item : items) {
      size_t bar = item.find('|');
      std::string key = item.substr(0, bar),
                  names = bar == std::string::npos ? "v" : item.substr(bar + 1);
      for (size_t at = 0, comma; at <= names.size(); at = comma + 1) {
        comma = std::min(names.find(',', at), names.size());
        ASSERT_TRUE(
            testenv::SetRegString(HKEY_CURRENT_USER, Key(key), names.substr(at, comma - at), "1"))
            << item;
      }
    }
  }

  // Runs the pass over entries of `paths` below HKEY_CURRENT_USER.
  void Run(const std::vector<std::string> &paths) {
    state_.Clear();
    for (const std::string &path : paths) state_.Registry(HKEY_CURRENT_USER, path);
    DeleteRegistryEntries();
  }

  testenv::ScopedTestDir dir_{"registry"};
  testenv::RunState state_{dir_.path()};
};

// Values in a row share their key but never across other keys: "PA" and "PB" have key
// texts of one length, "PA2" starts like "PA", and the key entry between the values must
// not meet a key still held open. A leading doubled backslash names a value of the root
// key; an empty path names nothing.
TEST_F(RegistryPassTest, ValueEntriesDeleteOneValueEachAndKeepTheirPathText) {
  Make({"PA|a,b,keep,", "PB|a,b,keep", "PA2|a,b,keep", "PA\\Sub", "Defaulted|,Kept"});
  const char kRootValue[] = "TallowinTestsRootValue";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(HKEY_CURRENT_USER, kRootValue, 0, REG_SZ, (const BYTE *)"x", 2));
  // Wine counts no handles in GetProcessHandleCount; a key left open instead holds one of
  // the handles that the next opens would get (the walk down a path frees lower ones).
  auto nextKey = [] {
    std::vector<HKEY> keys(32);
    for (HKEY &key : keys) RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    for (HKEY key : keys) RegCloseKey(key);
    return keys;
  };
  const std::vector<HKEY> before = nextKey();
  std::vector<std::string> paths = {"PA\\\\a",  "PA\\\\b",       "PA2\\\\a",     "PB\\\\a",
                                    "PA\\Sub",  "PA\\\\Missing", "Missing\\\\a", "PB\\\\b",
                                    "PA2\\\\b", "Defaulted\\\\"};
  for (std::string &path : paths) path = Key(path);
  paths.push_back(std::string("\\\\") + kRootValue);
  paths.push_back("");
  Run(paths);
  // The key held open for a run of values is closed when the pass ends.
  EXPECT_EQ(before, nextKey());
  bool rootValueLeft = testenv::RegValueExists(HKEY_CURRENT_USER, "", kRootValue);
  RegDeleteValueA(HKEY_CURRENT_USER, kRootValue);
  EXPECT_FALSE(rootValueLeft);
  for (const char *key : {"PA", "PB", "PA2"}) {
    EXPECT_FALSE(HasValue(key, "a") || HasValue(key, "b")) << key;
    EXPECT_TRUE(HasValue(key, "keep")) << key;
  }
  EXPECT_TRUE(HasValue("PA", ""));
  EXPECT_FALSE(HasKey("PA\\Sub") || HasKey("Missing") || HasValue("Defaulted", ""));
  EXPECT_TRUE(HasValue("Defaulted", "Kept"));
  // The key text is cut while the key is opened; the entries must read the same after.
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i], g.registryEntries[i]->path);
}

TEST_F(RegistryPassTest, KeyEntriesDeleteWholeTreesWhateverTheirSubkeysAreNamed) {
  // Subkeys and values named in Japanese, which the ANSI code page cannot spell (the ANSI
  // enumeration gives "???"): the tree goes whole. Only a listed key that was not there
  // is absent.
  Make({"Tree\\A\\B\\C\\D", "Tree\\A\\Side", "Tree\\Z|", "Tree", "Neighbour"});
  for (const wchar_t *key : {kJapanese, kJapaneseInner}) {
    HKEY made;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, key, &made));
    RegSetValueExW(made, L"\x5024", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"1"), 4);
    RegCloseKey(made);
  }
  testenv::PassLog log(dir_ / "registry.log");
  Run({Key("Tree"), Key("Missing"), Key("Missing\\\\v")});
  EXPECT_FALSE(HasKey("Tree"));
  EXPECT_TRUE(HasValue("Neighbour", "v"));
  const std::string root = "HKEY_CURRENT_USER\\";
  EXPECT_EQ(
      (std::vector<std::string>{"removed " + root + Key("Tree"), "absent " + root + Key("Missing"),
                                "absent " + root + Key("Missing\\\\v")}),
      log.Outcomes());
  EXPECT_EQ(0u, g.failedCount);
  EXPECT_EQ((LONG)ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_CURRENT_USER, Key("Tree").c_str()));
  EXPECT_EQ((LONG)ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, ""));  // never the root itself
}

// Keys marked to go only when empty: one with a value or a subkey stays whole, an empty
// one goes, and a vendor key goes once the product key listed before it has gone.
TEST_F(RegistryPassTest, KeysMarkedIfEmptyGoOnlyWhenTheyHoldNothing) {
  Make({"Vendor\\Product", "Vendor\\Other", "Valued|x"});
  HKEY empty;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, Key("Empty").c_str(), &empty));
  RegCloseKey(empty);
  const std::pair<const char *, bool> entries[] = {{"Vendor\\Product", false},
                                                   {"Vendor", true},
                                                   {"Valued", true},
                                                   {"Empty", true},
                                                   {"Missing", true}};
  state_.Clear();
  for (const auto &[key, ifEmpty] : entries)
    state_.Registry(HKEY_CURRENT_USER, Key(key)).onlyIfEmpty = ifEmpty;
  DeleteRegistryEntries();
  EXPECT_FALSE(HasKey("Vendor\\Product") || HasKey("Empty"));
  EXPECT_TRUE(HasValue("Vendor\\Other", "v") && HasValue("Valued", "x"));
  state_.Clear();
  state_.Registry(HKEY_CURRENT_USER, Key("Vendor\\Other"));
  state_.Registry(HKEY_CURRENT_USER, Key("Vendor")).onlyIfEmpty = TRUE;
  DeleteRegistryEntries();
  EXPECT_FALSE(HasKey("Vendor"));
}

TEST_F(RegistryPassTest, LinkKeysAreLeftAndNothingBehindThemIsTouched) {
  // A user's link key in his own hive that names a machine key: neither a tree holding
  // it, nor a key listed through it, nor a value through it reaches the machine key. The
  // link names the native key, so the machine key is made and read in the native view,
  // whichever build runs this (a 32-bit program's HKLM\Software is another key).
  const char victim[] = "Software\\TallowinTests\\LinkVictim";
  auto victimHas = [&victim](const std::string &sub) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (victim + sub).c_str(), 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
      return false;
    const bool has = RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr) == 0;
    RegCloseKey(key);
    return has;
  };
  for (const char *sub : {"\\Inner", ""}) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, (victim + std::string(sub)).c_str(), 0, nullptr,
                              0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("1"), 2);
    RegCloseKey(key);
  }
  Make({"Tree\\Before", "Tree\\Z"});
  HKEY link;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Key("Tree\\Link").c_str(), 0, nullptr,
                                           REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                           nullptr, &link, nullptr));
  const wchar_t target[] = L"\\Registry\\Machine\\Software\\TallowinTests\\LinkVictim";
  RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE *>(target),
                 sizeof target - sizeof(wchar_t));
  RegCloseKey(link);
  ASSERT_TRUE(
      testenv::RegValueExists(HKEY_CURRENT_USER, Key("Tree\\Link"), "v"));  // it leads there

  testenv::PassLog log(dir_ / "registry.log");
  Run({Key("Tree\\Link\\Inner"), Key("Tree\\Link\\\\v"), Key("Tree")});
  // Each stays, and says so; each fails the run.
  const std::vector<std::string> outcomes = log.Outcomes();
  ASSERT_EQ(3u, outcomes.size());
  for (const std::string &line : outcomes)
    EXPECT_EQ(0u, line.find("link HKEY_CURRENT_USER\\")) << line;
  EXPECT_EQ(3u, g.failedCount);
  EXPECT_TRUE(victimHas("\\Inner"));
  EXPECT_TRUE(victimHas(""));
  EXPECT_FALSE(HasKey("Tree\\Before"));  // the tree goes up to the link
  EXPECT_TRUE(HasKey("Tree\\Z") && HasKey("Tree\\Link"));

  HKEY machine;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\TallowinTests", 0,
                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, &machine) == ERROR_SUCCESS) {
    RegDeleteTreeA(machine, "LinkVictim");
    RegCloseKey(machine);
  }
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, Key("Tree\\Link").c_str(),
                                         REG_OPTION_OPEN_LINK, DELETE, &link));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(link, ""));
  RegCloseKey(link);
}

}  // namespace
