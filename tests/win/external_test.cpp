// The pre-removal program and the closing document, with a probe program of ours that
// records how it was started.
#include "external/external.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/testenv.h"

using testenv::ScopedTestDir;

namespace {

std::string CurrentFolder() {
  char folder[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(MAX_PATH, folder);
  return std::string(folder, n < MAX_PATH ? n : 0);
}

bool WaitForFile(const std::string &path, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 50) {
    if (testenv::FileExists(path)) return true;
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
}

// The marker's lines: current folder, command line, then each argument.
std::vector<std::string> ReadMarker(const std::string &path) {
  std::vector<uint8_t> bytes;
  std::vector<std::string> lines;
  if (!testenv::ReadBytes(path, &bytes)) return lines;
  std::string line;
  for (uint8_t b : bytes) {
    if (b == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(b);
    }
  }
  return lines;
}

// Sets the probe's environment for one test and clears it afterwards.
class ProbeEnv {
 public:
  ProbeEnv(const std::string &marker, DWORD sleepMs, DWORD exitCode = 0) {
    SetEnvironmentVariableA("TALLOWIN_PROBE_MARKER", marker.c_str());
    SetEnvironmentVariableA("TALLOWIN_PROBE_SLEEP", std::to_string(sleepMs).c_str());
    SetEnvironmentVariableA("TALLOWIN_PROBE_EXIT", std::to_string(exitCode).c_str());
  }
  ~ProbeEnv() {
    SetEnvironmentVariableA("TALLOWIN_PROBE_MARKER", nullptr);
    SetEnvironmentVariableA("TALLOWIN_PROBE_SLEEP", nullptr);
    SetEnvironmentVariableA("TALLOWIN_PROBE_EXIT", nullptr);
  }
};

class PreRemovalTest : public ::testing::Test {
 protected:
  PreRemovalTest() : dir_("external-preremoval") {
    programFolder_ = dir_ / "Product Tools";
    program_ = programFolder_ + "\\pre removal.exe";
    marker_ = dir_ / "marker.txt";
    testenv::MakeDirs(programFolder_);
    CopyFileA((testenv::TestProgramDir() + "\\preremoval_probe.exe").c_str(), program_.c_str(),
              FALSE);
    startFolder_ = CurrentFolder();
    SetCurrentDirectoryA(dir_.path().c_str());
  }
  ~PreRemovalTest() override { SetCurrentDirectoryA(startFolder_.c_str()); }

  ScopedTestDir dir_;
  std::string programFolder_, program_, marker_, startFolder_;
};

TEST_F(PreRemovalTest, WaitsForTheProgramStartedInItsOwnFolder) {
  ASSERT_TRUE(testenv::FileExists(program_));
  ProbeEnv env(marker_, 1500);
  DWORD start = GetTickCount();
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), "one \"two words\"", 1));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 1400u);
  ASSERT_TRUE(testenv::FileExists(marker_)) << "the wait ended before the program did";
  std::vector<std::string> lines = ReadMarker(marker_);
  ASSERT_EQ(4u, lines.size());
  EXPECT_STREQ(programFolder_.c_str(), lines[0].c_str());
  EXPECT_EQ("\"" + program_ + "\" one \"two words\"", lines[1]);
  EXPECT_EQ("one", lines[2]);
  EXPECT_EQ("two words", lines[3]);
  EXPECT_EQ(dir_.path(), CurrentFolder());
}

TEST_F(PreRemovalTest, WithoutWaitReturnsAtOnceAndQuotesThePathAlone) {
  ProbeEnv env(marker_, 1500);
  DWORD start = GetTickCount();
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), "", 0));
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_FALSE(testenv::FileExists(marker_));
  EXPECT_EQ(dir_.path(), CurrentFolder());
  ASSERT_TRUE(WaitForFile(marker_, 15000));
  std::vector<std::string> lines = ReadMarker(marker_);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(programFolder_, lines[0]);
  EXPECT_EQ("\"" + program_ + "\"", lines[1]);
}

TEST_F(PreRemovalTest, PumpsMessagesWhileWaiting) {
  ProbeEnv env(marker_, 800);
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // give the thread its queue
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0));
  EXPECT_EQ(1, StartPreRemovalProgram(program_.c_str(), nullptr, 1));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP + 7, WM_APP + 7, PM_REMOVE));
}

DWORD WINAPI WaitForProbe(void *program) {
  return StartPreRemovalProgram(static_cast<const char *>(program), "", 1);
}

TEST_F(PreRemovalTest, ExitCodeStillActiveEndsTheWait) {
  ProbeEnv env(marker_, 300, STILL_ACTIVE);
  HANDLE process = nullptr;
  ASSERT_EQ(1, LaunchProgram(program_.c_str(), "", &process));
  ASSERT_NE(nullptr, process);
  DWORD start = GetTickCount();
  while (IsProcessRunning(process) && GetTickCount() - start < 15000) Sleep(20);
  EXPECT_EQ(0, IsProcessRunning(process));
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
  CloseHandle(process);

  DeleteFileA(marker_.c_str());
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
  ProbeEnv env(marker_, 0);
  std::string missing = dir_ / "Product Tools\\missing.exe";
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
  std::vector<std::string> lines = ReadMarker(marker_);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(arguments, lines[2]);
  EXPECT_EQ(dir_.path(), CurrentFolder());
}

