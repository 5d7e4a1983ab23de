#include "workers/ahead_pool.h"

#include "platform/failure.h"

#include <QThread>

#include <algorithm>
#include <limits>

namespace varnholt {

using namespace workers;

int DefaultJobs() {
  int jobs = std::max(1, QThread::idealThreadCount());
  bool ok = false;
  const int cap = qEnvironmentVariableIntValue("VARNHOLT_JOBS", &ok);
  if (ok && cap >= 1) jobs = std::min(jobs, cap);
  return jobs;
}

AheadPool::AheadPool(int jobs, QString executable)
    : jobs_(jobs), executable_(std::move(executable)) {}

AheadPool::~AheadPool() { end(); }

bool AheadPool::begin(const Setup &ahead) {
  end();
  if (jobs_ < 2 || !ahead.plan || ahead.plan->pairCount() == 0) return false;
  const RunPlan &plan = *ahead.plan;
  images_ = plan.images;
  operations_ = int(plan.operations.size());
  results_.assign(plan.pairCount(), std::nullopt);
  doneHere_.assign(plan.pairCount(), false);
  currentImage_ = 0;
  waiting_ = 0;
  suppress_ = false;
  WorkerPool::Setup setup;
  setup.order = WorkerPool::Order::InListOrder;
  setup.executable = executable_;
  setup.outputHandle = ahead.outputHandle;
  setup.outputFolder = ahead.outputFolder;
  setup.subfolders = ImageSubfolders(plan.images);
  setup.images = int(plan.images.size());
  setup.operations = operations_;
  pool_ = std::make_unique<WorkerPool>(setup, *this);
  try {
    pool_->start(jobs_, EncodePlan({plan, ahead.handOverPlace}));
  } catch (const Failure &) {
    pool_.reset(); // no worker: the run does every pair itself
    return false;
  }
  feed();
  return true;
}

// Images go out in list order, ahead of the run for as long as what waits
// for it on disk stays within bounds: no worker idles while the run waits
// for one far larger image than the rest, and a Stop throws little away.
void AheadPool::feed() {
  const bool roomLeft = waiting_ < kMostWaitingPairs;
  pool_->handOut(roomLeft ? std::numeric_limits<int>::max() : currentImage_, suppress_);
}

void AheadPool::answered(int image, int operation, const PairResult &result) {
  results_[size_t(image) * size_t(operations_) + size_t(operation)] = result;
  ++waiting_;
}

// The pair its worker was on fails, as it would have if the window had been
// doing it and ImageMagick had broken down; its handed-over pairs stay good.
// The rest of its image goes to a fresh worker.
int AheadPool::lost(int image, int next, const QString &how, const QStringList &) {
  if (next >= operations_) return -1;
  PairResult failed;
  failed.failure = Failure(kErrWorkerLost, "The worker process " + how + ": " + images_[image]);
  results_[size_t(image) * size_t(operations_) + size_t(next)] = failed;
  ++waiting_;
  return next + 1 < operations_ ? next + 1 : -1;
}

void AheadPool::unassigned(int image, int first, const QString &) {
  for (int k = first; k < operations_; ++k)
    doneHere_[size_t(image) * size_t(operations_) + size_t(k)] = true;
}

AheadPool::Taken AheadPool::take(size_t n, bool suppress) {
  if (!pool_ || n >= results_.size()) return {};
  currentImage_ = int(n / size_t(operations_));
  suppress_ = suppress;
  // What the workers said meanwhile is read at every take, not only while
  // the run waits: a worker done with its image would otherwise idle for
  // as long as the run puts into place pairs that were already done.
  pool_->wait(0);
  for (;;) {
    if (results_[n]) {
      Taken taken{true, std::move(results_[n])};
      results_[n].reset();
      --waiting_;
      feed();
      return taken;
    }
    if (doneHere_[n]) return {};
    feed();
    const bool handedOut = currentImage_ < pool_->nextImage();
    if (!handedOut && !pool_->reading()) return {}; // nobody left to do it
    if (handedOut && !pool_->working(currentImage_)) {
      // Its worker went without a word about this pair and nobody took over.
      pool_->wait(0);
      if (!results_[n]) return {};
      continue;
    }
    return {false, std::nullopt};
  }
}

void AheadPool::wait(int milliseconds) {
  if (pool_) pool_->wait(milliseconds);
}

void AheadPool::end() {
  // Work ahead is not wanted any more: the workers end now, and what they
  // built but did not hand over goes with them.
  pool_.reset();
  results_.clear();
  doneHere_.clear();
}

} // namespace varnholt
