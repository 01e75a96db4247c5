// PreparedPictures: pictures made ready for the output before anyone asks
// for them — the slideshow's neighbours and the cued picture — so that a
// step or a take costs one composition instead of a decode.
//
// The owner says what it wants as candidate lists in order of importance
// (the cue, next, previous, first, last); each list is tried in order, the
// first file that loads being the one a step would land on, as the
// slideshow skips files that fail. Plan works out which file each list
// reaches — skipping files known to fail — keeps the prepared frames of at
// most kMaxFrames of them and drops the rest; nextJob names the list to
// prepare next. Every frame remembers the request it was prepared for (size,
// borders, scaling, range) and its file's stamp: a frame whose request no
// longer matches is dropped, and one whose file changed is never taken.
//
// No threads here: the owner runs the jobs and hands their results back
// (Store). All calls on one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "picture_loader.h"

namespace plombix {

// Whether two requests make the same pixels from the same file (all but the
// path and the hooks).
[[nodiscard]] bool SameRecipe(const PrepareRequest& a, const PrepareRequest& b);

// A prepared picture taken for the output.
struct PreparedHit {
  int index = -1;  // the candidate it belongs to
  PrepareRequest request;
  PreparedPicture picture;
  std::optional<FileStamp> stamp;
};

class PreparedPictures {
 public:
  // Frames kept at most (beside the one on air).
  static constexpr size_t kMaxFrames = 4;
  using StampOf = std::function<std::optional<FileStamp>(const std::string& path)>;

  // What is wanted now, most important first, and the request every frame
  // must match (its path is ignored). Drops what is no longer wanted.
  void Plan(std::vector<std::vector<std::string>> wanted, const PrepareRequest& recipe);

  // The candidates of the most important list whose file has no frame yet
  // (from the first one not known to fail); empty when all are ready.
  [[nodiscard]] std::vector<std::string> nextJob() const;

  // Takes in a finished background result: a frame for the file that
  // loaded, and which files failed.
  void Store(PictureJobResult& result);

  // The frame for the first of `candidates` that would load, when every
  // one before it is known to fail with the same stamp and the frame
  // matches `recipe` and its file's stamp now. A frame whose file changed
  // is dropped.
  [[nodiscard]] std::optional<PreparedHit> Take(const std::vector<std::string>& candidates,
                                                const PrepareRequest& recipe, const StampOf& stampOf);

  // Keeps a picture that is ready (one leaving the air, or one that was
  // loaded but not shown) until the next Plan decides on it.
  void Keep(PrepareRequest request, PreparedPicture picture, std::optional<FileStamp> stamp);

  // Whether the frame of `path` is there, matches `recipe` and its file's
  // stamp now.
  [[nodiscard]] bool Ready(const std::string& path, const PrepareRequest& recipe,
                           const StampOf& stampOf) const;
  // The frame of `path`; null when there is none.
  [[nodiscard]] const PreparedPicture* find(const std::string& path) const;
  [[nodiscard]] size_t frameCount() const { return frames_.size(); }
  void Clear();

 private:
  struct Frame {
    PrepareRequest request;
    PreparedPicture picture;
    std::optional<FileStamp> stamp;
  };
  void replan();

  std::vector<std::vector<std::string>> wanted_;
  PrepareRequest recipe_;
  std::vector<std::vector<std::string>> needed_;      // lists still without a frame
  std::map<std::string, Frame> frames_;
  std::map<std::string, std::optional<FileStamp>> failures_;  // files that did not load
};

}  // namespace plombix
