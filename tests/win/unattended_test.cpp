// Whole removals of a sample product by the built program: answered as a person would
// (shared libraries, a read-only file, a file that another program holds open), and
// unattended, with the log, the exit codes and deletion at restart, watched for any window.
#include <windows.h>
// sddl.h needs the base types first.
#include <sddl.h>

#include <algorithm>
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
using winui::Press;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const DWORD kNoValue = 0xFFFFFFFF;

class WholeRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.messages = testenv::StandardMessages();
    // Listed in install order; the pass removes them in reverse.
    block_.files = {{".", "shared2.dll", blockfmt::FE_SHARED},
                    {".", "shared1.dll", blockfmt::FE_SHARED},
                    {".", "readonly.txt", 0},
                    {".\\held", "held.txt", blockfmt::FE_CHECK_IN_USE}};
    // user-data.txt is not listed: it keeps the folder after the run.
    ASSERT_TRUE(testenv::MakeTree(dir_.path(), {"shared2.dll", "shared1.dll", "readonly.txt",
                                                "held\\held.txt", "user-data.txt"}));
    ASSERT_TRUE(SetFileAttributesA((dir_ / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared2.dll", 2));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared1.dll", 1));
    // Held without sharing, as a running program would hold its file.
    held_ = CreateFileA((dir_ / "held\\held.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held_);
  }
  void TearDown() override {
    Release();
    for (const char *name : {"shared2.dll", "shared1.dll"})
      RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, (dir_ / name).c_str());
  }
  void Release() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }
  DWORD Count(const char *name) {
    DWORD count = kNoValue;
    testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / name, &count);
    return count;
  }
  // Runs the program and adds to *windows the visible windows of it seen until it ends.
  DWORD RunSilent(const std::string &switches, int *windows) {
    testenv::ProgramRun run("\"" + exe_ + "\" " + switches);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, run.id());
    while (process && WaitForSingleObject(process, 5) == WAIT_TIMEOUT)
      *windows += static_cast<int>(winui::FindTopWindows(run.id(), nullptr).size());
    if (process) CloseHandle(process);
    return run.Wait();
  }

  testenv::ScopedTestDir dir_{"whole-removal"};
  blockfmt::Block block_;
  std::string exe_ = dir_ / "uninstall.exe", log_ = dir_ / "run - log.txt";
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

