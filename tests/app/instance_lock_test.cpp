#include "instance_lock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace plombix {
namespace {

// The lowest free number, gaps reused, none for a ninth copy. (A folder that
// cannot be used is the window's test; the folder's checks the runtime
// folder's.)
TEST(InstanceLock, TakesTheLowestFreeNumberReusesGapsAndLeavesNoneForANinth) {
  QTemporaryDir dir;
  ::setenv("PLOMBIX_RUNTIME_DIR", (dir.path() + "/run").toUtf8().constData(), 1);
  std::array<InstanceLock, 8> running;
  for (int k = 0; k < 8; ++k) {
    ASSERT_TRUE(running[size_t(k)].Acquire());
    EXPECT_EQ(running[size_t(k)].index(), k);
  }
  InstanceLock ninth;
  EXPECT_EQ(ninth.TryAcquire(), InstanceLock::Result::AllTaken);
  EXPECT_EQ(ninth.index(), -1);
  running[1].Release();  // the copy holding number 1 ends: the next takes the gap
  ASSERT_TRUE(ninth.Acquire());
  EXPECT_EQ(ninth.index(), 1);
}

}  // namespace
}  // namespace plombix
