#include "ndi_output.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output_formats.h"

namespace plombix {

const char kNdiProductMetadata[] =
    "<ndi_product long_name=\"Vora Plombix - signal generator\""
    "              short_name=\"Vora Plombix\""
    "              manufacturer=\"Voracraft\""
    "              version=\"1.0.3\""
    "              session=\"default\""
    "              model_name=\"V1\""
    "              serial=\"00001\"/>";

std::string NdiSourceName(int instanceNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "Vora Plombix %d", instanceNumber + 1);
  return name;
}

void NdiOutput::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

NdiOutput::NdiOutput(const NdiRuntime& runtime) : runtime_(runtime) {}

NdiOutput::~NdiOutput() { Shutdown(); }

bool NdiOutput::Initialize() {
  if (!runtime_.loaded() || !runtime_.initialize) return false;
  initialized_ = runtime_.initialize();
  return initialized_;
}

bool NdiOutput::AllocateFrames() {
  for (int i = 0; i < 2; ++i) {
    // calloc: zero-filled, and pages are only committed once written.
    buffers_[i].reset(static_cast<uint8_t*>(std::calloc(kFrameBufferBytes, 1)));
    if (!buffers_[i]) {
      buffers_[0].reset();
      buffers_[1].reset();
      ndiFrames[0].p_data = ndiFrames[1].p_data = nullptr;
      return false;
    }
    ndiFrames[i].p_data = buffers_[i].get();
  }
  WriteFormat();
  return true;
}

float NdiOutput::aspectRatio() const { return AspectRatioFor(outputWidth, outputHeight); }

void NdiOutput::WriteFormat() {
  assert(ndiSender == nullptr);
  if (outputWidth <= 0 || outputHeight <= 0 || outputWidth > kMaxWidth ||
      outputHeight > kMaxHeight)
    return;
  // Touch the part of both buffers the new format uses now, at a format
  // change, rather than page by page inside the first sends after it.
  const size_t used = size_t(outputWidth) * size_t(outputHeight) * 4;
  if (used > touchedBytes_ && buffers_[0] && buffers_[1]) {
    for (auto& buffer : buffers_) std::memset(buffer.get() + touchedBytes_, 0, used - touchedBytes_);
    touchedBytes_ = used;
  }
  for (NDIlib_video_frame_v2_t& f : ndiFrames) {
    f.xres = outputWidth;
    f.yres = outputHeight;
    f.FourCC = noAlphaOutput ? NdiFourCC::BGRX : NdiFourCC::BGRA;
    f.frame_rate_N = frameRateN;
    f.frame_rate_D = frameRateD;
    f.picture_aspect_ratio = aspectRatio();
    f.frame_format_type = NdiFrameFormat::Progressive;
    f.timecode = kNdiTimecodeSynthesize;
    f.line_stride_in_bytes = outputWidth * 4;
    f.p_metadata = nullptr;
    f.timestamp = 0;
  }
}

bool NdiOutput::CreateSender(int instanceNumber) {
  if (!initialized_ || ndiSender) return ndiSender != nullptr;
  const std::string name = NdiSourceName(instanceNumber);
  NDIlib_send_create_t settings{};
  settings.p_ndi_name = name.c_str();
  settings.p_groups = nullptr;
  settings.clock_video = true;
  settings.clock_audio = false;
  ndiSender = runtime_.sendCreate(&settings);
  if (!ndiSender) return false;

  NDIlib_metadata_frame_t metadata{};
  metadata.length = int(sizeof kNdiProductMetadata - 1);
  metadata.timecode = kNdiTimecodeSynthesize;
  metadata.p_data = const_cast<char*>(kNdiProductMetadata);
  runtime_.sendAddConnectionMetadata(ndiSender, &metadata);

  sourceName_ = name;
  sourceAddress_.clear();
  if (runtime_.sendGetSourceName) {
    if (const NDIlib_source_t* published = runtime_.sendGetSourceName(ndiSender)) {
      if (published->p_ndi_name && *published->p_ndi_name) sourceName_ = published->p_ndi_name;
      if (published->p_url_address) sourceAddress_ = published->p_url_address;
    }
  }
  return true;
}

void NdiOutput::DestroySender() {
  if (!ndiSender) return;
  runtime_.sendDestroy(ndiSender);
  ndiSender = nullptr;
  sourceName_.clear();
  sourceAddress_.clear();
}

std::string NdiOutput::sourceLocation() const {
  if (sourceAddress_.empty()) return sourceName_;
  return sourceName_ + " \u2014 " + sourceAddress_;
}

uint8_t* NdiOutput::FlipToFreeFrame() {
  currentFrame = 1 - currentFrame;
  return ndiFrames[currentFrame].p_data;
}

void NdiOutput::SendCurrent() {
  if (ndiSender && ndiFrames[currentFrame].p_data)
    runtime_.sendVideoAsyncV2(ndiSender, &ndiFrames[currentFrame]);
}

bool NdiOutput::QueryTally(NDIlib_tally_t& tally) {
  if (!ndiSender) return false;
  tally = NDIlib_tally_t{false, false};
  return runtime_.sendGetTally(ndiSender, &tally, 0);
}

int NdiOutput::ConnectionCount() {
  if (!ndiSender) return 0;
  const int count = runtime_.sendGetNoConnections(ndiSender, 0);
  return count > 0 ? count : 0;
}

void NdiOutput::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  // The flush returns only once the runtime has let go of the frame in
  // flight; only then may the buffers go.
  if (ndiSender) runtime_.sendVideoAsyncV2(ndiSender, nullptr);
  ndiFrames[0].p_data = ndiFrames[1].p_data = nullptr;
  buffers_[0].reset();
  buffers_[1].reset();
  DestroySender();
  if (initialized_ && runtime_.destroy) runtime_.destroy();
  initialized_ = false;
}

}  // namespace plombix
