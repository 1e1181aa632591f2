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

const char kSharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const DWORD kNoHandle = ~0u;

bool IsReadOnly(const std::string &path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

// The file open with the given sharing, as another program would hold it.
using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;
Handle Hold(const std::string &path, DWORD share, DWORD access = GENERIC_READ) {
  return Handle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr),
                CloseHandle);
}

class FilePassTest : public ::testing::Test {
 protected:
  FilePassTest() : texts_(testenv::StandardMessages()) {
    keyExisted_ = testenv::RegKeyExists(HKEY_LOCAL_MACHINE, kSharedKey);
    state_.Messages(texts_);
  }
  ~FilePassTest() override {
    for (const std::string &name : sharedNames_)
      RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedKey, name.c_str());
    if (!keyExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedKey);
    ResetProtectedFolders();
  }

  // Adds an entry for a new file in the test folder; returns its full path.
  std::string AddFile(const std::string &name, unsigned char flags = 0) {
    testenv::WriteText(dir_ / name, "data");
    return state_.File(dir_.path(), name, flags);
  }

  // A SharedDLLs value as the hex text of its bytes ("01000000": the count 1); "-": none.
  void SetShared(const std::string &path, const std::string &hex) {
    sharedNames_.push_back(path);
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      b.push_back(static_cast<uint8_t>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    DWORD count = 0;  // four bytes as installers write a count, other sizes as damage leaves them
    if (b.size() == 4) memcpy(&count, b.data(), 4);
    if (hex == "-") return;
    ASSERT_TRUE(b.size() == 4 ? testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedKey, path, count)
                              : testenv::SetRegBinary(HKEY_LOCAL_MACHINE, kSharedKey, path, b));
  }
  std::string Shared(const std::string &path) {
    BYTE data[16];
    DWORD size = sizeof(data);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSharedKey, path.c_str(), RRF_RT_ANY, nullptr, data,
                     &size) != ERROR_SUCCESS)
      return "-";
    std::string hex;
    for (DWORD i = 0; i < size; ++i)
      hex += {"0123456789abcdef"[data[i] >> 4], "0123456789abcdef"[data[i] & 15]};
    return hex;
  }

  // The file prompt's template lives in the stub's resources.
  bool UseStubResources() { return (g.instance = testenv::StubResources()) != nullptr; }

  testenv::ScopedTestDir dir_{"filepass"};
  testenv::RunState state_{dir_.path()};
  std::vector<std::string> texts_;
  bool keyExisted_ = false;
  std::vector<std::string> sharedNames_;
};

TEST_F(FilePassTest, FullPathsFollowTheLeadingDotRuleAndAreNeverCut) {
  const std::string install = dir_.path() + "\\";
  const std::string longest(259 - install.size(), 'a');  // install + longest: 259 characters
  struct Case {
    std::string folder, name, expected;
  } cases[] = {{".", "x.dll", install + "x.dll"},
               {".\\sub", "x.dll", install + "sub\\x.dll"},
               {".sub", "x.dll", install + "x.dll"},
               {".", "", install},
               {"C:\\Other", "x.dll", "C:\\Other\\x.dll"},
               {"C:\\Other\\", "x.dll", "C:\\Other\\x.dll"},
               {dir_.path(), longest, install + longest},
               // Longer paths fail and leave no path behind: a cut one could name another file.
               {dir_.path(), longest + "b", ""},
               {".\\" + std::string(300, 'c'), "x", ""}};
  for (const Case &c : cases) {
    state_.File(c.folder, c.name);
    std::string what = c.folder.substr(0, 12) + " | " + c.name.substr(0, 12);
    EXPECT_EQ(!c.expected.empty(), BuildFilePath(g.files[g.fileCount - 1])) << what;
    EXPECT_EQ(c.expected, g.scratchPath) << what;
  }
}

