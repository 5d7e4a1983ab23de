#include "cli/ahead_pool.h"

#include "cli/worker_protocol.h"
#include "platform/failure.h"
#include "processing/magick/magick_policy.h"
#include "processing/pair_stage.h"

#include <QDataStream>
#include <QIODevice>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnholt {

using namespace batch;

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

bool AheadPool::begin(const Job &job) {
  end();
  if (jobs_ < 2 || job.pairs.empty() || !job.settings || !job.claims) return false;
  // The pairs are every planned image times every planned operation.
  job_ = BatchJob();
  std::vector<qsizetype> imageIndex;
  for (const Pair &p : job.pairs) {
    if (imageIndex.empty() || imageIndex.back() != p.image) {
      imageIndex.push_back(p.image);
      job_.images << p.imageText;
    }
    if (imageIndex.size() == 1) {
      QString error;
      job_.operations.push_back(
          {int(p.operation) + 1, p.operationText, ParseOperation(p.operationText, error)});
    }
  }
  operations_ = int(job_.operations.size());
  if (size_t(job_.images.size()) * size_t(operations_) != job.pairs.size()) return false;
  job_.inputFolder = job.inputFolder;
  job_.settings = *job.settings;
  job_.claims = *job.claims;
  job_.handOverPlace = job.handOverPlace;
  job_.notRun.assign(job.pairs.size(), QString());
  outputFolder_ = job.outputFolder;
  outputHandle_ = job.outputHandle;
  results_.assign(job.pairs.size(), std::nullopt);
  doneHere_.assign(job.pairs.size(), false);
  nextImage_ = currentImage_ = 0;
  suppress_ = false;

  // A worker that died is noticed by its pipe, not by SIGPIPE.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &oldPipe_);
  active_ = true;
  ShareMagickLimitsAmong(jobs_);
  // All start before any is sent the job, which can be larger than a pipe
  // holds: the window then waits for one start-up, not one after another.
  const int count = std::min<int>(jobs_, int(job_.images.size()));
  for (int j = 0; j < count; ++j)
    spawn(false);
  const QByteArray jobFrame = JobFrame(job_);
  for (Worker &worker : workers_)
    send(worker, jobFrame);
  if (workers_.empty()) {
    end();
    return false;
  }
  feedIdle();
  return true;
}

void AheadPool::spawn(bool sendJob) {
  try {
    Worker worker;
    worker.process = SpawnWorker(executable_, outputHandle_);
    workers_.push_back(std::move(worker));
  } catch (const Failure &) {
    return; // fewer workers; with none, the run does every pair itself
  }
  if (sendJob) send(workers_.back(), JobFrame(job_));
}

void AheadPool::send(Worker &worker, const QByteArray &payload) {
  try {
    WriteFrame(worker.process.toChild, payload);
  } catch (const Failure &) {
    CloseFd(worker.process.toChild); // it is going; its pipe says so soon
  }
}

void AheadPool::dispatch(Worker &worker, int image, int first) {
  QByteArray payload;
  QDataStream(&payload, QIODevice::WriteOnly) << qint32(image) << qint32(first) << suppress_;
  send(worker, payload);
  if (worker.process.toChild < 0) return;
  worker.image = image;
  worker.next = first;
}

// Images go out in list order, some ahead of the run: enough to keep every
// worker busy while one of them is on a far larger image than the rest, not
// so many that a Stop throws much away.
void AheadPool::feedIdle() {
  const int limit = currentImage_ + 4 * int(workers_.size());
  for (Worker &worker : workers_)
    if (worker.image < 0 && worker.process.toChild >= 0 && nextImage_ < job_.images.size() &&
        nextImage_ <= limit)
      dispatch(worker, nextImage_++, 0);
}

bool AheadPool::anyAlive() const {
  return std::any_of(workers_.begin(), workers_.end(),
                     [](const Worker &w) { return w.process.pid > 0; });
}

void AheadPool::read(Worker &worker) {
  char chunk[1 << 16];
  const ssize_t got = ::read(worker.process.fromChild, chunk, sizeof chunk);
  if (got < 0 && errno == EINTR) return;
  if (got <= 0) {
    reap(worker);
    return;
  }
  worker.buffer.append(chunk, got);
  while (auto frame = TakeFrame(worker.buffer)) {
    qint32 image = -1, operation = 0;
    Result r;
    const bool ok = ReadAheadFrame(*frame, image, operation, r);
    if (!ok || image != worker.image ||
        (operation != kImageDone && operation != worker.next)) {
      // Garbled: the worker goes, and what it owed is done in the window.
      ::kill(worker.process.pid, SIGTERM);
      CloseFd(worker.process.toChild);
      return;
    }
    if (operation == kImageDone) {
      worker.image = -1;
      continue;
    }
    results_[size_t(image) * size_t(operations_) + size_t(operation)] = std::move(r);
    ++worker.next;
  }
}

