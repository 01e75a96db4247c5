// plombix-monitor run as a program against senders of this test process.
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <future>
#include <thread>
#include <tuple>

#include "monitor_args.h"
#include "standin_test_support.h"

using namespace standin_test;
using namespace plombix::monitor;

namespace {

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

class Monitor : public StandInTest {
 protected:
  // Runs plombix-monitor with `args` (shell words), forced onto the build's
  // stand-in runtime, which counts a source as gone after one second.
  RunResult run(const std::string& args, const std::string& runtime = "") {
    const std::string lib =
        runtime.empty() ? std::string(PLOMBIX_BINARY_DIR) + "/lib/libplombix_ndi.so" : runtime;
    const std::string command = "PLOMBIX_NDI_TIMEOUT_S=1 PLOMBIX_NDI_RUNTIME='" + lib + "' '" + PLOMBIX_BINARY_DIR +
                                "/bin/plombix-monitor' " + args + " >'" + folder_ + "/out' 2>'" + folder_ + "/err'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder_ + "/out"), ReadFile(folder_ + "/err")};
  }
};

}  // namespace

TEST(MonitorArgs, ParsesTheReceiveFormAndNamesWhatIsWrong) {
  MonitorArgs a;
  std::string error;
  ASSERT_TRUE(ParseMonitorArgs({"Vora Plombix 1", "--frames", "3", "--out", "d", "--tally", "preview"}, &a, &error));
  EXPECT_EQ(std::tuple(a.command, a.source, a.frames, a.outDir, a.tally),
            std::tuple(Command::Receive, std::string("Vora Plombix 1"), 3, std::string("d"), TallyRequest::Preview));
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{}, "nothing to do"},
      {{"X", "--frames", "many", "--out", "d"}, "--frames takes a number"},
      {{"X", "--frames", "2"}, "receiving needs --frames N and --out DIR"},
      {{"X", "--frames", "2", "--out", "d", "--tally", "maybe"}, "--tally takes 'program' or 'preview'"},
      {{"X", "--frames"}, "--frames needs a value"},
      {{"--list", "X"}, "--list takes no source"},
      {{"X", "Y", "--frames", "1", "--out", "d"}, "one source name only"},
      {{"X", "--frames", "1", "--out", "d", "--timeout", "-5"}, "--timeout takes milliseconds"},
  };
  for (const auto& [args, message] : rows) {
    EXPECT_FALSE(ParseMonitorArgs(args, &a, &error)) << message;
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST_F(Monitor, HelpListAndFailuresHaveTheirOwnExitCodes) {
  const RunResult help = run("--help"), usage = run("X --frames 0 --out d");
  EXPECT_EQ(help.exitCode, kExitOk);
  EXPECT_NE(help.out.find("Usage:"), std::string::npos);
  EXPECT_EQ(usage.exitCode, kExitUsage);
  EXPECT_NE(usage.err.find("--frames takes a number"), std::string::npos) << usage.err;
  NDIlib_send_instance_t s = create("Monitor quiet");
  create("Monitor A");
  const RunResult list = run("--list --wait 100");
  EXPECT_EQ(list.exitCode, kExitOk) << list.err;
  EXPECT_EQ(list.out, "Monitor A\thttp://127.0.0.1:" + std::to_string(portOf("Monitor A")) +
                          "/\nMonitor quiet\thttp://127.0.0.1:" + std::to_string(portOf("Monitor quiet")) + "/\n");

  const RunResult unknown = run("Nobody --frames 1 --out '" + folder_ + "/x' --timeout 200");
  EXPECT_EQ(unknown.exitCode, kExitUnknownSource);
  EXPECT_NE(unknown.err.find("no source named 'Nobody'"), std::string::npos) << unknown.err;
  const RunResult noRuntime = run("--list", "/nonexistent/libndi.so");
  EXPECT_EQ(noRuntime.exitCode, kExitNoRuntime);
  EXPECT_NE(noRuntime.err.find("PLOMBIX_NDI_RUNTIME"), std::string::npos) << noRuntime.err;
  const RunResult silent = run("'Monitor quiet' --frames 1 --out '" + folder_ + "/y' --timeout 300");
  EXPECT_EQ(silent.exitCode, kExitLost);  // nothing was ever sent
  EXPECT_NE(silent.err.find("no frame from 'Monitor quiet'"), std::string::npos) << silent.err;
  EXPECT_EQ(run("'Monitor quiet' --frames 1 --out /proc/not-here --timeout 300").exitCode, kExitOutput);

  // The source goes away for good while the monitor waits for its second
  // frame: it says so, waits out its time-out, and ends.
  TestFrame t = MakeFrame(8, 8, 32, NdiFourCC::BGRX, 1);
  ndi().sendVideoAsyncV2(s, &t.frame);
  auto monitor = std::async(std::launch::async, [&] {
    return run("'Monitor quiet' --frames 2 --out '" + folder_ + "/z' --timeout 2000");
  });
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(folder_ + "/z/frame-0001.png"); }, 10000));
  destroy(s);
  ndi().destroy();  // no grace period: gone at once
  const RunResult lost = monitor.get();
  EXPECT_EQ(lost.exitCode, kExitLost);
  EXPECT_EQ(lost.err,
            "plombix-monitor: 'Monitor quiet' is gone; waiting for it to come back\n"
            "plombix-monitor: lost the connection to 'Monitor quiet': no frame within 2000 ms\n");
}

