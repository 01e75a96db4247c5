// plombix-monitor run as a program against senders of this test process.
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <future>
#include <thread>

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
                                "/bin/plombix-monitor' " + args + " >'" + folder_ + "/out' 2>'" +
                                folder_ + "/err'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(folder_ + "/out"),
            ReadFile(folder_ + "/err")};
  }
};

}  // namespace

// --list and --help: run as a program below.
TEST(MonitorArgs, ParsesTheReceiveForm) {
  MonitorArgs a;
  std::string error;
  ASSERT_TRUE(
      ParseMonitorArgs({"Vora Plombix 1", "--frames", "3", "--out", "d", "--tally", "preview"}, &a, &error));
  EXPECT_EQ(a.command, Command::Receive);
  EXPECT_EQ(a.source, "Vora Plombix 1");
  EXPECT_EQ(a.frames, 3);
  EXPECT_EQ(a.outDir, "d");
  EXPECT_EQ(a.tally, TallyRequest::Preview);
}

TEST_F(Monitor, HelpAndBadArguments) {
  const RunResult help = run("--help");
  EXPECT_EQ(help.exitCode, kExitOk);
  EXPECT_NE(help.out.find("Usage:"), std::string::npos);
  struct Row {
    const char* args;
    const char* message;
  };
  const Row rows[] = {
      {"", "nothing to do"},
      {"X --frames 0 --out d", "--frames takes a number"},
      {"X --frames many --out d", "--frames takes a number"},
      {"X --frames 2", "receiving needs --frames N and --out DIR"},
      {"X --frames 2 --out d --tally maybe", "--tally takes 'program' or 'preview'"},
      {"X --frames", "--frames needs a value"},
      {"--bogus", "unknown option --bogus"},
      {"--list X", "--list takes no source"},
      {"X Y --frames 1 --out d", "one source name only"},
      {"X --frames 1 --out d --timeout -5", "--timeout takes milliseconds"},
  };
  for (const Row& row : rows) {
    const RunResult r = run(row.args);
    EXPECT_EQ(r.exitCode, kExitUsage) << row.args;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << row.args << ": " << r.err;
  }
}

TEST_F(Monitor, ListsSourcesOneALine) {
  create("Monitor A");
  create("Monitor B");
  const RunResult r = run("--list --wait 100");
  EXPECT_EQ(r.exitCode, kExitOk) << r.err;
  EXPECT_EQ(r.out, "Monitor A\thttp://127.0.0.1:" + std::to_string(portOf("Monitor A")) +
                       "/\nMonitor B\thttp://127.0.0.1:" + std::to_string(portOf("Monitor B")) + "/\n");
}

TEST_F(Monitor, SavesFramesAsPngAndReportsTally) {
  NDIlib_send_instance_t s = create("Monitor src");
  TestFrame t = MakeFrame(64, 36, 64 * 4, NdiFourCC::BGRA, 5);
  t.frame.frame_rate_N = 30000;
  t.frame.frame_rate_D = 1001;
  ndi().sendVideoAsyncV2(s, &t.frame);
  const std::string out = folder_ + "/frames";
  auto monitor = std::async(std::launch::async, [&] {
    return run("'Monitor src' --frames 2 --out '" + out + "' --tally program --timeout 5000");
  });
  // The first frame reaches the monitor at once (the last frame sent); the
  // second only when sent again, which waits until the monitor's tally has
  // been seen, so it cannot come and go unnoticed.
  bool sawProgram = false;
  const auto start = std::chrono::steady_clock::now();
  while (monitor.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    NDIlib_tally_t tally{};
    if (!sawProgram && ndi().sendGetTally(s, &tally, 50) && tally.on_program) sawProgram = true;
    if (sawProgram || std::chrono::steady_clock::now() - start > std::chrono::seconds(5))
      ndi().sendVideoAsyncV2(s, &t.frame);
  }
  const RunResult r = monitor.get();
  EXPECT_EQ(r.exitCode, kExitOk) << r.err;
  EXPECT_TRUE(sawProgram);
  EXPECT_EQ(r.out, "1: 64x36 BGRA 30000/1001 (29.97 fps) aspect 1.7778 -> " + out + "/frame-0001.png\n" +
                       "2: 64x36 BGRA 30000/1001 (29.97 fps) aspect 1.7778 -> " + out + "/frame-0002.png\n");
  const std::vector<uint8_t> rgba = DecodePng(ReadFile(out + "/frame-0002.png"));
  ASSERT_EQ(rgba.size(), 64u * 36 * 4);
  const std::string bgra = t.packed();
  for (size_t i = 0; i < rgba.size(); i += 4) {
    ASSERT_EQ(rgba[i], uint8_t(bgra[i + 2])) << i;
    ASSERT_EQ(rgba[i + 3], uint8_t(bgra[i + 3])) << i;
  }
}

TEST_F(Monitor, FailuresHaveTheirOwnExitCodes) {
  const RunResult unknown = run("Nobody --frames 1 --out '" + folder_ + "/x' --timeout 200");
  EXPECT_EQ(unknown.exitCode, kExitUnknownSource);
  EXPECT_NE(unknown.err.find("no source named 'Nobody'"), std::string::npos) << unknown.err;

  const RunResult noRuntime = run("--list", "/nonexistent/libndi.so");
  EXPECT_EQ(noRuntime.exitCode, kExitNoRuntime);
  EXPECT_NE(noRuntime.err.find("PLOMBIX_NDI_RUNTIME"), std::string::npos) << noRuntime.err;

  NDIlib_send_instance_t s = create("Monitor quiet");
  const RunResult silent = run("'Monitor quiet' --frames 1 --out '" + folder_ + "/y' --timeout 300");
  EXPECT_EQ(silent.exitCode, kExitLost);  // nothing was ever sent
  EXPECT_NE(silent.err.find("no frame from 'Monitor quiet'"), std::string::npos) << silent.err;

  const RunResult badOut = run("'Monitor quiet' --frames 1 --out /proc/not-here --timeout 300");
  EXPECT_EQ(badOut.exitCode, kExitOutput);

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

TEST_F(Monitor, FollowsTheSourceThroughRecreationAndARestart) {
  NDIlib_send_instance_t s = create("Monitor phoenix");
  const TestFrame frames[] = {MakeFrame(16, 9, 64, NdiFourCC::BGRA, 1),
                              MakeFrame(32, 18, 128, NdiFourCC::BGRX, 2),
                              MakeFrame(24, 10, 96, NdiFourCC::BGRA, 3)};
  ndi().sendVideoAsyncV2(s, &frames[0].frame);
  const std::string out = folder_ + "/phoenix";
  auto monitor = std::async(std::launch::async, [&] {
    return run("'Monitor phoenix' --frames 3 --out '" + out + "' --timeout 15000");
  });
  auto saved = [&](int n) {
    char file[32];
    std::snprintf(file, sizeof file, "/frame-%04d.png", n);
    return Eventually([&] { return std::filesystem::exists(out + file); }, 15000);
  };
  ASSERT_TRUE(saved(1));
  // An output change: destroyed and created again at once.
  destroy(s);
  s = create("Monitor phoenix");
  ndi().sendVideoAsyncV2(s, &frames[1].frame);
  ASSERT_TRUE(saved(2));
  // A restart: the source is gone for longer than the receiver's patience,
  // then published again.
  destroy(s);
  ndi().destroy();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  s = create("Monitor phoenix");
  ASSERT_NE(s, nullptr);
  // Sent again and again, like the player while a receiver is connected; on
  // this thread, the one that reads the monitor's future.
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
}
