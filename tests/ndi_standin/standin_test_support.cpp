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

using plombix::testing::ParseResponse;

const plombix::NdiRuntime& Runtime() {
  static const plombix::NdiRuntime runtime = [] {
    plombix::NdiRuntimeOptions options;
    options.skipVendor = true;
    options.receive = plombix::NdiReceiveSymbols::Required;
    options.standInDirs = {std::string(PLOMBIX_BINARY_DIR) + "/lib"};
    ::unsetenv("PLOMBIX_NDI_RUNTIME");
    plombix::NdiRuntimeLoad load = plombix::LoadNdiRuntime(options);
    if (!load.runtime.loaded() || !load.runtime.initialize()) ADD_FAILURE() << "no runtime: " << load.error;
    return load.runtime;
  }();
  return runtime;
}

bool Eventually(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int ConnectFrom(const std::string& from, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{AF_INET, 0, {}, {}}, to{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  ::inet_pton(AF_INET, from.c_str(), &a.sin_addr);
  const timeval tv{10, 0};
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
    return ::close(fd), -1;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

std::string GetRequest(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
}

RawResponse RawGet(int port, const std::string& path, const std::string& from) {
  const int fd = ConnectFrom(from, port);
  if (fd < 0) return {};
  const std::string answer = RawSendAll(fd, GetRequest(path)) ? plombix::testing::RawReadToClose(fd) : "";
  ::close(fd);
  return ParseResponse(answer);
}

RawResponse RawPost(int port, const std::string& path) {
  return RawExchange(port, "POST " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
}

int StuckStreamReader(int port) {
  const int fd = RawConnect(port), small = 4096;
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  return fd >= 0 && RawSendAll(fd, "GET /stream.bgra HTTP/1.1\r\nHost: t\r\n\r\n") ? fd : -1;
}

int ListenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in a{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0) return fd;
  return ::close(fd), -1;
}

bool PortIsFree(int port) {
  const int fd = ListenOn(port);
  return fd >= 0 && ::close(fd) == 0;
}

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
  boundary_ = b == std::string::npos ? "" : type.substr(b + 9);
  return head_.status == 200 && !boundary_.empty();
}

bool RawStream::next() {
  // "--boundary\r\nheaders\r\n\r\n", after the CRLF ending the last part
  // and any blank lines the server sends to keep a quiet stream alive.
  // Gives up after 15 s, blank lines or not.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  size_t end;
  for (;;) {
    buffer_.erase(0, std::min(buffer_.find_first_not_of("\r\n"), buffer_.size()));
    if ((end = buffer_.find("\r\n\r\n")) != std::string::npos) break;
    if (std::chrono::steady_clock::now() > deadline || !fill()) return false;
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

std::string TestFrame::packed() const {
  std::string out;
  const int rowBytes = frame.xres * 4, stride = frame.line_stride_in_bytes ? frame.line_stride_in_bytes : rowBytes;
  for (int y = 0; y < frame.yres; ++y)
    out.append(reinterpret_cast<const char*>(bytes.data()) + size_t(y) * size_t(stride), size_t(rowBytes));
  return out;
}

TestFrame MakeFrame(int width, int height, int strideBytes, NdiFourCC fourcc, uint32_t seed) {
  TestFrame t;
  t.bytes.assign(size_t(strideBytes) * size_t(height), 0xEE);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 4; ++x) t.bytes[size_t(y) * size_t(strideBytes) + size_t(x)] = uint8_t(random());
  t.frame = {width, height, fourcc, 30000, 1001, 16.0f / 9.0f, NdiFrameFormat::Progressive,
             kNdiTimecodeSynthesize, t.bytes.data(), {strideBytes}, nullptr, 0};
  return t;
}

TestFrame MakeSmoothFrame(int width, int height, int strideBytes, NdiFourCC fourcc, int tone) {
  TestFrame t = MakeFrame(width, height, strideBytes, fourcc, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int dx = x - width / 2, dy = y - height / 2;
      const int disc = std::max(0, tone - (dx * dx + dy * dy) * 400 / (width * width + 1));
      const uint8_t pixel[4] = {uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t(std::min(255, 40 + disc)),
                                uint8_t((x * 37 + y * 11) & 0xff)};
      std::copy(pixel, pixel + 4, &t.bytes[size_t(y) * size_t(strideBytes) + size_t(x) * 4]);
    }
  return t;
}

double MeanColourError(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 255;
  double total = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (i % 4 != 3) total += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
  return total / double(std::max<size_t>(1, a.size() / 4 * 3));
}

std::string JpegDecode(const std::string& jpeg, int width, int height) {
  tjhandle decoder = tjInitDecompress();
  auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(jpeg.data()));
  int w = 0, h = 0, subsampling = 0, colourspace = 0;
  std::string decoded(size_t(width) * size_t(height) * 4, '\0');
  if (tjDecompressHeader3(decoder, bytes, jpeg.size(), &w, &h, &subsampling, &colourspace) != 0 || w != width ||
      h != height || tjDecompress2(decoder, bytes, jpeg.size(), reinterpret_cast<unsigned char*>(decoded.data()),
                                   width, width * 4, height, TJPF_BGRX, 0) != 0)
    decoded.clear();
  tjDestroy(decoder);
  return decoded;
}

std::vector<uint8_t> DecodePng(const std::string& png) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, png.data(), png.size());
  size_t size = 0;
  std::vector<uint8_t> rgba;
  if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
    rgba.resize(size);
    if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0) != 0) rgba.clear();
  }
  spng_ctx_free(ctx);
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
  for (uint32_t i = 0; i < count; ++i)
    if (name == sources[i].p_ndi_name) port = std::atoi(std::strrchr(sources[i].p_url_address, ':') + 1);
  ndi().findDestroy(finder);
  return port;
}

}  // namespace standin_test
