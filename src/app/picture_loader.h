// PictureLoader: prepares pictures on one worker thread so that the window's
// thread never waits for a decoder.
//
// A job may ask for up to three things, each a "part": the overlay (one
// file), the shown picture (the first of several candidate files that
// loads: the slideshow skips files that fail) and a check that some files
// decode (the slideshow's sequence check). Jobs run one at a time in the
// order they were submitted. The newest request of each part wins: a new
// job with a shown part supersedes the shown part of every job still
// queued or running (it is abandoned at the next stage and reported as
// Superseded), and likewise for the overlay and the check. So results never
// reach the window out of order, and stale ones are reported as such.
//
// Results are collected in an inbox; the worker calls `wake` (from its own
// thread) whenever it adds one, and the owner's thread takes them with
// TakeResults. Nothing here touches a widget or the NDI runtime.
//
// Background jobs (SubmitBackground) run on a second worker thread at a
// lower scheduling priority, one at a time in the order they came; they
// supersede nothing and nothing supersedes them (CancelBackground drops
// them). They prepare pictures ahead of the operator's requests, which keep
// the first worker and the processor to themselves. Post puts a result that
// is ready already (a picture prepared in the background) into the inbox
// under a new ticket, superseding older shown parts as a Submit would.
//
// Destruction does not wait for a decode in progress longer than about a
// second: a worker still busy then is left to finish on its own (it holds
// its own state) and its result is dropped. abandoned() tells the program
// to end without running static destructors under it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "file_watch.h"
#include "prepare.h"

namespace plombix {

enum class PartStatus {
  NotAsked,    // the job had no such part
  Done,        // prepared (or, for the check, every file decodes)
  Failed,      // no candidate loaded (or, for the check, a file does not decode)
  Superseded,  // a newer job asked for the same part first
};

struct LoadJob {
  std::optional<PrepareRequest> overlay;
  std::vector<PrepareRequest> shownCandidates;  // tried in order; the first that loads wins
  std::vector<std::string> checkPaths;          // the sequence check
  bool background = false;                      // set by SubmitBackground
};

struct PictureJobResult {
  uint64_t ticket = 0;
  LoadJob job;  // what was asked (the `cancelled` hooks cleared)

  PartStatus overlayStatus = PartStatus::NotAsked;
  PreparedPicture overlay;  // the prepared overlay; names and error on failure

  PartStatus shownStatus = PartStatus::NotAsked;
  int shownIndex = -1;     // candidate that loaded; -1 when none did
  PreparedPicture shown;   // that candidate; on failure the last one tried (names, error)
  int shownTried = 0;      // candidates tried before it loaded or the list ended
  // The stamp of `shown`'s file taken just before it was read: a change
  // after that moment is a change of the file on air.
  std::optional<FileStamp> shownStamp;
  // The stamp of each candidate tried, in order (those that failed too).
  std::vector<std::optional<FileStamp>> triedStamps;

  PartStatus checkStatus = PartStatus::NotAsked;
  DecodeError checkError = DecodeError::None;  // the first file that failed
};

class PictureLoader {
 public:
  explicit PictureLoader(std::function<void()> wake);
  ~PictureLoader();
  PictureLoader(const PictureLoader&) = delete;
  PictureLoader& operator=(const PictureLoader&) = delete;

  // Queues `job`; returns its ticket (increasing from 1).
  uint64_t Submit(LoadJob job);

  // Queues `job` (its shown part only) on the background worker; returns
  // its ticket.
  uint64_t SubmitBackground(LoadJob job);
  // Drops every background job, stopping the one that runs; none of them is
  // reported.
  void CancelBackground();
  // Puts `result` into the inbox under a new ticket (returned); a shown part
  // in it supersedes the shown parts of the jobs queued or running.
  uint64_t Post(PictureJobResult result);

  // The finished results, oldest first; the inbox is empty afterwards.
  [[nodiscard]] std::vector<PictureJobResult> TakeResults();

  // True while a job other than a background one is queued or running.
  [[nodiscard]] bool busy() const;

  // Blocks until no job is queued or running (tests; never the window's
  // thread in the player); WaitIdle leaves out the background jobs.
  void WaitIdle();
  void WaitBackgroundIdle();

  // True when the destructor left a busy worker behind.
  [[nodiscard]] static bool abandoned();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace plombix
