// The file pass on real files and SharedDLLs values: counts, questions, prompts, folders.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "data/data.h"
#include "passes/passes.h"
#include "paths/paths.h"
#include "support/testenv.h"
#include "support/windows.h"
#include "ui/resource_ids.h"

using blockfmt::FE_CHECK_IN_USE;
using blockfmt::FE_FONT;
using blockfmt::FE_SELFREG;
using blockfmt::FE_SHARED;
using testenv::FileExists;
using winui::DialogAnswerer;
using winui::Press;

namespace {

constexpr UINT kSetPos = WM_USER + 2;  // PBM_SETPOS
const char kSharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

bool IsReadOnly(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

// Holds a file open for reading without letting others write, as a running program would.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string &path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Records the positions a progress bar is sent, with what the pass had removed by then.
std::vector<DWORD> *positions = nullptr;
std::vector<std::string> *watched = nullptr;
std::vector<std::string> *existing = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kSetPos && positions) {
    positions->push_back(static_cast<DWORD>(wParam));
    std::string present;
    for (const std::string &path : *watched) present += FileExists(path) ? "1" : "0";
    existing->push_back(present);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class FilePassTest : public ::testing::Test {
 protected:
  FilePassTest() : dir_("filepass") {
    testenv::PrepareRunState(dir_.path());
    keyExisted_ = testenv::RegKeyExists(HKEY_LOCAL_MACHINE, kSharedKey);
    SetMessages(testenv::StandardMessages());
  }
  ~FilePassTest() override {
    for (const std::string &name : sharedNames_) {
      HKEY key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueA(key, name.c_str());
        RegCloseKey(key);
      }
    }
    if (!keyExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedKey);
    if (stub_) FreeLibrary(stub_);
    g.messages = nullptr;  // both lists belong to the test, not to the allocator
    g.files = nullptr;
    g.fileCount = 0;
    ResetProtectedFolders();
    testenv::ReleaseRunState();
  }

  void SetMessages(const std::vector<std::string> &texts) {
    texts_ = texts;
    slots_.clear();
    for (std::string &t : texts_) slots_.push_back(&t[0]);
    slots_.push_back(nullptr);
    g.messages = slots_.data();
  }
  void SetMessage(int number, const std::string &text) {
    std::vector<std::string> texts = texts_;
    texts[number] = text;
    SetMessages(texts);
  }

  // Adds an entry; returns its full path as the pass should build it.
  std::string Add(const std::string &folder, const std::string &name, unsigned char flags = 0) {
    auto e = std::make_unique<Entry>();
    e->folder = folder;
    e->name = name;
    e->entry.folder = &e->folder[0];
    e->entry.name = &e->name[0];
    e->entry.flags = flags;
    entries_.push_back(std::move(e));
    pointers_.clear();
    for (auto &p : entries_) pointers_.push_back(&p->entry);
    g.files = pointers_.data();
    g.fileCount = static_cast<DWORD>(pointers_.size());
    return folder + "\\" + name;
  }
  std::string AddFile(const std::string &name, unsigned char flags = 0) {
    testenv::WriteText(dir_ / name, "data");
    return Add(dir_.path(), name, flags);
  }

  void SetCount(const std::string &path, DWORD count) {
    sharedNames_.push_back(path);
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedKey, path, count));
  }
  void SetCountBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    sharedNames_.push_back(path);
    ASSERT_TRUE(testenv::SetRegBinary(HKEY_LOCAL_MACHINE, kSharedKey, path, bytes));
  }
  std::vector<uint8_t> CountBytes(const std::string &path) {
    HKEY key;
    std::vector<uint8_t> data(16);
    DWORD size = 16;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_READ, &key) != 0) return {};
    LONG rc = RegQueryValueExA(key, path.c_str(), nullptr, nullptr, data.data(), &size);
    RegCloseKey(key);
    if (rc != 0) return {0xEE};
    data.resize(size);
    return data;
  }
  bool HasValue(const std::string &path) {
    return testenv::RegValueExists(HKEY_LOCAL_MACHINE, kSharedKey, path);
  }
  DWORD Count(const std::string &path) {
    DWORD c = 0xFFFFFFFF;
    testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedKey, path, &c);
    return c;
  }

  // The file prompt's template lives in the stub's resources.
  bool UseStubResources() {
    stub_ = LoadLibraryExA(testenv::StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!stub_) return false;
    g.instance = stub_;
    return true;
  }

  // Counts the shown dialogs whose text holds `text`.
  static int Shown(DialogAnswerer &answerer, const std::string &text) {
    int n = 0;
    for (const winui::WindowInfo &w : answerer.Seen()) n += w.Contains(text) ? 1 : 0;
    return n;
  }

  struct Entry {
    std::string folder, name;
    FileEntry entry;
  };
  testenv::ScopedTestDir dir_;
  bool keyExisted_ = false;
  HMODULE stub_ = nullptr;
  std::vector<std::string> texts_;
  std::vector<char *> slots_;
  std::vector<std::unique_ptr<Entry>> entries_;
  std::vector<FileEntry *> pointers_;
  std::vector<std::string> sharedNames_;
};

