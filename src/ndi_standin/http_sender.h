// StandInSender: what an NDI send instance of the stand-in runtime is. It
// publishes through an HttpSource (http_source.h: the server, its endpoints
// and limits) and gives that source back to the SourceRegistry when it is
// destroyed, so that a sender created again under the same name within the
// grace period takes it over, viewers and all.
//
// Thread-safety: one sender is called from one thread at a time (the
// player's).
#pragma once

#include <memory>
#include <string>

#include "http_source.h"
#include "ndi_abi.h"

namespace plombix::standin {

class StandInSender {
 public:
  // Takes over the lingering source of `name`, or opens a new one; its
  // frames go to viewers by `clock`. Null on failure with `*error` saying
  // why (name in use, no free port, ...).
  static std::unique_ptr<StandInSender> Create(const std::string& name, VideoClock clock,
                                               std::string* error);
  // Lets the sender's buffer go and leaves the source to linger.
  ~StandInSender();
  StandInSender(const StandInSender&) = delete;
  StandInSender& operator=(const StandInSender&) = delete;

  void send(const NDIlib_video_frame_v2_t* frame) { source_->send(frame); }
  bool getTally(NDIlib_tally_t* tally, uint32_t timeoutMs) { return source_->getTally(tally, timeoutMs); }
  int connections(uint32_t timeoutMs) { return source_->connections(timeoutMs); }
  void addMetadata(const NDIlib_metadata_frame_t* metadata) { source_->addMetadata(metadata); }
  // The published name and its address ("http://127.0.0.1:5961/"), valid as
  // long as the sender.
  const NDIlib_source_t* sourceName() const { return &record_; }

  const std::string& name() const { return source_->name(); }
  const std::string& url() const { return source_->url(); }
  int port() const { return source_->port(); }

 private:
  explicit StandInSender(std::shared_ptr<HttpSource> source);

  std::shared_ptr<HttpSource> source_;
  NDIlib_source_t record_{};
};

}  // namespace plombix::standin
