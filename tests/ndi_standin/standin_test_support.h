// Shared set-up of the stand-in runtime tests: a private runtime folder per
// test, the runtime loaded through NdiRuntime from the build tree, a plain
// socket HTTP client (written apart from the runtime's own), test frames,
// decoders of their own, and bounded polling.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ndi_runtime.h"
#include "raw_http.h"
#include "temp_dir.h"

namespace standin_test {

using plombix::testing::RawConnect;
using plombix::testing::RawExchange;
using plombix::testing::RawResponse;
using plombix::testing::RawSendAll;

// The stand-in runtime from <build>/lib, loaded once per process.
const plombix::NdiRuntime& Runtime();
// Polls `done` every few milliseconds until it holds or `timeoutMs` passes.
bool Eventually(const std::function<bool()>& done, int timeoutMs = 5000);
std::string ReadFile(const std::string& path);

// A connection to 127.0.0.1:port from the loopback address `from` (any of
// 127.0.0.0/8), with RawConnect's time-outs; -1 if refused.
int ConnectFrom(const std::string& from, int port);
// Requests with "Connection: close" (a POST with an empty body).
std::string GetRequest(const std::string& path);
RawResponse RawGet(int port, const std::string& path, const std::string& from = "127.0.0.1");
RawResponse RawPost(int port, const std::string& path);
// A stream request on a connection that never reads, with a small receive
// buffer, so that the server's sends soon block; the socket, or -1.
int StuckStreamReader(int port);
// A socket listening on 127.0.0.1:port as a source binds it, or -1 when
// something else listens there.
int ListenOn(int port);
bool PortIsFree(int port);

// A multipart stream read part by part.
class RawStream {
 public:
  ~RawStream() { close(); }
  bool open(int port, const std::string& path, const std::string& from = "127.0.0.1");
  // The next part into part(); false on close, time-out (15 s) or a malformed part.
  bool next();
  // Reads until `n` bytes past the last part (or the head) are in unread().
  bool readSome(size_t n);
  const std::string& unread() const { return buffer_; }
  void close();
  const RawResponse& head() const { return head_; }
  const RawResponse& part() const { return part_; }  // headers and body of the last part

 private:
  bool fill();
  int fd_ = -1;
  std::string buffer_, boundary_;
  RawResponse head_, part_;
};

// Test frame: `height` rows of `strideBytes`, pixel bytes from a fixed-seed
// generator, padding bytes 0xEE; 30000/1001, 16:9, progressive, synthesized
// timecode.
struct TestFrame {
  std::vector<uint8_t> bytes;
  NDIlib_video_frame_v2_t frame{};
  std::string packed() const;  // the rows without padding
};
TestFrame MakeFrame(int width, int height, int strideBytes, NdiFourCC fourcc, uint32_t seed);
// A smooth frame (JPEG's error stays small on it): two gradients and a soft
// disc whose brightness is `tone`; alpha varies (JPEG drops it).
TestFrame MakeSmoothFrame(int width, int height, int strideBytes, NdiFourCC fourcc, int tone);
// Mean difference of the colour bytes (alpha left out) of two BGRA images
// of the same size; 255 for sizes that differ.
double MeanColourError(const std::string& a, const std::string& b);
// `jpeg` decoded with TurboJPEG to packed BGRX rows; empty unless it is a
// JPEG of that size.
std::string JpegDecode(const std::string& jpeg, int width, int height);
// `png` decoded with libspng to RGBA8 rows; empty when it does not decode.
std::vector<uint8_t> DecodePng(const std::string& png);

// Per-test runtime folder and runtime. After each test its senders are
// destroyed and the runtime too (NDIlib_destroy closes the sources still in
// their grace period), so that no test takes over another's.
class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A sender (null when refused), with clocked video as the player asks
  // unless `clocked` is false; destroyed after the test unless destroy()ed.
  NDIlib_send_instance_t create(const std::string& name, bool clocked = true);
  void destroy(NDIlib_send_instance_t sender);
  // A sender that must come up, and its port.
  std::pair<NDIlib_send_instance_t, int> open(const std::string& name, bool clocked = true);
  // Port of the live source `name` (the runtime's discovery); -1 if not listed.
  int portOf(const std::string& name);

  const plombix::NdiRuntime& ndi() { return Runtime(); }
  const plombix::testing::TempDir temp_;  // the runtime folder, removed after the test
  const std::string folder_ = temp_.path();

 private:
  std::vector<NDIlib_send_instance_t> senders_;
};

}  // namespace standin_test
