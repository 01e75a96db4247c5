// PlayerCore's preparing ahead: the slideshow's neighbours and the cue,
// prepared in the background, and a show of a prepared picture that goes on
// air without a decode.
#include "player_core.h"

#include <utility>

namespace plombix {

void PlayerCore::postPrepared(PendingJob pending, const Layout& layout, PreparedHit hit) {
  PictureJobResult result;
  result.job = jobFor(pending, layout);
  result.shownStatus = PartStatus::Done;
  result.shownIndex = hit.index;
  result.shownTried = hit.index + 1;
  result.shown = std::move(hit.picture);
  result.shownStamp = hit.stamp;
  // Through the inbox like any finished load: it goes on air at the
  // window's next turn, and every older show still loading is overtaken.
  const uint64_t ticket = loader_->Post(std::move(result));
  latestShownTicket_ = ticket;
  pendingJobs_.emplace(ticket, std::move(pending));
}

void PlayerCore::replan() {
  std::vector<std::vector<std::string>> wanted;
  if (cueTicket_ != 0) wanted.push_back({cueLoading_});
  if (!cuedPath_.empty()) wanted.push_back({cuedPath_});
  wanted.insert(wanted.end(), neighbours_.begin(), neighbours_.end());
  const PrepareRequest recipe = request({}, PictureRole::Shown, expectedLayout());
  prepared_.Plan(std::move(wanted), recipe);
  if (backgroundTicket_ == 0 || !loader_) return;
  // The job under way is dropped when its file is no longer wanted first or
  // the pictures must now be made differently.
  const std::vector<std::string> next = prepared_.nextJob();
  if (next.empty() || next.front() != backgroundRequest_.path || !SameRecipe(recipe, backgroundRequest_)) {
    loader_->CancelBackground();
    backgroundTicket_ = 0;
  }
}

void PlayerCore::pumpBackground() {
  if (!loader_ || cueTicket_ != 0 || backgroundTicket_ != 0) return;
  const std::vector<std::string> paths = prepared_.nextJob();
  if (paths.empty()) return;
  const Layout layout = expectedLayout();
  LoadJob job;
  for (const std::string& path : paths) {
    PrepareRequest one = request(path, PictureRole::Shown, layout);
    one.threads = 1;  // the second core stays with the window and the operator's loads
    job.shownCandidates.push_back(std::move(one));
  }
  backgroundRequest_ = job.shownCandidates.front();
  backgroundTicket_ = loader_->SubmitBackground(std::move(job));
}

void PlayerCore::applyBackground(PictureJobResult& result) {
  if (result.ticket == cueTicket_) {
    cueTicket_ = 0;
    PictureDone done = std::move(cueDone_);
    cueDone_ = nullptr;
    PictureOutcome outcome;
    outcome.status = result.shownStatus == PartStatus::Done && result.shown.ok() ? PartStatus::Done
                     : result.shownStatus == PartStatus::Superseded        ? PartStatus::Superseded
                                                                            : PartStatus::Failed;
    outcome.path = result.shown.filePath;
    outcome.error = result.shown.error;
    outcome.index = result.shownIndex;
    outcome.stamp = result.shownStamp;
    outcome.held = true;  // ready, not on air
    if (outcome.status == PartStatus::Done) {
      cuedPath_ = outcome.path;
      replan();
    }
    prepared_.Store(result);
    if (done) done(outcome);
  } else {
    if (result.ticket == backgroundTicket_) backgroundTicket_ = 0;
    prepared_.Store(result);
  }
  pumpBackground();
}

void PlayerCore::PrepareAhead(std::vector<std::vector<std::string>> neighbours) {
  neighbours_ = std::move(neighbours);
  replan();
  pumpBackground();
}

void PlayerCore::Cue(const std::string& path, PictureDone done) {
  if (!loader_) return;
  if (cueTicket_ != 0 && cueDone_) {
    PictureOutcome overtaken;
    overtaken.status = PartStatus::Superseded;
    std::exchange(cueDone_, nullptr)(overtaken);
  }
  // Ready already (a neighbour, or the cue itself): nothing to wait for.
  const PrepareRequest recipe = request({}, PictureRole::Shown, expectedLayout());
  if (!resolutionPending_ && prepared_.Ready(path, recipe, ReadFileStamp)) {
    if (cueTicket_ != 0) loader_->CancelBackground();
    cueTicket_ = 0;
    cuedPath_ = path;
    replan();
    pumpBackground();
    PictureOutcome outcome;
    outcome.status = PartStatus::Done;
    outcome.path = path;
    outcome.index = 0;
    outcome.held = true;
    if (done) done(outcome);
    return;
  }
  // The operator's cue goes before the neighbours.
  loader_->CancelBackground();
  backgroundTicket_ = 0;
  LoadJob job;
  job.shownCandidates.push_back(request(path, PictureRole::Shown, expectedLayout()));
  cueDone_ = std::move(done);
  cueTicket_ = loader_->SubmitBackground(std::move(job));
  cueLoading_ = path;
  replan();  // makes room for it
}

bool PlayerCore::Take(PictureDone done) {
  if (cuedPath_.empty()) return false;
  const std::string path = std::exchange(cuedPath_, std::string());
  ShowFirstOf({path}, std::move(done));
  replan();
  pumpBackground();
  return true;
}

void PlayerCore::ForgetCue() {
  if (cueTicket_ != 0 && loader_) {
    loader_->CancelBackground();
    cueTicket_ = 0;
    if (cueDone_) {
      PictureOutcome forgotten;
      forgotten.status = PartStatus::Superseded;
      std::exchange(cueDone_, nullptr)(forgotten);
    }
  }
  cuedPath_.clear();
  replan();
  pumpBackground();
}

const PreparedPicture* PlayerCore::cuedPicture() const {
  return cuedPath_.empty() ? nullptr : prepared_.find(cuedPath_);
}

void PlayerCore::WaitForPrepared() {
  while (loader_) {
    WaitForLoads();
    loader_->WaitBackgroundIdle();
    ApplyLoads();
    if (!busy() && cueTicket_ == 0 && backgroundTicket_ == 0) return;
  }
}

}  // namespace plombix
