// The registry pass deletes trees below a root, never the root itself, whatever path a
// block gives it.
#include <gtest/gtest.h>

#include "passes/passes.h"

TEST(DeleteKeyTree, NeverTheRootItself) {
  EXPECT_EQ((LONG)ERROR_BADKEY, DeleteKeyTree(HKEY_CURRENT_USER, ""));
  EXPECT_EQ((LONG)ERROR_BADKEY, DeleteKeyTree(HKEY_LOCAL_MACHINE, ""));
}
