// The stand-in runtime's send path, measured beside BM_Memcpy of the same
// frame in the same run.
//
// BM_StandinSend/W/H/R/M: wall time of one NDIlib_send_send_video_async_v2
// on the calling thread, two buffers used alternately as the player does,
// with R stream readers on loopback, M of them on /stream.mjpg and the rest
// on /stream.bgra, each waiting for the next frame (the timer is paused
// while they receive it, JPEG encoding included).
// Targets: R = 0 at most 0.05 x BM_Memcpy; R > 0 at most 1.5 x BM_Memcpy;
// 8 readers of which 3 MJPEG at 1920 x 1080: at most 0.5 x BM_Memcpy.
//
// BM_MjpegEncode/W/H: one frame encoded as the MJPEG streams encode it
// (TurboJPEG, quality 90, 4:2:0), on one thread, of a photo-like picture
// (smooth gradients with a little noise). Target at 1920 x 1080: at most
// 8 x BM_Memcpy.
//
// BM_StandinDelivery/W/H: from a send until one HTTP stream reader on
// loopback holds the whole frame, the stream idle for a frame period before
// each send (as between the player's sends; a clocked stream holds a frame
// that comes sooner back to the frame rate). Target: at most 4 x BM_Memcpy.
// Beside it BM_LoopbackTcp/W/H: the same bytes over a bare loopback TCP
// connection.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_encode.h"
#include "ndi_runtime.h"

namespace {

const plombix::NdiRuntime* standIn() {
  static const plombix::NdiRuntime runtime = [] {
    static char folder[] = "/tmp/plombix-bench-XXXXXX";
    if (::mkdtemp(folder)) ::setenv("PLOMBIX_RUNTIME_DIR", folder, 1);
    plombix::NdiRuntimeOptions options;
    options.skipVendor = true;
    plombix::NdiRuntimeLoad load = plombix::LoadNdiRuntime(options);
    if (load.runtime.loaded()) load.runtime.initialize();
    return load.runtime;
  }();
  return runtime.loaded() ? &runtime : nullptr;
}

int portOf(const plombix::NdiRuntime& ndi, const char* name) {
  const NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi.findCreateV2(&settings);
  uint32_t count = 0;
  const NDIlib_source_t* sources = ndi.findGetCurrentSources(finder, &count);
  int port = -1;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string url = sources[i].p_url_address;
    if (std::strcmp(sources[i].p_ndi_name, name) == 0) port = std::atoi(url.c_str() + url.rfind(':') + 1);
  }
  ndi.findDestroy(finder);
  return port;
}

// Reads a stream (/stream.bgra or /stream.mjpg) part by part on its own
// thread; counts whole parts and remembers the sequence number of the last.
class StreamReader {
 public:
  StreamReader(int port, const char* path) : path_(path), thread_([this, port] { run(port); }) {}
  ~StreamReader() {
    stop_ = true;
    const int fd = fd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    thread_.join();
  }
  bool connected() const { return connected_; }
  // Waits until a whole part with sequence >= `sequence` has arrived.
  bool waitFor(uint64_t sequence) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return last_ >= sequence || failed_; }) &&
           !failed_;
  }

 private:
  void run(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int big = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    fd_ = fd;
    const std::string request = std::string("GET ") + path_ + " HTTP/1.1\r\nHost: b\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
      fail();
      ::close(fd);
      return;
    }
    // Heads are read through `pending`; bodies straight into `body`.
    std::string pending, head;
    std::vector<char> body;
    char chunk[16384];
    auto readHead = [&]() {
      size_t end;
      for (;;) {
        // Blank lines between parts (a quiet stream's keep-alive) are skipped.
        pending.erase(0, std::min(pending.find_first_not_of("\r\n"), pending.size()));
        if ((end = pending.find("\r\n\r\n")) != std::string::npos) break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        pending.append(chunk, size_t(n));
      }
      head = pending.substr(0, end + 4);
      pending.erase(0, end + 4);
      return true;
    };
    if (!readHead()) return fail(), void(::close(fd));
    connected_ = true;
    while (!stop_) {
      if (!readHead()) break;
      const size_t length = std::strtoull(head.c_str() + head.find("Content-Length: ") + 16, nullptr, 10);
      const uint64_t sequence = std::strtoull(head.c_str() + head.find("X-Sequence: ") + 12, nullptr, 10);
      body.resize(length);
      size_t done = std::min(length, pending.size());
      std::memcpy(body.data(), pending.data(), done);
      pending.erase(0, done);
      while (done < length) {
        const ssize_t n = ::recv(fd, body.data() + done, length - done, 0);
        if (n <= 0) break;
        done += size_t(n);
      }
      if (done < length) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last_ = sequence;
      }
      arrived_.notify_all();
    }
    fail();
    fd_ = -1;
    ::close(fd);
  }
  void fail() {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
    arrived_.notify_all();
  }

  const char* path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::atomic<int> fd_{-1};
  std::mutex mutex_;
  std::condition_variable arrived_;
  uint64_t last_ = 0;
  bool failed_ = false;
  std::thread thread_;
};