TEST_F(FilePassTest, FullPathsFollowTheLeadingDotRule) {
  struct Case {
    const char *folder, *name, *expected;
  } cases[] = {{".", "x.dll", "x.dll"},
               {".\\sub", "x.dll", "sub\\x.dll"},
               {".sub", "x.dll", "x.dll"},
               {".", "", ""}};
  for (const Case &c : cases) {
    Add(c.folder, c.name);
    ASSERT_TRUE(BuildFilePath(g.files[g.fileCount - 1]));
    EXPECT_EQ(dir_.path() + "\\" + c.expected, g.scratchPath) << c.folder;
  }
  Add("C:\\Other", "x.dll");
  ASSERT_TRUE(BuildFilePath(g.files[g.fileCount - 1]));
  EXPECT_STREQ("C:\\Other\\x.dll", g.scratchPath);
  Add("C:\\Other\\", "x.dll");
  ASSERT_TRUE(BuildFilePath(g.files[g.fileCount - 1]));
  EXPECT_STREQ("C:\\Other\\x.dll", g.scratchPath);
}

TEST_F(FilePassTest, PathsTooLongForTheScratchPathAreSkippedNotCut) {
  // The 259-character cut of the long entry names a real file, which must survive.
  std::string prefix = dir_.path() + "\\";
  std::string cutName(259 - prefix.size(), 'a');
  ASSERT_TRUE(testenv::WriteText(prefix + cutName, "keep"));
  Add(dir_.path(), cutName + "bbb");
  Add(".\\" + std::string(300, 'c'), "x");
  EXPECT_FALSE(BuildFilePath(g.files[0]));
  EXPECT_STREQ("", g.scratchPath);
  EXPECT_FALSE(BuildFilePath(g.files[1]));
  RemoveFiles();
  EXPECT_TRUE(FileExists(prefix + cutName));
  // The longest path that fits is still handled.
  std::string fits = AddFile(cutName.substr(1));
  ASSERT_EQ(258u, fits.size());
  RemoveFiles();
  EXPECT_FALSE(FileExists(fits));
}

TEST_F(FilePassTest, LockedFilesAreThoseOthersHoldForWriting) {
  std::string plain = dir_ / "plain.txt", ro = dir_ / "ro.txt", held = dir_ / "held.txt";
  testenv::WriteText(plain, "x");
  testenv::WriteText(ro, "x");
  testenv::WriteText(held, "x");
  MakeReadOnly(ro.c_str());
  EXPECT_FALSE(IsFileLocked(plain.c_str()));
  EXPECT_FALSE(IsFileLocked((dir_ / "missing.txt").c_str()));
  EXPECT_FALSE(IsFileLocked(ro.c_str()));
  EXPECT_TRUE(IsReadOnly(ro));  // put back after the test
  {
    HeldOpen hold(held);
    ASSERT_TRUE(hold.ok());
    EXPECT_TRUE(IsFileLocked(held.c_str()));
    MakeReadOnly(held.c_str());
    EXPECT_TRUE(IsFileLocked(held.c_str()));
    EXPECT_TRUE(IsReadOnly(held));
  }
  // Another reader that lets others write does not lock it.
  MakeWritable(held.c_str());
  HANDLE shared = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, shared);
  EXPECT_FALSE(IsFileLocked(held.c_str()));
  CloseHandle(shared);
}

