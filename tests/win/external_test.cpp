// The pre-removal program and the closing document, with a probe program of ours that
// records how it was started.
#include "external/external.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

TEST_F(PreRemovalTest, WaitsPumpingMessagesOrNotForTheProgramStartedInItsOwnFolder) {
  testenv::ProbeEnv env(marker_, 1500);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // give the thread its queue
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0));
  DWORD start = GetTickCount();
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), "one \"two words\"", 1));
  EXPECT_GE(GetTickCount() - start, 1400u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
  // Present at once, or the wait ended before the program did.
  EXPECT_EQ(Lines({programFolder_, "\"" + program_ + "\" one \"two words\"", "one", "two words"}),
            WaitForMarker(marker_, 0));
  EXPECT_EQ(dir_.path(), CurrentFolder());

  // Without the wait it returns at once; the path alone is quoted.
  DeleteFileA(marker_.c_str());
  start = GetTickCount();
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), "", 0));
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_FALSE(testenv::FileExists(marker_));
  EXPECT_EQ(dir_.path(), CurrentFolder());
  EXPECT_EQ(Lines({programFolder_, "\"" + program_ + "\""}), WaitForMarker(marker_));
}

DWORD WINAPI WaitForProbe(void *program) {
  return StartPreRemovalProgram(static_cast<const char *>(program), "", 1);
}

TEST_F(PreRemovalTest, ExitCodeStillActiveEndsTheWait) {
  testenv::ProbeEnv env(marker_, 300, STILL_ACTIVE);
  // The probe does end with that code: only its handle can tell that it ended.
  ASSERT_EQ(static_cast<DWORD>(STILL_ACTIVE), testenv::RunAndWait("\"" + program_ + "\"", 15000));
  HANDLE thread =
      CreateThread(nullptr, 0, WaitForProbe, const_cast<char *>(program_.c_str()), 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 15000)) << "the wait did not end";
  DWORD result = 0;
  GetExitCodeThread(thread, &result);
  EXPECT_EQ(1u, result);
  CloseHandle(thread);
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

TEST_F(ClosingDocumentTest, ShellOpensADocumentThroughItsHandlerInItsFolder) {
  RegisterClass(".tallowindoc", "TallowinTest.Document", probe_ + " \"%1\"");
  std::string folder = dir_ / "Read Me", document = folder + "\\closing notes.tallowindoc";
  testenv::MakeDirs(folder);
  testenv::WriteText(document, "notes");
  testenv::ProbeEnv env(marker_, 0);
  OpenClosingDocument(document.c_str(), ".tallowinnone");
  Lines lines = WaitForMarker(marker_);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(folder, lines[0]);
  EXPECT_EQ(document, lines[2]);
  // The probe may still be ending in that folder; let it go before the cleanup.
  DeleteFileA(document.c_str());
  for (int i = 0; i < 100 && !RemoveDirectoryA(folder.c_str()); ++i) Sleep(50);
}

// The shell fails on a missing document and the fallback class takes over: its command is
// cut at the placeholder, and only a document with a blank is quoted. Elevated, as the test
// prefix runs, it looks at the machine's classes alone and starts a program only by its
// full path, never one that would be looked for; a class without an open command, or with
// the placeholder alone, opens nothing.
TEST_F(ClosingDocumentTest, FallbackTakesMachineClassesAndFullProgramPathsAndAppendsTheDocument) {
  ASSERT_TRUE(RunsElevated());
  const std::string unquoted = testenv::TestProgramDir() + "\\preremoval_probe.exe",
                    blank = dir_ / "missing page.tallowinx", plain = dir_ / "missing.tallowinx";
  ASSERT_EQ(std::string::npos, unquoted.find(' '));
  // Where a search would find the probe by its name alone.
  SetCurrentDirectoryA(testenv::TestProgramDir().c_str());
  const HKEY machine = HKEY_LOCAL_MACHINE;
  const struct {
    std::string command;
    HKEY root;                      // null: no class at all
    std::string document, started;  // the probe's command line; "": nothing starts
  } cases[] = {{probe_ + " \"%1\" /extra", machine, blank, probe_ + "  \"" + blank + "\""},
               {probe_ + " %1 tail", machine, plain, probe_ + "  " + plain},
               {probe_ + " /whole", machine, plain, probe_ + " /whole " + plain},
               {unquoted + " %1", machine, plain, unquoted + "  " + plain},
               {probe_ + " %1", HKEY_CURRENT_USER, plain, ""},
               {"preremoval_probe.exe %1", machine, plain, ""},
               {"", machine, plain, ""},
               {"\"%1\"", machine, plain, ""},
               {"", nullptr, plain, ""}};
  int n = 0;
  for (const auto &c : cases) {
    DeleteFileA(marker_.c_str());
    const std::string extension = ".tallowinfb" + std::to_string(++n);
    if (c.root)
      RegisterClass(extension, "TallowinTest.Fallback" + std::to_string(n), c.command, {c.root});
    testenv::ProbeEnv env(marker_, 0);
    OpenClosingDocument(c.document.c_str(), extension.c_str());
    const Lines lines = WaitForMarker(marker_, c.started.empty() ? 1500 : 15000);
    EXPECT_EQ(c.started, lines.size() > 1 ? lines[1] : "") << c.command;
    EXPECT_EQ(c.started.empty() ? "" : c.document, lines.empty() ? "" : lines.back()) << c.command;
  }
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
