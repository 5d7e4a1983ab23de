#include "batch/batch_run.h"

#include "batch/batch_internal.h"
#include "batch/progress.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_runner.h"
#include "processing/pair_stage.h"
#include "workers/worker_pool.h"

#include <QRegularExpression>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace varnholt {

namespace batch {
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gAtOnce{false};
} // namespace batch

using namespace batch;
using namespace workers;

void Print(std::FILE *stream, const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

namespace {

extern "C" void OnInterrupt(int) {
  if (gInterrupted) gAtOnce = true;
  gInterrupted = true;
}

// Ctrl-C asks the run to stop after the pairs under way (whose files are
// then complete); a second one stops it at once: the pairs under way are not
// written, and nothing of them is left.
class InterruptGuard {
public:
  InterruptGuard() {
    gInterrupted = false;
    gAtOnce = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
  }

private:
  struct sigaction oldInt_ {
  }, oldTerm_{};
};

QString OneLine(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("; "));
  text.replace(u'\r', QStringLiteral("; "));
  text.replace(u'\n', QStringLiteral("; "));
  return text;
}

// ImageMagick's warnings without the file names and source places it adds:
// the line names the pair already.
QString WarningText(const QStringList &warnings) {
  static const QRegularExpression noise(QStringLiteral(" *`[^']*'| @ [a-z]+/\\S+"));
  QStringList texts;
  for (QString text : warnings) {
    text.remove(noise);
    text.replace(QStringLiteral(" ()"), QString());
    text = OneLine(text).trimmed();
    if (!texts.contains(text)) texts << text;
  }
  return texts.join(QStringLiteral("; "));
}

// The reasons out of the "Image too small" question: the lines between its
// first line and its question.
QString OutOfImageReasons(const QString &question) {
  QStringList lines = question.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  if (lines.size() >= 2) {
    lines.removeFirst();
    lines.removeLast();
  }
  return lines.join(QStringLiteral("; "));
}

// A pair's result as the batch mode counts and reports it.
void AddPair(ImageResult &result, const RunPlan &plan, int image, int operation,
             const PairResult &r) {
  const QString pair = QStringLiteral("%1, operation at position %2")
                           .arg(plan.images[image])
                           .arg(plan.operations[size_t(operation)].position);
  if (r.notStarted) {
    ++result.skipped;
  } else if (r.outcome == ApplyOutcome::Written) {
    ++result.written;
    // A damaged image can still be written, in part grey: say so.
    if (!r.warnings.isEmpty())
      result.lines << "varnholt: warning: " + pair +
                          ": written, but ImageMagick warned: " + WarningText(r.warnings) + "\n";
    for (const QString &note : r.notes)
      result.lines << "varnholt: warning: " + pair + ": written; " + note + "\n";
  } else if (r.outcome == ApplyOutcome::Skipped) {
    ++result.skipped;
    if (r.questionTitle == QStringLiteral("Image too small"))
      result.lines << "varnholt: warning: " + pair +
                          ": skipped, the rectangle is outside the image: " +
                          OutOfImageReasons(r.questionText) + "\n";
    else if (!r.notes.isEmpty())
      result.lines << "varnholt: warning: " + pair + ": skipped, " + r.notes.join("; ") + "\n";
    else
      result.lines << "varnholt: warning: " + pair + ": skipped: " + OneLine(r.questionText) + "\n";
  } else {
    ++result.failed;
    result.lines << "varnholt: error: " + pair + ": " +
                        OneLine(r.failure ? r.failure->text() : QString()) + "\n";
  }
}

// The output folder went away during the run: it cannot go on.
void NoteStop(RunControl &control, const PairResult &r) {
  if (!r.stopsRun || control.stop.exchange(true)) return;
  std::lock_guard lock(control.mutex);
  control.stopReason = OneLine(r.questionText);
}

// This process's own ImageMagick, set up for a run of many operations on
// each image; none, with the reason, when it cannot start.
std::unique_ptr<MagickToolkit> RunToolkit(std::optional<Failure> &failure) {
  try {
    auto toolkit = std::make_unique<MagickToolkit>();
    toolkit->setReuseDecoded(true);
    return toolkit;
  } catch (const Failure &f) {
    failure = f;
    return nullptr;
  }
}

// Workers on threads of this process, each taking whole images, one after
// another, with its own ImageMagick.
BatchTotals RunOnThreads(const BatchPlan &job, int jobs, Reporter &reporter, RunControl &control) {
  const int imageCount = int(job.images.size());
  std::condition_variable changed;
  std::atomic<int> nextImage{0};
  int active = jobs; // under the mutex

  const auto work = [&] {
    std::optional<Failure> failure;
    const std::unique_ptr<MagickToolkit> toolkit = RunToolkit(failure);
    RunFiles files; // this worker's own handles on the output folder
    files.claims = job.claims;
    PairRunner runner(job, toolkit.get(), files, failure);
    while (!control.stopping()) {
      const int i = nextImage++;
      if (i >= imageCount) break;
      ImageResult result;
      ImageRun run;
      run.image = i;
      run.stopping = [&] { return control.stopping(); };
      run.done = [&](int k, const PairResult &r) {
        AddPair(result, job, i, k, r);
        NoteStop(control, r);
      };
      RunImage(runner, run);
      std::lock_guard lock(control.mutex);
      reporter.add(i, std::move(result));
      changed.notify_all();
    }
    std::lock_guard lock(control.mutex);
    --active;
    changed.notify_all();
  };
  MagickToolkit::initialise();
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j)
    workers.emplace_back(work);
  {
    std::unique_lock lock(control.mutex);
    while (active > 0) {
      changed.wait_for(lock, std::chrono::milliseconds(250));
      reporter.flush();
      if (gAtOnce) {
        // The pair under way cannot be stopped from here, only left: its
        // files go, this process's scratch folder too, and the run ends.
        BatchTotals totals = reporter.finish(control);
        totals.stopped = true;
        const auto held = StopMovingPairs();
        SweepLeftovers(job.outputFolder(), ::getpid());
        SweepSubfolderLeftovers(-1, job.outputFolder(), ImageSubfolders(job.images), ::getpid());
        SweepScratchLeftovers(::getpid());
        reporter.printTotals(totals);
        ::_exit(kBatchSomeNotWritten);
      }
    }
  }
  for (std::thread &t : workers)
    t.join();
  return reporter.finish(control);
}

