#include "instance_lock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>

namespace plombix {
namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    folder = dir.path().toStdString() + "/run";
    ::setenv("PLOMBIX_RUNTIME_DIR", folder.c_str(), 1);
  }
  QTemporaryDir dir;
  std::string folder;
};

TEST_F(InstanceLockTest, TakesTheLowestFreeNumberAndReusesGaps) {
  InstanceLock first, second, third;
  ASSERT_TRUE(first.Acquire());
  ASSERT_TRUE(second.Acquire());
  ASSERT_TRUE(third.Acquire());
  EXPECT_EQ(first.index(), 0);
  EXPECT_EQ(second.index(), 1);
  EXPECT_EQ(third.index(), 2);

  // The copy holding number 1 ends: the next copy takes the gap.
  second.Release();
  InstanceLock next;
  ASSERT_TRUE(next.Acquire());
  EXPECT_EQ(next.index(), 1);
}

TEST_F(InstanceLockTest, NinthCopyGetsNoNumber) {
  std::array<InstanceLock, 8> running;
  for (int k = 0; k < 8; ++k) {
    ASSERT_TRUE(running[size_t(k)].Acquire());
    EXPECT_EQ(running[size_t(k)].index(), k);
  }
  InstanceLock ninth;
  EXPECT_FALSE(ninth.Acquire());
  EXPECT_EQ(ninth.index(), -1);
}

TEST_F(InstanceLockTest, RuntimeFolderIsPrivate) {
  InstanceLock lock;
  ASSERT_TRUE(lock.Acquire());
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(InstanceLockTest, UnusableFolderIsAFailureNotACrash) {
  // A regular file where the folder should be.
  const std::string file = dir.path().toStdString() + "/plain-file";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ::setenv("PLOMBIX_RUNTIME_DIR", file.c_str(), 1);
  InstanceLock lock;
  EXPECT_FALSE(lock.Acquire());
}

}  // namespace
}  // namespace plombix
