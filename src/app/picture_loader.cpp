#include "picture_loader.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <utility>

namespace plombix {
namespace {

std::atomic<bool> gAbandoned{false};

// Which parts of a job a newer job has taken over.
struct CancelFlags {
  std::atomic<bool> overlay{false};
  std::atomic<bool> shown{false};
  std::atomic<bool> check{false};
};

struct Queued {
  uint64_t ticket = 0;
  LoadJob job;
  std::shared_ptr<CancelFlags> cancel = std::make_shared<CancelFlags>();
};

}  // namespace

struct PictureLoader::Shared {
  std::mutex mutex;
  std::condition_variable work;     // a job was queued, or stop
  std::condition_variable changed;  // a job finished, or the worker ended
  std::deque<Queued> queue;
  std::shared_ptr<CancelFlags> running;  // flags of the job being run
  std::vector<PictureJobResult> inbox;
  uint64_t nextTicket = 1;
  bool stop = false;
  bool exited = false;

  // Held while `wake` runs, so that the destructor can be sure it never
  // runs again once it has been cleared.
  std::mutex wakeMutex;
  std::function<void()> wake;

  std::thread thread;

  void run();
  PictureJobResult runJob(Queued& queued);
};

namespace {

// The job as it is reported back: the hooks that point into the worker's
// state are cleared.
LoadJob WithoutHooks(LoadJob job) {
  if (job.overlay) job.overlay->cancelled = nullptr;
  for (PrepareRequest& request : job.shownCandidates) request.cancelled = nullptr;
  return job;
}

}  // namespace

PictureJobResult PictureLoader::Shared::runJob(Queued& queued) {
  PictureJobResult result;
  result.ticket = queued.ticket;
  const CancelFlags& cancel = *queued.cancel;
  const auto stopped = [this] {
    std::lock_guard lock(mutex);
    return stop;
  };

  if (queued.job.overlay) {
    PrepareRequest request = *queued.job.overlay;
    request.cancelled = [&cancel, &stopped] { return cancel.overlay.load() || stopped(); };
    if (cancel.overlay) {
      result.overlayStatus = PartStatus::Superseded;
    } else {
      result.overlay = PreparePicture(request);
      if (cancel.overlay || result.overlay.error == DecodeError::Cancelled)
        result.overlayStatus = PartStatus::Superseded;
      else
        result.overlayStatus = result.overlay.ok() ? PartStatus::Done : PartStatus::Failed;
    }
  }

  if (!queued.job.shownCandidates.empty()) {
    result.shownStatus = PartStatus::Failed;
    for (size_t i = 0; i < queued.job.shownCandidates.size(); ++i) {
      if (cancel.shown) {
        result.shownStatus = PartStatus::Superseded;
        break;
      }
      PrepareRequest request = queued.job.shownCandidates[i];
      request.cancelled = [&cancel, &stopped] { return cancel.shown.load() || stopped(); };
      result.shownStamp = ReadFileStamp(request.path);
      result.shown = PreparePicture(request);
      ++result.shownTried;
      if (cancel.shown || result.shown.error == DecodeError::Cancelled) {
        result.shownStatus = PartStatus::Superseded;
        break;
      }
      if (result.shown.ok()) {
        result.shownStatus = PartStatus::Done;
        result.shownIndex = int(i);
        break;
      }
    }
  }

  if (!queued.job.checkPaths.empty()) {
    result.checkStatus = PartStatus::Done;
    for (const std::string& path : queued.job.checkPaths) {
      if (cancel.check || stopped()) {
        result.checkStatus = PartStatus::Superseded;
        break;
      }
      const DecodeError error = ProbeImageFile(path);
      if (cancel.check) {
        result.checkStatus = PartStatus::Superseded;
        break;
      }
      if (error != DecodeError::None) {
        result.checkStatus = PartStatus::Failed;
        result.checkError = error;
        break;
      }
    }
  }
  result.job = WithoutHooks(std::move(queued.job));
  return result;
}

void PictureLoader::Shared::run() {
  for (;;) {
    Queued queued;
    {
      std::unique_lock lock(mutex);
      work.wait(lock, [this] { return stop || !queue.empty(); });
      if (stop) break;
      queued = std::move(queue.front());
      queue.pop_front();
      running = queued.cancel;
    }
    PictureJobResult result = runJob(queued);
    {
      std::lock_guard lock(mutex);
      if (stop) break;
      inbox.push_back(std::move(result));
    }
    {
      std::lock_guard wakeLock(wakeMutex);
      if (wake) wake();
    }
    // Idle only once the owner has been told: a waiter then finds the
    // result and the call behind it.
    {
      std::lock_guard lock(mutex);
      running.reset();
    }
    changed.notify_all();
  }
  std::lock_guard lock(mutex);
  exited = true;
  changed.notify_all();
}

PictureLoader::PictureLoader(std::function<void()> wake) : shared_(std::make_shared<Shared>()) {
  shared_->wake = std::move(wake);
  // The thread keeps its own reference: it may outlive the loader.
  shared_->thread = std::thread([shared = shared_] { shared->run(); });
}

PictureLoader::~PictureLoader() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
    shared_->queue.clear();
    if (shared_->running) {
      shared_->running->overlay = shared_->running->shown = shared_->running->check = true;
    }
  }
  shared_->work.notify_all();
  {
    std::lock_guard wakeLock(shared_->wakeMutex);
    shared_->wake = nullptr;
  }
  bool exited = false;
  {
    std::unique_lock lock(shared_->mutex);
    exited = shared_->changed.wait_for(lock, std::chrono::seconds(1),
                                       [this] { return shared_->exited; });
  }
  if (exited) {
    shared_->thread.join();
  } else {
    // A decoder that cannot be interrupted is still at work: leave it.
    shared_->thread.detach();
    gAbandoned = true;
  }
}

uint64_t PictureLoader::Submit(LoadJob job) {
  std::lock_guard lock(shared_->mutex);
  const bool overlay = job.overlay.has_value();
  const bool shown = !job.shownCandidates.empty();
  const bool check = !job.checkPaths.empty();
  for (Queued& older : shared_->queue) {
    if (overlay && older.job.overlay) older.cancel->overlay = true;
    if (shown && !older.job.shownCandidates.empty()) older.cancel->shown = true;
    if (check && !older.job.checkPaths.empty()) older.cancel->check = true;
  }
  if (CancelFlags* running = shared_->running.get()) {
    if (overlay) running->overlay = true;
    if (shown) running->shown = true;
    if (check) running->check = true;
  }
  Queued queued;
  queued.ticket = shared_->nextTicket++;
  queued.job = std::move(job);
  const uint64_t ticket = queued.ticket;
  shared_->queue.push_back(std::move(queued));
  shared_->work.notify_one();
  return ticket;
}

std::vector<PictureJobResult> PictureLoader::TakeResults() {
  std::lock_guard lock(shared_->mutex);
  std::vector<PictureJobResult> results;
  results.swap(shared_->inbox);
  return results;
}

bool PictureLoader::busy() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->running || !shared_->queue.empty();
}

void PictureLoader::WaitIdle() {
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait(lock, [this] {
    return shared_->exited || (!shared_->running && shared_->queue.empty());
  });
}

bool PictureLoader::abandoned() { return gAbandoned; }

}  // namespace plombix
