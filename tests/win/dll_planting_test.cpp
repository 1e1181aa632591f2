// Libraries planted beside the removal program and in its current folder under the names
// of system libraries it uses: none may be loaded. A copy of this test program that loads
// the same names the ordinary way shows first that this loader would take a planted one.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "format/block_format.h"
#include "passes/passes.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

using Names = std::vector<const char *>;

const char kChildVariable[] = "TALLOWIN_PLANT_CHILD";

// Libraries the program loads at run time, then the names its import table gives.
const Names kRuntimeNames = {"uxtheme.dll", "version.dll", "cryptbase.dll", "comctl32.dll"};
const Names kImportNames = {"advapi32.dll", "comctl32.dll", "gdi32.dll",   "kernel32.dll",
                            "msvcrt.dll",   "ole32.dll",    "shell32.dll", "user32.dll"};

void Plant(const std::string &folder, const Names &names) {
  const std::string probe = testenv::TestProgramDir() + "\\plant_probe.dll";
  ASSERT_TRUE(testenv::FileExists(probe)) << probe;
  for (const char *name : names)
    ASSERT_TRUE(CopyFileA(probe.c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
}

// The names whose copy planted in `folder` was loaded, each after a blank.
std::string Loaded(const std::string &folder, const Names &names) {
  std::string loaded;
  for (const char *name : names)
    if (testenv::FileExists(folder + "\\" + name + ".loaded")) loaded += std::string(" ") + name;
  return loaded;
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
  EXPECT_EQ(0u, testenv::RunCopyOfThisProgram(folder + "\\plant_host.exe", "PlantChild.*",
                                              kChildVariable, current.c_str()));
}

TEST(DllPlanting, TheProgramLoadsNoLibraryFromItsOwnOrItsCurrentFolder) {
  testenv::ScopedTestDir dir("planting");
  // Control: the probe is taken from the program's own folder and from its current folder
  // when nothing restricts the search. Names this loader always serves itself prove
  // nothing; at least one must be shown to work, or the check below could not fail.
  std::string ownHost = dir / "own-host", currentHost = dir / "current-host",
              currentOnly = dir / "current-only", plain = dir / "plain";
  for (const std::string &folder : {ownHost, currentHost, currentOnly, plain})
    ASSERT_TRUE(testenv::MakeDirs(folder));
  ASSERT_NO_FATAL_FAILURE(Plant(ownHost, kRuntimeNames));
  ASSERT_NO_FATAL_FAILURE(Plant(currentOnly, kRuntimeNames));
  RunChild(ownHost, plain);
  RunChild(currentHost, currentOnly);
  ASSERT_NE("", Loaded(ownHost, kRuntimeNames))
      << "this loader takes no planted library from a program's folder";
  ASSERT_NE("", Loaded(currentOnly, kRuntimeNames))
      << "this loader takes no planted library from the current folder";

  // The program itself, with every name planted in both places.
  std::string install = dir / "product", current = dir / "current";
  ASSERT_TRUE(testenv::MakeDirs(current));
  ASSERT_TRUE(testenv::InstallStub(install + "\\uninstall.exe", blockfmt::Block()));
  for (const std::string &folder : {install, current}) {
    ASSERT_NO_FATAL_FAILURE(Plant(folder, kRuntimeNames));
    ASSERT_NO_FATAL_FAILURE(Plant(folder, kImportNames));
  }
  // A planted import the loader took would stop the program before it ran: it must end
  // normally.
  EXPECT_EQ(0u,
            testenv::RunAndWait("\"" + install + "\\uninstall.exe\" /X", 60000, current.c_str()));
  for (const std::string &folder : {install, current})
    EXPECT_EQ("", Loaded(folder, kRuntimeNames) + Loaded(folder, kImportNames)) << folder;
}

// A library listed to unregister itself is loaded only where its code would not run with
// more rights than its folder's users have: an unelevated run unregisters and deletes it;
// an elevated one leaves it, and its registration, when a standard user could change its
// folder (under Wine every owner is the user, so the elevated case is always refused).
TEST(DllPlanting, AListedLibraryIsLoadedOnlyWhereNoStandardUserCouldChangeIt) {
  testenv::ScopedTestDir dir("selfreg");
  const std::string probe = testenv::TestProgramDir() + "\\selfreg_probe.dll";
  for (DWORD elevated : {0u, 1u}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    ASSERT_TRUE(CopyFileA(probe.c_str(), (dir / "reg.dll").c_str(), FALSE));
    DeleteFileA((dir / "reg.dll.unregistered").c_str());
    testenv::RunState state(dir.path());
    state.File(dir.path(), "reg.dll", blockfmt::FE_SELFREG);
    g.elevated = elevated;
    RemoveFiles();
    EXPECT_EQ(!elevated, testenv::FileExists(dir / "reg.dll.unregistered"));
    EXPECT_EQ(!!elevated, testenv::FileExists(dir / "reg.dll"));
    EXPECT_EQ(elevated, g.failedCount);
  }
}

}  // namespace
