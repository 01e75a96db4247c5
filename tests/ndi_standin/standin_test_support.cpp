#include "standin_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <spng.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

namespace standin_test {

const plombix::NdiRuntime& Runtime() {
  static const plombix::NdiRuntime runtime = [] {
    plombix::NdiRuntimeOptions options;
    options.skipVendor = true;
    options.receive = plombix::NdiReceiveSymbols::Required;
    options.standInDirs = {std::string(PLOMBIX_BINARY_DIR) + "/lib"};
    ::unsetenv("PLOMBIX_NDI_RUNTIME");
    plombix::NdiRuntimeLoad load = plombix::LoadNdiRuntime(options);
    if (!load.runtime.loaded()) ADD_FAILURE() << load.error;
    else if (!load.runtime.initialize()) ADD_FAILURE() << "initialize failed";
    return load.runtime;
  }();
  return runtime;
}

bool Eventually(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int ConnectFrom(const std::string& from, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &a.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval tv{10, 0};
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

std::string GetRequest(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
}
std::string PostRequest(const std::string& path) {
  return "POST " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}
RawResponse RawGet(int port, const std::string& path, const std::string& from) {
  const int fd = ConnectFrom(from, port);
  if (fd < 0) return {};
  const std::string answer = RawSendAll(fd, GetRequest(path)) ? plombix::testing::RawReadToClose(fd) : "";
  ::close(fd);
  return ParseResponse(answer);
}
RawResponse RawPost(int port, const std::string& path) { return RawExchange(port, PostRequest(path)); }

void RawStream::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RawStream::fill() {
  char chunk[1 << 16];
  const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
  if (n > 0) buffer_.append(chunk, size_t(n));
  return n > 0;
}

bool RawStream::open(int port, const std::string& path, const std::string& from) {
  fd_ = ConnectFrom(from, port);
  if (fd_ < 0 || !RawSendAll(fd_, "GET " + path + " HTTP/1.1\r\nHost: t\r\n\r\n")) return false;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return false;
  head_ = ParseResponse(buffer_.substr(0, end + 4));
  buffer_.erase(0, end + 4);
  const std::string type = head_.header("content-type");
  const size_t b = type.find("boundary=");
  if (head_.status != 200 || b == std::string::npos) return false;
  boundary_ = type.substr(b + 9);
  return true;
}

bool RawStream::next() {
  // "--boundary\r\nheaders\r\n\r\n", after the CRLF ending the last part
  // and any blank lines the server sends to keep a quiet stream alive.
  size_t end;
  for (;;) {
    buffer_.erase(0, std::min(buffer_.find_first_not_of("\r\n"), buffer_.size()));
    if ((end = buffer_.find("\r\n\r\n")) != std::string::npos) break;
    if (!fill()) return false;
  }
  const std::string head = buffer_.substr(0, end + 4);
  buffer_.erase(0, end + 4);
  if (head.rfind("--" + boundary_ + "\r\n", 0) != 0) return false;
  part_ = ParseResponse("HTTP/1.1 200 OK\r\n" + head.substr(boundary_.size() + 4));
  const size_t length = std::stoul(part_.headers.at("content-length"));
  if (!readSome(length)) return false;
  part_.body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  return true;
}

bool RawStream::readSome(size_t n) {
  while (buffer_.size() < n)
    if (!fill()) return false;
  return true;
}

int StuckStreamReader(int port) {
  const int fd = RawConnect(port);
  const int small = 4096;
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  return fd >= 0 && RawSendAll(fd, "GET /stream.bgra HTTP/1.1\r\nHost: t\r\n\r\n") ? fd : -1;
}

int ListenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0) return fd;
  ::close(fd);
  return -1;
}

bool PortIsFree(int port) {
  const int fd = ListenOn(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string TestFrame::packed() const {
  std::string out;
  const int rowBytes = frame.xres * 4,
            stride = frame.line_stride_in_bytes ? frame.line_stride_in_bytes : rowBytes;
  for (int y = 0; y < frame.yres; ++y)
    out.append(reinterpret_cast<const char*>(bytes.data()) + size_t(y) * size_t(stride), size_t(rowBytes));
  return out;
}

TestFrame MakeFrame(int width, int height, int strideBytes, NdiFourCC fourcc, uint32_t seed) {
  TestFrame t;
  t.bytes.assign(size_t(strideBytes) * size_t(height), 0xEE);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 4; ++x)
      t.bytes[size_t(y) * size_t(strideBytes) + size_t(x)] = uint8_t(random());
  t.frame = {width, height, fourcc, 30000, 1001, 16.0f / 9.0f, NdiFrameFormat::Progressive,
             kNdiTimecodeSynthesize, t.bytes.data(), {strideBytes}, nullptr, 0};
  return t;
}

TestFrame MakeSmoothFrame(int width, int height, int strideBytes, NdiFourCC fourcc, int tone) {
  TestFrame t = MakeFrame(width, height, strideBytes, fourcc, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &t.bytes[size_t(y) * size_t(strideBytes) + size_t(x) * 4];
      const int dx = x - width / 2, dy = y - height / 2;
      const int disc = std::max(0, tone - (dx * dx + dy * dy) * 400 / (width * width + 1));
      p[0] = uint8_t(x * 255 / width);
      p[1] = uint8_t(y * 255 / height);
      p[2] = uint8_t(std::min(255, 40 + disc));
      p[3] = uint8_t((x * 37 + y * 11) & 0xff);
    }
  return t;
}

std::string JpegMismatch(const std::string& jpeg, const std::string& packedBgra, int width, int height) {
  tjhandle decoder = tjInitDecompress();
  auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(jpeg.data()));
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  std::vector<uint8_t> decoded(size_t(width) * size_t(height) * 4);
  const bool ok = tjDecompressHeader3(decoder, bytes, jpeg.size(), &w, &h, &subsampling, &colourspace) == 0 &&
                  w == width && h == height &&
                  tjDecompress2(decoder, bytes, jpeg.size(), decoded.data(), width, width * 4, height,
                                TJPF_BGRX, 0) == 0;
  tjDestroy(decoder);
  if (!ok) return "does not decode to " + std::to_string(width) + "x" + std::to_string(height);
  double total = 0;
  int worst = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    if (i % 4 == 3) continue;
    const int e = std::abs(int(decoded[i]) - int(uint8_t(packedBgra[i])));
    total += e;
    worst = std::max(worst, e);
  }
  const double mean = total / (double(width) * height * 3);
  if (mean < 2.0 && worst <= 16) return {};
  return "mean error " + std::to_string(mean) + ", worst " + std::to_string(worst);
}

