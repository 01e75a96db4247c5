// The loader on its own: jobs run in order on one worker thread, the newest
// request of each part wins, and the owner hears about every job.
#include "picture_loader.h"

#include <QColor>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace plombix {
namespace {

class PictureLoaderTest : public ::testing::Test {
 protected:
  std::string Picture(const std::string& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    const std::string path = dir.path().toStdString() + "/" + name;
    EXPECT_TRUE(image.save(QString::fromStdString(path)));
    return path;
  }
  static PrepareRequest Shown(const std::string& path, PictureRole role = PictureRole::Shown) {
    return {.path = path, .role = role, .outputWidth = 64, .outputHeight = 36};
  }
  static std::vector<PictureJobResult> Drain(PictureLoader& loader) {
    loader.WaitIdle();
    return loader.TakeResults();
  }
  QTemporaryDir dir;
};

// The first candidate that loads wins and carries its file's stamp from
// before the read; the check fails on the first file that does not decode.
TEST_F(PictureLoaderTest, EachPartReportsWhatHappened) {
  const std::string red = Picture("red.png", 32, 18);
  const std::string missing = dir.path().toStdString() + "/missing.png";
  std::atomic<int> wakes{0};
  PictureLoader loader([&] { ++wakes; });
  const uint64_t ticket = loader.Submit(
      {.overlay = Shown(red, PictureRole::Overlay), .shownCandidates = {Shown(missing), Shown(red)},
       .checkPaths = {red, missing}});
  std::vector<PictureJobResult> results = Drain(loader);
  ASSERT_EQ(results.size(), 1u);
  const PictureJobResult& r = results[0];
  EXPECT_EQ(r.ticket, ticket);
  EXPECT_EQ(r.overlayStatus, PartStatus::Done);
  EXPECT_EQ(r.overlay.width, 64);  // scaled to the output
  EXPECT_EQ(std::tuple(r.shownStatus, r.shownIndex, r.shownTried), std::tuple(PartStatus::Done, 1, 2));
  EXPECT_EQ(r.shown.filePath, red);
  EXPECT_EQ(r.shownStamp, ReadFileStamp(red));
  EXPECT_EQ(std::pair(r.checkStatus, r.checkError), std::pair(PartStatus::Failed, DecodeError::NotFound));
  EXPECT_GE(wakes.load(), 1);

  loader.Submit({.shownCandidates = {Shown(missing)}});
  results = Drain(loader);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(std::tuple(results[0].shownStatus, results[0].shownIndex, results[0].shown.error),
            std::tuple(PartStatus::Failed, -1, DecodeError::NotFound));
  EXPECT_EQ(results[0].overlayStatus, PartStatus::NotAsked);
}

// Jobs queued behind a running one: the newer shown request supersedes the
// older ones still queued, results come back in order, and a part that was
// not asked for again keeps its own result.
TEST_F(PictureLoaderTest, NewestRequestOfAPartWinsAndResultsKeepTheirOrder) {
  const std::string big = Picture("big.png", 3000, 2000);
  const std::string a = Picture("a.png", 16, 9), b = Picture("b.png", 16, 9);
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
  EXPECT_EQ(std::pair(results[1].shownStatus, results[1].overlayStatus), std::pair(PartStatus::Superseded, PartStatus::Done));
  EXPECT_EQ(results[2].shownStatus, PartStatus::Done);
  EXPECT_EQ(results[2].shown.filePath, b);
  EXPECT_FALSE(loader.busy());
}

// Background jobs run beside the operator's without superseding them or
// being superseded; a posted result overtakes the shown part still loading;
// cancelled background work is never reported.
TEST_F(PictureLoaderTest, BackgroundJobsAndPostedResultsKeepTheOrder) {
  const std::string big = Picture("big.png", 3000, 2000), a = Picture("a.png", 16, 9);
  PictureLoader loader([] {});
  loader.SubmitBackground({.shownCandidates = {Shown(big)}});
  loader.CancelBackground();
  const uint64_t ahead = loader.SubmitBackground({.shownCandidates = {Shown(a)}});
  loader.Submit({.shownCandidates = {Shown(big)}});
  PictureJobResult ready;
  ready.shownStatus = PartStatus::Done;
  const uint64_t posted = loader.Post(std::move(ready));
  loader.WaitBackgroundIdle();
  std::map<uint64_t, PartStatus> seen;
  for (const PictureJobResult& r : loader.TakeResults()) seen[r.ticket] = r.shownStatus;
  EXPECT_EQ(seen.size(), 3u);  // the cancelled one is not reported
  EXPECT_EQ(seen[ahead], PartStatus::Done);
  EXPECT_EQ(seen[posted], PartStatus::Done);
  EXPECT_EQ(seen[posted - 1], PartStatus::Superseded);  // the show overtaken by the posted result
}

// A loader destroyed with work queued and running ends without running the
// queue, and the owner is never called afterwards.
TEST_F(PictureLoaderTest, DestroyedWhileBusyDropsTheRest) {
  const std::string big = Picture("big.png", 3000, 2000);
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
