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
  for (const char *name : kRuntimeNames) FreeLibrary(LoadLibraryA(name));
}

TEST(DllPlanting, TheProgramLoadsNoLibraryFromItsOwnOrItsCurrentFolder) {
  testenv::ScopedTestDir dir("planting");
  // Control: a copy of this program started from a folder, then one started in a current
  // folder, each with the probe planted there, takes it when nothing restricts the search.
  // Names this loader always serves itself prove nothing; at least one must be shown to
  // work in each place, or the check below could not fail.
  const std::string host = dir / "host", planted[] = {dir / "own", dir / "current"};
  for (const std::string &folder : {host, planted[0], planted[1]})
    ASSERT_TRUE(testenv::MakeDirs(folder));
  for (int i = 0; i < 2; ++i) {
    ASSERT_NO_FATAL_FAILURE(Plant(planted[i], kRuntimeNames));
    EXPECT_EQ(0u, testenv::RunCopyOfThisProgram((i ? host : planted[0]) + "\\plant_host.exe",
                                                "PlantChild.*", kChildVariable,
                                                (i ? planted[1] : host).c_str()));
    ASSERT_NE("", Loaded(planted[i], kRuntimeNames)) << "this loader takes no planted library";
  }

  // The program itself, with every name planted in both places. A planted import the
  // loader took would stop the program before it ran: it must end normally.
  const std::string install = dir / "product", current = dir / "product-current";
  ASSERT_TRUE(testenv::MakeDirs(current));
  ASSERT_TRUE(testenv::InstallStub(install + "\\uninstall.exe", blockfmt::Block()));
  for (const std::string &folder : {install, current}) {
    ASSERT_NO_FATAL_FAILURE(Plant(folder, kRuntimeNames));
    ASSERT_NO_FATAL_FAILURE(Plant(folder, kImportNames));
  }
  EXPECT_EQ(0u,
            testenv::RunAndWait("\"" + install + "\\uninstall.exe\" /X", 60000, current.c_str()));
  for (const std::string &folder : {install, current})
    EXPECT_EQ("", Loaded(folder, kRuntimeNames) + Loaded(folder, kImportNames)) << folder;
}

// A library listed to unregister itself: an unelevated run loads it, unregisters and
// deletes it. (An elevated one may not, from a folder that a standard user could change:
// under Wine every owner is the user, and the whole runs show the library left.)
TEST(DllPlanting, AnUnelevatedRunUnregistersAListedLibrary) {
  testenv::ScopedTestDir dir("selfreg");
  ASSERT_TRUE(CopyFileA((testenv::TestProgramDir() + "\\selfreg_probe.dll").c_str(),
                        (dir / "reg.dll").c_str(), FALSE));
  testenv::RunState state(dir.path());
  state.File(dir.path(), "reg.dll", blockfmt::FE_SELFREG);
  g.elevated = 0;
  RemoveFiles();
  EXPECT_TRUE(testenv::FileExists(dir / "reg.dll.unregistered"));
  EXPECT_FALSE(testenv::FileExists(dir / "reg.dll"));
  EXPECT_EQ(0u, g.failedCount);
}

}  // namespace