std::vector<uint8_t> DecodePng(const std::string& png, uint32_t* width, int* colourType) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, png.data(), png.size());
  size_t size = 0;
  spng_ihdr ihdr{};
  std::vector<uint8_t> rgba;
  if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0 && spng_get_ihdr(ctx, &ihdr) == 0) {
    rgba.resize(size);
    if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0) != 0) rgba.clear();
  }
  spng_ctx_free(ctx);
  if (width) *width = ihdr.width;
  if (colourType) *colourType = ihdr.color_type;
  return rgba;
}

void StandInTest::SetUp() {
  ASSERT_FALSE(folder_.empty());
  ::setenv("PLOMBIX_RUNTIME_DIR", folder_.c_str(), 1);
  ASSERT_TRUE(Runtime().loaded());
}

void StandInTest::TearDown() {
  for (NDIlib_send_instance_t s : senders_) ndi().sendDestroy(s);
  senders_.clear();
  ndi().destroy();  // closes the sources of this test still in their grace period
  ::unsetenv("PLOMBIX_RUNTIME_DIR");
}

NDIlib_send_instance_t StandInTest::create(const std::string& name, bool clocked) {
  const NDIlib_send_create_t settings{name.c_str(), nullptr, clocked, false};
  NDIlib_send_instance_t s = ndi().sendCreate(&settings);
  if (s != nullptr) senders_.push_back(s);
  return s;
}

void StandInTest::destroy(NDIlib_send_instance_t sender) {
  std::erase(senders_, sender);
  ndi().sendDestroy(sender);
}

std::pair<NDIlib_send_instance_t, int> StandInTest::open(const std::string& name, bool clocked) {
  NDIlib_send_instance_t s = create(name, clocked);
  if (s == nullptr) ADD_FAILURE() << "no sender named " << name;
  return {s, portOf(name)};
}

int StandInTest::portOf(const std::string& name) {
  NDIlib_find_create_t settings{true, nullptr, nullptr};
  NDIlib_find_instance_t finder = ndi().findCreateV2(&settings);
  uint32_t count = 0;
  const NDIlib_source_t* sources = ndi().findGetCurrentSources(finder, &count);
  int port = -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (name == sources[i].p_ndi_name) {
      const std::string url = sources[i].p_url_address;
      port = std::atoi(url.c_str() + url.rfind(':') + 1);
    }
  }
  ndi().findDestroy(finder);
  return port;
}

}  // namespace standin_test