TEST_F(WholeRemoval, ACancelledWarningRemovesNothingAndRetryAfterReleaseRemovesTheRest) {
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  const std::string withLog = "\"" + exe_ + "\" /LOG \"" + log_ + "\"";
  {
    testenv::ProgramRun run(withLog);
    run.answers().Answer("<1>", Press::Click, IDOK, 1);
    run.answers().Answer("<15>", Press::Click, IDCANCEL, 1);
    EXPECT_EQ(0u, run.Wait());
    std::vector<winui::WindowInfo> seen = run.answers().Seen();
    ASSERT_EQ(2u, seen.size()) << winui::DescribeAll(seen);  // no progress, no closing message
    EXPECT_TRUE(seen[0].Contains("<1>") && seen[1].Contains("<15>"));
  }
  testenv::ExpectTree(dir_.path(), {"shared2.dll", "shared1.dll", "readonly.txt", "held\\held.txt"},
                      {});
  EXPECT_EQ(1u, Count("shared1.dll"));
  Sleep(500);  // a cancelled run does not delete itself either
  EXPECT_TRUE(FileExists(exe_));
  // The warning names the file it found held; each answer follows it.
  const std::vector<std::string> cancelled = {"warned-in-use " + dir_ / "held\\held.txt",
                                              "answered cancel", "cancelled", "exit 0"};
  std::vector<std::string> lines = testenv::ReadLines(log_);
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ(cancelled, std::vector<std::string>(lines.begin() + 3, lines.end()));

  // The second run starts its pre-removal program, named relative to the install folder
  // (the wait for it is RunControl's).
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\preremoval_probe.exe").c_str(),
                        (dir_ / "probe.exe").c_str(), FALSE));
  block_.options = {blockfmt::OPT_WAIT, "probe.exe", ""};
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  testenv::ProbeEnv probe(dir_ / "marker.txt");
  const std::string readOnly = dir_ / "readonly.txt", shared1 = dir_ / "shared1.dll";
  testenv::ProgramRun run(withLog);
  run.answers().Answer("<1>", Press::Click, IDOK, 1);
  run.answers().Answer("<9> " + readOnly, Press::Click, IDYES, 1);
  run.answers().Answer("<10> " + shared1, Press::Click, IDYES, 1);
  run.answers().Answer("<2>", Press::Click, IDOK, 1);
  // The warning is answered here, once the file is free: Retry must then go on.
  HWND warning = winui::WaitForWindow(run.id(), "#32770", "<15>", 30000);
  ASSERT_NE(nullptr, warning);
  // Pressed once the answerer has recorded it, so that the count below is exact.
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
    if (winui::CountShown(run.answers().Seen(), "<15>") > 0) break;
  Release();
  ASSERT_TRUE(winui::PressOn(warning, Press::Click, IDRETRY));
  DWORD code = run.Wait();
  // Checked at once: the self-deletion script may remove the program itself any moment.
  std::vector<winui::WindowInfo> seen = run.answers().Seen();
  std::string all = winui::DescribeAll(seen);
  EXPECT_EQ(0u, code) << all;
  EXPECT_TRUE(FileExists(dir_ / "marker.txt")) << "no pre-removal program";
  // shared2.dll stays: another product still counts it.
  testenv::ExpectTree(dir_.path(), {"shared2.dll", "user-data.txt"},
                      {"held", "readonly.txt", "shared1.dll"});
  EXPECT_EQ(1u, Count("shared2.dll"));
  EXPECT_EQ(kNoValue, Count("shared1.dll"));

  // The questions: each exactly once, and none about the library others still use.
  for (const std::string &text : std::vector<std::string>{"<1>", "<15>", "<9> ", "<9> " + readOnly,
                                                          "<10> ", "<10> " + shared1, "<2>"})
    EXPECT_EQ(1, winui::CountShown(seen, text)) << text << "\n" << all;
  // The answer, and the start of the self-deletion with the folder it empties.
  lines = testenv::ReadLines(log_);
  auto logged = [&lines](const std::string &line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(1, logged("answered retry"));
  EXPECT_EQ(1, logged("scheduled-self-delete " + dir_.path() + "\\"));
}

// A held file is left to the system's restart only where no standard user can change its
// path: never one that a walk found, and (Wine gives every folder its user as owner) not a
// listed one here either. Nothing is scheduled, so a user's link put in place of his own
// folder after the run leads the restart nowhere.
TEST_F(WholeRemoval, SilentDefaultsAnswerEveryQuestionAndTheExitCodeTellsTheOutcome) {
  block_.files.push_back({".", "shared-none.dll", blockfmt::FE_SHARED});
  block_.files.push_back({".", "missing.txt", 0});
  block_.patterns = {"walk\\*.*"};
  ASSERT_TRUE(testenv::WriteText(dir_ / "shared-none.dll", "x"));
  ASSERT_TRUE(testenv::MakeTree(dir_.path(), {"walk\\user\\cache.txt", "outside\\foreign.txt"}));
  HANDLE cache = CreateFileA((dir_ / "walk\\user\\cache.txt").c_str(), GENERIC_READ, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, cache);
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  int windows = 0;
  const std::string switches = "/S /LOG=\"" + log_ + "\" /X";
  EXPECT_EQ(1603u, RunSilent(switches, &windows));
  EXPECT_EQ(0, windows);
  EXPECT_TRUE(FileExists(exe_)) << "the /X after the log path is taken";

  std::vector<std::string> lines = testenv::ReadLines(log_);
  std::string all;
  for (const std::string &line : lines) all += line + "\n";
  ASSERT_EQ(11u, lines.size()) << all;
  EXPECT_EQ("program " + exe_, lines[0]);
  EXPECT_EQ("switches " + switches, lines[1]);
  EXPECT_EQ(0u, lines[2].find("started 20"));
  const std::vector<std::string> outcomes = {
      "absent " + dir_ / "missing.txt",           "kept-default " + dir_ / "shared-none.dll",
      "in-use " + dir_ / "held\\held.txt",        "removed " + dir_ / "readonly.txt",
      "removed " + dir_ / "shared1.dll",          "kept-shared " + dir_ / "shared2.dll",
      "in-use " + dir_ / "walk\\user\\cache.txt", "exit 1603"};
  EXPECT_EQ(outcomes, std::vector<std::string>(lines.begin() + 3, lines.end()));
  testenv::ExpectTree(dir_.path(), {"shared-none.dll", "shared2.dll", "held\\held.txt"},
                      {"readonly.txt", "shared1.dll"});

  // The user swaps his folder for a link, and the machine restarts.
  CloseHandle(cache);
  ASSERT_TRUE(DeleteFileA((dir_ / "walk\\user\\cache.txt").c_str()));
  ASSERT_TRUE(RemoveDirectoryA((dir_ / "walk\\user").c_str()));
  ASSERT_TRUE(testenv::MakeFolderLink(dir_ / "walk\\user", "../outside"));
  EXPECT_EQ(0u, testenv::RunAndWait("wineboot.exe -r"));
  EXPECT_TRUE(FileExists(dir_ / "outside\\foreign.txt"));
  EXPECT_TRUE(FileExists(dir_ / "held\\held.txt"));
  EXPECT_TRUE(testenv::RemoveFolderLink(dir_ / "walk\\user"));
  Release();

  // Nothing left to fail, then a failure, then an unreadable block; the log grows.
  EXPECT_EQ(0u, RunSilent("/S /X", &windows));
  block_.files.push_back({".", "bad<name>.txt", 0});
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  EXPECT_EQ(1603u, RunSilent("/S /X /LOG=\"" + log_ + "\"", &windows));
  lines = testenv::ReadLines(log_);
  ASSERT_LE(16u, lines.size());
  EXPECT_EQ("failed:123 " + dir_ / "bad<name>.txt", lines[14]);
  EXPECT_EQ("exit 1603", lines.back());
  ASSERT_TRUE(CopyFileA(testenv::StubPath().c_str(), exe_.c_str(), FALSE));
  EXPECT_EQ(0xFFFFFFFFu, RunSilent("-s -log=\"" + log_ + "\"", &windows));
  EXPECT_EQ(0, windows) << "in any of the runs";
  lines = testenv::ReadLines(log_);
  EXPECT_EQ("unreadable " + exe_, lines[lines.size() - 2]);
  EXPECT_EQ("exit -1", lines.back());
}