// The monitor saves each frame as PNG and keeps the source on program (its
// tally reaches every sender of the source) through an output change (the
// sender destroyed and created again at once) and a restart (the source
// gone for longer than the receiver's patience, then published again).
TEST_F(Monitor, SavesFramesAndFollowsTheSourceWithItsTallyThroughRecreationAndARestart) {
  NDIlib_send_instance_t s = create("Monitor phoenix");
  const TestFrame frames[] = {MakeFrame(16, 9, 64, NdiFourCC::BGRA, 1), MakeFrame(32, 18, 128, NdiFourCC::BGRX, 2),
                              MakeFrame(24, 10, 96, NdiFourCC::BGRA, 3)};
  ndi().sendVideoAsyncV2(s, &frames[0].frame);
  const std::string out = folder_ + "/phoenix";
  auto monitor = std::async(std::launch::async, [&] {
    return run("'Monitor phoenix' --frames 3 --out '" + out + "' --tally program --timeout 15000");
  });
  auto savedAndOnProgram = [&](int n) {
    NDIlib_tally_t t{};
    return Eventually([&] {
      (void)ndi().sendGetTally(s, &t, 0);
      return std::filesystem::exists(out + "/frame-000" + std::to_string(n) + ".png") && t.on_program;
    }, 15000);
  };
  ASSERT_TRUE(savedAndOnProgram(1));
  destroy(s);
  s = create("Monitor phoenix");
  ndi().sendVideoAsyncV2(s, &frames[1].frame);
  ASSERT_TRUE(savedAndOnProgram(2));
  destroy(s);
  ndi().destroy();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  s = create("Monitor phoenix");
  ASSERT_NE(s, nullptr);
  // Sent again and again, like the player while a receiver is connected,
  // once the monitor is back on program.
  NDIlib_tally_t t{};
  EXPECT_TRUE(Eventually([&] { return (void)ndi().sendGetTally(s, &t, 0), t.on_program; }, 10000));
  while (monitor.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
    ndi().sendVideoAsyncV2(s, &frames[2].frame);
  const RunResult r = monitor.get();
  EXPECT_EQ(r.exitCode, kExitOk) << r.err;
  EXPECT_EQ(r.out, "1: 16x9 BGRA 30000/1001 (29.97 fps) aspect 1.7778 -> " + out + "/frame-0001.png\n" +
                       "2: 32x18 BGRX 30000/1001 (29.97 fps) aspect 1.7778 -> " + out + "/frame-0002.png\n" +
                       "3: 24x10 BGRA 30000/1001 (29.97 fps) aspect 1.7778 -> " + out + "/frame-0003.png\n");
  EXPECT_EQ(r.err,
            "plombix-monitor: 'Monitor phoenix' is gone; waiting for it to come back\n"
            "plombix-monitor: 'Monitor phoenix' is back\n");
  // The pictures, decoded: red and blue in their places, alpha kept (opaque from BGRX).
  for (int n : {2, 3}) {
    const std::vector<uint8_t> rgba = DecodePng(ReadFile(out + "/frame-000" + std::to_string(n) + ".png"));
    const std::string bgra = frames[n - 1].packed();
    const bool opaque = frames[n - 1].frame.FourCC == NdiFourCC::BGRX;
    ASSERT_EQ(rgba.size(), bgra.size()) << n;
    for (size_t i = 0; i < rgba.size(); i += 4)
      ASSERT_EQ(std::tuple(rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]),
                std::tuple(uint8_t(bgra[i + 2]), uint8_t(bgra[i + 1]), uint8_t(bgra[i]),
                           opaque ? uint8_t(255) : uint8_t(bgra[i + 3])))
          << n << " " << i;
  }
  // The monitor gone, its tally is too.
  EXPECT_TRUE(Eventually([&] { return (void)ndi().sendGetTally(s, &t, 0), !t.on_program && !t.on_preview; }));
}