NDIlib_video_frame_v2_t frameOf(std::vector<uint8_t>& pixels, int width, int height) {
  NDIlib_video_frame_v2_t f{};
  f.xres = width;
  f.yres = height;
  f.FourCC = NdiFourCC::BGRA;
  f.frame_rate_N = 30000;
  f.frame_rate_D = 1000;
  f.picture_aspect_ratio = 16.0f / 9.0f;
  f.frame_format_type = NdiFrameFormat::Progressive;
  f.timecode = kNdiTimecodeSynthesize;
  f.p_data = pixels.data();
  f.line_stride_in_bytes = width * 4;
  f.p_metadata = nullptr;
  f.timestamp = 0;
  return f;
}

void BM_StandinSend(benchmark::State& state) {
  const plombix::NdiRuntime* ndi = standIn();
  if (!ndi) return state.SkipWithError("stand-in runtime not found");
  const int width = int(state.range(0)), height = int(state.range(1)), readers = int(state.range(2));
  const int mjpegReaders = int(state.range(3));
  const NDIlib_send_create_t settings{"Bench send", nullptr, true, false};
  NDIlib_send_instance_t sender = ndi->sendCreate(&settings);
  if (!sender) return state.SkipWithError("send_create failed");
  std::vector<uint8_t> a(size_t(width) * size_t(height) * 4, 0x5a), b(a.size(), 0xa5);
  NDIlib_video_frame_v2_t frames[2] = {frameOf(a, width, height), frameOf(b, width, height)};
  std::vector<std::unique_ptr<StreamReader>> streams;
  const int port = portOf(*ndi, "Bench send");
  for (int i = 0; i < readers; ++i)
    streams.push_back(
        std::make_unique<StreamReader>(port, i < mjpegReaders ? "/stream.mjpg" : "/stream.bgra"));
  while (ndi->sendGetNoConnections(sender, 100) < readers) {
  }
  // Warm up: the frame pool fills, the streams get going.
  for (int i = 0; i < 8; ++i) ndi->sendVideoAsyncV2(sender, &frames[i & 1]);
  // Each send is timed alone; between sends every reader gets the frame, so
  // each send finds its receivers waiting, as the player's sparse sends do,
  // and the next frame is written just before it is sent, as the player
  // composes into the free buffer right before sending it.
  uint64_t sequence = 8;
  for (auto _ : state) {
    ndi->sendVideoAsyncV2(sender, &frames[sequence & 1]);
    state.PauseTiming();
    ++sequence;
    for (auto& r : streams) r->waitFor(sequence);
    std::vector<uint8_t>& next = (sequence & 1) ? b : a;
    std::memset(next.data(), int(sequence & 0xff), next.size());
    state.ResumeTiming();
  }
  ndi->sendVideoAsyncV2(sender, nullptr);
  streams.clear();
  ndi->sendDestroy(sender);
  // The source would linger for its grace period and the next run, creating
  // a sender of the same name, would take it over, frame numbers and all.
  ndi->destroy();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}