// What the whole removal would do, seen first by the tool's preview: the preview changes
// nothing (tree, counts, keys, restart list compared byte for byte), and the real run then
// logs the same lines, "would-remove" as "removed". Its entries lean on each other: a file
// listed and matched by a wildcard, a folder that only the run empties, a key listed below
// one deleted before it.
std::string Snapshot(const std::string &folder) {
  std::string s;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return s;
  do {
    const std::string name = found.cFileName, full = folder + "\\" + name;
    if (name == "." || name == "..") continue;
    std::vector<uint8_t> bytes;
    testenv::ReadBytes(full, &bytes);  // a held file shows its name and size only
    // Small files as they are; the program by its bytes' hash, to keep a failure readable.
    std::string content(bytes.begin(), bytes.end());
    if (bytes.size() > 64) {
      unsigned long long hash = 14695981039346656037ull;
      for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
      content = std::to_string(hash);
    }
    s += full + " " + std::to_string(found.dwFileAttributes) + " " +
         std::to_string(found.nFileSizeLow) + " " + content + "\n";
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      s += Snapshot(full);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return s;
}

std::string RegistrySnapshot(HKEY root, const std::string &path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string s = path + "\n";
  char name[16384];
  BYTE data[8192];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
      break;
    s += " " + std::string(name, nameSize) + "=" + std::to_string(type) + ":" +
         std::string(reinterpret_cast<char *>(data), dataSize) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    children.push_back(path + "\\" + std::string(name, nameSize));
  }
  RegCloseKey(key);
  for (const std::string &child : children) s += RegistrySnapshot(root, child);
  return s;
}

