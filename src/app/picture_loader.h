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

  // The finished results, oldest first; the inbox is empty afterwards.
  [[nodiscard]] std::vector<PictureJobResult> TakeResults();

  // True while a job is queued or running.
  [[nodiscard]] bool busy() const;

  // Blocks until no job is queued or running (tests; never the window's
  // thread in the player).
  void WaitIdle();

  // True when the destructor left a busy worker behind.
  [[nodiscard]] static bool abandoned();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace plombix