// The batch mode's side of the worker pool: answers are counted per image
// and reported in image order.
class BatchListener : public PoolListener {
public:
  BatchListener(const BatchPlan &job, Reporter &reporter, RunControl &control)
      : job_(job), reporter_(reporter), control_(control), partial_(size_t(job.images.size())) {}
  bool terminated = false; // stopped at once by the user

  void answered(int image, int operation, const PairResult &r) override {
    AddPair(partial_[size_t(image)], job_, image, operation, r);
    NoteStop(control_, r);
  }
  void imageDone(int image) override { reporter_.add(image, std::move(partial_[size_t(image)])); }
  // Pairs a worker completed before it went go into place and count as
  // written; the rest of its image is lost.
  int lost(int image, int next, const QString &how, const QStringList &completed) override {
    ImageResult &r = partial_[size_t(image)];
    int missing = 0;
    for (int k = next; k < int(job_.operations.size()); ++k) {
      if (completed.contains(QStringLiteral("%1.%2").arg(image).arg(k)))
        ++r.written;
      else
        ++missing;
    }
    // Stopped at once by the user: not written, and not a failure.
    (terminated ? r.skipped : r.failed) += missing;
    if (missing > 0 && !terminated)
      r.lines << "varnholt: error: " + job_.images[image] + ": the worker process " + how + "\n";
    imageDone(image);
    return -1;
  }
  void unassigned(int image, int first, const QString &why) override {
    ImageResult &r = partial_[size_t(image)];
    r.failed += int(job_.operations.size()) - first;
    r.lines << "varnholt: error: " + job_.images[image] + ": " + why + "\n";
    imageDone(image);
  }

private:
  const BatchPlan &job_;
  Reporter &reporter_;
  RunControl &control_;
  std::vector<ImageResult> partial_;
};

BatchTotals RunInProcesses(const BatchPlan &job, int jobs, Reporter &reporter,
                           RunControl &control) {
  BatchListener listener(job, reporter, control);
  WorkerPool::Setup setup;
  setup.executable = SelfExecutable();
  setup.outputFolder = PlanFolder(job.outputFolder());
  // The workers build their pairs, and the pool sweeps what a dead one left,
  // through this one handle on the output folder: a folder swapped for a
  // link during the run redirects neither.
  RunFiles files;
  try {
    setup.outputHandle = files.folder(setup.outputFolder).handle();
  } catch (const Failure &) {
    // No folder to open: each pair says so when it runs.
  }
  setup.subfolders = ImageSubfolders(job.images);
  setup.images = int(job.images.size());
  setup.operations = int(job.operations.size());
  // ImageMagick's policy is worked out here once and handed to every worker.
  try {
    MagickToolkit::initialise();
  } catch (const Failure &) {
    // Each worker finds the same and says so for its images.
  }
  WorkerPool pool(setup, listener);
  pool.start(jobs, EncodePlan({job, {}}));
  pool.handOut();
  while (pool.reading()) {
    if (gAtOnce && !listener.terminated) {
      // The workers end now; what they leave is swept as each is reaped.
      listener.terminated = true;
      pool.terminate();
    }
    if (control.stopping()) pool.stopHandingOut();
    pool.wait(250);
    reporter.flush();
  }
  pool.end();
  return reporter.finish(control);
}

} // namespace

BatchTotals RunBatchPlan(const BatchPlan &job, int jobs, const BatchConsole &console,
                         bool showProgress) {
  InterruptGuard interrupts;
  RunControl control;
  Reporter reporter(job, console, showProgress);
  // Worker processes rather than threads: ImageMagick in one process shares
  // its locks, its memory budget and the address space's page faults, and
  // two processes measured faster than two threads (see bench/batch).
  BatchTotals totals;
  try {
    totals = jobs > 1 ? RunInProcesses(job, jobs, reporter, control)
                      : RunOnThreads(job, jobs, reporter, control);
  } catch (const Failure &failure) {
    Print(console.err, "varnholt: cannot start worker processes (" + failure.text() +
                           "); working in this process\n");
    totals = RunOnThreads(job, jobs, reporter, control);
  }
  totals.stopped = control.stopping();
  return totals;
}

} // namespace varnholt