TEST_F(WholeRemoval, ThePreviewChangesNothingAndTheRunThenLogsWhatItShowed) {
  const std::string base = "Software\\TallowinTests\\Preview";
  char windows[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
  ASSERT_TRUE(testenv::MakeTree(
      dir_.path(), {"data\\cache.dat", "logs\\a.log", "logs\\b.log", "target\\x.log"}));
  ASSERT_TRUE(testenv::MakeFolderLink(dir_ / "logs\\linked", "../target"));
  for (const char *key : {"\\Product\\Sub", "\\Settings"})
    ASSERT_TRUE(testenv::SetRegString(HKEY_CURRENT_USER, base + key, "Last", "x"));
  block_.files.push_back({".\\data", "cache.dat", 0});
  block_.files.push_back({".\\logs", "a.log", 0});
  // Never loaded by either: the run is elevated and the folder is the user's (under Wine
  // every owner is), so the library's code would run with the run's rights.
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\selfreg_probe.dll").c_str(),
                        (dir_ / "reg.dll").c_str(), FALSE));
  block_.files.push_back({".", "reg.dll", blockfmt::FE_SELFREG});
  block_.folders = {{0, dir_ / "data", "", ""}, {0, windows, "", ""}};
  block_.patterns = {"logs\\*.log"};
  block_.registry = {{blockfmt::ROOT_HKCU, base + "\\Product"},
                     {blockfmt::ROOT_HKCU, base + "\\Product\\Sub"},
                     {blockfmt::ROOT_HKCU, base + "\\Settings\\\\Last"},
                     {blockfmt::ROOT_HKCU, base + "\\Settings\\\\Last"}};
  ASSERT_TRUE(testenv::InstallStub(exe_, block_));
  const std::string pending = "System\\CurrentControlSet\\Control\\Session Manager";
  auto machine = [&] {
    return Snapshot(dir_.path()) + RegistrySnapshot(HKEY_CURRENT_USER, base) +
           RegistrySnapshot(HKEY_LOCAL_MACHINE, kSharedDlls) +
           RegistrySnapshot(HKEY_LOCAL_MACHINE, pending);
  };
  const std::string before = machine();
  const std::string shown = dir_ / "preview.txt";
  const DWORD previewCode = testenv::RunAndWait(
      "\"" + testenv::BinDir() + "\\tallowin.exe\" preview \"" + exe_ + "\" -o \"" + shown + "\"");
  ASSERT_TRUE(testenv::FileExists(shown));
  std::vector<std::string> preview = testenv::ReadLines(shown);
  ASSERT_TRUE(DeleteFileA(shown.c_str()));
  EXPECT_EQ(before, machine());
  EXPECT_EQ(1603u, previewCode) << "the link under logs fails the run";

  int windowsSeen = 0;
  EXPECT_EQ(previewCode, RunSilent("/S /LOG=\"" + log_ + "\"", &windowsSeen));
  EXPECT_FALSE(testenv::FileExists(dir_ / "reg.dll.unregistered"));
  EXPECT_TRUE(testenv::FileExists(dir_ / "reg.dll"));
  std::vector<std::string> logged = testenv::ReadLines(log_);
  ASSERT_LE(3u, logged.size());
  logged.erase(logged.begin(), logged.begin() + 3);  // program, switches, start
  // The preview's lines as the run writes them; what only the preview tells goes.
  std::vector<std::string> expected;
  for (const std::string &line : std::vector<std::string>(preview.begin() + 2, preview.end())) {
    const std::string keyword = line.substr(0, line.find(' '));
    const std::string rest = line.substr(keyword.size());
    if (keyword == "would-remove")
      expected.push_back("removed" + rest);
    else if (keyword == "would-restart")
      expected.push_back("restart" + rest);
    else if (keyword == "would-self-delete")
      expected.push_back("scheduled-self-delete" + rest);
    else if (keyword.compare(0, 6, "would-") != 0)
      expected.push_back(line);
  }
  EXPECT_EQ(expected, logged);
  for (const std::string &line :
       {"would-remove " + dir_ / "shared1.dll", "kept-shared " + dir_ / "shared2.dll",
        "would-remove " + dir_ / "readonly.txt", "in-use " + dir_ / "held\\held.txt",
        "would-remove " + dir_ / "data", "would-remove " + dir_ / "logs\\a.log",
        "not-loaded " + dir_ / "reg.dll", "link " + dir_ / "logs\\linked",
        "protected " + std::string(windows), "absent HKEY_CURRENT_USER\\" + base + "\\Product\\Sub",
        "absent HKEY_CURRENT_USER\\" + base + "\\Settings\\\\Last"})
    EXPECT_EQ(1, std::count(preview.begin(), preview.end(), line)) << line;
  testenv::RemoveFolderLink(dir_ / "logs\\linked");
  RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
}

