// Pictures prepared ahead in the real window: what a slideshow prepares, a
// prepared step on air at the window's next turn, and what makes a prepared
// picture stale.
#include <QAbstractButton>
#include <QFile>

#include <filesystem>

#include "ccol_button.h"
#include "dialog_fixture.h"

namespace plombix::testing {
namespace {

class PreparedTest : public DialogTest {
 protected:
  // The planner's tick and the background work, twice: what one round
  // prepares may change the next round's plan.
  void Settle(CNDIPlombixDlg& dlg) {
    for (int round = 0; round < 2; ++round) {
      dlg.onTimer(TIMER_TICK);
      dlg.core.WaitForPrepared();
    }
  }
  // What is on air once the results ready now are applied, without waiting
  // for the loader.
  static std::string OnAirAtOnce(CNDIPlombixDlg& dlg) {
    dlg.core.ApplyLoads();
    return std::filesystem::path(dlg.core.onAirPath).filename().string();
  }
};

TEST_F(PreparedTest, NeighboursArePreparedAndAStepTakesThemAtOnce) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string base = WriteSeries(6);
  std::filesystem::remove(base + "3.png");
  const std::string other = WritePicture("other.png", 64, 36, Qt::blue);
  dlg.onTimer(TIMER_RESTORE);
  dlg.waitForLoads();
  PressStartAndEnd(dlg, base, 1, 6);
  ASSERT_TRUE(Drop(dlg, {base + "2.png"}));
  dlg.config.live.slideshow.currentNumber = 2;
  auto* mode = qobject_cast<CColButton*>(dlg.control(1056));
  mode->click();  // by hand
  Settle(dlg);
  EXPECT_EQ(dlg.core.preparedCount(), 3u);  // next skips the missing 3: 4; previous and first: 1; last: 6

  const struct Row {
    const char* what;
    std::function<void()> act;
    const char* onAirAtOnce;  // null: the loader's turn may come first
    const char* onAir;
    int grey;  // of the picture on air; -1: not looked at
    size_t prepared;
  } rows[] = {
      {"next over the missing file", [&] { dlg.onStep(StepNext); }, "shot4.png", "shot4.png", 80, 4},
      {"a cue takes the last place", [&] { dlg.core.Cue(other, {}); }, "shot4.png", "shot4.png", 80, 4},
      {"previous over the missing file", [&] { dlg.onStep(StepPrevious); }, "shot2.png", "shot2.png", 40, 4},
      {"a changed file is read afresh",
       [&] {
         QFile::remove(QString::fromStdString(base + "1.png"));
         WritePicture("shot1.png", 48, 27, QColor(200, 200, 200));
         dlg.onStep(StepFirst);
       },
       nullptr, "shot1.png", 200, 3},
      {"automatic wraps to the first",
       [&] {
         mode->click();
         dlg.onStep(StepLast);
         dlg.waitForLoads();
         Settle(dlg);
         dlg.onTimer(TIMER_SLIDESHOW);
       },
       "shot1.png", "shot1.png", 200, 3},
      {"new range: all made again", [&] { qobject_cast<QAbstractButton*>(dlg.control(1049))->click(); }, nullptr, "shot1.png", -1, 3},
      {"the take of the cue", [&] { dlg.core.Take({}); }, "other.png", "other.png", 255, 3},
      {"slideshow off: nothing kept", [&] { mode->click(); }, "other.png", "other.png", 255, 0},
  };
  for (const Row& row : rows) {
    row.act();
    if (row.onAirAtOnce) {
      EXPECT_EQ(OnAirAtOnce(dlg), row.onAirAtOnce) << row.what;
    }
    dlg.waitForLoads();
    Settle(dlg);
    EXPECT_EQ(std::filesystem::path(dlg.core.onAirPath).filename().string(), row.onAir) << row.what;
    if (row.grey >= 0) {
      EXPECT_EQ(int(dlg.core.mainPicture.pixelData[size_t(dlg.core.mainPicture.byteCount / 2)]), row.grey)
          << row.what;
    }
    EXPECT_EQ(dlg.core.preparedCount(), row.prepared) << row.what;
  }
}

// A cue is made again for a new output size.
TEST_F(PreparedTest, ACueIsMadeAgainForANewSize) {
  CNDIPlombixDlg& dlg = OpenAndStart();
  const std::string cue = WritePicture("cue.png", 64, 36, Qt::blue);
  PictureOutcome heard;
  dlg.core.Cue(cue, [&](const PictureOutcome& outcome) { heard = outcome; });
  dlg.core.WaitForPrepared();
  ASSERT_EQ(heard.status, PartStatus::Done);
  EXPECT_EQ(dlg.core.cuedPicture()->width, 1280);
  MenuAction(dlg, 1002, "1920 x 1080")->trigger();
  dlg.waitForLoads();
  Settle(dlg);
  ASSERT_EQ(dlg.core.cuedPath(), cue);
  EXPECT_EQ(dlg.core.cuedPicture()->width, 1920);
}

}  // namespace
}  // namespace plombix::testing
