#include "cli/batch_run.h"

#include "platform/failure.h"
#include "platform/prompter.h"
#include "processing/apply_operation.h"
#include "processing/magick_toolkit.h"
#include "processing/pair_stage.h"
#include "processing/magick_policy.h"
#include "settings/paths.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnholt {

QString BatchJob::imagePath(int image) const { return AddBackslash(inputFolder) + images[image]; }

void Print(std::FILE *stream, const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<bool> gAtOnce{false};

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

// What one image's pairs came to, printed in image order.
struct ImageResult {
  bool done = false;
  int written = 0, skipped = 0, failed = 0;
  QStringList lines; // for stderr, each ending in a line break
};

QString ClockText(double seconds) {
  if (seconds < 0 || seconds > 1e7) return QStringLiteral("--:--");
  const qint64 s = qRound64(seconds);
  if (s >= 3600)
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QChar(u'0'))
        .arg(s % 60, 2, 10, QChar(u'0'));
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
}

class ProgressBar {
public:
  ProgressBar(std::FILE *stream, bool shown, int total)
      : stream_(stream), shown_(shown), total_(total) {
    clock_.start();
  }
  void draw(int done) {
    if (!shown_) return;
    const double elapsed = clock_.elapsed() / 1000.0;
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const int width = 28;
    const int filled = total_ > 0 ? int(qint64(width) * done / total_) : width;
    const QString bar = QString(filled, u'#') + QString(width - filled, u'.');
    const QString left = done > 0 ? ClockText((total_ - done) / rate) : QStringLiteral("--:--");
    Print(stream_, QStringLiteral("\r[%1] %2/%3 images  %4 images/s  %5 left\033[K")
                       .arg(bar)
                       .arg(done)
                       .arg(total_)
                       .arg(rate, 0, 'f', rate < 10 ? 2 : 1)
                       .arg(left));
    drawn_ = true;
  }
  // Lines printed while the bar shows go above it.
  void clear() {
    if (drawn_) Print(stream_, QStringLiteral("\r\033[K"));
    drawn_ = false;
  }

private:
  std::FILE *stream_;
  bool shown_;
  int total_;
  bool drawn_ = false;
  QElapsedTimer clock_;
};

// One worker's ImageMagick and its window-less answers.
struct Worker {
  std::unique_ptr<MagickToolkit> toolkit;
  QString toolkitFailure;
  BatchPrompter prompter;
  std::unique_ptr<RunFiles> files; // this worker's own handles on the output folder
};

// Shared by the workers and the thread that reports.
struct RunControl {
  std::atomic<bool> stop{false};
  std::mutex mutex;
  QString stopReason; // under the mutex

