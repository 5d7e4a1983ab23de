#include "cli/batch_run.h"

#include "cli/batch_internal.h"
#include "cli/process_pool.h"
#include "cli/progress.h"
#include "cli/worker_protocol.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "processing/apply_operation.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_stage.h"
#include "platform/paths.h"

#include <QDataStream>
#include <QRegularExpression>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace varnholt {

namespace batch {
std::atomic<bool> gInterrupted{false};
std::atomic<bool> gAtOnce{false};
} // namespace batch

using namespace batch;

QString BatchJob::imagePath(int image) const { return AddBackslash(inputFolder) + images[image]; }

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

// Questions that a window would ask are answered as a careful user would
// without a window: "No" to suppressing the out-of-image messages (so every
// such pair is skipped and reported), OK to the rest. The question is kept
// for the report.
class BatchPrompter : public Prompter {
public:
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon) override {
    lastTitle = title;
    lastText = text;
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
  }
  void clear() {
    lastTitle.clear();
    lastText.clear();
  }
  QString lastTitle, lastText;
};

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

// One worker's ImageMagick and its window-less answers.
struct Worker {
  std::unique_ptr<MagickToolkit> toolkit;
  QString toolkitFailure;
  BatchPrompter prompter;
  std::unique_ptr<RunFiles> files; // this worker's own handles on the output folder
};

// All operations on one image, in list order. Each pair's result is also
// handed on as soon as it is known: a worker tells its parent at once, so a
// pair written before the worker died is counted as written.
using PairDone = std::function<void(int operation, const ImageResult &pair)>;
ImageResult ProcessImage(const BatchJob &job, int image, Worker &worker, RunControl &control,
                         const PairDone &pairDone = {}) {
  ImageResult result;
  const QString path = job.imagePath(image);
  RunState state;
  if (!worker.files) {
    worker.files = std::make_unique<RunFiles>();
    worker.files->claims = job.claims;
  }
  for (int k = 0; k < int(job.operations.size()); ++k) {
    const ImageResult before = result;
    const auto done = [&] {
      if (!pairDone) return;
      ImageResult pair;
      pair.written = result.written - before.written;
      pair.skipped = result.skipped - before.skipped;
      pair.failed = result.failed - before.failed;
      pair.lines = result.lines.mid(before.lines.size());
      pairDone(k, pair);
    };
    const BatchOperation &bo = job.operations[size_t(k)];
    const QString pair =
        QStringLiteral("%1, operation at position %2").arg(job.images[image]).arg(bo.position);
    if (control.stopping()) {
      ++result.skipped;
      done();
      continue;
    }
    if (const QString &why = job.whyNotRun(image, k); !why.isEmpty()) {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": not run, " + why + "\n";
      done();
      continue;
    }
    if (!worker.toolkit) {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": " + worker.toolkitFailure + "\n";
      done();
      continue;
    }
    worker.prompter.clear();
    ApplyOutcome outcome = ApplyOutcome::Failed;
    QStringList notes;
    ApplyEnvironment env{job.settings,       job.inputFolder,
                         *worker.toolkit,    worker.prompter,
                         worker.files.get(), QStringLiteral("%1.%2").arg(image).arg(k)};
    env.notes = &notes;
    MagickToolkit::takeWarnings(); // what an earlier pair left
    const QString failure = ApplyOperation(path, bo.op, env, state, &outcome);
    const QStringList warnings = MagickToolkit::takeWarnings();
    if (outcome == ApplyOutcome::Written) {
      ++result.written;
      // A damaged image can still be written, in part grey: say so.
      if (!warnings.isEmpty())
        result.lines << "varnholt: warning: " + pair +
                            ": written, but ImageMagick warned: " + WarningText(warnings) + "\n";
      for (const QString &note : std::as_const(notes))
        result.lines << "varnholt: warning: " + pair + ": written; " + note + "\n";
    } else if (outcome == ApplyOutcome::Skipped) {
      ++result.skipped;
      if (worker.prompter.lastTitle == QStringLiteral("Image too small"))
        result.lines << "varnholt: warning: " + pair +
                            ": skipped, the rectangle is outside the image: " +
                            OutOfImageReasons(worker.prompter.lastText) + "\n";
      else
        result.lines << "varnholt: warning: " + pair +
                            ": skipped: " + OneLine(worker.prompter.lastText) + "\n";
    } else {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": " + OneLine(failure) + "\n";
    }
    // The output folder went away during the run.
    if (state.StopProcess && !control.stop.exchange(true)) {
      std::lock_guard lock(control.mutex);
      control.stopReason = OneLine(worker.prompter.lastText);
    }
    done();
  }
  // The next image is another file; its pictures would only crowd
  // ImageMagick's memory.
  if (worker.toolkit) worker.toolkit->releaseDecoded();
  return result;
}

