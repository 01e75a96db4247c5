#include "prepared_pictures.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

namespace plombix {
namespace {

auto RecipeOf(const PrepareRequest& r) {
  return std::tuple(r.role, r.scalingMode, r.outputWidth, r.outputHeight, r.borderSidesPx,
                    r.borderTopBottomPx, r.limitedRange);
}

}  // namespace

bool SameRecipe(const PrepareRequest& a, const PrepareRequest& b) { return RecipeOf(a) == RecipeOf(b); }

void PreparedPictures::Plan(std::vector<std::vector<std::string>> wanted, const PrepareRequest& recipe) {
  // Failures were found with the old request: a file too large for one
  // size may do for another.
  if (!SameRecipe(recipe, recipe_)) failures_.clear();
  wanted_ = std::move(wanted);
  recipe_ = recipe;
  recipe_.path.clear();
  recipe_.cancelled = nullptr;
  replan();
}

void PreparedPictures::replan() {
  std::set<std::string> reached, listed;
  needed_.clear();
  for (const std::vector<std::string>& list : wanted_) {
    listed.insert(list.begin(), list.end());
    const auto first = std::find_if(list.begin(), list.end(),
                                    [this](const std::string& path) { return !failures_.count(path); });
    if (first == list.end() || reached.count(*first)) continue;
    if (reached.size() == kMaxFrames) break;
    reached.insert(*first);
    const auto frame = frames_.find(*first);
    if (frame == frames_.end() || !SameRecipe(frame->second.request, recipe_))
      needed_.emplace_back(first, list.end());
  }
  std::erase_if(frames_, [&](const auto& entry) {
    return !reached.count(entry.first) || !SameRecipe(entry.second.request, recipe_);
  });
  std::erase_if(failures_, [&](const auto& entry) { return !listed.count(entry.first); });
}

std::vector<std::string> PreparedPictures::nextJob() const {
  return needed_.empty() ? std::vector<std::string>{} : needed_.front();
}

void PreparedPictures::Store(PictureJobResult& result) {
  if (result.shownStatus == PartStatus::Superseded || result.shownStatus == PartStatus::NotAsked) return;
  const std::vector<PrepareRequest>& tried = result.job.shownCandidates;
  const size_t failed = result.shownStatus == PartStatus::Done ? size_t(result.shownIndex)
                                                               : result.triedStamps.size();
  for (size_t i = 0; i < failed && i < tried.size() && i < result.triedStamps.size(); ++i)
    failures_[tried[i].path] = result.triedStamps[i];
  if (result.shownStatus == PartStatus::Done && result.shown.ok())
    Keep(tried[size_t(result.shownIndex)], std::move(result.shown), result.shownStamp);
  replan();
}

std::optional<PreparedHit> PreparedPictures::Take(const std::vector<std::string>& candidates,
                                                  const PrepareRequest& recipe, const StampOf& stampOf) {
  for (size_t i = 0; i < candidates.size(); ++i) {
    const std::string& path = candidates[i];
    const auto frame = frames_.find(path);
    if (frame != frames_.end() && SameRecipe(frame->second.request, recipe)) {
      if (stampOf(path) != frame->second.stamp) {
        frames_.erase(frame);  // changed since: loaded afresh
        return std::nullopt;
      }
      PreparedHit hit{int(i), std::move(frame->second.request), std::move(frame->second.picture),
                      frame->second.stamp};
      frames_.erase(frame);
      return hit;
    }
    const auto failure = failures_.find(path);
    if (failure == failures_.end() || stampOf(path) != failure->second) return std::nullopt;
  }
  return std::nullopt;
}

void PreparedPictures::Keep(PrepareRequest request, PreparedPicture picture,
                            std::optional<FileStamp> stamp) {
  if (!picture.ok() || !picture.pixels) return;
  request.cancelled = nullptr;
  const std::string path = request.path;
  failures_.erase(path);
  frames_.insert_or_assign(path, Frame{std::move(request), std::move(picture), stamp});
}

bool PreparedPictures::Ready(const std::string& path, const PrepareRequest& recipe,
                             const StampOf& stampOf) const {
  const auto frame = frames_.find(path);
  return frame != frames_.end() && SameRecipe(frame->second.request, recipe) &&
         stampOf(path) == frame->second.stamp;
}

const PreparedPicture* PreparedPictures::find(const std::string& path) const {
  const auto frame = frames_.find(path);
  return frame == frames_.end() ? nullptr : &frame->second.picture;
}

void PreparedPictures::Clear() {
  wanted_.clear();
  needed_.clear();
  frames_.clear();
  failures_.clear();
}

}  // namespace plombix
