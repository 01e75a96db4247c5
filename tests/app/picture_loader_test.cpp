// The loader on its own: jobs run in order on one worker thread, the newest
// request of each part wins, and the owner hears about every job.
#include "picture_loader.h"

#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace plombix {
namespace {

class PictureLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  std::string Picture(const std::string& name, int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const std::string path = dir.path().toStdString() + "/" + name;
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }

  static PrepareRequest Shown(const std::string& path, PictureRole role = PictureRole::Shown) {
    return {.path = path, .role = role, .outputWidth = 64, .outputHeight = 36};
  }

  // Every result, once all jobs have run.
  static std::vector<PictureJobResult> Drain(PictureLoader& loader) {
    loader.WaitIdle();
    return loader.TakeResults();
  }

  QTemporaryDir dir;
};

TEST_F(PictureLoaderTest, EachPartReportsWhatHappened) {
  const std::string red = Picture("red.png", 32, 18, Qt::red);
  const std::string missing = dir.path().toStdString() + "/missing.png";
  std::atomic<int> wakes{0};
  PictureLoader loader([&] { ++wakes; });

  // The first candidate that loads wins.
  const uint64_t ticket = loader.Submit(
      {.overlay = Shown(red, PictureRole::Overlay), .shownCandidates = {Shown(missing), Shown(red)},
       .checkPaths = {red, missing}});
  std::vector<PictureJobResult> results = Drain(loader);
  ASSERT_EQ(results.size(), 1u);
  const PictureJobResult& r = results[0];
  EXPECT_EQ(r.ticket, ticket);
  EXPECT_EQ(r.overlayStatus, PartStatus::Done);
  EXPECT_EQ(r.overlay.width, 64);  // scaled to the output
  EXPECT_EQ(r.shownStatus, PartStatus::Done);
  EXPECT_EQ(r.shownIndex, 1);
  EXPECT_EQ(r.shownTried, 2);
  EXPECT_EQ(r.shown.filePath, red);
  EXPECT_EQ(r.checkStatus, PartStatus::Failed);
  EXPECT_EQ(r.checkError, DecodeError::NotFound);
  EXPECT_GE(wakes.load(), 1);

  loader.Submit({.shownCandidates = {Shown(missing)}});
  results = Drain(loader);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].shownStatus, PartStatus::Failed);
  EXPECT_EQ(results[0].shownIndex, -1);
  EXPECT_EQ(results[0].shown.error, DecodeError::NotFound);
  EXPECT_EQ(results[0].overlayStatus, PartStatus::NotAsked);
}

// Jobs queued behind a running one: the newer shown request supersedes the
// older ones still queued, results come back in order, and a part that was
// not asked for again keeps its own result.
TEST_F(PictureLoaderTest, NewestRequestOfAPartWinsAndResultsKeepTheirOrder) {
  const std::string big = Picture("big.png", 3000, 2000, Qt::blue);
  const std::string a = Picture("a.png", 16, 9, Qt::red);
  const std::string b = Picture("b.png", 16, 9, Qt::green);
  PictureLoader loader([] {});
  loader.Submit({.shownCandidates = {Shown(big)}});
  loader.Submit({.overlay = Shown(a), .shownCandidates = {Shown(a)}});
  loader.Submit({.shownCandidates = {Shown(b)}});

  const std::vector<PictureJobResult> results = Drain(loader);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_LT(results[0].ticket, results[1].ticket);
  EXPECT_LT(results[1].ticket, results[2].ticket);
  // The first was running or queued when the third came: stopped at its next
  // stage unless it had finished already.
  EXPECT_NE(results[0].shownStatus, PartStatus::Failed);
  EXPECT_EQ(results[1].shownStatus, PartStatus::Superseded);
  EXPECT_EQ(results[1].overlayStatus, PartStatus::Done);
  EXPECT_EQ(results[2].shownStatus, PartStatus::Done);
  EXPECT_EQ(results[2].shown.filePath, b);
  EXPECT_FALSE(loader.busy());
}

// A loader destroyed with work queued and running ends without running the
// queue, and the owner is never called afterwards.
TEST_F(PictureLoaderTest, DestroyedWhileBusyDropsTheRest) {
  const std::string big = Picture("big.png", 3000, 2000, Qt::blue);
  std::atomic<int> wakes{0};
  {
    PictureLoader loader([&] { ++wakes; });
    for (int i = 0; i < 20; ++i) loader.Submit({.checkPaths = {big}});
    EXPECT_TRUE(loader.busy());
  }
  const int atEnd = wakes.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(wakes.load(), atEnd);
  EXPECT_FALSE(PictureLoader::abandoned());
}

}  // namespace
}  // namespace plombix
