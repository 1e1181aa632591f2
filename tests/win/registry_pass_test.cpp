// The registry pass on real keys below HKCU\Software\TallowinTests.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "passes/passes.h"
#include "support/testenv.h"

namespace {

using testenv::RegKeyExists;
using testenv::RegValueExists;
using testenv::SetRegString;

const char kBase[] = "Software\\TallowinTests\\RegistryPass";
// The stored root value of HKEY_CURRENT_USER, as the data block carries it.
const DWORD kCurrentUser = (DWORD)(ULONG_PTR)HKEY_CURRENT_USER;

std::string Key(const std::string &relative) { return std::string(kBase) + "\\" + relative; }

class RegistryPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kBase);
    testenv::PrepareRunState("C:\\tallowin-tests\\registry");
  }
  void TearDown() override {
    // The ANSI helpers cannot name the key that the blocking case makes.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TallowinTests\\RegistryPass");
    g.registryEntries = nullptr;
    g.registryCount = 0;
    testenv::ReleaseRunState();
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kBase);
  }

  // Runs the pass over entries made from `paths` (owned by the test, not the reader).
  void Run(const std::vector<std::string> &paths, DWORD root = kCurrentUser) {
    texts_.assign(paths.begin(), paths.end());
    entries_.resize(texts_.size());
    pointers_.clear();
    for (size_t i = 0; i < texts_.size(); ++i) {
      entries_[i].root = root;
      entries_[i].path = &texts_[i][0];
      pointers_.push_back(&entries_[i]);
    }
    g.registryEntries = pointers_.data();
    g.registryCount = (DWORD)pointers_.size();
    DeleteRegistryEntries();
  }

  std::vector<std::string> texts_;
  std::vector<RegistryEntry> entries_;
  std::vector<RegistryEntry *> pointers_;
};

TEST_F(RegistryPassTest, ValueEntriesDeleteOneValueAndKeepTheirPathText) {
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Product"), "Setting", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Product"), "Other", "2"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Product"), "", "default"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Defaulted"), "", "default"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Defaulted"), "Kept", "3"));

  std::string named = Key("Product") + "\\\\Setting";
  std::string unnamed = Key("Defaulted") + "\\\\";
  Run({named, unnamed, Key("Missing") + "\\\\Setting"});

  EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, Key("Product"), "Setting"));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Product"), "Other"));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Product"), ""));
  EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, Key("Defaulted"), ""));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Defaulted"), "Kept"));
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Key("Product")));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Missing")));
  // The key text is cut while the key is opened; the entry must read the same after.
  EXPECT_EQ(named, texts_[0].c_str());
  EXPECT_EQ(unnamed, texts_[1].c_str());
}

TEST_F(RegistryPassTest, ValuesInARowShareTheirKeyButNeverAcrossOtherKeys) {
  // "PA" and "PB" have key texts of one length; "PA2" starts like "PA"; the key entry
  // between the values must not meet a key still held open.
  for (const char *key : {"PA", "PB", "PA2"}) {
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key(key), "a", "1"));
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key(key), "b", "1"));
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key(key), "keep", "1"));
  }
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("PA\\Sub"), "v", "1"));
  DWORD handlesBefore = 0, handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
  Run({Key("PA") + "\\\\a", Key("PA") + "\\\\b", Key("PA2") + "\\\\a", Key("PB") + "\\\\a",
       Key("PA\\Sub"), Key("PA") + "\\\\Missing", Key("PB") + "\\\\b", Key("PA2") + "\\\\b"});
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  for (const char *key : {"PA", "PB", "PA2"}) {
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, Key(key), "a")) << key;
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, Key(key), "b")) << key;
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key(key), "keep")) << key;
  }
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("PA\\Sub")));
  // The key held open for a run of values is closed when the pass ends.
  EXPECT_EQ(handlesBefore, handlesAfter);
}

TEST_F(RegistryPassTest, LeadingDoubledBackslashNamesAValueOfTheRootKey) {
  const char kName[] = "TallowinTestsRootValue";
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(HKEY_CURRENT_USER, kName, 0, REG_SZ, (const BYTE *)"x", 2));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Stays"), "v", "1"));
  Run({std::string("\\\\") + kName});
  bool left = RegValueExists(HKEY_CURRENT_USER, "", kName);
  RegDeleteValueA(HKEY_CURRENT_USER, kName);
  EXPECT_FALSE(left);
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Stays"), "v"));
}

TEST_F(RegistryPassTest, KeyEntryDeletesTheWholeTreeOnNt) {
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Tree\\A\\B\\C\\D"), "deep", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Tree\\A\\Side"), "v", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Tree\\Z"), "", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Tree"), "top", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Neighbour"), "v", "1"));
  Run({Key("Tree")});
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Tree")));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Neighbour"), "v"));
}

TEST_F(RegistryPassTest, NinexFamilyMakesOneKeyDeletion) {
  // On the NT family that Wine emulates a single RegDeleteKeyA refuses a key with
  // subkeys, so this shows the pass did not walk the tree itself.
  g.isNT = 0;
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Parent\\Child"), "v", "1"));
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Leaf"), "v", "1"));
  Run({Key("Parent"), Key("Leaf")});
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Key("Parent\\Child")));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Leaf")));
}

TEST_F(RegistryPassTest, EmptyPathOrEmptyListDeletesNothing) {
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Keep"), "v", "1"));
  Run({""});
  Run({});
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, Key("Keep"), "v"));
  EXPECT_EQ((LONG)ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, ""));
  EXPECT_EQ((LONG)ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, nullptr));
  EXPECT_EQ((LONG)ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_CURRENT_USER, Key("Nope").c_str()));
}

TEST_F(RegistryPassTest, SubkeyThatCannotBeDeletedStopsTheTreeDeletion) {
  // Wine ignores a DACL that denies DELETE, so the blocker is a subkey whose name has a
  // character outside the ANSI code page: the ANSI enumeration gives "C?", which names
  // no key, and the deletion must stop there. Subkeys enumerate in name order.
  for (const char *name : {"A\\Inner", "B", "D"}) {
    ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Blocked\\") + name, "v", "1"));
  }
  HKEY blocker;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyW(HKEY_CURRENT_USER,
                          L"Software\\TallowinTests\\RegistryPass\\Blocked\\C\x4E2D", &blocker));
  RegCloseKey(blocker);
  ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, Key("Next"), "v", "1"));

  Run({Key("Blocked"), Key("Next")});

  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Blocked\\A")));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Blocked\\B")));
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Key("Blocked\\D")));
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Key("Blocked")));
  HKEY still;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyW(HKEY_CURRENT_USER,
                        L"Software\\TallowinTests\\RegistryPass\\Blocked\\C\x4E2D", &still));
  RegCloseKey(still);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, Key("Next")));  // the pass goes on
  EXPECT_EQ((LONG)ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_CURRENT_USER, Key("Blocked").c_str()));
}

}  // namespace
