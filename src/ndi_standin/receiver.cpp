#include "receiver.h"

#include <cstdlib>
#include <cstring>

#include "frame_store.h"
#include "http_source.h"
#include "runtime_folder.h"

namespace plombix::standin {
namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kRequestTimeoutMs = 5000;
constexpr int kRetryDelayMs = 100;
constexpr size_t kMaxMetadataBytes = 1 << 20;

std::vector<SourceEntry> listLiveSources() {
  const FolderResult folder = RuntimeSubfolder("sources", FolderNotice::Quiet);
  return folder.ok() ? ListSources(folder.path) : std::vector<SourceEntry>{};
}

bool sameSources(const std::vector<SourceEntry>& a, const std::vector<SourceEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].url != b[i].url) return false;
  return true;
}

bool parseInt(const HttpHeaders& h, const char* key, long long low, long long high, long long* out) {
  const auto it = h.find(key);
  if (it == h.end() || it->second.empty() || it->second.size() > 20) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(it->second.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v < low || v > high) return false;
  *out = v;
  return true;
}

// The frame a part's headers describe; false if they are incomplete, out of
// range, or disagree with the part's length.
bool frameFromHeaders(const HttpHeaders& h, NDIlib_video_frame_v2_t* f, size_t* bytes) {
  long long width, height, rateN, rateD, format, timecode, length;
  if (!parseInt(h, "x-width", 1, kMaxFrameSide, &width) ||
      !parseInt(h, "x-height", 1, kMaxFrameSide, &height) ||
      !parseInt(h, "x-frame-rate-n", INT32_MIN, INT32_MAX, &rateN) ||
      !parseInt(h, "x-frame-rate-d", INT32_MIN, INT32_MAX, &rateD) ||
      !parseInt(h, "x-frame-format", 0, 3, &format) ||
      !parseInt(h, "x-timecode", INT64_MIN, INT64_MAX, &timecode) ||
      !parseInt(h, "content-length", 0, INT64_MAX, &length))
    return false;
  const auto fourcc = h.find("x-fourcc");
  const auto aspect = h.find("x-aspect");
  if (fourcc == h.end() || aspect == h.end()) return false;
  NdiFourCC code;
  if (fourcc->second == "BGRA")
    code = NdiFourCC::BGRA;
  else if (fourcc->second == "BGRX")
    code = NdiFourCC::BGRX;
  else
    return false;
  if (size_t(length) != size_t(width) * size_t(height) * 4) return false;
  *f = NDIlib_video_frame_v2_t{};
  f->xres = int(width);
  f->yres = int(height);
  f->FourCC = code;
  f->frame_rate_N = int(rateN);
  f->frame_rate_D = int(rateD);
  f->picture_aspect_ratio = std::strtof(aspect->second.c_str(), nullptr);
  f->frame_format_type = NdiFrameFormat(format);
  f->timecode = timecode;
  f->line_stride_in_bytes = int(width) * 4;
  f->p_metadata = nullptr;
  f->timestamp = timecode;
  *bytes = size_t(length);
  return true;
}

}  // namespace

// --- Finder --------------------------------------------------------------------

bool StandInFinder::waitForSources(uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<SourceEntry> now = listLiveSources();
    if (!sameSources(now, known_)) {
      known_ = std::move(now);
      return true;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::milliseconds(0)) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        left, std::chrono::milliseconds(20)));
  }
}

const NDIlib_source_t* StandInFinder::current(uint32_t* count) {
  handedOut_ = listLiveSources();
  known_ = handedOut_;
  array_.clear();
  for (const SourceEntry& e : handedOut_) {
    NDIlib_source_t s{};
    s.p_ndi_name = e.name.c_str();
    s.p_url_address = e.url.c_str();
    array_.push_back(s);
  }
  if (count) *count = uint32_t(array_.size());
  return array_.empty() ? nullptr : array_.data();
}

// --- Receiver ------------------------------------------------------------------

StandInReceiver::StandInReceiver(const NDIlib_recv_create_v3_t& settings) {
  if (settings.source_to_connect_to.p_ndi_name) name_ = settings.source_to_connect_to.p_ndi_name;
  if (settings.source_to_connect_to.p_url_address) url_ = settings.source_to_connect_to.p_url_address;
  wantRgba_ = settings.color_format == NdiRecvColorFormat::RGBX_RGBA ||
              settings.color_format == NdiRecvColorFormat::UYVY_RGBA;
  downSince_ = std::chrono::steady_clock::now();
  lostAfter_ = std::min(lostAfter_, std::chrono::milliseconds(IdleTimeoutSeconds() * 1000));
  thread_ = std::thread([this] { run(); });
}

StandInReceiver::~StandInReceiver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  client_.abort();
  changed_.notify_all();
  thread_.join();
  std::free(pending_.data);
}

std::string StandInReceiver::resolveUrl(bool firstAttempt) {
  if (firstAttempt && !url_.empty()) return url_;
  if (!name_.empty()) {
    for (const SourceEntry& e : listLiveSources())
      if (e.name == name_) return e.url;
    return {};
  }
  return url_;
}