TEST_F(FilePassTest, InUseCheckLooksOnlyAtFlaggedFiles) {
  std::string flagged = AddFile("flagged.dll", FE_CHECK_IN_USE);
  std::string other = AddFile("other.dll");
  Add(dir_.path(), "", FE_CHECK_IN_USE);
  EXPECT_FALSE(AnyFileInUse());
  {
    HeldOpen hold(other);
    EXPECT_FALSE(AnyFileInUse());
  }
  HeldOpen hold(flagged);
  EXPECT_TRUE(AnyFileInUse());
  g.fileCount = 0;
  EXPECT_FALSE(AnyFileInUse());
}

TEST_F(FilePassTest, SharedCountsOfUnlockedFiles) {
  DialogAnswerer answerer;
  std::string two = AddFile("two.dll", FE_SHARED);
  std::string oneYes = AddFile("oneyes.dll", FE_SHARED);
  std::string oneNo = AddFile("oneno.dll", FE_SHARED);
  std::string zero = AddFile("zero.dll", FE_SHARED);
  std::string missing = AddFile("missing.dll", FE_SHARED);
  std::string shortValue = AddFile("short.dll", FE_SHARED);
  std::string emptyValue = AddFile("empty.dll", FE_SHARED);
  SetCount(two, 2);
  SetCount(oneYes, 1);
  SetCount(oneNo, 1);
  SetCount(zero, 0);
  sharedNames_.push_back(missing);
  SetCountBytes(shortValue, {5, 0});  // fills the low bytes of the preset count only
  SetCountBytes(emptyValue, {});      // counts as the preset 1
  answerer.Answer(oneNo, Press::Command, IDNO);
  answerer.Answer(emptyValue, Press::Command, IDNO);
  answerer.Answer("m10", Press::Command, IDYES);
  RemoveFiles();
  answerer.Stop();

  EXPECT_TRUE(FileExists(two));
  EXPECT_EQ(1u, Count(two));
  EXPECT_FALSE(FileExists(oneYes));
  EXPECT_FALSE(HasValue(oneYes));
  EXPECT_TRUE(FileExists(oneNo));
  EXPECT_EQ(0u, Count(oneNo));
  EXPECT_FALSE(FileExists(zero));
  EXPECT_FALSE(HasValue(zero));
  EXPECT_FALSE(FileExists(missing));
  EXPECT_TRUE(FileExists(shortValue));
  EXPECT_EQ((std::vector<uint8_t>{4, 0}), CountBytes(shortValue));
  EXPECT_TRUE(FileExists(emptyValue));
  EXPECT_EQ((std::vector<uint8_t>{}), CountBytes(emptyValue));

  EXPECT_EQ(0, Shown(answerer, two));
  EXPECT_EQ(0, Shown(answerer, shortValue));
  for (const std::string &asked : {oneYes, oneNo, zero, missing, emptyValue}) {
    EXPECT_EQ(1, Shown(answerer, "m10 " + asked)) << asked;
  }
  EXPECT_EQ(5u, answerer.Seen().size());
}

TEST_F(FilePassTest, SharedCountsOfLockedFilesNeverAsk) {
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDYES);
  std::string three = AddFile("three.dll", FE_SHARED);
  std::string one = AddFile("one.dll", FE_SHARED);
  std::string none = AddFile("none.dll", FE_SHARED | FE_SELFREG);
  SetCount(three, 3);
  SetCount(one, 1);
  sharedNames_.push_back(none);
  HeldOpen h1(three), h2(one), h3(none);
  RemoveFiles();
  answerer.Stop();
  EXPECT_EQ(2u, Count(three));
  EXPECT_EQ(1u, Count(one));  // a count that would reach 0 is not written
  EXPECT_FALSE(HasValue(none));
  for (const std::string &p : {three, one, none}) EXPECT_TRUE(FileExists(p));
  EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(FilePassTest, QuestionWithoutAKeyOrWithoutAText) {
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDNO);
  std::string quiet = AddFile("quiet.dll", FE_SHARED);
  SetCount(quiet, 1);
  SetMessage(10, "");
  RemoveFiles();
  answerer.Stop();
  EXPECT_FALSE(FileExists(quiet));
  EXPECT_FALSE(HasValue(quiet));
  EXPECT_TRUE(answerer.Seen().empty());

  // Without the SharedDLLs key the question still decides.
  HKEY key;
  bool empty = true;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_READ, &key) == 0) {
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    empty = values == 0;
  }
  if (!empty) GTEST_SKIP() << "the SharedDLLs key holds values of the system";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedKey);
  SetMessage(10, "m10 %s");
  g.fileCount = 0;
  entries_.clear();
  std::string kept = AddFile("kept.dll", FE_SHARED);
  {
    DialogAnswerer no;
    no.Answer("m10 " + kept, Press::Command, IDNO);
    RemoveFiles();
    no.Stop();
    EXPECT_TRUE(FileExists(kept));
    EXPECT_EQ(1u, no.Seen().size());
  }
  {
    DialogAnswerer yes;
    yes.Answer("m10 " + kept, Press::Command, IDYES);
    RemoveFiles();
    yes.Stop();
    EXPECT_FALSE(FileExists(kept));
    EXPECT_EQ(1u, yes.Seen().size());
  }
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_LOCAL_MACHINE, kSharedKey));
}

