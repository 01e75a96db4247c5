// The main window against the built-in stand-in runtime: a receiver that
// stops reading never holds up the window's thread, and what is on air is
// what a fresh receiver gets.
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "ccol_button.h"
#include "plombix_dialog.h"
#include "qt_test_app.h"
#include "standin_test_support.h"

namespace plombix {
namespace {

class SilentPrompter final : public Prompter {
 public:
  void message(const QString&, const QString&) override {}
  bool confirm(const QString&, const QString&) override { return true; }
};

// Port of the source `name`, from the runtime's own source list.
int PortOfSource(const NdiRuntime& ndi, const std::string& name) {
  NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi.findCreateV2(&settings);
  int port = -1;
  standin_test::Eventually([&] {
    uint32_t count = 0;
    const NDIlib_source_t* sources = ndi.findGetCurrentSources(finder, &count);
    for (uint32_t i = 0; i < count; ++i) {
      if (name != sources[i].p_ndi_name) continue;
      const std::string url = sources[i].p_url_address;
      port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
    }
    return port > 0;
  });
  ndi.findDestroy(finder);
  return port;
}

TEST(DialogStandIn, StalledReceiverNeverHoldsUpDropsAndFades) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ::setenv("PLOMBIX_RUNTIME_DIR", (dir.path() + "/run").toUtf8().constData(), 1);
  const NdiRuntime& ndi = standin_test::Runtime();
  ASSERT_TRUE(ndi.loaded());

  SilentPrompter prompter;
  CNDIPlombixDlg::Options options;
  options.runtime = ndi;
  options.prompter = &prompter;
  options.pictureChoice = 0;
  options.supportWindow = false;
  options.configDir = dir.path().toStdString();
  CNDIPlombixDlg dlg(std::move(options));
  dlg.onTimer(TIMER_START);
  const int port = PortOfSource(ndi, "Vora Plombix 1");
  ASSERT_GT(port, 0);
  // The output line says where receivers find the source.
  EXPECT_EQ(dlg.control(1015)->toolTip(),
            QString::fromUtf8("Vora Plombix 1 \u2014 http://127.0.0.1:%1/").arg(port));

  // A receiver with a tiny window that opens the stream and never reads.
  const int small = 4096;
  const int reader = standin_test::RawConnect(port);
  ASSERT_GE(reader, 0);
  ::setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(standin_test::RawSendAll(reader, "GET /stream.bgra HTTP/1.1\r\nHost: x\r\n\r\n"));

  qobject_cast<CColButton*>(dlg.control(1021))->click();  // Fade
  int framesSent = 1;                                       // the start tick's frame
  for (int i = 0; i < 3; ++i) {
    QImage image(1280, 720, QImage::Format_RGB32);
    image.fill(QColor(60 * i, 255 - 60 * i, 90));
    const QString path = dir.path() + QStringLiteral("/pic%1.png").arg(i);
    ASSERT_TRUE(image.save(path));
    ASSERT_TRUE(dlg.OnDropFiles({path}));
    dlg.waitForLoads();
    while (dlg.isTimerActive(TIMER_FADE)) dlg.onTimer(TIMER_FADE);
    framesSent += 12;
  }

  // A fresh receiver gets exactly the frame on air, numbered as sent.
  const NDIlib_video_frame_v2_t& onAir = dlg.core.output.current();
  const std::string expected(reinterpret_cast<const char*>(onAir.p_data), size_t(1280) * 720 * 4);
  standin_test::RawResponse response;
  EXPECT_TRUE(standin_test::Eventually([&] {
    response = standin_test::RawGet(port, "/frame.bgra");
    return response.headers["x-sequence"] == std::to_string(framesSent);
  })) << response.headers["x-sequence"];
  EXPECT_EQ(response.status, 200);
  EXPECT_TRUE(response.body == expected);
  ::close(reader);
  dlg.ExitConfirmation();
}

}  // namespace
}  // namespace plombix