Worker MakeWorker() {
  Worker worker;
  try {
    worker.toolkit = std::make_unique<MagickToolkit>();
    worker.toolkit->setReuseDecoded(true);
  } catch (const Failure &failure) {
    worker.toolkitFailure = failure.text();
  }
  return worker;
}

// Workers on threads of this process, each taking whole images, one after
// another, with its own ImageMagick.
BatchTotals RunOnThreads(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control) {
  const int imageCount = int(job.images.size());
  std::condition_variable changed;
  std::atomic<int> nextImage{0};
  int active = jobs; // under the mutex

  const auto work = [&] {
    Worker worker = MakeWorker();
    while (!control.stopping()) {
      const int i = nextImage++;
      if (i >= imageCount) break;
      ImageResult result = ProcessImage(job, i, worker, control);
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
        const BatchTotals totals = reporter.finish(control);
        const auto held = StopMovingPairs();
        SweepLeftovers(job.settings.OutputInDiffDir ? job.settings.OutputDir : job.inputFolder,
                       ::getpid());
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

} // namespace

namespace {
std::mutex gWorkerMutex;
QString gWorkerOutput; // under the mutex: where this worker writes, once known

// SIGTERM arrives here, on a thread of its own, never in the middle of a
// library call. With the parent alive, the worker just ends: the parent
// reaps it and deals with what it left, and counts what it finished. With the
// parent gone nobody will, so the worker sweeps its own leftovers first.
void WatchForTerm(pid_t parent) {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  int signal = 0;
  while (::sigwait(&term, &signal) != 0) {
  }
  const auto held = StopMovingPairs();
  if (::getppid() != parent) {
    std::lock_guard lock(gWorkerMutex);
    if (!gWorkerOutput.isEmpty()) SweepLeftovers(gWorkerOutput, ::getpid());
    SweepScratchLeftovers(::getpid());
  }
  ::_exit(128 + SIGTERM);
}
} // namespace

void PrepareBatchWorker() {
  // SIGINT came held back through the spawn: ignoring it now drops any that
  // is waiting. SIGTERM stays held in every thread for the watcher.
  std::signal(SIGINT, SIG_IGN);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  const QByteArray parent = qgetenv(kParentVariable);
  // The parent may have died before the line above; then nobody wants us.
  if (!parent.isEmpty() && parent.toLongLong() != ::getppid()) ::_exit(kBatchSomeNotWritten);
  std::thread(WatchForTerm, pid_t(parent.toLongLong())).detach();
}

namespace {
// Ahead of a window's run questions are not answered here: a pair that
// would ask goes back to the window, which asks when its turn comes.
class NoticingPrompter : public Prompter {
public:
  Answer ask(const QString &, const QString &, Buttons buttons, Icon) override {
    asked = true;
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
  }
  bool asked = false;
};

// Works on images from the window's run, a pair at a time, and hands each
// written pair to the window's hidden folder; the window puts it in place.
int RunAheadWorker(const BatchJob &job, int answers) {
  Worker worker = MakeWorker();
  worker.files = std::make_unique<RunFiles>();
  worker.files->claims = job.claims;
  const QString output =
      PlanFolder(job.settings.OutputInDiffDir ? job.settings.OutputDir : job.inputFolder);
  // The window's own handle on the output folder: whatever happens to its
  // path meanwhile, the pairs are built where the window puts them.
  struct stat folder {};
  if (::fstat(kInheritedFolder, &folder) == 0 && S_ISDIR(folder.st_mode)) {
    const int handle = ::fcntl(kInheritedFolder, F_DUPFD_CLOEXEC, 0);
    ::close(kInheritedFolder);
    if (handle >= 0) worker.files->useHandle(output, handle);
  }
  int place = -1; // the window's hidden folder, opened at the first hand-over
  const auto handOver = [&](PairStage &stage, const QByteArray &name) {
    if (place < 0) place = worker.files->folder(output).openHiddenFolder(job.handOverPlace);
    stage.handOver(place, name);
  };
  try {
    while (const std::optional<QByteArray> frame = ReadFrame(0)) {
      qint32 image = -1, first = 0;
      bool suppress = false;
      QDataStream(*frame) >> image >> first >> suppress;
      if (image < 0 || image >= job.images.size() || first < 0) break;
      RunState state;
      state.SuppressMessages = suppress;
      for (int k = first; k < int(job.operations.size()); ++k) {
        RunAhead::Result r;
        if (!worker.toolkit) {
          r.doHere = true;
        } else {
          NoticingPrompter prompter;
          const QByteArray name = "a" + QByteArray::number(image) + '.' + QByteArray::number(k);
          ApplyEnvironment env{job.settings, job.inputFolder, *worker.toolkit, prompter,
                               worker.files.get()};
          env.handOver = [&](PairStage &stage, const QStringList &names) {
            handOver(stage, name);
            r.handedAs = name;
            r.names = names;
          };
          r.failure = ApplyOperation(job.imagePath(image), job.operations[size_t(k)].op, env,
                                     state, &r.outcome);
          r.doHere = prompter.asked;
          MagickToolkit::takeWarnings(); // the window does not show them
        }
        WriteFrame(answers, AheadFrame(image, k, r));
      }
      WriteFrame(answers, AheadFrame(image, kImageDone, {}));
      if (worker.toolkit) worker.toolkit->releaseDecoded();
    }
  } catch (const Failure &) {
    return kBatchSomeNotWritten; // the window is gone
  }
  return kBatchAllWritten;
}
} // namespace

int RunBatchWorker() {
  // Answers go to the parent on what was stdout; anything a library prints
  // goes to stderr instead of into the answers.
  const int answers = ::dup(1);
  if (answers < 0 || ::dup2(2, 1) < 0) return kBatchRefused;
  const std::optional<QByteArray> jobFrame = ReadFrame(0);
  if (!jobFrame) return kBatchRefused;
  const std::optional<BatchJob> job = JobFromFrame(*jobFrame);
  if (!job) return kBatchRefused;
  {
    std::lock_guard lock(gWorkerMutex);
    gWorkerOutput = job->settings.OutputInDiffDir ? job->settings.OutputDir : job->inputFolder;
  }
  if (!job->handOverPlace.isEmpty()) return RunAheadWorker(*job, answers);
  Worker worker = MakeWorker();
  RunControl control;
  try {
    while (const std::optional<QByteArray> frame = ReadFrame(0)) {
      qint32 image = -1;
      QDataStream(*frame) >> image;
      if (image < 0 || image >= job->images.size()) break;
      ProcessImage(*job, image, worker, control, [&](int k, const ImageResult &pair) {
        WriteFrame(answers, PairFrame(image, k, pair, control));
      });
      WriteFrame(answers, PairFrame(image, kImageDone, ImageResult(), control));
    }
  } catch (const Failure &) {
    return kBatchSomeNotWritten; // the parent is gone
  }
  return kBatchAllWritten;
}

BatchTotals RunBatchJob(const BatchJob &job, int jobs, const BatchConsole &console,
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
