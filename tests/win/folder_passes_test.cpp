// The folder passes on real folder trees below C:\tallowin-tests, and the progress
// positions of a whole run of the passes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "support/testenv.h"

namespace {

using testenv::CurrentFolder;
using testenv::DirExists;
using testenv::FileExists;
using testenv::MakeDirs;
using testenv::MakeFolderLink;
using testenv::RemoveFolderLink;
using testenv::WriteText;

// Entries whose strings the test owns, pointed to from the run state.
struct Lists {
  std::vector<std::string> texts;  // reserved up front so pointers stay put
  std::vector<FolderEntry> folders;
  std::vector<FileEntry> files;
  std::vector<RegistryEntry> registry;
  std::vector<FolderEntry *> folderPointers;
  std::vector<FileEntry *> filePointers;
  std::vector<RegistryEntry *> registryPointers;

  Lists() { texts.reserve(256); }
  char *Text(const std::string &text) {
    texts.push_back(text);
    return &texts.back()[0];
  }
  void Folder(DWORD levels, const std::string &folder, const std::string &second = "",
              const std::string &name = "") {
    folders.push_back({levels, Text(folder), Text(second), Text(name)});
  }
  void File(const std::string &folder, const std::string &name, unsigned char flags = 0) {
    files.push_back({Text(folder), Text(name), flags});
  }
  void Registry(const std::string &path) {
    registry.push_back({(DWORD)(ULONG_PTR)HKEY_CURRENT_USER, Text(path)});
  }
  void Install() {
    folderPointers.clear();
    filePointers.clear();
    registryPointers.clear();
    for (auto &f : folders) folderPointers.push_back(&f);
    for (auto &f : files) filePointers.push_back(&f);
    for (auto &r : registry) registryPointers.push_back(&r);
    g.folders = folderPointers.data();
    g.folderCount = (DWORD)folders.size();
    g.files = filePointers.data();
    g.fileCount = (DWORD)files.size();
    g.registryEntries = registryPointers.data();
    g.registryCount = (DWORD)registry.size();
  }
};

class FolderPassesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = root_ / "inst";
    ASSERT_TRUE(MakeDirs(install_));
    ASSERT_TRUE(WriteText(install_ + "\\uninstall.exe", "stub"));
    testenv::PrepareRunState(install_);
  }
  void TearDown() override {
    SetCurrentDirectoryA("C:\\");
    g.folders = nullptr;
    g.files = nullptr;
    g.registryEntries = nullptr;
    g.folderCount = g.fileCount = g.registryCount = 0;
    testenv::ReleaseRunState();
  }
  std::string R(const std::string &relative) const { return root_ / relative; }

  testenv::ScopedTestDir root_{"folders"};
  std::string install_;
  Lists lists_;
};

TEST_F(FolderPassesTest, LevelsClimbThroughParentsAndShortenTheEntry) {
  ASSERT_TRUE(MakeDirs(R("two\\top\\mid\\leaf")));
  ASSERT_TRUE(MakeDirs(R("held\\top\\mid\\leaf")));
  ASSERT_TRUE(WriteText(R("held\\top\\mid\\file.txt"), "x"));
  ASSERT_TRUE(WriteText(R("held\\top\\other.txt"), "x"));
  ASSERT_TRUE(MakeDirs(R("zero\\leaf")));
  ASSERT_TRUE(MakeDirs(R("one\\a\\full")));
  ASSERT_TRUE(WriteText(R("one\\a\\full\\f.txt"), "x"));
  lists_.Folder(2, R("two\\top\\mid\\leaf"));
  lists_.Folder(2, R("held\\top\\mid\\leaf"));
  lists_.Folder(0, R("zero\\leaf"));
  lists_.Folder(1, R("one\\a\\full"));
  lists_.Folder(0, "");
  lists_.Install();
  RemoveFolders();

  EXPECT_FALSE(DirExists(R("two\\top")));
  EXPECT_TRUE(DirExists(R("two")));  // beyond the level count
  EXPECT_FALSE(DirExists(R("held\\top\\mid\\leaf")));
  EXPECT_TRUE(FileExists(R("held\\top\\mid\\file.txt")));
  EXPECT_FALSE(DirExists(R("zero\\leaf")));
  EXPECT_TRUE(DirExists(R("one\\a\\full")));
  EXPECT_EQ(0u, lists_.folders[0].levels);
  EXPECT_EQ(R("two\\top"), lists_.folders[0].folder);
  EXPECT_EQ(R("one\\a"), lists_.folders[3].folder);
}