// A worker that is gone: the pair it was on fails, as it would have if the
// window had been doing it and ImageMagick had broken down; its handed-over
// pairs stay good. The rest of its image goes to a fresh worker.
void AheadPool::reap(Worker &worker) {
  CloseFd(worker.process.fromChild);
  CloseFd(worker.process.toChild);
  int status = 0;
  while (::waitpid(worker.process.pid, &status, 0) < 0 && errno == EINTR) {
  }
  SweepLeftoversAt(outputHandle_, outputFolder_, worker.process.pid);
  SweepScratchLeftovers(worker.process.pid);
  worker.process.pid = -1;
  if (worker.image < 0 || !active_) return;
  const int image = worker.image;
  const size_t base = size_t(image) * size_t(operations_);
  worker.image = -1;
  if (worker.next < operations_) {
    Result lost;
    lost.failure = "The worker process ended while processing " + job_.images[image] + " (" +
                   ExitText(status) + ")";
    results_[base + size_t(worker.next)] = lost;
  }
  const int rest = worker.next + 1;
  if (rest >= operations_) return;
  // `worker` may move as a new one is added: nothing of it is used after this.
  spawn(true);
  Worker &fresh = workers_.back();
  if (fresh.process.pid > 0 && fresh.image < 0 && fresh.process.toChild >= 0) {
    dispatch(fresh, image, rest);
    if (fresh.image == image) return;
  }
  for (int k = rest; k < operations_; ++k)
    doneHere_[base + size_t(k)] = true;
}

void AheadPool::wait(int milliseconds) {
  std::vector<pollfd> fds;
  std::vector<size_t> owners;
  for (size_t w = 0; w < workers_.size(); ++w)
    if (workers_[w].process.fromChild >= 0) {
      fds.push_back({workers_[w].process.fromChild, POLLIN, 0});
      owners.push_back(w);
    }
  if (fds.empty()) return;
  const int ready = ::poll(fds.data(), fds.size(), milliseconds);
  if (ready <= 0) return;
  // Reading may spawn a worker and so move the others: by index, not by reference.
  for (size_t f = 0; f < fds.size(); ++f)
    if (fds[f].revents != 0) read(workers_[owners[f]]);
  workers_.erase(std::remove_if(workers_.begin(), workers_.end(),
                                [](const Worker &w) { return w.process.pid <= 0; }),
                 workers_.end());
}

std::optional<RunAhead::Result> AheadPool::take(size_t n, bool suppress, RunView &view) {
  if (!active_ || n >= results_.size()) return std::nullopt;
  currentImage_ = int(n / size_t(operations_));
  suppress_ = suppress;
  for (;;) {
    if (results_[n]) {
      std::optional<Result> r = std::move(results_[n]);
      results_[n].reset();
      feedIdle();
      return r;
    }
    if (doneHere_[n]) return std::nullopt;
    feedIdle();
    const bool handedOut = currentImage_ < nextImage_;
    const bool someoneOnIt = std::any_of(workers_.begin(), workers_.end(), [&](const Worker &w) {
      return w.process.pid > 0 && w.image == currentImage_;
    });
    if (!handedOut && !anyAlive()) return std::nullopt; // nobody left to do it
    if (handedOut && !someoneOnIt && !results_[n]) {
      // Its worker went without a word about this pair and nobody took over.
      wait(0);
      if (!results_[n]) return std::nullopt;
      continue;
    }
    wait(10);
    view.DoEvents();
  }
}

void AheadPool::end() {
  if (!active_) return;
  active_ = false;
  // Work ahead is not wanted any more: the workers end now, and what they
  // built but did not hand over goes with them.
  for (Worker &worker : workers_) {
    CloseFd(worker.process.toChild);
    if (worker.process.pid > 0) ::kill(worker.process.pid, SIGTERM);
  }
  for (Worker &worker : workers_)
    if (worker.process.pid > 0) reap(worker);
  workers_.clear();
  results_.clear();
  doneHere_.clear();
  ::sigaction(SIGPIPE, &oldPipe_, nullptr);
}

} // namespace varnholt