// A file class of the test's own. Windows merges HKCU\Software\Classes into the classes
// root; Wine 8 does not, so the class goes under both users' roots.
const char kClasses[] = "Software\\Classes";
const HKEY kClassRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

class ClosingDocumentTest : public ::testing::Test {
 protected:
  ClosingDocumentTest() : dir_("external-closing") {
    probe_ = testenv::TestProgramDir() + "\\preremoval_probe.exe";
    marker_ = dir_ / "marker.txt";
  }
  ~ClosingDocumentTest() override {
    for (const std::string &key : keys_)
      for (HKEY root : kClassRoots) testenv::DeleteRegTree(root, key);
  }
  void RegisterClass(const std::string &extension, const std::string &className,
                     const std::string &command) {
    std::string extKey = std::string(kClasses) + "\\" + extension;
    std::string classKey = std::string(kClasses) + "\\" + className;
    keys_.push_back(extKey);
    keys_.push_back(classKey);
    for (HKEY root : kClassRoots) {
      ASSERT_TRUE(testenv::SetRegString(root, extKey, "", className));
      if (!command.empty()) {
        ASSERT_TRUE(testenv::SetRegString(root, classKey + "\\shell\\open\\command", "", command));
      }
    }
  }
  std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

  ScopedTestDir dir_;
  std::string probe_, marker_;
  std::vector<std::string> keys_;
};

TEST_F(ClosingDocumentTest, ShellOpensADocumentThroughItsHandler) {
  RegisterClass(".tallowindoc", "TallowinTest.Document", Quoted(probe_) + " \"%1\"");
  std::string folder = dir_ / "Read Me";
  std::string document = folder + "\\closing notes.tallowindoc";
  testenv::MakeDirs(folder);
  testenv::WriteText(document, "notes");
  ProbeEnv env(marker_, 0);
  OpenClosingDocument(document.c_str(), ".tallowinnone");
  ASSERT_TRUE(WaitForFile(marker_, 15000));
  std::vector<std::string> lines = ReadMarker(marker_);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(folder, lines[0]);
  EXPECT_EQ(document, lines[2]);
  // The probe may still be ending in that folder; let it go before the cleanup.
  DeleteFileA(document.c_str());
  for (int i = 0; i < 100 && !RemoveDirectoryA(folder.c_str()); ++i) Sleep(50);
}

TEST_F(ClosingDocumentTest, FallbackCutsAtThePlaceholderAndQuotesABlank) {
  RegisterClass(".tallowinfb", "TallowinTest.Fallback", Quoted(probe_) + " \"%1\" /extra");
  // No such file: the shell fails and the fallback class takes over.
  std::string document = dir_ / "missing page.tallowinx";
  ProbeEnv env(marker_, 0);
  OpenClosingDocument(document.c_str(), ".tallowinfb");
  ASSERT_TRUE(WaitForFile(marker_, 15000));
  std::vector<std::string> lines = ReadMarker(marker_);
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ(Quoted(probe_) + "  " + Quoted(document), lines[1]);
  EXPECT_EQ(document, lines[2]);
}

TEST_F(ClosingDocumentTest, FallbackCommandLinesWithoutABlank) {
  std::string document = dir_ / "missing.tallowinx";
  struct Case {
    std::string command, expected;
  } cases[] = {
      {Quoted(probe_) + " %1 tail", Quoted(probe_) + "  " + document},
      {Quoted(probe_) + " /whole", Quoted(probe_) + " /whole " + document},
  };
  for (const Case &c : cases) {
    DeleteFileA(marker_.c_str());
    RegisterClass(".tallowinfb", "TallowinTest.Fallback", c.command);
    ProbeEnv env(marker_, 0);
    OpenClosingDocument(document.c_str(), ".tallowinfb");
    ASSERT_TRUE(WaitForFile(marker_, 15000)) << c.command;
    std::vector<std::string> lines = ReadMarker(marker_);
    ASSERT_LE(2u, lines.size());
    EXPECT_EQ(c.expected, lines[1]);
    EXPECT_EQ(document, lines.back());
  }
}

TEST_F(ClosingDocumentTest, NoClassOrNoCommandOpensNothing) {
  RegisterClass(".tallowinnocmd", "TallowinTest.NoCommand", "");
  RegisterClass(".tallowinempty", "TallowinTest.Empty", "\"%1\"");
  std::string document = dir_ / "missing.tallowinx";
  ProbeEnv env(marker_, 0);
  OpenClosingDocument(document.c_str(), ".tallowinunregistered");
  OpenClosingDocument(document.c_str(), ".tallowinnocmd");
  // An open command that is the placeholder alone must not run the document itself.
  OpenClosingDocument(document.c_str(), ".tallowinempty");
  EXPECT_FALSE(WaitForFile(marker_, 1500));
}

TEST_F(ClosingDocumentTest, ReadKeyDefaultReadsWholeValuesOnly) {
  std::string key = std::string(kClasses) + "\\TallowinTest.Read";
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