TEST_F(FolderPassesTest, SecondFolderClimbsInStepAndAProtectedOneBlocksBoth) {
  char windows[MAX_PATH];
  ASSERT_TRUE(GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_TRUE(MakeDirs(R("pair\\one")));
  ASSERT_TRUE(MakeDirs(R("pair\\two")));
  ASSERT_TRUE(MakeDirs(R("blocked\\first")));
  lists_.Folder(1, R("pair\\one"), R("pair\\two"));
  lists_.Folder(1, R("blocked\\first"), windows);
  lists_.Install();
  RemoveFolders();
  EXPECT_FALSE(DirExists(R("pair")));
  EXPECT_TRUE(DirExists(R("blocked\\first")));
  EXPECT_TRUE(DirExists(windows));
}

TEST_F(FolderPassesTest, CurrentFolderIsLeftBeforeItIsRemoved) {
  ASSERT_TRUE(MakeDirs(R("cur\\here")));
  ASSERT_TRUE(SetCurrentDirectoryA(R("cur\\here").c_str()));
  lists_.Folder(0, R("cur\\here"));
  lists_.Install();
  RemoveFolders();
  EXPECT_FALSE(DirExists(R("cur\\here")));
  EXPECT_TRUE(EqualsNoCase(CurrentFolder().c_str(), R("cur").c_str())) << CurrentFolder();
}

TEST_F(FolderPassesTest, ClimbsStopAtTheDriveRootAndAtLinks) {
  ASSERT_TRUE(MakeDirs(R("deep\\x")));
  ASSERT_TRUE(MakeDirs(R("target\\inner")));
  ASSERT_TRUE(MakeDirs(R("target2\\inner")));
  ASSERT_TRUE(MakeFolderLink(R("link"), "target"));
  ASSERT_TRUE(MakeFolderLink(install_ + "\\link2", "../target2"));
  lists_.Folder(100, R("deep\\x"));
  lists_.Folder(5, R("link\\inner"));
  lists_.Install();
  RemoveFolders();
  // C:\tallowin-tests\<case>\deep\x: four cuts reach "C:", which is protected.
  EXPECT_STREQ("C:", lists_.folders[0].folder);
  EXPECT_EQ(96u, lists_.folders[0].levels);
  EXPECT_FALSE(DirExists(R("deep")));
  EXPECT_TRUE(DirExists(root_.path()));
  // The listed folder behind the link goes; the climb stops at the link itself.
  EXPECT_FALSE(DirExists(R("target\\inner")));
  EXPECT_TRUE(DirExists(R("target")));
  EXPECT_STREQ(R("link").c_str(), lists_.folders[1].folder);

  lists_.File(".\\link2\\inner", "gone.txt");
  lists_.Install();
  RemoveEmptyFolders();
  EXPECT_FALSE(DirExists(R("target2\\inner")));
  EXPECT_TRUE(DirExists(R("target2")));
  EXPECT_TRUE(RemoveFolderLink(R("link")));
  EXPECT_TRUE(RemoveFolderLink(install_ + "\\link2"));
}

TEST_F(FolderPassesTest, FolderFilesAreDeletedByName) {
  ASSERT_TRUE(MakeDirs(R("ff")));
  ASSERT_TRUE(WriteText(R("ff\\named.txt"), "x"));
  ASSERT_TRUE(WriteText(R("ff\\other.txt"), "x"));
  ASSERT_TRUE(WriteText(R("ff\\ro.txt"), "x"));
  ASSERT_TRUE(SetFileAttributesA(R("ff\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  lists_.Folder(0, R("ff"), "", "named.txt");
  lists_.Folder(0, R("ff") + "\\", "", "ro.txt");
  lists_.Folder(0, R("ff"));
  lists_.Install();
  RemoveFolderFiles();
  EXPECT_FALSE(FileExists(R("ff\\named.txt")));
  EXPECT_TRUE(FileExists(R("ff\\other.txt")));
  EXPECT_TRUE(FileExists(R("ff\\ro.txt")));  // no question, it stays
  SetFileAttributesA(R("ff\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FolderPassesTest, EmptyFolderPassClimbsFromEachFileFolder) {
  ASSERT_TRUE(MakeDirs(install_ + "\\a\\b"));
  ASSERT_TRUE(MakeDirs(install_ + "\\fonts"));
  ASSERT_TRUE(MakeDirs(install_ + "\\n\\sub"));
  ASSERT_TRUE(MakeDirs(R("abs\\p\\q")));
  ASSERT_TRUE(WriteText(R("abs\\keep.txt"), "x"));
  ASSERT_TRUE(MakeDirs(R("cut")));
  lists_.File(".\\a\\b", "one.dll");
  lists_.File(".\\a\\b", "two.dll");  // same folder again
  lists_.File(".\\fonts", "f.ttf", blockfmt::FE_FONT);
  lists_.File(".\\n", "sub\\deep.txt");  // the name's own subfolder
  lists_.File(R("abs\\p\\q"), "");
  lists_.File(".", "uninstall.exe");
  // Built in full this names a file in "cut"; cut short at 259 bytes it would still
  // end in a backslash after "cut" and remove it.
  lists_.File(R("cut"), std::string(300, 'y'));
  lists_.Install();
  ASSERT_TRUE(SetCurrentDirectoryA((install_ + "\\a\\b").c_str()));
  RemoveEmptyFolders();
  EXPECT_FALSE(DirExists(install_ + "\\a"));
  EXPECT_TRUE(DirExists(install_ + "\\fonts"));
  EXPECT_FALSE(DirExists(install_ + "\\n"));
  EXPECT_FALSE(DirExists(R("abs\\p")));
  EXPECT_TRUE(FileExists(R("abs\\keep.txt")));
  EXPECT_TRUE(FileExists(install_ + "\\uninstall.exe"));
  EXPECT_TRUE(DirExists(R("cut")));
  EXPECT_TRUE(EqualsNoCase(CurrentFolder().c_str(), root_.path().c_str())) << CurrentFolder();
  EXPECT_EQ(install_ + "\\", g.installDir);
}

// A stand-in progress bar: a plain window that records every PBM_SETPOS it is sent.
std::vector<WPARAM> *recordedPositions = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == 1026 && recordedPositions) recordedPositions->push_back(wParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(FolderPassesTest, ProgressOfAWholeRunFollowsTheModel) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = RecorderProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TallowinProgressRecorder";
  RegisterClassA(&windowClass);
  HWND bar = CreateWindowA("TallowinProgressRecorder", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
  ASSERT_TRUE(bar);
  std::vector<WPARAM> positions;
  recordedPositions = &positions;

  ASSERT_TRUE(MakeDirs(install_ + "\\bin"));
  ASSERT_TRUE(WriteText(install_ + "\\bin\\a.dll", "x"));
  ASSERT_TRUE(WriteText(install_ + "\\bin\\f.ttf", "x"));
  ASSERT_TRUE(WriteText(install_ + "\\b.txt", "x"));
  lists_.File(".\\bin", "a.dll");
  lists_.File(".\\bin", "f.ttf", blockfmt::FE_FONT);
  lists_.File(".", "b.txt");
  lists_.Folder(0, R("nothing1"));
  lists_.Folder(0, R("nothing2"));
  lists_.Registry("Software\\TallowinTests\\FolderPassesProgress\\\\Value");
  lists_.Registry("");
  lists_.Registry("Software\\TallowinTests\\FolderPassesProgress");
  lists_.Install();
  g.progressBar = bar;
  g.progressTotal = 3 + 2 * 3 + 2;  // 11
  g.progressPos = 0;

  RemoveFiles();
  RemoveWildcardMatches();
  RemoveFolderFiles();
  RemoveFolders();
  RemoveEmptyFolders();
  DeleteRegistryEntries();
  recordedPositions = nullptr;
  DestroyWindow(bar);
  g.progressBar = nullptr;

  // Files 0, 9, 18 (0 is no change); folder lists 27, 36 twice; empty-folder pass 72,
  // the font skipped, 90; registry: the value entry silent, then 54, 63.
  std::vector<WPARAM> expected = {9, 18, 27, 36, 27, 36, 72, 90, 54, 63};
  EXPECT_EQ(expected, positions);
  EXPECT_FALSE(DirExists(install_ + "\\bin"));
}

// A sample product removed by the real program in a quiet run.
TEST(WholeProgramTest, QuietRunRemovesExactlyTheProduct) {
  testenv::ScopedTestDir root("product");
  std::string product = root / "Product";
  std::string shared = root / "Shared";
  for (const char *file : {"bin\\app.exe", "bin\\plugins\\p.dll", "data\\db.dat", "data\\user.cfg",
                           "readme.txt", "logs\\run1.log", "logs\\old\\run0.log", "logs\\notes.txt",
                           "cache\\c1.tmp", "cache\\sub\\c2.bin"}) {
    std::string path = product + "\\" + file;
    ASSERT_TRUE(MakeDirs(path.substr(0, path.find_last_of('\\'))));
    ASSERT_TRUE(WriteText(path, "x")) << file;
  }
  ASSERT_TRUE(MakeDirs(shared + "\\Vendor\\Product"));
  ASSERT_TRUE(WriteText(shared + "\\Vendor\\Product\\state.ini", "x"));
  ASSERT_TRUE(WriteText(shared + "\\other.txt", "x"));
  const std::string keys = "Software\\TallowinTests\\WholeProgram";
  testenv::DeleteRegTree(HKEY_CURRENT_USER, keys);
  ASSERT_TRUE(
      testenv::SetRegString(HKEY_CURRENT_USER, keys + "\\Product\\Settings\\Window", "x", "1"));
  ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, keys + "\\Product", "Version", "1"));
  ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, keys + "\\Shared", "InstallPath", "p"));
  ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, keys + "\\Shared", "Other", "o"));

  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  block.files = {{".\\bin", "app.exe", 0},
                 {".\\bin\\plugins", "p.dll", 0},
                 {".\\data", "db.dat", 0},
                 {".", "readme.txt", 0}};
  block.folders = {{1, shared + "\\Vendor\\Product", "", "state.ini"}};
  block.registry = {{blockfmt::ROOT_HKCU, keys + "\\Product"},
                    {blockfmt::ROOT_HKCU, keys + "\\Shared\\\\InstallPath"}};
  block.patterns = {"logs\\*.log", "cache\\*.*"};
  ASSERT_TRUE(testenv::InstallStub(product + "\\uninstall.exe", block));
  ASSERT_EQ(
      0u, testenv::RunAndWait("\"" + product + "\\uninstall.exe\" /Q", 60000, root.path().c_str()));

  EXPECT_FALSE(DirExists(product + "\\bin"));
  EXPECT_FALSE(FileExists(product + "\\data\\db.dat"));
  EXPECT_TRUE(FileExists(product + "\\data\\user.cfg"));
  EXPECT_FALSE(FileExists(product + "\\readme.txt"));
  EXPECT_FALSE(FileExists(product + "\\logs\\run1.log"));
  EXPECT_FALSE(DirExists(product + "\\logs\\old"));
  EXPECT_TRUE(FileExists(product + "\\logs\\notes.txt"));
  EXPECT_FALSE(DirExists(product + "\\cache"));
  EXPECT_FALSE(DirExists(shared + "\\Vendor"));
  EXPECT_TRUE(FileExists(shared + "\\other.txt"));
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, keys + "\\Product"));
  EXPECT_FALSE(testenv::RegValueExists(HKEY_CURRENT_USER, keys + "\\Shared", "InstallPath"));
  EXPECT_TRUE(testenv::RegValueExists(HKEY_CURRENT_USER, keys + "\\Shared", "Other"));
  testenv::DeleteRegTree(HKEY_CURRENT_USER, keys);
  // The self-deletion script may still be at work on the program file; give it time.
  for (int i = 0; i < 100 && FileExists(product + "\\uninstall.exe"); ++i) Sleep(100);
}

}  // namespace
