// A run over a product that an earlier, interrupted run left partly removed finishes with 0
// and exactly what the lists name is gone; a run over a product already removed ends
// quietly with 0.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/testenv.h"

namespace {

using testenv::FileExists;
using testenv::RegValueExists;

const std::string kRegBase = "Software\\TallowinTests\\Rerun";

class RerunTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WaitForSelfDeletion();
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kRegBase);
  }

  // Exactly the listed things are gone; everything beside them is still there.
  void ExpectRemoved() {
    testenv::ExpectTree(dir_.path(),
                        {"product\\keep.txt", "product\\f\\keep.txt", "product\\logs\\notes.txt",
                         "extra\\keep.txt"},
                        {"product\\f\\b.dat", "product\\f\\junk.tmp", "product\\bin",
                         "product\\logs\\old", "product\\cache", "extra\\e0", "extra\\e1"});
    EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, kRegBase + "\\Product"));
    for (const char *name : {"v0", "v1", "v2", "v3"})
      EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Shared", name)) << name;
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Shared", "keepme"));
  }

  // /Q ends by starting the script that deletes the program; wait for it to act, so a
  // later copy of the program is not deleted by an earlier script.
  void WaitForSelfDeletion() {
    for (int i = 0; i < 200 && FileExists(exe_); ++i) Sleep(100);
    Sleep(1000);
  }

  testenv::ScopedTestDir dir_{"rerun"};
  std::string exe_ = dir_ / "product\\uninstall.exe";
};

TEST_F(RerunTest, APartlyRemovedProductIsFinishedAndARemovedOneLeftAlone) {
  // Of each kind of item some are gone already, as an interrupted run leaves them, and
  // each gone one comes before one that is still there: listed files, a folder entry's
  // folder and named file, registry values. The folder entries' folders lie beside the
  // product, out of the wildcards' reach.
  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  ASSERT_TRUE(testenv::MakeTree(
      dir_.path(),
      {"product\\keep.txt", "product\\f\\keep.txt", "product\\f\\b.dat", "product\\f\\junk.tmp",
       "product\\bin\\plugins\\p.dll", "product\\logs\\run1.log", "product\\logs\\old\\run0.log",
       "product\\logs\\notes.txt", "product\\cache\\sub\\c2.bin", "extra\\keep.txt",
       "extra\\e1\\inner\\", "extra\\e1\\lock.tmp"}));
  // Handled last first.
  block.files = {{".\\bin\\plugins", "p.dll", 0},
                 {".\\f", "b.dat", 0},
                 {".\\f", "a.dat", 0},
                 {".", "readme.txt", 0}};
  block.patterns = {"*.tmp", "logs\\*.log", "cache\\*.*"};
  for (const char *e : {"extra\\e0", "extra\\e1"}) {
    block.folders.push_back({0, dir_ / e + "\\inner", "", ""});
    block.folders.push_back({1, dir_ / e, "", "lock.tmp"});  // climbs once lock.tmp is gone
  }
  ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Product\\Sub", "v", 1));
  block.registry.push_back({blockfmt::ROOT_HKCU, kRegBase + "\\Product"});
  for (int v = 0; v < 4; ++v) {
    const std::string name = "v" + std::to_string(v);
    if (v % 2) {
      ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", name, v));
    }
    block.registry.push_back({blockfmt::ROOT_HKCU, kRegBase + "\\Shared\\\\" + name});
  }
  ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", "keepme", 1));
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /Q", 120000));
  ExpectRemoved();
  // The script of the /Q run deletes the program; the product folder stays, since
  // unlisted files are in it.
  WaitForSelfDeletion();
  EXPECT_FALSE(FileExists(exe_));
  EXPECT_TRUE(testenv::DirExists(dir_ / "product"));

  // Over a product that is already removed: quiet, 0, and nothing else changes.
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /X", 60000));
  EXPECT_TRUE(FileExists(exe_));  // X: no self-deletion
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /Q", 60000));
  ExpectRemoved();
}

}  // namespace
