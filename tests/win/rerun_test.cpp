// A large removal killed part-way at several points, then run again: the second run
// finishes with 0 and exactly what the lists name is gone. A run over a product that
// is already removed ends quietly with 0.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/testenv.h"

namespace {

using testenv::DirExists;
using testenv::FileExists;
using testenv::RegKeyExists;
using testenv::RegValueExists;

const char kRegBase[] = "Software\\TallowinTests\\Rerun";
constexpr int kFolders = 30;
constexpr int kFilesPerFolder = 100;
constexpr int kExtraFolders = 10;
constexpr int kSharedValues = 50;

std::string Num(int n, int width) {
  char text[16];
  snprintf(text, sizeof text, "%0*d", width, n);
  return text;
}

class RerunTest : public ::testing::Test {
 protected:
  RerunTest() : dir_("rerun"), product_(dir_ / "product"), exe_(product_ + "\\uninstall.exe") {}
  void TearDown() override {
    WaitForSelfDeletion();
    testenv::DeleteRegTree(HKEY_CURRENT_USER, kRegBase);
  }

  // The listed product, with an unlisted file beside the listed ones everywhere.
  void MakeProduct() {
    for (int f = 0; f < kFolders; ++f) {
      std::string folder = product_ + "\\f" + Num(f, 2);
      ASSERT_TRUE(testenv::MakeDirs(folder));
      for (int i = 0; i < kFilesPerFolder; ++i) {
        ASSERT_TRUE(testenv::WriteText(folder + "\\file" + Num(i, 3) + ".dat", "x"));
      }
      ASSERT_TRUE(testenv::WriteText(folder + "\\keep.txt", "x"));
      ASSERT_TRUE(testenv::WriteText(folder + "\\junk.tmp", "x"));  // the wildcard's
    }
    for (int e = 0; e < kExtraFolders; ++e) {
      ASSERT_TRUE(testenv::MakeDirs(dir_ / ("extra\\e" + Num(e, 2) + "\\inner")));
      ASSERT_TRUE(testenv::WriteText(dir_ / ("extra\\e" + Num(e, 2) + "\\lock.tmp"), "x"));
    }
    ASSERT_TRUE(testenv::WriteText(dir_ / "extra\\keep.txt", "x"));
    for (int s = 0; s < 10; ++s) {
      std::string key = std::string(kRegBase) + "\\Product\\Sub" + Num(s, 2);
      for (int v = 0; v < 20; ++v)
        ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, key, "v" + Num(v, 2), v));
    }
    for (int v = 0; v < kSharedValues; ++v) {
      ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Shared",
                                       "v" + Num(v, 2), v));
    }
    ASSERT_TRUE(
        testenv::SetRegDword(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Shared", "keepme", 1));
    ASSERT_TRUE(
        testenv::SetRegDword(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Other", "keepme", 1));
  }

  blockfmt::Block ProductBlock() const {
    blockfmt::Block block;
    block.messages = testenv::StandardMessages();
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kFilesPerFolder; ++i) {
        block.files.push_back({".\\f" + Num(f, 2), "file" + Num(i, 3) + ".dat", 0});
      }
    }
    for (int e = 0; e < kExtraFolders; ++e) {
      blockfmt::FolderItem item;
      item.levels = 0;
      item.folder = dir_ / ("extra\\e" + Num(e, 2) + "\\inner");
      block.folders.push_back(item);
      item.levels = 1;  // climbs to eNN once lock.tmp is gone
      item.folder = dir_ / ("extra\\e" + Num(e, 2));
      item.name = "lock.tmp";
      block.folders.push_back(item);
    }
    block.registry.push_back({blockfmt::ROOT_HKCU, std::string(kRegBase) + "\\Product"});
    for (int v = 0; v < kSharedValues; ++v) {
      block.registry.push_back(
          {blockfmt::ROOT_HKCU, std::string(kRegBase) + "\\Shared\\\\v" + Num(v, 2)});
    }
    block.patterns.push_back("*.tmp");
    return block;
  }

  int ListedFilesLeft() const {
    int left = 0;
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kFilesPerFolder; ++i) {
        if (FileExists(product_ + "\\f" + Num(f, 2) + "\\file" + Num(i, 3) + ".dat")) ++left;
      }
    }
    return left;
  }

  // Exactly the listed things are gone; everything beside them is still there.
  void ExpectRemoved() const {
    EXPECT_EQ(0, ListedFilesLeft());
    for (int f = 0; f < kFolders; ++f) {
      std::string folder = product_ + "\\f" + Num(f, 2);
      EXPECT_TRUE(FileExists(folder + "\\keep.txt")) << folder;
      EXPECT_FALSE(FileExists(folder + "\\junk.tmp")) << folder;
    }
    for (int e = 0; e < kExtraFolders; ++e) {
      EXPECT_FALSE(DirExists(dir_ / ("extra\\e" + Num(e, 2)))) << e;
    }
    EXPECT_TRUE(FileExists(dir_ / "extra\\keep.txt"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Product"));
    for (int v = 0; v < kSharedValues; ++v) {
      EXPECT_FALSE(
          RegValueExists(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Shared", "v" + Num(v, 2)));
    }
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Shared", "keepme"));
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Other", "keepme"));
  }

  // Starts "exe /Q" and kills it once `probe` is gone (at once when `probe` is empty,
  // after `delayMs`); false when the run had ended by itself before that.
  bool RunAndKill(DWORD delayMs, const std::string &probe) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = "\"" + exe_ + "\" /Q";
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      ADD_FAILURE() << "cannot start " << exe_;
      return false;
    }
    Sleep(delayMs);
    for (int i = 0; !probe.empty() && i < 60000 && FileExists(probe); ++i) {
      if (WaitForSingleObject(process.hProcess, 1) != WAIT_TIMEOUT) break;
    }
    bool killed = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT &&
                  TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return killed;
  }

  // /Q ends by starting the script that deletes the program; wait for it to act, so a
  // later copy of the program is not deleted by an earlier script.
  void WaitForSelfDeletion() {
    for (int i = 0; i < 200 && FileExists(exe_); ++i) Sleep(100);
    Sleep(1000);
  }

  testenv::ScopedTestDir dir_;
  std::string product_;
  std::string exe_;
};

TEST_F(RerunTest, KilledRunsAreFinishedByTheNextRun) {
  MakeProduct();
  blockfmt::Block block = ProductBlock();
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  const int total = kFolders * kFilesPerFolder;
  // The file pass works from the last entry to the first, so the first file of a
  // folder marks how far it got: kill at the start, a third and two thirds of the way
  // through, just after the file pass, and in the folder passes.
  struct KillPoint {
    DWORD delayMs;
    std::string probe;
  } points[] = {{50, ""},
                {0, product_ + "\\f20\\file000.dat"},
                {0, product_ + "\\f10\\file000.dat"},
                {0, product_ + "\\f00\\file000.dat"},
                {0, dir_ / "extra\\e09\\lock.tmp"}};
  int interrupted = 0;
  for (const KillPoint &point : points) {
    int before = ListedFilesLeft();
    bool killed = RunAndKill(point.delayMs, point.probe);
    int after = ListedFilesLeft();
    printf("killed %s: %s, listed files %d -> %d of %d, product key %s\n",
           point.probe.empty() ? "at 50 ms" : ("when " + point.probe + " went").c_str(),
           killed ? "yes" : "no (it had ended)", before, after, total,
           RegKeyExists(HKEY_CURRENT_USER, std::string(kRegBase) + "\\Product") ? "left" : "gone");
    ASSERT_TRUE(killed) << "the run ended before it could be killed";
    if (after < before) ++interrupted;
  }
  EXPECT_GE(interrupted, 3) << "the kills did not land inside the removal";

  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /Q", 120000));
  ExpectRemoved();
  // The script of the final /Q run deletes the program; the product folder stays, since
  // unlisted files are in it.
  WaitForSelfDeletion();
  EXPECT_FALSE(FileExists(exe_));
  EXPECT_TRUE(DirExists(product_));

  // Over a product that is already removed: quiet, 0, and nothing else changes.
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /X", 60000));
  EXPECT_TRUE(FileExists(exe_));  // X: no self-deletion
  EXPECT_EQ(0u, testenv::RunAndWait("\"" + exe_ + "\" /Q", 60000));
  ExpectRemoved();
}

}  // namespace