// Each architecture's tool refuses the other's program: the two see different folders and
// registry views.
TEST(Preview, TheToolRefusesAProgramOfTheOtherArchitecture) {
  testenv::ScopedTestDir dir("preview-other");
  const std::string err = dir / "err.txt";
  const bool tool64 = sizeof(void *) == 8;
  const std::string other = tool64 ? "win32" : "win64";
  const DWORD code = testenv::RunAndWait(
      "cmd.exe /c \"\"" + testenv::BinDir() + "\\tallowin.exe\" preview \"" + testenv::BinDir() +
      "\\..\\" + other + "\\uninstall.exe\" 2>\"" + err + "\"\"");
  EXPECT_EQ(2u, code);
  std::vector<std::string> lines = testenv::ReadLines(err);
  ASSERT_EQ(1u, lines.size());
  const std::string use = std::string("preview it with the ") + (tool64 ? "32" : "64") +
                          "-bit tool, " + other + "\\tallowin.exe";
  EXPECT_NE(std::string::npos, lines[0].find(use)) << lines[0];
}

// The built program's registry pass under /S: a key tree with subkeys and values named in
// Japanese goes whole; a tree that holds a registry link key stays from the link on, with
// the link's target, and fails the run.
TEST(SilentRegistry, ATreeGoesWholeWhateverItsNamesAndALinkInItFailsTheRun) {
  testenv::ScopedTestDir dir("silent-registry");
  const std::string exe = dir / "uninstall.exe", log = dir / "run.log";
  const std::string base = "Software\\TallowinTests\\SilentRegistry";
  const wchar_t *const keys[] = {
      L"Software\\TallowinTests\\SilentRegistry\\Tree\\\x65E5\x672C",
      L"Software\\TallowinTests\\SilentRegistry\\Tree\\\x65E5\x672C\\\x5B50",
      L"Software\\TallowinTests\\SilentRegistry\\Held\\Before",
      L"Software\\TallowinTests\\SilentRegistry\\Target"};
  for (const wchar_t *name : keys) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CURRENT_USER, name, &key));
    RegSetValueExW(key, L"\x5024", 0, REG_SZ, reinterpret_cast<const BYTE *>(L"1"), 4);
    RegCloseKey(key);
  }
  // The link names a key of the same user, by the user's own path in the registry.
  HKEY link;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_CURRENT_USER, (base + "\\Held\\Link").c_str(), 0, nullptr,
                            REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                            &link, nullptr));
  HANDLE token;
  DWORD size = 0;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[256];
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
  CloseHandle(token);
  wchar_t *sid = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &sid));
  const std::wstring target = L"\\Registry\\User\\" + std::wstring(sid) +
                              L"\\Software\\TallowinTests\\SilentRegistry\\Target";
  LocalFree(sid);
  RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                 reinterpret_cast<const BYTE *>(target.c_str()),
                 static_cast<DWORD>(target.size() * sizeof(wchar_t)));
  RegCloseKey(link);

  blockfmt::Block block;
  block.messages = testenv::StandardMessages();
  const std::string switches = "/S /X /LOG=\"" + log + "\"";
  const std::string root = "HKEY_CURRENT_USER\\";
  const struct {
    std::string key;
    DWORD code;
    std::string line;
  } cases[] = {{base + "\\Tree", 0, "removed " + root + base + "\\Tree"},
               {base + "\\Held", 1603, "link " + root + base + "\\Held"}};
  for (const auto &c : cases) {
    block.registry = {{blockfmt::ROOT_HKCU, c.key}};
    ASSERT_TRUE(testenv::InstallStub(exe, block));
    EXPECT_EQ(c.code, testenv::RunAndWait("\"" + exe + "\" " + switches)) << c.key;
    std::vector<std::string> lines = testenv::ReadLines(log);
    ASSERT_LE(2u, lines.size());
    EXPECT_EQ(c.line, lines[lines.size() - 2]);
  }
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, base + "\\Tree"));
  EXPECT_FALSE(testenv::RegKeyExists(HKEY_CURRENT_USER, base + "\\Held\\Before"));
  EXPECT_TRUE(testenv::RegKeyExists(HKEY_CURRENT_USER, base + "\\Target"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, (base + "\\Held\\Link").c_str(),
                                         REG_OPTION_OPEN_LINK, DELETE, &link));
  RegDeleteKeyA(link, "");
  RegCloseKey(link);
  RegDeleteTreeA(HKEY_CURRENT_USER, base.c_str());
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
  testenv::ProbeEnv probe(dir / "marker.txt");
  PreparePreRemovalCommand("\"#InstallDir#\\pre removal.exe\"");
  EXPECT_TRUE(FileExists(dir / "marker.txt"));
  testenv::ReleaseRunState();
}

}  // namespace