// A fixed count: the untimed part (every reader receiving every frame) is
// far longer than the timed one and would otherwise stretch the run.
BENCHMARK(BM_StandinSend)
    ->ArgsProduct({{1920}, {1080}, {0, 1, 8}, {0}})
    ->Args({1920, 1080, 8, 3})
    ->ArgsProduct({{4096}, {2160}, {0, 1, 8}, {0}})
    ->Iterations(60)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_StandinDelivery(benchmark::State& state) {
  const plombix::NdiRuntime* ndi = standIn();
  if (!ndi) return state.SkipWithError("stand-in runtime not found");
  const int width = int(state.range(0)), height = int(state.range(1));
  const NDIlib_send_create_t settings{"Bench delivery", nullptr, true, false};
  NDIlib_send_instance_t sender = ndi->sendCreate(&settings);
  if (!sender) return state.SkipWithError("send_create failed");
  std::vector<uint8_t> a(size_t(width) * size_t(height) * 4, 0x5a), b(a.size(), 0xa5);
  NDIlib_video_frame_v2_t frames[2] = {frameOf(a, width, height), frameOf(b, width, height)};
  auto reader = std::make_unique<StreamReader>(portOf(*ndi, "Bench delivery"), "/stream.bgra");
  while (ndi->sendGetNoConnections(sender, 100) < 1) {
  }
  uint64_t sequence = 0;
  for (int i = 0; i < 4; ++i) {  // warm up
    ndi->sendVideoAsyncV2(sender, &frames[sequence & 1]);
    reader->waitFor(++sequence);
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::milliseconds(35));  // 30p: 33.3 ms
    state.ResumeTiming();
    ndi->sendVideoAsyncV2(sender, &frames[sequence & 1]);
    if (!reader->waitFor(++sequence)) {
      state.SkipWithError("stream reader failed");
      break;
    }
  }
  ndi->sendVideoAsyncV2(sender, nullptr);
  reader.reset();
  ndi->sendDestroy(sender);
  ndi->destroy();  // no lingering source for the next run to take over
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}
BENCHMARK(BM_StandinDelivery)->Args({1920, 1080})->Iterations(100)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MjpegEncode(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
  std::mt19937 random(7);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
      const int smooth[3] = {x * 255 / width, y * 255 / height, (x + y) * 255 / (width + height)};
      for (int c = 0; c < 3; ++c) p[c] = uint8_t(std::clamp(smooth[c] + int(random() % 9) - 4, 0, 255));
      p[3] = 255;
    }
  std::string jpeg;
  for (auto _ : state) {
    if (!plombix::standin::EncodeBgraJpeg(pixels.data(), width, height, width * 4,
                                          plombix::standin::kJpegQuality, &jpeg))
      return state.SkipWithError("encoding failed");
    benchmark::DoNotOptimize(jpeg.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixels.size()));
  state.counters["jpeg_bytes"] = double(jpeg.size());
}
BENCHMARK(BM_MjpegEncode)->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// The floor under BM_StandinDelivery: the same bytes through a bare
// loopback TCP connection (one send, one receive copy, no HTTP, no frame copy).
void BM_LoopbackTcp(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    ::close(listener);
    return state.SkipWithError("no loopback socket");
  }
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  int big = 8 << 20;
  ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  if (::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(client);
    ::close(listener);
    return state.SkipWithError("cannot connect");
  }
  const int server = ::accept(listener, nullptr, nullptr);
  std::vector<uint8_t> from(bytes, 0x5a), to(bytes);
  std::mutex mutex;
  std::condition_variable go;
  int round = 0;
  bool quit = false;
  std::thread writer([&] {
    int done = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        go.wait(lock, [&] { return quit || round > done; });
        if (quit) return;
        ++done;
      }
      size_t sent = 0;
      while (sent < bytes) {
        const ssize_t n = ::send(server, from.data() + sent, std::min<size_t>(bytes - sent, 1 << 20), MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += size_t(n);
      }
    }
  });
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++round;
    }
    go.notify_one();
    size_t got = 0;
    while (got < bytes) {
      const ssize_t n = ::recv(client, to.data() + got, bytes - got, 0);
      if (n <= 0) break;
      got += size_t(n);
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  go.notify_one();
  ::shutdown(server, SHUT_RDWR);
  writer.join();
  ::close(server);
  ::close(client);
  ::close(listener);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_LoopbackTcp)->Args({1920, 1080})->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