TEST_F(FilePassTest, ReadOnlyFilesWithRememberedAnswersNeedNoDialog) {
  std::string a = AddFile("a.txt"), b = AddFile("b.txt");
  MakeReadOnly(a.c_str());
  MakeReadOnly(b.c_str());
  g.filePromptAnswer = 0;
  RemoveFiles();
  EXPECT_TRUE(FileExists(a) && FileExists(b));
  g.filePromptAnswer = 1;
  RemoveFiles();
  EXPECT_FALSE(FileExists(a) || FileExists(b));

  // An empty prompt text counts as yes to all, and is remembered.
  std::string c = AddFile("c.txt");
  MakeReadOnly(c.c_str());
  g.filePromptAnswer = -1;
  SetMessage(9, "");
  RemoveFiles();
  EXPECT_FALSE(FileExists(c));
  EXPECT_EQ(1, g.filePromptAnswer);
}

TEST_F(FilePassTest, FontsAndSelfRegisteringFilesAreMadeWritableWithoutAPrompt) {
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDNO);
  std::string font = AddFile("f.fon", FE_FONT), lib = AddFile("l.dll", FE_SELFREG);
  MakeReadOnly(font.c_str());
  MakeReadOnly(lib.c_str());
  RemoveFiles();
  answerer.Stop();
  EXPECT_FALSE(FileExists(font));
  EXPECT_FALSE(FileExists(lib));
  EXPECT_TRUE(answerer.Seen().empty());
  EXPECT_EQ(-1, g.filePromptAnswer);
}

TEST_F(FilePassTest, ThePromptDecidesForReadOnlyFiles) {
  if (!UseStubResources()) GTEST_SKIP() << "uninstall.exe not found for the prompt template";
  // Entries are handled last first: d, c, b, a.
  std::string a = AddFile("a.txt"), b = AddFile("b.txt"), c = AddFile("c.txt"),
              d = AddFile("d.txt");
  for (const std::string &p : {a, b, c, d}) MakeReadOnly(p.c_str());
  {
    DialogAnswerer answerer;
    answerer.Answer(d, Press::Command, IDC_PROMPT_YES);
    answerer.Answer(c, Press::Command, IDNO);
    answerer.Answer(b, Press::Command, IDC_PROMPT_NO_ALL);
    answerer.Answer("", Press::Command, IDC_PROMPT_YES);
    RemoveFiles();
    answerer.Stop();
    EXPECT_FALSE(FileExists(d));
    EXPECT_TRUE(FileExists(c) && IsReadOnly(c));
    EXPECT_TRUE(FileExists(b) && FileExists(a));
    EXPECT_EQ(0, g.filePromptAnswer);
    EXPECT_EQ(3u, answerer.Seen().size());
    EXPECT_EQ(1, Shown(answerer, "m9 " + b));
    EXPECT_EQ(0, Shown(answerer, a));
  }
  g.filePromptAnswer = -1;
  {
    DialogAnswerer answerer;
    answerer.Answer("", Press::Command, IDC_PROMPT_YES_ALL);
    RemoveFiles();
    answerer.Stop();
    EXPECT_FALSE(FileExists(a) || FileExists(b) || FileExists(c));
    EXPECT_EQ(1u, answerer.Seen().size());
    EXPECT_EQ(1, g.filePromptAnswer);
  }
}