  bool stopping() const { return stop || gInterrupted; }
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
    const ApplyEnvironment env{job.settings,       job.inputFolder,
                               *worker.toolkit,    worker.prompter,
                               worker.files.get(), QStringLiteral("%1.%2").arg(image).arg(k)};
    MagickToolkit::takeWarnings(); // what an earlier pair left
    const QString failure = ApplyOperation(path, bo.op, env, state, &outcome);
    const QStringList warnings = MagickToolkit::takeWarnings();
    if (outcome == ApplyOutcome::Written) {
      ++result.written;
      // A damaged image can still be written, in part grey: say so.
      if (!warnings.isEmpty())
        result.lines << "varnholt: warning: " + pair +
                            ": written, but ImageMagick warned: " + WarningText(warnings) + "\n";
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

// Results arrive in any order; they are printed in image order, above the
// progress bar.
class Reporter {
public:
  Reporter(const BatchJob &job, const BatchConsole &console, bool showProgress)
      : results_(static_cast<size_t>(job.images.size())), console_(console),
        bar_(console.err, showProgress, int(job.images.size())),
        operationCount_(int(job.operations.size())) {
    totals_.skipped = job.unreadableImages * operationCount_;
    bar_.draw(0);
  }

  void add(int image, ImageResult result) {
    result.done = true;
    results_[size_t(image)] = std::move(result);
    ++finished_;
  }

  void flush() {
    QStringList lines;
    while (reported_ < results_.size() && results_[reported_].done) {
      const ImageResult &r = results_[reported_++];
      totals_.written += r.written;
      totals_.skipped += r.skipped;
      totals_.failed += r.failed;
      lines << r.lines;
    }
    if (!lines.isEmpty()) {
      bar_.clear();
      for (const QString &line : lines)
        Print(console_.err, line);
    }
    bar_.draw(finished_);
  }

  void printTotals(const BatchTotals &t) const {
    Print(console_.out, QStringLiteral("%1 written, %2 skipped, %3 failed\n")
                            .arg(t.written)
                            .arg(t.skipped)
                            .arg(t.failed));
  }

  // Images a stopped run never started count as skipped.
  BatchTotals finish(const RunControl &control) {
    flush();
    bar_.clear();
    int notStarted = 0;
    for (const ImageResult &r : results_)
      notStarted += r.done ? 0 : 1;
    totals_.skipped += notStarted * operationCount_;
    if (control.stopping())
      Print(console_.err, "varnholt: stopped (" +
                              (gInterrupted ? QStringLiteral("interrupted") : control.stopReason) +
                              "); " + QString::number(notStarted) + " images not processed\n");
    return totals_;
  }

private:
  std::vector<ImageResult> results_;
  const BatchConsole &console_;
  ProgressBar bar_;
  int operationCount_;
  size_t reported_ = 0;
  int finished_ = 0;
  BatchTotals totals_;
};

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

// Worker processes: this executable again, with "--batch-worker". The job is
// sent once, then image numbers one at a time; each answer is one image's
// result. Frames are a 32-bit length and a QDataStream payload.
void WriteFrame(int fd, const QByteArray &payload) {
  QByteArray frame;
  QDataStream(&frame, QIODevice::WriteOnly) << quint32(payload.size());
  frame += payload;
  for (qsizetype done = 0; done < frame.size();) {
    const ssize_t put = ::write(fd, frame.constData() + done, size_t(frame.size() - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw Failure::fromErrno(errno, QStringLiteral("worker pipe"));
    }
    done += put;
  }
}

// A complete frame from the front of buffer, if there is one.
std::optional<QByteArray> TakeFrame(QByteArray &buffer) {
  if (buffer.size() < 4) return std::nullopt;
  quint32 length = 0;
  QDataStream(buffer.left(4)) >> length;
  if (quint64(buffer.size()) < 4 + quint64(length)) return std::nullopt;
  QByteArray payload = buffer.mid(4, length);
  buffer.remove(0, 4 + qsizetype(length));
  return payload;
}

std::optional<QByteArray> ReadFrame(int fd) {
  QByteArray buffer;
  char chunk[1 << 16];
  for (;;) {
    if (auto frame = TakeFrame(buffer)) {
      if (!buffer.isEmpty()) return std::nullopt; // the parent sends one frame at a time
      return frame;
    }
    const size_t want = buffer.size() < 4 ? size_t(4 - buffer.size()) : [&] {
      quint32 length = 0;
      QDataStream(buffer.left(4)) >> length;
      return std::min(sizeof chunk, size_t(4 + quint64(length) - quint64(buffer.size())));
    }();
    const ssize_t got = ::read(fd, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    buffer.append(chunk, got);
  }
}

QByteArray JobFrame(const BatchJob &job) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << job.inputFolder << job.images << qint32(job.operations.size());
  for (const BatchOperation &bo : job.operations)
    out << qint32(bo.position) << bo.text;
  out << job.settings.OutputInDiffDir << job.settings.OutputDir << job.settings.Antialias
      << job.settings.AllowOutOfBoundry << QStringList(job.notRun.begin(), job.notRun.end())
      << job.claims;
  return payload;
}

std::optional<BatchJob> JobFromFrame(const QByteArray &payload) {
  QDataStream in(payload);
  BatchJob job;
  qint32 count = 0;
  in >> job.inputFolder >> job.images >> count;
  for (qint32 k = 0; k < count && in.status() == QDataStream::Ok; ++k) {
    BatchOperation bo;
    qint32 position = 0;
    in >> position >> bo.text;
    bo.position = position;
    QString ignored; // the parent read the same text
    bo.op = ParseOperation(bo.text, ignored);
    job.operations.push_back(bo);
  }
  QStringList notRun;
  in >> job.settings.OutputInDiffDir >> job.settings.OutputDir >> job.settings.Antialias >>
      job.settings.AllowOutOfBoundry >> notRun >> job.claims;
  if (in.status() != QDataStream::Ok ||
      notRun.size() != job.images.size() * qsizetype(job.operations.size()))
    return std::nullopt;
  job.notRun.assign(notRun.begin(), notRun.end());
  return job;
}

// A worker's answers: one per pair as it is done, then one when the image is.
QByteArray PairFrame(qint32 image, qint32 operation, const ImageResult &r,
                     const RunControl &control) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << image << operation << qint32(r.written) << qint32(r.skipped) << qint32(r.failed) << r.lines
      << bool(control.stop) << control.stopReason;
  return payload;
}
constexpr qint32 kImageDone = -1; // in place of the operation

struct ChildProcess {
  pid_t pid = -1;
  int toChild = -1, fromChild = -1;
  QByteArray buffer;
  int image = -1;      // being processed, or -1
  ImageResult partial; // its pairs answered so far
  int pairsAnswered = 0;
};

// The environment variable that tells a worker its parent's process id.
constexpr const char *kParentVariable = "VARNHOLT_BATCH_PARENT";

void CloseFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

ChildProcess SpawnWorker(const QString &executable) {
  int down[2], up[2];
  if (::pipe2(down, O_CLOEXEC) != 0) throw Failure::fromErrno(errno, QStringLiteral("pipe"));
  if (::pipe2(up, O_CLOEXEC) != 0) {
    const int err = errno;
    ::close(down[0]);
    ::close(down[1]);
    throw Failure::fromErrno(err, QStringLiteral("pipe"));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, down[0], 0);
  posix_spawn_file_actions_adddup2(&actions, up[1], 1);
  const QByteArray path = QFile::encodeName(executable);
  char arg0[] = "varnholt", arg1[] = "--batch-worker";
  char *argv[] = {arg0, arg1, nullptr};
  // Ctrl-C goes to the whole process group, and the parent alone decides what
  // it means: the worker starts with it (and SIGTERM, until it is ready for
  // it) held back from its first instruction on.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t held, defaults;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &held);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<QByteArray> variables;
  for (char **e = environ; *e; ++e)
    if (std::strncmp(*e, kParentVariable, std::strlen(kParentVariable)) != 0)
      variables.emplace_back(*e);
  variables.push_back(QByteArray(kParentVariable) + '=' + QByteArray::number(::getpid()));
  std::vector<char *> envp;
  for (QByteArray &v : variables)
    envp.push_back(v.data());
  envp.push_back(nullptr);
  ChildProcess child;
  const int err =
      ::posix_spawn(&child.pid, path.constData(), &actions, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(down[0]);
  ::close(up[1]);
  if (err != 0) {
    ::close(down[1]);
    ::close(up[0]);
    throw Failure::fromErrno(err, executable);
  }
  child.toChild = down[1];
  child.fromChild = up[0];
  return child;
}

QString ExitText(int status) {
  if (WIFSIGNALED(status)) return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
  return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
}

BatchTotals RunInProcesses(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control) {
  const int imageCount = int(job.images.size());
  const QByteArray jobFrame = JobFrame(job);
  const QString executable = QCoreApplication::applicationFilePath();
  // A worker that died is noticed by its pipe, not by SIGPIPE.
  struct PipeSignalIgnored {
    struct sigaction old {};
    PipeSignalIgnored() {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      ::sigaction(SIGPIPE, &ignore, &old);
    }
    ~PipeSignalIgnored() { ::sigaction(SIGPIPE, &old, nullptr); }
  } pipeSignalIgnored;
  std::vector<ChildProcess> children;
  int nextImage = 0;
  bool terminated = false;

  const auto failImage = [&](int image, const QString &why) {
    ImageResult r;
    r.failed = int(job.operations.size());
    r.lines << "varnholt: error: " + job.images[image] + ": " + why + "\n";
    reporter.add(image, std::move(r));
  };
  const QString outputFolder =
      job.settings.OutputInDiffDir ? job.settings.OutputDir : job.inputFolder;
  // Hands the child its next image, or lets it go.
  const auto dispatch = [&](ChildProcess &child) {
    child.image = -1;
    child.partial = ImageResult();
    child.pairsAnswered = 0;
    if (child.toChild < 0) return;
    try {
      if (control.stopping() || nextImage >= imageCount) {
        CloseFd(child.toChild);
        return;
      }
      QByteArray payload;
      QDataStream(&payload, QIODevice::WriteOnly) << qint32(nextImage);
      WriteFrame(child.toChild, payload);
      child.image = nextImage++;
    } catch (const Failure &) {
      CloseFd(child.toChild);
    }
  };

  ShareMagickLimitsAmong(jobs); // each worker's ImageMagick takes its part of the machine
  for (int j = 0; j < jobs; ++j) {
    try {
      children.push_back(SpawnWorker(executable));
      WriteFrame(children.back().toChild, jobFrame);
    } catch (const Failure &) {
      if (children.empty()) throw;
      break; // fewer workers than asked for
    }
  }
  for (ChildProcess &child : children)
    dispatch(child);

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<ChildProcess *> owners;
    for (ChildProcess &child : children)
      if (child.fromChild >= 0) {
        fds.push_back({child.fromChild, POLLIN, 0});
        owners.push_back(&child);
      }
    if (fds.empty()) break;
    if (gAtOnce && !terminated) {
      // The workers end now; what they leave is swept as each is reaped.
      terminated = true;
      for (const ChildProcess &child : children)
        if (child.pid > 0) ::kill(child.pid, SIGTERM);
    }
    const int ready = ::poll(fds.data(), fds.size(), 250);
    if (ready < 0 && errno != EINTR) throw Failure::fromErrno(errno, QStringLiteral("poll"));
    for (size_t f = 0; ready > 0 && f < fds.size(); ++f) {
      if (fds[f].revents == 0) continue;
      ChildProcess &child = *owners[f];
      char chunk[1 << 16];
      const ssize_t got = ::read(child.fromChild, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        child.buffer.append(chunk, got);
        while (auto frame = TakeFrame(child.buffer)) {
          QDataStream in(*frame);
          qint32 image = -1, operation = 0, written = 0, skipped = 0, failed = 0;
          QStringList lines;
          bool stop = false;
          QString stopReason;
          in >> image >> operation;
          if (operation != kImageDone)
            in >> written >> skipped >> failed >> lines >> stop >> stopReason;
          const bool expected = operation == kImageDone
                                    ? child.pairsAnswered == int(job.operations.size())
                                    : operation == child.pairsAnswered;
          if (in.status() != QDataStream::Ok || image != child.image || !expected) {
            if (child.image >= 0) failImage(child.image, "the worker process answered garbled");
            child.image = -1;
            CloseFd(child.toChild); // it leaves, and the others carry on
            break;
          }
          if (operation == kImageDone) {
            reporter.add(image, std::move(child.partial));
            dispatch(child);
            continue;
          }
          child.partial.written += written;
          child.partial.skipped += skipped;
          child.partial.failed += failed;
          child.partial.lines << lines;
          ++child.pairsAnswered;
          if (stop && !control.stop.exchange(true)) control.stopReason = stopReason;
        }
        continue;
      }
      // The worker is gone: after its last image, or in the middle of one.
      CloseFd(child.fromChild);
      CloseFd(child.toChild);
      int status = 0;
      while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
      }
      // What it left: pairs it completed go into place and count as written,
      // the rest goes, with its share of the temporary folder.
      const QStringList completed = SweepLeftovers(outputFolder, child.pid);
      SweepScratchLeftovers(child.pid);
      child.pid = -1;
      if (child.image >= 0) {
        ImageResult &r = child.partial;
        int lost = 0;
        for (int k = child.pairsAnswered; k < int(job.operations.size()); ++k) {
          if (completed.contains(QStringLiteral("%1.%2").arg(child.image).arg(k)))
            ++r.written;
          else
            ++lost;
        }
        // Stopped at once by the user: not written, and not a failure.
        (terminated ? r.skipped : r.failed) += lost;
        if (lost > 0 && !terminated)
          r.lines << "varnholt: error: " + job.images[child.image] +
                         ": the worker process ended while processing it (" + ExitText(status) +
                         ")\n";
        reporter.add(child.image, std::move(r));
      }
      child.image = -1;
      // Its share goes to the others; with none left, to a new one.
      const bool othersLeft = std::any_of(children.begin(), children.end(),
                                          [](const ChildProcess &c) { return c.toChild >= 0; });
      if (!othersLeft && !control.stopping() && nextImage < imageCount) {
        try {
          ChildProcess fresh = SpawnWorker(executable);
          WriteFrame(fresh.toChild, jobFrame);
          children.push_back(std::move(fresh));
          dispatch(children.back());
        } catch (const Failure &failure) {
          while (nextImage < imageCount)
            failImage(nextImage++, failure.text());
        }
        break; // children changed; poll again
      }
    }
    reporter.flush();
  }
  for (ChildProcess &child : children)
    if (child.pid > 0) {
      ::waitpid(child.pid, nullptr, 0);
      SweepLeftovers(outputFolder, child.pid);
      SweepScratchLeftovers(child.pid);
    }
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