void StandInReceiver::run() {
  bool first = true;
  while (!stop_) {
    const std::string url = resolveUrl(first);
    first = false;
    if (!url.empty()) receiveStream(url);
    client_.close();
    std::unique_lock<std::mutex> lock(mutex_);
    if (connected_) {
      connected_ = false;
      downSince_ = std::chrono::steady_clock::now();
      changed_.notify_all();
    }
    changed_.wait_for(lock, std::chrono::milliseconds(kRetryDelayMs), [this] { return bool(stop_); });
  }
}

bool StandInReceiver::receiveStream(const std::string& url) {
  HttpUrl u;
  int status = 0;
  HttpHeaders headers;
  if (!ParseHttpUrl(url, &u) || !client_.connect(u, kConnectTimeoutMs) ||
      !client_.sendRequest("GET", "/stream.bgra", kRequestTimeoutMs) ||
      !client_.readResponseHead(&status, &headers, kRequestTimeoutMs) || status != 200)
    return false;
  const std::string boundary = HeaderParameter(headers["content-type"], "boundary");
  const std::string receiverId = headers["x-receiver-id"];
  if (boundary.empty()) return false;

  std::string metadata;
  int metadataStatus = 0;
  const bool haveMetadata = HttpFetch(url, "GET", "/metadata", &metadataStatus, &metadata,
                                      kMaxMetadataBytes, kRequestTimeoutMs) &&
                            metadataStatus == 200;
  NDIlib_tally_t tally{};
  bool postTallyNow = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (haveMetadata && metadata != metadata_) {
      metadata_ = metadata;
      metadataNew_ = !metadata.empty();
    }
    connected_ = true;
    connectedUrl_ = url;
    receiverId_ = receiverId;
    tally = tally_;
    postTallyNow = tallySet_;
  }
  changed_.notify_all();
  if (postTallyNow) postTally(url, receiverId, tally);

  for (;;) {
    HttpHeaders part;
    NDIlib_video_frame_v2_t frame;
    size_t bytes = 0;
    // Frames may be far apart: wait without a time-out (destruction aborts).
    if (!client_.readPartHead(boundary, &part, -1) || !frameFromHeaders(part, &frame, &bytes))
      return false;
    auto* data = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
    if (!data) return false;
    if (!client_.readExact(data, bytes, -1)) {
      std::free(data);
      return false;
    }
    if (wantRgba_) {
      for (size_t i = 0; i < bytes; i += 4) std::swap(data[i], data[i + 2]);
      frame.FourCC = frame.FourCC == NdiFourCC::BGRX ? NdiFourCC::RGBX : NdiFourCC::RGBA;
    }
    frame.p_data = data;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::free(pending_.data);  // never captured: the newest wins
      pending_.frame = frame;
      pending_.data = data;
    }
    changed_.notify_all();
  }
}

int StandInReceiver::capture(NDIlib_video_frame_v2_t* video, NDIlib_metadata_frame_t* metadata,
                             uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (metadata && metadataNew_) {
      char* text = static_cast<char*>(std::malloc(metadata_.size() + 1));
      if (text) {
        std::memcpy(text, metadata_.c_str(), metadata_.size() + 1);
        metadataNew_ = false;
        // Received metadata counts its terminating zero, as the interface
        // documents for this direction.
        metadata->length = int(metadata_.size() + 1);
        metadata->timecode = 0;
        metadata->p_data = text;
        return int(NdiFrameType::Metadata);
      }
    }
    if (video && pending_.data) {
      *video = pending_.frame;
      pending_ = Received{};
      return int(NdiFrameType::Video);
    }
    const auto lostAt = downSince_ + lostAfter_;
    if (!connected_ && Clock::now() >= lostAt) return int(NdiFrameType::Error);
    const auto wakeAt = connected_ ? deadline : std::min(deadline, lostAt);
    if (Clock::now() >= deadline) return int(NdiFrameType::None);
    changed_.wait_until(lock, wakeAt);
  }
}

void StandInReceiver::freeVideo(const NDIlib_video_frame_v2_t* video) {
  if (video) std::free(video->p_data);
}

void StandInReceiver::freeMetadata(const NDIlib_metadata_frame_t* metadata) {
  if (metadata) std::free(metadata->p_data);
}

bool StandInReceiver::postTally(const std::string& url, const std::string& receiverId,
                                NDIlib_tally_t tally) {
  // The id goes into a URL unescaped: accept only what our senders hand out.
  if (receiverId.empty() || receiverId.size() > 64 ||
      receiverId.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  int status = 0;
  std::string body;
  const std::string path = "/tally?receiver=" + receiverId + "&program=" +
                           (tally.on_program ? "1" : "0") + "&preview=" + (tally.on_preview ? "1" : "0");
  return HttpFetch(url, "POST", path, &status, &body, 4096, kRequestTimeoutMs) && status == 204;
}

bool StandInReceiver::setTally(const NDIlib_tally_t* tally) {
  if (!tally) return false;
  std::string url, id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tally_ = *tally;
    tallySet_ = true;
    if (!connected_) return true;  // sent once connected
    url = connectedUrl_;
    id = receiverId_;
  }
  return postTally(url, id, *tally);
}

}  // namespace plombix::standin