// Locked means held by others for writing or without letting us both read and write; a
// file that is not locked but may not be deleted stays too. Nothing asks but the prompt
// for the read-only file.
TEST_F(FilePassTest, PlainFilesGoUnlessHeld) {
  if (!UseStubResources()) GTEST_SKIP() << "uninstall.exe not found for the prompt template";
  const DWORD shareRW = FILE_SHARE_READ | FILE_SHARE_WRITE, all = shareRW | FILE_SHARE_DELETE;
  struct Case {
    const char *name;
    DWORD share, access;
    bool readOnly, locked, stays;
  } cases[] = {{"free.dat", kNoHandle, 0, false, false, false},
               {"readonly.dat", kNoHandle, 0, true, false, true},  // the one prompt, answered No
               {"held.dat", FILE_SHARE_READ, GENERIC_READ, false, true, true},
               {"heldro.dat", FILE_SHARE_READ, GENERIC_READ, true, true, true},
               // Held for writing: locked, however freely it is shared.
               {"writer.dat", all, GENERIC_READ | GENERIC_WRITE, false, true, true},
               // Read and write shared but not delete: not locked, yet the delete fails.
               {"nodelete.dat", shareRW, GENERIC_READ, false, false, true},
               // Every sharing allowed: not locked, and gone once it is let go.
               {"reader.dat", all, GENERIC_READ, false, false, false}};
  EXPECT_FALSE(IsFileLocked((dir_ / "missing.dat").c_str()));
  ASSERT_TRUE(testenv::MakeDirs(dir_ / "sub"));
  state_.File(".\\sub", "", FE_CHECK_IN_USE);  // a folder would test as locked
  std::vector<Handle> holds;
  for (const Case &c : cases) {
    std::string path = dir_ / c.name;
    // The in-use check's flag must not keep a file from the common way out.
    AddFile(c.name, c.locked ? 0 : FE_CHECK_IN_USE);
    if (c.readOnly) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    if (c.share != kNoHandle) {
      holds.push_back(Hold(path, c.share, c.access));
      ASSERT_NE(INVALID_HANDLE_VALUE, holds.back().get()) << c.name;
    }
    EXPECT_EQ(c.locked, IsFileLocked(path.c_str()) != FALSE) << c.name;
    EXPECT_EQ(c.readOnly, IsReadOnly(path)) << c.name << ": the attribute is put back";
  }
  // A folder where a listed file should be is no file that anything holds, and none of
  // the file's count, font or registration is touched for it.
  const std::string folder = dir_ / "folder.dll";
  ASSERT_TRUE(testenv::MakeDirs(folder));
  state_.File(dir_.path(), "folder.dll", FE_CHECK_IN_USE | FE_SHARED | FE_SELFREG);
  SetShared(folder, "02000000");
  EXPECT_FALSE(AnyFileInUse());
  g.files[3]->flags |= FE_CHECK_IN_USE;  // held.dat
  EXPECT_TRUE(AnyFileInUse());

  DialogAnswerer answerer;
  answerer.Answer("<9>", Press::Command, IDC_PROMPT_NO);
  testenv::PassLog log(dir_ / "pass.log");
  RemoveFiles();
  holds.clear();
  answerer.Stop();
  const std::vector<std::string> outcomes = log.Outcomes();
  ASSERT_FALSE(outcomes.empty());
  EXPECT_EQ("not-a-file " + folder, outcomes[0]);  // handled first, as the last entry
  EXPECT_TRUE(testenv::DirExists(folder));
  EXPECT_EQ("02000000", Shared(folder));
  for (const Case &c : cases) EXPECT_EQ(c.stays, FileExists(dir_ / c.name)) << c.name;
  EXPECT_EQ(1, winui::CountShown(answerer.Seen(), "<9> " + dir_ / "readonly.dat"));
  EXPECT_EQ(1u, answerer.Seen().size());
  EXPECT_FALSE(testenv::DirExists(dir_ / "sub"));
}

TEST_F(FilePassTest, SharedCountsDecideAndLockedFilesNeverAsk) {
  struct Case {
    const char *name, *value, *after;  // values as SetShared takes them
    bool held, answerNo, stays;
    int asked;
  } cases[] = {{"oneno.dll", "01000000", "00000000", false, true, true, 1},
               {"zero.dll", "00000000", "-", false, false, false, 1},
               {"novalue.dll", "-", "-", false, false, false, 1},
               // A short value fills the low bytes of the preset count 1 only.
               {"short.dll", "0500", "0400", false, false, true, 0},
               {"empty.dll", "", "", false, true, true, 1},
               {"held3.dll", "03000000", "02000000", true, false, true, 0},
               // A locked file's count that would reach 0 is not written.
               {"held1.dll", "01000000", "01000000", true, false, true, 0},
               {"heldnone.dll", "-", "-", true, false, true, 0}};
  DialogAnswerer answerer;
  std::vector<Handle> holds;
  for (const Case &c : cases) {
    // Held files carry every flag: none of them may bring a question.
    std::string path = AddFile(c.name, c.held ? FE_SHARED | FE_FONT | FE_SELFREG : FE_SHARED);
    SetShared(path, c.value);
    if (c.answerNo) answerer.Answer(path, Press::Command, IDNO);
    if (c.held) holds.push_back(Hold(path, FILE_SHARE_READ));
  }
  answerer.Answer("<10>", Press::Command, IDYES);
  answerer.Answer("", Press::Command, IDNO);
  RemoveFiles();
  // An empty question text asks nothing: the value goes with the file.
  state_.Clear();
  texts_[10] = "";
  state_.Messages(texts_);
  std::string quiet = AddFile("quiet.dll", FE_SHARED);
  SetShared(quiet, "01000000");
  RemoveFiles();
  answerer.Stop();
  EXPECT_FALSE(FileExists(quiet));
  EXPECT_EQ("-", Shared(quiet));
  size_t asked = 0;
  for (const Case &c : cases) {
    std::string path = dir_ / c.name;
    EXPECT_EQ(c.stays, FileExists(path)) << c.name;
    EXPECT_EQ(c.after, Shared(path)) << c.name;
    EXPECT_EQ(c.asked, winui::CountShown(answerer.Seen(), "<10> " + path)) << c.name;
    asked += c.asked;
  }
  EXPECT_EQ(asked, answerer.Seen().size());
}

