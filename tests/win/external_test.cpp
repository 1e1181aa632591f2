// The pre-removal program and the closing document, with a probe program of ours that
// records how it was started.
#include "external/external.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <ole2.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "state/outcome.h"
#include "support/testenv.h"

using testenv::CurrentFolder;

namespace {

using Lines = std::vector<std::string>;

// The probe's marker once it has appeared: its current folder, its command line, then
// each argument. Empty when it did not appear within the time.
Lines WaitForMarker(const std::string &path, DWORD timeoutMs = 15000) {
  for (DWORD waited = 0; !testenv::FileExists(path); waited += 50) {
    if (waited >= timeoutMs) return {};
    Sleep(50);
  }
  return testenv::ReadLines(path);
}

// A file class of the test's own. Windows merges HKCU\Software\Classes into the classes
// root; Wine 8 does not, so the class goes under both users' roots.
const std::string kClasses = "Software\\Classes\\";
const HKEY kClassRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

// A folder of the test's own, the probe's marker in it and the current folder there.
class ExternalTest : public ::testing::Test {
 protected:
  ExternalTest() { SetCurrentDirectoryA(dir_.path().c_str()); }
  ~ExternalTest() override {
    SetCurrentDirectoryA(startFolder_.c_str());
    for (const std::string &key : keys_)
      for (HKEY root : kClassRoots) testenv::DeleteRegTree(root, key);
  }
  void RegisterClass(const std::string &extension, const std::string &name,
                     const std::string &command,
                     std::vector<HKEY> roots = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    keys_.push_back(kClasses + extension);
    keys_.push_back(kClasses + name);
    for (HKEY root : roots) {
      ASSERT_TRUE(testenv::SetRegString(root, kClasses + extension, "", name));
      if (command.empty()) continue;
      ASSERT_TRUE(
          testenv::SetRegString(root, kClasses + name + "\\shell\\open\\command", "", command));
    }
  }

  testenv::ScopedTestDir dir_{"external"};
  std::string marker_ = dir_ / "marker.txt", startFolder_ = CurrentFolder(),
              probe_ = "\"" + testenv::TestProgramDir() + "\\preremoval_probe.exe\"";
  std::vector<std::string> keys_;
};

// The probe as the product's pre-removal program, in a folder of its own.
class PreRemovalTest : public ExternalTest {
 protected:
  PreRemovalTest() {
    testenv::MakeDirs(programFolder_);
    CopyFileA((testenv::TestProgramDir() + "\\preremoval_probe.exe").c_str(), program_.c_str(),
              FALSE);
  }
  std::string programFolder_ = dir_ / "Product Tools",
              program_ = programFolder_ + "\\pre removal.exe";
};

// The wait pumps this thread's messages; the program starts in its own folder, and this
// one's current folder comes back (what it is given, the whole runs show).
TEST_F(PreRemovalTest, TheWaitPumpsMessagesAndTheCurrentFolderComesBack) {
  testenv::ProbeEnv env(marker_, 1500);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // give the thread its queue
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0));
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), "", 1));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  EXPECT_EQ(programFolder_, WaitForMarker(marker_, 0).at(0));
  EXPECT_EQ(dir_.path(), CurrentFolder());
}

TEST_F(PreRemovalTest, MissingOrTooLongCommandStartsNothing) {
  testenv::ProbeEnv env(marker_, 0);
  std::string missing = programFolder_ + "\\missing.exe";
  HANDLE process = reinterpret_cast<HANDLE>(1);
  EXPECT_EQ(0, LaunchProgram(missing.c_str(), "x", &process));
  EXPECT_EQ(nullptr, process);
  EXPECT_EQ(0, StartPreRemovalProgram(missing.c_str(), "", 1));
  EXPECT_EQ(dir_.path(), CurrentFolder());

  // Would start the probe if the command line were cut to fit.
  std::string arguments(520 - program_.size() - 3, 'a');
  EXPECT_EQ(0, StartPreRemovalProgram(program_.c_str(), arguments.c_str(), 1));
  arguments.resize(520 - program_.size() - 4);
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), arguments.c_str(), 1));
  EXPECT_EQ(Lines({programFolder_, "\"" + program_ + "\" " + arguments, arguments}),
            WaitForMarker(marker_, 0));
  EXPECT_EQ(dir_.path(), CurrentFolder());
}

