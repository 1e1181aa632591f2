// A run over a product that an earlier, interrupted run left partly removed finishes with 0
// and exactly what the lists name is gone; a run over a product already removed ends
// quietly with 0.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/testenv.h"

namespace {

using testenv::FileExists;
using testenv::RegKeyExists;
using testenv::RegValueExists;

const std::string kRegBase = "Software\\TallowinTests\\Rerun";
constexpr int kFolders = 4, kFiles = 10, kValues = 10;

class RerunTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WaitForSelfDeletion();
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kRegBase);
  }

  // The listed product and its block, with unlisted files beside the listed ones. Every
  // other item is already gone, as an interrupted run leaves it: listed files, wildcard
  // matches, the named files of folder entries, registry values and part of a key tree.
  void MakeProduct(blockfmt::Block *block) {
    block->messages = testenv::StandardMessages();
    // The folder entries' folders lie beside the product, out of the wildcards' reach.
    std::vector<std::string> names = {"extra\\keep.txt"};
    for (const char *name : {"readme.txt", "bin\\plugins\\p.dll", "logs\\run1.log",
                             "logs\\old\\run0.log", "logs\\notes.txt", "cache\\sub\\c2.bin"})
      names.push_back(std::string("product\\") + name);
    for (int f = 0; f < kFolders; ++f) {
      const std::string folder = "f" + std::to_string(f) + "\\";
      for (int i = 0; i < kFiles; ++i) {
        if ((f + i) % 2)
          names.push_back("product\\" + folder + "file" + std::to_string(i) + ".dat");
        block->files.push_back(
            {".\\" + folder.substr(0, folder.size() - 1), "file" + std::to_string(i) + ".dat", 0});
      }
      names.push_back("product\\" + folder + "keep.txt");
      if (f % 2) names.push_back("product\\" + folder + "junk.tmp");  // the wildcard's
      const std::string extra = dir_ / ("extra\\e" + std::to_string(f));
      names.push_back("extra\\e" + std::to_string(f) + "\\inner\\");
      if (f % 2) names.push_back("extra\\e" + std::to_string(f) + "\\lock.tmp");
      block->folders.push_back({0, extra + "\\inner", "", ""});
      block->folders.push_back({1, extra, "", "lock.tmp"});  // climbs once lock.tmp is gone
    }
    ASSERT_TRUE(testenv::MakeTree(dir_.path(), names));
    block->files.push_back({".", "readme.txt", 0});
    block->files.push_back({".\\bin\\plugins", "p.dll", 0});
    block->patterns = {"*.tmp", "logs\\*.log", "cache\\*.*"};
    for (int s = 0; s < 4; s += 1 + s % 2)  // subkeys 0, 1 and 3: 2 is gone
      ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER,
                                       kRegBase + "\\Product\\Sub" + std::to_string(s), "v", s));
    block->registry.push_back({blockfmt::ROOT_HKCU, kRegBase + "\\Product"});
    for (int v = 0; v < kValues; ++v) {
      const std::string name = "v" + std::to_string(v);
      if (v % 2) {
        ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", name, v));
      }
      block->registry.push_back(
          {blockfmt::ROOT_HKCU, kRegBase + "\\Shared\\\\v" + std::to_string(v)});
    }
    ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", "keepme", 1));
  }

  // Exactly the listed things are gone; everything beside them is still there.
  void ExpectRemoved() {
    std::vector<std::string> kept = {"product\\logs\\notes.txt", "extra\\keep.txt"},
                             gone = {"product\\readme.txt", "product\\bin", "product\\logs\\old",
                                     "product\\cache"};
    for (int f = 0; f < kFolders; ++f) {
      const std::string folder = "product\\f" + std::to_string(f) + "\\";
      kept.push_back(folder + "keep.txt");
      gone.push_back(folder + "junk.tmp");
      gone.push_back("extra\\e" + std::to_string(f));
      for (int i = 0; i < kFiles; ++i) gone.push_back(folder + "file" + std::to_string(i) + ".dat");
    }
    testenv::ExpectTree(dir_.path(), kept, gone);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kRegBase + "\\Product"));
    for (int v = 0; v < kValues; ++v)
      EXPECT_FALSE(
          RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Shared", "v" + std::to_string(v)));
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
  blockfmt::Block block;
  ASSERT_NO_FATAL_FAILURE(MakeProduct(&block));
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
