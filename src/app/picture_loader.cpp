#include "picture_loader.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// Scheduling priority of the background worker: below the window's thread
// and the operator's loads, so that preparing ahead never slows them.
constexpr int kBackgroundNice = 10;

// One worker thread and the jobs waiting for it.
struct Lane {
  std::deque<Queued> queue;
  std::shared_ptr<CancelFlags> running;  // flags of the job being run
  bool exited = false;
  std::thread thread;
  bool idle() const { return !running && queue.empty(); }
};

}  // namespace

struct PictureLoader::Shared {
  std::mutex mutex;
  std::condition_variable work;     // a job was queued, or stop
  std::condition_variable changed;  // a job finished, or a worker ended
  Lane lanes[2];                    // the operator's jobs, the background ones
  std::vector<PictureJobResult> inbox;
  uint64_t nextTicket = 1;
  bool stop = false;

  // Held while `wake` runs, so that the destructor can be sure it never
  // runs again once it has been cleared.
  std::mutex wakeMutex;
  std::function<void()> wake;

  void run(Lane& lane);
  PictureJobResult runJob(Queued& queued);
  void deliver(PictureJobResult result);
  bool exited() const { return lanes[0].exited && lanes[1].exited; }
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
      result.triedStamps.push_back(result.shownStamp);
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

void PictureLoader::Shared::deliver(PictureJobResult result) {
  {
    std::lock_guard lock(mutex);
    if (stop) return;
    inbox.push_back(std::move(result));
  }
  std::lock_guard wakeLock(wakeMutex);
  if (wake) wake();
}

void PictureLoader::Shared::run(Lane& lane) {
  if (&lane == &lanes[1]) (void)setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), kBackgroundNice);
  for (;;) {
    Queued queued;
    {
      std::unique_lock lock(mutex);
      work.wait(lock, [this, &lane] { return stop || !lane.queue.empty(); });
      if (stop) break;
      queued = std::move(lane.queue.front());
      lane.queue.pop_front();
      lane.running = queued.cancel;
    }
    PictureJobResult result = runJob(queued);
    // A background job dropped while it ran is not reported.
    if (!(result.job.background && queued.cancel->shown)) deliver(std::move(result));
    // Idle only once the owner has been told: a waiter then finds the
    // result and the call behind it.
    {
      std::lock_guard lock(mutex);
      lane.running.reset();
    }
    changed.notify_all();
  }
  std::lock_guard lock(mutex);
  lane.exited = true;
  changed.notify_all();
}

PictureLoader::PictureLoader(std::function<void()> wake) : shared_(std::make_shared<Shared>()) {
  shared_->wake = std::move(wake);
  // The threads keep their own reference: they may outlive the loader.
  for (Lane& lane : shared_->lanes)
    lane.thread = std::thread([shared = shared_, &lane] { shared->run(lane); });
}

PictureLoader::~PictureLoader() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
    for (Lane& lane : shared_->lanes) {
      lane.queue.clear();
      if (lane.running) lane.running->overlay = lane.running->shown = lane.running->check = true;
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
                                       [this] { return shared_->exited(); });
  }
  for (Lane& lane : shared_->lanes) {
    if (exited) {
      lane.thread.join();
    } else {
      // A decoder that cannot be interrupted is still at work: leave it.
      lane.thread.detach();
      gAbandoned = true;
    }
  }
}

namespace {

// Marks the parts `job` asks for as taken over in every foreground job
// queued or running.
void Supersede(Lane& lane, bool overlay, bool shown, bool check) {
  for (Queued& older : lane.queue) {
    if (overlay && older.job.overlay) older.cancel->overlay = true;
    if (shown && !older.job.shownCandidates.empty()) older.cancel->shown = true;
    if (check && !older.job.checkPaths.empty()) older.cancel->check = true;
  }
  if (CancelFlags* running = lane.running.get()) {
    if (overlay) running->overlay = true;
    if (shown) running->shown = true;
    if (check) running->check = true;
  }
}

}  // namespace

uint64_t PictureLoader::Submit(LoadJob job) {
  std::lock_guard lock(shared_->mutex);
  job.background = false;
  Supersede(shared_->lanes[0], job.overlay.has_value(), !job.shownCandidates.empty(),
            !job.checkPaths.empty());
  Queued queued;
  queued.ticket = shared_->nextTicket++;
  queued.job = std::move(job);
  const uint64_t ticket = queued.ticket;
  shared_->lanes[0].queue.push_back(std::move(queued));
  shared_->work.notify_all();
  return ticket;
}

uint64_t PictureLoader::SubmitBackground(LoadJob job) {
  std::lock_guard lock(shared_->mutex);
  Queued queued;
  queued.ticket = shared_->nextTicket++;
  queued.job.shownCandidates = std::move(job.shownCandidates);
  queued.job.background = true;
  const uint64_t ticket = queued.ticket;
  shared_->lanes[1].queue.push_back(std::move(queued));
  shared_->work.notify_all();
  return ticket;
}

void PictureLoader::CancelBackground() {
  std::lock_guard lock(shared_->mutex);
  Lane& lane = shared_->lanes[1];
  lane.queue.clear();
  if (lane.running) lane.running->shown = true;
}

uint64_t PictureLoader::Post(PictureJobResult result) {
  {
    std::lock_guard lock(shared_->mutex);
    Supersede(shared_->lanes[0], false, result.shownStatus != PartStatus::NotAsked, false);
    result.ticket = shared_->nextTicket++;
  }
  const uint64_t ticket = result.ticket;
  shared_->deliver(std::move(result));
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
  return !shared_->lanes[0].idle();
}

void PictureLoader::WaitIdle() {
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait(lock, [this] { return shared_->lanes[0].exited || shared_->lanes[0].idle(); });
}

void PictureLoader::WaitBackgroundIdle() {
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait(lock, [this] {
    return shared_->exited() || (shared_->lanes[0].idle() && shared_->lanes[1].idle());
  });
}

bool PictureLoader::abandoned() { return gAbandoned; }

}  // namespace plombix
