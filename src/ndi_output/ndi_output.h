// NdiOutput: the published video source — output format, the two frames
// sent alternately, the sender with its name and connection metadata, and
// the orderly shutdown. No widgets; all calls come from the window's thread.
//
// The runtime reads the buffer of a frame handed to send_video_async_v2
// until the next such call on the same sender (with another frame, the same
// frame, or none). Hence: new content is only ever written into the frame
// that is not in flight (FlipToFreeFrame), the same frame may be sent again,
// and Shutdown flushes before it frees the buffers. Format fields are only
// rewritten while no sender exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ndi_abi.h"
#include "ndi_runtime.h"

namespace plombix {

// The connection metadata every new sender carries (attributes separated by
// fourteen spaces). Its length is passed without the terminating zero.
extern const char kNdiProductMetadata[];

// "Vora Plombix %d" with instanceNumber + 1, at most 31 characters.
std::string NdiSourceName(int instanceNumber);

class NdiOutput {
 public:
  // Each frame buffer holds the largest output format, so a format change
  // never reallocates.
  static constexpr int kMaxWidth = 4096;
  static constexpr int kMaxHeight = 2160;
  static constexpr size_t kFrameBufferBytes = size_t(kMaxWidth) * kMaxHeight * 4;

  explicit NdiOutput(const NdiRuntime& runtime);
  ~NdiOutput();  // Shutdown() when it has not run
  NdiOutput(const NdiOutput&) = delete;
  NdiOutput& operator=(const NdiOutput&) = delete;

  // NDIlib_initialize; false when the runtime is not usable (or none was
  // loaded). No other NDI call is made before this succeeded.
  [[nodiscard]] bool Initialize();
  // The two frame buffers, zero-filled. False when memory is short.
  [[nodiscard]] bool AllocateFrames();
  bool initialized() const { return initialized_; }
  bool framesAllocated() const { return ndiFrames[0].p_data != nullptr; }

  // --- Output format --------------------------------------------------------
  int outputWidth = 1280;
  int outputHeight = 720;
  int frameRateN = 30000;  // 25p
  int frameRateD = 1200;
  bool noAlphaOutput = false;

  // Writes the format fields of both frames (size, FourCC, rate, aspect,
  // progressive, synthesized timecode, stride, no metadata, timestamp 0).
  // Only while no sender exists; refuses sizes above the buffers.
  void WriteFormat();
  float aspectRatio() const;  // of the current output size

  // --- Sender ---------------------------------------------------------------
  // Creates "Vora Plombix <instanceNumber+1>" (no groups, video clocked,
  // audio not) and adds the connection metadata. False (no sender) when the
  // runtime refuses; the next reconfiguration tries again.
  bool CreateSender(int instanceNumber);
  void DestroySender();
  bool hasSender() const { return ndiSender != nullptr; }

  // Where receivers find the source, as the runtime published it (through
  // NDIlib_send_get_source_name when the runtime has it): the name
  // ("Vora Plombix 1" with the stand-in; the vendor's runtime may put the
  // machine's name in front) and the address ("http://127.0.0.1:5961/" with
  // the stand-in; empty when the runtime gives none). Without that entry
  // point the name is the one asked for and the address is empty. Both
  // empty while no sender exists.
  const std::string& sourceName() const { return sourceName_; }
  const std::string& sourceAddress() const { return sourceAddress_; }
  // "<name> — <address>", or the name alone without an address; empty while
  // no sender exists.
  std::string sourceLocation() const;

  // --- Frames ---------------------------------------------------------------
  NDIlib_video_frame_v2_t ndiFrames[2]{};
  int currentFrame = 0;  // the frame last filled and sent
  NDIlib_send_instance_t ndiSender = nullptr;

  // Makes the frame not in flight current and returns its pixel buffer.
  uint8_t* FlipToFreeFrame();
  // Sends ndiFrames[currentFrame] when a sender exists.
  void SendCurrent();
  const NDIlib_video_frame_v2_t& current() const { return ndiFrames[currentFrame]; }

  // --- Receivers --------------------------------------------------------------
  // Polls the tally without waiting; true only when it changed since the
  // last poll (then `tally` holds it). False without a sender.
  bool QueryTally(NDIlib_tally_t& tally);
  // Receivers connected now; 0 without a sender.
  int ConnectionCount();

  // --- Shutdown ----------------------------------------------------------------
  // Flush (waits until the frame in flight is released), free both buffers,
  // destroy the sender, NDIlib_destroy. Releases only what exists; runs once.
  void Shutdown();

 private:
  const NdiRuntime& runtime_;
  bool initialized_ = false;
  bool shutDown_ = false;
  struct FreeDeleter {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, FreeDeleter> buffers_[2];
  size_t touchedBytes_ = 0;  // bytes of each buffer written at least once
  std::string sourceName_;
  std::string sourceAddress_;
};

}  // namespace plombix
