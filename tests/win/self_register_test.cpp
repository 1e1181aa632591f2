// A library listed to unregister itself, loaded by the file pass.
#include <gtest/gtest.h>
#include <windows.h>

#include "format/block_format.h"
#include "passes/passes.h"
#include "state/state.h"
#include "support/testenv.h"

namespace {

// An unelevated run loads it, unregisters and deletes it. (An elevated one may not, from a
// folder that a standard user could change: under Wine every owner is the user, and the
// whole runs show the library left.)
TEST(SelfRegistration, AnUnelevatedRunUnregistersAListedLibrary) {
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
