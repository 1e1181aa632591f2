// A large removal killed part-way at several points, then run again: the second run
// finishes with 0 and exactly what the lists name is gone. A run over a product that
// is already removed ends quietly with 0.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include <string>

#include "support/testenv.h"

namespace {

using testenv::DirExists;
using testenv::FileExists;
using testenv::RegKeyExists;
using testenv::RegValueExists;

const std::string kRegBase = "Software\\TallowinTests\\Rerun";
constexpr int kFolders = 30;
constexpr int kFilesPerFolder = 100;
constexpr int kExtraFolders = 10;
constexpr int kSharedValues = 50;

std::string Num(int n, int width = 2) {
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

  std::string Folder(int f) const { return "f" + Num(f); }
  std::string Listed(int i) const { return "file" + Num(i, 3) + ".dat"; }
  std::string Extra(int e) const { return dir_ / ("extra\\e" + Num(e)); }

  // The listed product and its block, with an unlisted file beside the listed ones
  // everywhere.
  void MakeProduct(blockfmt::Block *block) {
    block->messages = testenv::StandardMessages();
    for (int f = 0; f < kFolders; ++f) {
      std::string folder = product_ + "\\" + Folder(f);
      ASSERT_TRUE(testenv::MakeDirs(folder));
      for (int i = 0; i < kFilesPerFolder; ++i) {
        ASSERT_TRUE(testenv::WriteText(folder + "\\" + Listed(i), "x"));
        block->files.push_back({".\\" + Folder(f), Listed(i), 0});
      }
      ASSERT_TRUE(testenv::WriteText(folder + "\\keep.txt", "x"));
      ASSERT_TRUE(testenv::WriteText(folder + "\\junk.tmp", "x"));  // the wildcard's
    }
    // Beside them, folders that only the empty-folder pass or a wildcard text empties.
    for (const char *file : {"readme.txt", "bin\\app.exe", "bin\\plugins\\p.dll", "logs\\run1.log",
                             "logs\\old\\run0.log", "logs\\notes.txt", "cache\\sub\\c2.bin"}) {
      std::string path = product_ + "\\" + file;
      ASSERT_TRUE(testenv::MakeDirs(path.substr(0, path.find_last_of('\\'))));
      ASSERT_TRUE(testenv::WriteText(path, "x"));
    }
    block->files.push_back({".", "readme.txt", 0});
    block->files.push_back({".\\bin", "app.exe", 0});
    block->files.push_back({".\\bin\\plugins", "p.dll", 0});
    block->patterns = {"*.tmp", "logs\\*.log", "cache\\*.*"};
    for (int e = 0; e < kExtraFolders; ++e) {
      ASSERT_TRUE(testenv::MakeDirs(Extra(e) + "\\inner"));
      ASSERT_TRUE(testenv::WriteText(Extra(e) + "\\lock.tmp", "x"));
      block->folders.push_back({0, Extra(e) + "\\inner", "", ""});
      block->folders.push_back({1, Extra(e), "", "lock.tmp"});  // climbs once lock.tmp is gone
    }
    ASSERT_TRUE(testenv::WriteText(dir_ / "extra\\keep.txt", "x"));
    for (int s = 0; s < 10; ++s) {
      for (int v = 0; v < 20; ++v) {
        ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Product\\Sub" + Num(s),
                                         "v" + Num(v), v));
      }
    }
    block->registry.push_back({blockfmt::ROOT_HKCU, kRegBase + "\\Product"});
    for (int v = 0; v < kSharedValues; ++v) {
      ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", "v" + Num(v), v));
      block->registry.push_back({blockfmt::ROOT_HKCU, kRegBase + "\\Shared\\\\v" + Num(v)});
    }
    ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Shared", "keepme", 1));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_CURRENT_USER, kRegBase + "\\Other", "keepme", 1));
  }

  int ListedFilesLeft() const {
    int left = 0;
    for (int f = 0; f < kFolders; ++f) {
      for (int i = 0; i < kFilesPerFolder; ++i) {
        left += FileExists(product_ + "\\" + Folder(f) + "\\" + Listed(i));
      }
    }
    return left;
  }

  // Exactly the listed things are gone; everything beside them is still there.
  void ExpectRemoved() const {
    EXPECT_EQ(0, ListedFilesLeft());
    for (int f = 0; f < kFolders; ++f) {
      EXPECT_TRUE(FileExists(product_ + "\\" + Folder(f) + "\\keep.txt")) << f;
      EXPECT_FALSE(FileExists(product_ + "\\" + Folder(f) + "\\junk.tmp")) << f;
    }
    EXPECT_FALSE(FileExists(product_ + "\\readme.txt"));
    EXPECT_FALSE(DirExists(product_ + "\\bin"));
    EXPECT_FALSE(DirExists(product_ + "\\logs\\old"));
    EXPECT_TRUE(FileExists(product_ + "\\logs\\notes.txt"));
    EXPECT_FALSE(DirExists(product_ + "\\cache"));
    for (int e = 0; e < kExtraFolders; ++e) EXPECT_FALSE(DirExists(Extra(e))) << e;
    EXPECT_TRUE(FileExists(dir_ / "extra\\keep.txt"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kRegBase + "\\Product"));
    for (int v = 0; v < kSharedValues; ++v) {
      EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Shared", "v" + Num(v))) << v;
    }
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Shared", "keepme"));
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, kRegBase + "\\Other", "keepme"));
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
  blockfmt::Block block;
  ASSERT_NO_FATAL_FAILURE(MakeProduct(&block));
  ASSERT_TRUE(testenv::InstallStub(exe_, block));
  // The file pass works from the last entry to the first, so the first file of a
  // folder marks how far it got: kill at the start, a third and two thirds of the way
  // through, just after the file pass, and in the folder passes.
  const std::pair<DWORD, std::string> points[] = {{50, ""},
                                                  {0, product_ + "\\f20\\file000.dat"},
                                                  {0, product_ + "\\f10\\file000.dat"},
                                                  {0, product_ + "\\f00\\file000.dat"},
                                                  {0, Extra(9) + "\\lock.tmp"}};
  int interrupted = 0;
  for (const auto &point : points) {
    int before = ListedFilesLeft();
    bool killed = RunAndKill(point.first, point.second);
    int after = ListedFilesLeft();
    printf("killed %s: %s, listed files %d -> %d of %d, product key %s\n",
           point.second.empty() ? "at 50 ms" : ("when " + point.second + " went").c_str(),
           killed ? "yes" : "no (it had ended)", before, after, kFolders * kFilesPerFolder,
           RegKeyExists(HKEY_CURRENT_USER, kRegBase + "\\Product") ? "left" : "gone");
    ASSERT_TRUE(killed) << "the run ended before it could be killed";
    interrupted += after < before;
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