TEST_F(FilePassTest, WithoutTheSharedKeyTheQuestionStillDecides) {
  HKEY key;
  DWORD values = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedKey, 0, KEY_READ, &key) == 0) {
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
  }
  if (values != 0) GTEST_SKIP() << "the SharedDLLs key holds values of the system";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSharedKey);
  std::string kept = AddFile("kept.dll", FE_SHARED), gone = AddFile("gone.dll", FE_SHARED);
  DialogAnswerer answerer;
  answerer.Answer("<10> " + kept, Press::Command, IDNO);
  answerer.Answer("<10> " + gone, Press::Command, IDYES);
  RemoveFiles();
  answerer.Stop();
  EXPECT_TRUE(FileExists(kept));
  EXPECT_FALSE(FileExists(gone));
  EXPECT_EQ(2u, answerer.Seen().size());
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_LOCAL_MACHINE, kSharedKey));
}

TEST_F(FilePassTest, ThePromptDecidesForReadOnlyFilesUnlessFontOrSelfRegistering) {
  if (!UseStubResources()) GTEST_SKIP() << "uninstall.exe not found for the prompt template";
  std::string probe = testenv::TestProgramDir() + "\\selfreg_probe.dll";
  std::string lib = dir_ / "probe.dll";
  ASSERT_TRUE(CopyFileA(probe.c_str(), lib.c_str(), FALSE)) << probe;
  // Handled last first: a file that is no library, the library, the font, then d, c, b, a.
  std::string a = AddFile("a.txt"), b = AddFile("b.txt"), c = AddFile("c.txt"),
              d = AddFile("d.txt"), font = AddFile("f.fon", FE_FONT);
  state_.File(dir_.path(), "probe.dll", FE_SELFREG);
  std::string text = AddFile("text.dll", FE_SELFREG);
  for (const std::string &p : {a, b, c, d, font, lib})
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_READONLY);
  {
    DialogAnswerer answerer;
    answerer.Answer(d, Press::Command, IDC_PROMPT_YES);
    answerer.Answer(c, Press::Command, IDNO);
    answerer.Answer(b, Press::Command, IDC_PROMPT_NO_ALL);
    answerer.Answer("", Press::Command, IDC_PROMPT_YES);
    RemoveFiles();
    answerer.Stop();
    testenv::ExpectTree(dir_.path(), {"probe.dll.unregistered", "a.txt", "b.txt", "c.txt"},
                        {"probe.dll", "text.dll", "f.fon", "d.txt"});
    EXPECT_TRUE(IsReadOnly(c));
    EXPECT_EQ(0, g.filePromptAnswer);
    EXPECT_EQ(3u, answerer.Seen().size());
    EXPECT_EQ(1, winui::CountShown(answerer.Seen(), "<9> " + b));
    EXPECT_EQ(0, winui::CountShown(answerer.Seen(), a));
  }
  g.filePromptAnswer = -1;
  DialogAnswerer answerer;
  answerer.Answer("", Press::Command, IDC_PROMPT_YES_ALL);
  RemoveFiles();
  answerer.Stop();
  EXPECT_FALSE(FileExists(a) || FileExists(b) || FileExists(c));
  EXPECT_EQ(1u, answerer.Seen().size());
  EXPECT_EQ(1, g.filePromptAnswer);
}

TEST_F(FilePassTest, FolderEntriesGoOnlyWhenEmptyAndUnprotected) {
  ASSERT_TRUE(testenv::MakeTree(dir_.path(), {"empty\\", "full\\f.txt"}));
  // The Quick Launch folder is protected even when empty.
  char appData[MAX_PATH];
  ASSERT_TRUE(GetSpecialFolder(appData, CSIDL_APPDATA));
  std::string quick = std::string(appData) + "\\Microsoft\\Internet Explorer\\Quick Launch";
  bool created = !testenv::DirExists(quick) && testenv::MakeDirs(quick);
  state_.File(".\\empty", "");
  state_.File(".\\full", "");
  state_.File(quick, "");
  // Nor may another spelling of it slip past the test.
  std::string slashed = quick;
  for (char &c : slashed) c = c == '\\' ? '/' : c;
  state_.File(quick + "\\.", "");
  state_.File(slashed, "");
  AddFile("a");
  RemoveFiles();
  testenv::ExpectTree(dir_.path(), {"full"}, {"empty", "a"});
  EXPECT_TRUE(testenv::DirExists(quick));
  if (created) RemoveDirectoryA(quick.c_str());
}

}  // namespace
