// Libraries planted beside the removal program and in its current folder under the names
// of system libraries it uses: none may be loaded. A copy of this test program that loads
// the same names the ordinary way shows first that this loader would take a planted one.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/testenv.h"

using testenv::ScopedTestDir;

namespace {

const char kChildVariable[] = "TALLOWIN_PLANT_CHILD";

// Libraries the program loads at run time, then the names its import table gives.
const char *const kRuntimeNames[] = {"uxtheme.dll", "version.dll", "cryptbase.dll", "comctl32.dll"};
const char *const kImportNames[] = {"advapi32.dll", "comctl32.dll", "gdi32.dll",   "kernel32.dll",
                                    "msvcrt.dll",   "ole32.dll",    "shell32.dll", "user32.dll"};

std::string ProbePath() { return testenv::TestProgramDir() + "\\plant_probe.dll"; }

std::string OwnPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

bool Plant(const std::string &folder, const char *name) {
  return CopyFileA(ProbePath().c_str(), (folder + "\\" + name).c_str(), FALSE) != 0;
}

bool Loaded(const std::string &folder, const char *name) {
  return testenv::FileExists(folder + "\\" + name + ".loaded");
}

// Runs only in the copies the control starts: loads each runtime name by bare name, the
// way a program that never restricted its search would.
TEST(PlantChild, LoadsByBareName) {
  if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) GTEST_SKIP();
  for (const char *name : kRuntimeNames) {
    HMODULE module = LoadLibraryA(name);
    if (module) FreeLibrary(module);
  }
}

// Starts a copy of this program from `folder` with `current` as its current folder.
void RunChild(const std::string &folder, const std::string &current) {
  std::string copy = folder + "\\plant_host.exe";
  ASSERT_TRUE(CopyFileA(OwnPath().c_str(), copy.c_str(), FALSE));
  SetEnvironmentVariableA(kChildVariable, "1");
  DWORD code =
      testenv::RunAndWait("\"" + copy + "\" --gtest_filter=PlantChild.*", 60000, current.c_str());
  SetEnvironmentVariableA(kChildVariable, nullptr);
  EXPECT_EQ(0u, code);
}

TEST(DllPlanting, TheProgramLoadsNoLibraryFromItsOwnOrItsCurrentFolder) {
  ASSERT_TRUE(testenv::FileExists(ProbePath())) << ProbePath();
  ScopedTestDir dir("planting");

  // Control: the probe is taken from the program's own folder and from its current folder
  // when nothing restricts the search. Names this loader always serves itself prove
  // nothing; at least one must be shown to work, or the check below could not fail.
  std::string ownHost = dir / "own-host", currentHost = dir / "current-host",
              currentOnly = dir / "current-only", plain = dir / "plain";
  for (const std::string &folder : {ownHost, currentHost, currentOnly, plain})
    ASSERT_TRUE(testenv::MakeDirs(folder));
  for (const char *name : kRuntimeNames) {
    ASSERT_TRUE(Plant(ownHost, name));
    ASSERT_TRUE(Plant(currentOnly, name));
  }
  RunChild(ownHost, plain);
  RunChild(currentHost, currentOnly);
  std::vector<const char *> fromOwn, fromCurrent;
  for (const char *name : kRuntimeNames) {
    if (Loaded(ownHost, name)) fromOwn.push_back(name);
    if (Loaded(currentOnly, name)) fromCurrent.push_back(name);
  }
  ASSERT_FALSE(fromOwn.empty()) << "this loader takes no planted library from a program's folder";
  ASSERT_FALSE(fromCurrent.empty())
      << "this loader takes no planted library from the current folder";
  std::string shown = "taken when planted, own folder:";
  for (const char *name : fromOwn) shown += std::string(" ") + name;
  shown += "; current folder:";
  for (const char *name : fromCurrent) shown += std::string(" ") + name;
  printf("%s\n", shown.c_str());

  // The program itself, with every name planted in both places.
  std::string install = dir / "product", current = dir / "current";
  ASSERT_TRUE(testenv::MakeDirs(current));
  blockfmt::Block block;
  ASSERT_TRUE(testenv::InstallStub(install + "\\uninstall.exe", block));
  for (const std::string &folder : {install, current}) {
    for (const char *name : kRuntimeNames) ASSERT_TRUE(Plant(folder, name));
    for (const char *name : kImportNames) ASSERT_TRUE(Plant(folder, name));
  }
  // A planted import the loader took would stop the program before it ran: it must end
  // normally.
  EXPECT_EQ(0u,
            testenv::RunAndWait("\"" + install + "\\uninstall.exe\" /X", 60000, current.c_str()));
  for (const std::string &folder : {install, current}) {
    for (const char *name : kRuntimeNames)
      EXPECT_FALSE(Loaded(folder, name)) << folder << " " << name;
    for (const char *name : kImportNames)
      EXPECT_FALSE(Loaded(folder, name)) << folder << " " << name;
  }
}

}  // namespace
