// The worker processes of the batch mode and of the window's run.
#include "workers/worker_main.h"

#include "platform/failure.h"
#include "platform/paths.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/pair_runner.h"
#include "processing/pair_stage.h"
#include "workers/worker_pool.h"

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace varnholt {

using namespace workers;

namespace {
std::mutex gWorkerMutex;
QString gWorkerOutput;         // under the mutex: where this worker writes, once known
QStringList gWorkerSubfolders; // and the subfolders of it

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
    if (!gWorkerOutput.isEmpty()) {
      SweepLeftovers(gWorkerOutput, ::getpid());
      SweepSubfolderLeftovers(-1, gWorkerOutput, gWorkerSubfolders, ::getpid());
    }
    SweepScratchLeftovers(::getpid());
  }
  ::_exit(128 + SIGTERM);
}
} // namespace

void PrepareWorker() {
  // SIGINT came held back through the spawn: ignoring it now drops any that
  // is waiting. SIGTERM stays held in every thread for the watcher.
  std::signal(SIGINT, SIG_IGN);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  const QByteArray parent = qgetenv(kParentVariable);
  // The parent may have died before the line above; then nobody wants us.
  if (!parent.isEmpty() && parent.toLongLong() != ::getppid()) ::_exit(kWorkerCutShort);
  std::thread(WatchForTerm, pid_t(parent.toLongLong())).detach();
}

namespace {
// The parent's own handle on the output folder: whatever happens to its path
// meanwhile, the pairs are built where the parent puts them.
void UseInheritedFolder(RunFiles &files, const QString &output) {
  struct stat folder {};
  if (::fstat(kInheritedFolder, &folder) != 0 || !S_ISDIR(folder.st_mode)) return;
  const int handle = ::fcntl(kInheritedFolder, F_DUPFD_CLOEXEC, 0);
  ::close(kInheritedFolder);
  if (handle >= 0) files.useHandle(output, handle);
}

int WorkOn(const PlanMessage &job, int answers) {
  const RunPlan &plan = job.plan;
  const bool ahead = !job.handOverPlace.isEmpty();
  std::optional<Failure> toolkitFailure;
  std::unique_ptr<MagickToolkit> toolkit;
  try {
    toolkit = std::make_unique<MagickToolkit>();
    toolkit->setReuseDecoded(true);
  } catch (const Failure &failure) {
    toolkitFailure = failure;
  }
  RunFiles files;
  files.claims = plan.claims;
  const QString output = PlanFolder(plan.outputFolder());
  UseInheritedFolder(files, output);
  PairRunner runner(plan, toolkit.get(), files, toolkitFailure);
  bool stopped = false; // a pair found the output folder gone
  int place = -1;       // the window's hidden folder, opened at the first hand-over
  while (const std::optional<QByteArray> frame = ReadFrame(0)) {
    const std::optional<WorkMessage> work = DecodeWork(*frame);
    if (!work || work->image >= plan.images.size()) break;
    ImageRun run;
    run.image = work->image;
    run.first = work->first;
    run.suppress = work->suppress;
    // Ahead of a window questions are not answered here: a pair that would
    // ask goes back to the window, which asks when its turn comes.
    run.questions = ahead ? Questions::HandBack : Questions::Skip;
    run.stopping = [&] { return stopped; };
    if (ahead)
      run.handOver = [&](PairStage &stage, int k) {
        if (place < 0) place = files.folder(output).openHiddenFolder(job.handOverPlace);
        const QByteArray name = "a" + QByteArray::number(work->image) + '.' + QByteArray::number(k);
        stage.handOver(place, name);
        return name;
      };
    // Each answer goes at once: a pair written before the worker died is
    // counted as written.
    run.done = [&](int k, const PairResult &r) {
      stopped = stopped || r.stopsRun;
      WriteFrame(answers, EncodeAnswer({work->image, k, r}));
    };
    RunImage(runner, run);
    WriteFrame(answers, EncodeAnswer({work->image, kImageDone, {}}));
  }
  return kWorkerDone;
}
} // namespace

int RunWorker() {
  // Answers go to the parent on what was stdout; anything a library prints
  // goes to stderr instead of into the answers.
  const int answers = ::dup(1);
  if (answers < 0 || ::dup2(2, 1) < 0) return kWorkerRefused;
  const std::optional<QByteArray> planFrame = ReadFrame(0);
  if (!planFrame) return kWorkerRefused;
  const std::optional<PlanMessage> job = DecodePlan(*planFrame);
  if (!job) return kWorkerRefused;
  {
    std::lock_guard lock(gWorkerMutex);
    gWorkerOutput = job->plan.outputFolder();
    gWorkerSubfolders = ImageSubfolders(job->plan.images);
  }
  try {
    return WorkOn(*job, answers);
  } catch (const Failure &) {
    return kWorkerCutShort; // the parent is gone
  }
}

} // namespace varnholt