using ClosingDocumentTest = ExternalTest;

// Elevated, as the test prefix runs, the document is handed to the desktop's shell. Its
// handler starts without this process's environment, where the probe's settings name
// another marker: it is the shell's child, not ours. It opens in the document's folder.
TEST_F(ClosingDocumentTest, ElevatedTheDesktopsShellOpensTheDocumentInItsFolder) {
  ASSERT_TRUE(RunsElevated());
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));  // as the run does at its start
  RegisterClass(".tallowindoc", "TallowinTest.Document", probe_ + " \"%1\"");
  std::string folder = dir_ / "Read Me", document = folder + "\\closing notes.tallowindoc";
  testenv::MakeDirs(folder);
  testenv::WriteText(document, "notes");
  const std::string settings = testenv::TestProgramDir() + "\\preremoval_probe.exe.settings";
  ASSERT_TRUE(testenv::WriteText(settings, "0 0 " + marker_));
  testenv::ProbeEnv env(marker_ + ".ours", 0);
  OpenClosingDocument(document.c_str(), ".tallowinnone");
  Lines lines = WaitForMarker(marker_);
  DeleteFileA(settings.c_str());
  OleUninitialize();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(folder, lines[0]);
  EXPECT_EQ(document, lines[2]);
  EXPECT_FALSE(testenv::FileExists(marker_ + ".ours"));
  // The probe may still be ending in that folder; let it go before the cleanup.
  DeleteFileA(document.c_str());
  for (int i = 0; i < 100 && !RemoveDirectoryA(folder.c_str()); ++i) Sleep(50);
}

DWORD WINAPI OpenWithoutCom(void *document) {
  OpenClosingDocument(static_cast<const char *>(document), ".tallowinfb");
  return 0;
}

// When the desktop's shell cannot be asked (here on a thread without COM, where the first
// call fails), an elevated run opens nothing itself, not through the shell and not through
// the machine's class command, and logs the document as not opened.
TEST_F(ClosingDocumentTest, ElevatedWithoutTheDesktopsShellNothingOpensAndTheLogSaysSo) {
  ASSERT_TRUE(RunsElevated());
  RegisterClass(".tallowinfb", "TallowinTest.Fallback", probe_ + " \"%1\"", {HKEY_LOCAL_MACHINE});
  const std::string document = dir_ / "page.tallowinfb", log = dir_ / "run.log";
  ASSERT_TRUE(testenv::WriteText(document, "page"));
  testenv::ProbeEnv env(marker_, 0);
  testenv::PrepareRunState(dir_.path());
  lstrcpyA(g.logPath, log.c_str());
  OpenRunLog("");
  HANDLE thread =
      CreateThread(nullptr, 0, OpenWithoutCom, const_cast<char *>(document.c_str()), 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 15000));
  CloseHandle(thread);
  FinishRun(0);
  testenv::ReleaseRunState();
  EXPECT_TRUE(WaitForMarker(marker_, 1500).empty());
  const Lines lines = testenv::ReadLines(log);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("document-not-opened " + document, lines[3]);
}

TEST_F(ClosingDocumentTest, ReadKeyDefaultReadsWholeValuesOnly) {
  std::string key = kClasses + "TallowinTest.Read";
  keys_.push_back(key);
  char buffer[520] = "unchanged";
  EXPECT_NE(ERROR_SUCCESS, ReadKeyDefault(HKEY_CURRENT_USER, key.c_str(), buffer));
  EXPECT_STREQ("unchanged", buffer);

  ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, key, "", "Software\\Classes"));
  lstrcpyA(buffer, key.c_str());
  // The key path and the destination are one buffer.
  EXPECT_EQ(ERROR_SUCCESS, ReadKeyDefault(HKEY_CURRENT_USER, buffer, buffer));
  EXPECT_STREQ("Software\\Classes", buffer);

  ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, key, "", std::string(300, 'v')));
  lstrcpyA(buffer, "unchanged");
  EXPECT_NE(ERROR_SUCCESS, ReadKeyDefault(HKEY_CURRENT_USER, key.c_str(), buffer));
  EXPECT_STREQ("unchanged", buffer);
}

}  // namespace
