// The receive side of the stand-in runtime: finding sources (discovery
// files) and receiving one source's frames over its /stream.bgra.
//
// A receiver connects in its own thread and reconnects by name when the
// stream ends (a player re-creates its sender on every format change). It
// keeps only the newest frame not yet captured (older ones are dropped). The
// capture call reports an error while the source has been unreachable for
// kLostAfterMs, or for the runtime's client time-out when that is shorter
// (PLOMBIX_NDI_TIMEOUT_S, http_source.h).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery.h"
#include "http_client.h"
#include "ndi_abi.h"

namespace plombix::standin {

constexpr int kLostAfterMs = 3000;

class StandInFinder {
 public:
  // True when the list of sources differs from the one last seen by this
  // call or by current(); waits up to `timeoutMs` for that.
  bool waitForSources(uint32_t timeoutMs);
  // The live sources; the array stays valid until the next call or the
  // finder's destruction.
  const NDIlib_source_t* current(uint32_t* count);

 private:
  std::vector<SourceEntry> known_;
  std::vector<SourceEntry> handedOut_;
  std::vector<NDIlib_source_t> array_;
};

class StandInReceiver {
 public:
  explicit StandInReceiver(const NDIlib_recv_create_v3_t& settings);
  ~StandInReceiver();
  StandInReceiver(const StandInReceiver&) = delete;
  StandInReceiver& operator=(const StandInReceiver&) = delete;

  // Returns an NdiFrameType: Video (fills `*video`; free with freeVideo),
  // Metadata (the connection metadata when it is new; free with
  // freeMetadata), None on time-out, Error while the source is lost.
  int capture(NDIlib_video_frame_v2_t* video, NDIlib_metadata_frame_t* metadata,
              uint32_t timeoutMs);
  void freeVideo(const NDIlib_video_frame_v2_t* video);
  void freeMetadata(const NDIlib_metadata_frame_t* metadata);
  // Reports this receiver's tally to the source, now if connected and after
  // every reconnection. False if the source refused it.
  bool setTally(const NDIlib_tally_t* tally);

 private:
  struct Received {
    NDIlib_video_frame_v2_t frame{};
    uint8_t* data = nullptr;  // malloc'ed; owned by whoever holds it
  };

  void run();
  bool receiveStream(const std::string& url);
  std::string resolveUrl(bool firstAttempt);
  bool postTally(const std::string& url, const std::string& receiverId, NDIlib_tally_t tally);

  std::string name_;
  std::string url_;
  bool wantRgba_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  Received pending_;            // newest frame not yet captured
  std::string metadata_;        // the source's connection metadata
  bool metadataNew_ = false;
  bool connected_ = false;
  std::string connectedUrl_;
  std::string receiverId_;
  std::chrono::steady_clock::time_point downSince_;
  std::chrono::milliseconds lostAfter_{kLostAfterMs};
  NDIlib_tally_t tally_{false, false};
  bool tallySet_ = false;

  HttpClient client_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace plombix::standin