TEST_F(FilePassTest, HeldFilesStayWithoutAQuestion) {
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDYES);
  std::string held = AddFile("held.dll", FE_SHARED | FE_FONT);
  sharedNames_.push_back(held);
  HeldOpen hold(held);
  RemoveFiles();
  answerer.Stop();
  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(FilePassTest, PlainFilesGoUnlessHeld) {
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDNO);
  std::string free = AddFile("free.dat");
  // Held for reading with every sharing allowed: not locked, gone once it is let go.
  std::string reader = AddFile("reader.dat");
  // Read and write shared but not delete: not locked, yet the delete fails; no prompt.
  std::string noDelete = AddFile("nodelete.dat");
  std::string held = AddFile("held.dat");

  HANDLE shareAll = CreateFileA(reader.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  HANDLE shareNoDelete =
      CreateFileA(noDelete.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, shareAll);
  ASSERT_NE(INVALID_HANDLE_VALUE, shareNoDelete);
  {
    HeldOpen hold(held);
    ASSERT_TRUE(hold.ok());
    RemoveFiles();
  }
  CloseHandle(shareAll);
  CloseHandle(shareNoDelete);
  answerer.Stop();

  EXPECT_FALSE(FileExists(free));
  EXPECT_FALSE(FileExists(reader));
  EXPECT_TRUE(FileExists(noDelete));
  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(answerer.Seen().empty());
}

TEST_F(FilePassTest, SelfRegisteringLibrariesUnregisterBeforeTheyGo) {
  std::string probe = testenv::TestProgramDir() + "\\selfreg_probe.dll";
  std::string lib = dir_ / "probe.dll";
  ASSERT_TRUE(CopyFileA(probe.c_str(), lib.c_str(), FALSE)) << probe;
  Add(dir_.path(), "probe.dll", FE_SELFREG);
  // A library without the export is still deleted; a file that is no library too.
  std::string noExport = dir_ / "plain.dll";
  ASSERT_TRUE(CopyFileA(probe.c_str(), noExport.c_str(), FALSE));
  testenv::WriteText(dir_ / "text.dll", "not a library");
  Add(dir_.path(), "text.dll", FE_SELFREG);
  RemoveFiles();
  EXPECT_TRUE(FileExists(lib + ".unregistered"));
  EXPECT_FALSE(FileExists(lib));  // released before the delete
  EXPECT_FALSE(FileExists(dir_ / "text.dll"));
}

TEST_F(FilePassTest, FolderEntriesRemoveOnlyEmptyUnprotectedFolders) {
  testenv::MakeDirs(dir_ / "empty");
  testenv::MakeDirs(dir_ / "full");
  testenv::WriteText(dir_ / "full\\f.txt", "x");
  Add(".\\empty", "");
  Add(".\\full", "");
  // The Quick Launch folder is protected even when empty.
  char appData[MAX_PATH];
  ASSERT_TRUE(GetSpecialFolder(appData, CSIDL_APPDATA));
  std::string quick = std::string(appData) + "\\Microsoft\\Internet Explorer\\Quick Launch";
  bool created = !testenv::DirExists(quick) && testenv::MakeDirs(quick);
  Add(quick, "");
  g.progressTotal = 3;
  g.progressPos = 200;  // so that the first position, 0, counts as a change
  RemoveFiles();
  EXPECT_FALSE(testenv::DirExists(dir_ / "empty"));
  EXPECT_TRUE(testenv::DirExists(dir_ / "full"));
  EXPECT_TRUE(testenv::DirExists(quick));
  EXPECT_EQ(66u, g.progressPos);
  if (created) RemoveDirectoryA(quick.c_str());
}

TEST_F(FilePassTest, EntriesGoLastFirstWithAPositionAfterEach) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = RecorderProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "FilePassProgressRecorder";
  RegisterClassA(&wc);
  HWND bar = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           nullptr);
  ASSERT_NE(nullptr, bar);
  std::vector<std::string> paths = {AddFile("a"), AddFile("b"), AddFile("c")};
  std::vector<DWORD> seen;
  std::vector<std::string> present;
  positions = &seen;
  watched = &paths;
  existing = &present;
  g.progressBar = bar;
  g.progressTotal = 4;
  g.progressPos = 200;
  RemoveFiles();
  positions = nullptr;
  g.progressBar = nullptr;
  DestroyWindow(bar);
  EXPECT_EQ((std::vector<DWORD>{0, 25, 50}), seen);
  EXPECT_EQ((std::vector<std::string>{"110", "100", "000"}), present);

  // No dialog, no positions.
  g.progressTotal = 0;
  g.progressPos = 200;
  AddFile("d");
  RemoveFiles();
  EXPECT_EQ(200u, g.progressPos);
}

}  // namespace
