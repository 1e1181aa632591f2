// Unattended removal: the silent switch, the log, the exit codes and deletion at restart,
// through the built program watched for any window it shows.
#include <windows.h>

#include <string>
#include <vector>

#include "app/run.h"
#include "data/data.h"
#include "external/external.h"
#include "gtest/gtest.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

using testenv::FileExists;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The deletions that the next start of the system will make, as it lists them.
std::vector<std::string> PendingDeletions() {
  std::vector<std::string> out;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key)) return out;
  std::vector<char> data(65536);
  DWORD size = static_cast<DWORD>(data.size() - 2);
  // Pairs of source and target; an empty target deletes the source.
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE *>(data.data()), &size) == ERROR_SUCCESS) {
    for (size_t i = 0; i + 1 < size; i += strlen(&data[i]) + 1) out.push_back(&data[i]);
  }
  RegCloseKey(key);
  return out;
}

class SilentRun : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.messages = testenv::StandardMessages();
    block_.files = {{".", "readonly.txt", 0},
                    {".", "shared-out.dll", blockfmt::FE_SHARED},
                    {".", "shared-none.dll", blockfmt::FE_SHARED},
                    {".", "missing.txt", 0},
                    {".\\held", "held.txt", 0}};
    testenv::MakeDirs(dir_ / "held");
    for (const char *name : {"readonly.txt", "shared-out.dll", "shared-none.dll"})
      ASSERT_TRUE(testenv::WriteText(dir_ / name, name));
    ASSERT_TRUE(SetFileAttributesA((dir_ / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared-out.dll", 1));
  }
  void TearDown() override {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, (dir_ / "shared-out.dll").c_str());
  }
  // Runs the program and looks for a visible window of it until it ends.
  DWORD Run(const std::string &switches, int *windows) {
    testenv::ProgramRun run("\"" + exe_ + "\" " + switches);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, run.id());
    *windows = 0;
    while (process && WaitForSingleObject(process, 5) == WAIT_TIMEOUT)
      *windows += static_cast<int>(winui::FindTopWindows(run.id(), nullptr).size());
    if (process) CloseHandle(process);
    return run.Wait();
  }

  testenv::ScopedTestDir dir_{"unattended"};
  blockfmt::Block block_;
  std::string exe_ = dir_ / "uninstall.exe", log_ = dir_ / "run - log.txt";
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

TEST_F(SilentRun, DefaultsAnswerEveryQuestionAndAHeldFileGoesAtRestart) {
  ASSERT_TRUE(testenv::WriteText(dir_ / "held\\held.txt", "held"));
  held_ = CreateFileA((dir_ / "held\\held.txt").c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held_);
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  int windows = -1;
  const std::string switches = "/S /LOG=\"" + log_ + "\" /X";
  EXPECT_EQ(3010u, Run(switches, &windows));
  EXPECT_EQ(0, windows);
  EXPECT_TRUE(FileExists(exe_)) << "the /X after the log path is taken";

  std::vector<std::string> lines = testenv::ReadLines(log_);
  ASSERT_EQ(10u, lines.size());
  EXPECT_EQ("program " + exe_, lines[0]);
  EXPECT_EQ("switches " + switches, lines[1]);
  EXPECT_EQ(0u, lines[2].find("started 20"));
  const std::vector<std::string> outcomes = {"restart " + dir_ / "held\\held.txt",
                                             "restart " + dir_ / "held",
                                             "absent " + dir_ / "missing.txt",
                                             "kept-default " + dir_ / "shared-none.dll",
                                             "removed " + dir_ / "shared-out.dll",
                                             "removed " + dir_ / "readonly.txt",
                                             "exit 3010"};
  EXPECT_EQ(outcomes, std::vector<std::string>(lines.begin() + 3, lines.end()));
  EXPECT_FALSE(FileExists(dir_ / "readonly.txt"));
  EXPECT_TRUE(FileExists(dir_ / "shared-none.dll"));

  // File, then its folder, each with an empty target: deleted at the next start.
  std::vector<std::string> pending = PendingDeletions();
  const std::string file = "\\??\\" + dir_ / "held\\held.txt", folder = "\\??\\" + dir_ / "held";
  size_t at = 0;
  while (at < pending.size() && _stricmp(pending[at].c_str(), file.c_str())) ++at;
  ASSERT_LT(at + 3, pending.size());
  EXPECT_EQ((std::vector<std::string>{"", folder, ""}),
            std::vector<std::string>(pending.begin() + at + 1, pending.begin() + at + 4));
  CloseHandle(held_);
  held_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(0u, testenv::RunAndWait("wineboot.exe -r"));
  EXPECT_FALSE(FileExists(dir_ / "held\\held.txt"));
  EXPECT_FALSE(testenv::DirExists(dir_ / "held"));
}

TEST_F(SilentRun, ExitCodesForAllGoneAFailureAndAnUnreadableBlock) {
  block_.files.push_back({".", "bad<name>.txt", 0});
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  int windows = -1;
  EXPECT_EQ(1603u, Run("/S /X /LOG=\"" + log_ + "\"", &windows));
  EXPECT_EQ(0, windows);
  std::vector<std::string> lines = testenv::ReadLines(log_);
  ASSERT_LE(5u, lines.size());
  EXPECT_EQ("failed:123 " + dir_ / "bad<name>.txt", lines[3]);
  EXPECT_EQ("exit 1603", lines.back());

  block_.files.pop_back();
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  EXPECT_EQ(0u, Run("/S /X", &windows));
  EXPECT_EQ(0, windows);

  ASSERT_TRUE(CopyFileA(testenv::StubPath().c_str(), exe_.c_str(), FALSE));
  EXPECT_EQ(0xFFFFFFFFu, Run("-s -log=\"" + log_ + "\"", &windows));
  EXPECT_EQ(0, windows);
  lines = testenv::ReadLines(log_);
  ASSERT_LE(10u, lines.size()) << "appended to the first run's lines";
  EXPECT_EQ("unreadable " + exe_, lines[lines.size() - 2]);
  EXPECT_EQ("exit -1", lines.back());
}

TEST(RunControl, AQuotedCommandAloneStartsAndAnOffsetPast2GiBIsDamaged) {
  testenv::ScopedTestDir dir("unattended-run");
  testenv::PrepareRunState(dir.path());
  blockfmt::RecordWriter block;
  block.End();
  const std::string path = dir / "block.bin";
  testenv::WriteBlockFile(path, block.bytes(), 0);
  // The seek cannot reach it: the walk would read from the start instead.
  EXPECT_EQ(LOAD_READ_FAILED, ReadBlockFile(path.c_str(), 0x80000000u));
  ASSERT_EQ(LOAD_OK, ReadBlockFile(path.c_str(), 0));

  g.options->flags = blockfmt::OPT_WAIT;
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\preremoval_probe.exe").c_str(),
                        (dir / "pre removal.exe").c_str(), FALSE));
  char saved[MAX_PATH] = "";
  GetEnvironmentVariableA("TMP", saved, MAX_PATH);
  SetEnvironmentVariableA("TMP", dir.path().c_str());
  testenv::ProbeEnv probe(dir / "marker.txt");
  PreparePreRemovalCommand("\"#TempDir#\\pre removal.exe\"");
  SetEnvironmentVariableA("TMP", saved[0] ? saved : nullptr);
  EXPECT_TRUE(FileExists(dir / "marker.txt"));
  testenv::ReleaseRunState();
}

}  // namespace
