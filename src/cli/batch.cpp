#include "cli/batch.h"

#include "operations/clash_check.h"
#include "operations/file_listing.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "processing/apply_operation.h"
#include "processing/magick_toolkit.h"
#include "settings/paths.h"
#include "settings/settings.h"
#include "version.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnholt {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted = true; }

// Ctrl-C asks the run to stop after the pairs under way (whose files are
// then complete); a second Ctrl-C ends the program at once.
class InterruptGuard {
public:
  InterruptGuard() {
    gInterrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~InterruptGuard() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
  }

private:
  struct sigaction oldInt_ {}, oldTerm_ {};
};

void Print(std::FILE *stream, const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
  std::fflush(stream);
}

QString OneLine(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("; "));
  text.replace(u'\r', QStringLiteral("; "));
  text.replace(u'\n', QStringLiteral("; "));
  return text;
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

struct BatchOperation {
  int position = 0; // 1-based in the list, unticked entries counted
  QString text;
  Operation op;
};

// What one image's pairs came to, printed in image order.
struct ImageResult {
  bool done = false;
  int written = 0, skipped = 0, failed = 0;
  QStringList lines; // for stderr, each ending in a line break
};

QString Absolute(const QString &folder) {
  return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

QString CanonicalFolder(const QString &folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return canonical.isEmpty() ? Absolute(folder) : canonical;
}

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

// Every file a pair writes: the result and the converted copy.
QStringList OutputsOf(const QString &folder, const QString &image, const Operation &op) {
  const QString target = folder + u'/' + TargetName(image, op);
  QStringList outputs{target};
  if (!op.OutputFormat.isEmpty() && op.OutputFormat != kDontChange) {
    const QString name = TargetName(image, op);
    const qsizetype dot = name.lastIndexOf(u'.');
    outputs << folder + u'/' + (dot < 0 ? name : name.left(dot)) + u'.' + op.OutputFormat;
  }
  return outputs;
}

} // namespace

QString BatchUsageText() {
  return QStringLiteral(
      "Usage: varnholt --batch LIST.vop [--input DIR] [--output DIR] [--pattern P] [--inverse]\n"
      "                [--antialias] [--allow-out-of-bounds] [--jobs N] [--quiet]\n"
      "       varnholt --batch --help\n");
}

QString BatchHelpText() {
  return BatchUsageText() + QStringLiteral(R"(
Runs the ticked operations of an operation list (a .vop file saved by
Varnholt) on every image of a folder, without a window; no display is needed.

  LIST.vop               the operation list; its ticked, readable operations run
                         in list order
  --input DIR            the image folder (default: the current folder). Images
                         are its files with an image extension after the first
                         dot (png bmp jpg jpeg gif tif tiff tga miff, any case),
                         hidden files excepted, in name order ignoring case
  --output DIR           write the results into DIR instead of beside the images
  --pattern P            only images whose name before the first dot matches P
                         (case-sensitive): ? any character, * any run, # a digit,
                         [abc] [a-f] one of, [!abc] none of
  --inverse              only images whose name does NOT match the pattern
  --antialias            resize with antialiasing
  --allow-out-of-bounds  a rectangle running past the right or bottom edge is cut
                         at the edge instead of skipping the image
  --jobs N               process N images at a time, in N worker processes
                         (default: one per core); the files written do not
                         depend on N
  --quiet                no progress bar
  --help                 this text

Each result is named prefix + image name + suffix + the image's extension; a
format change writes a converted copy beside it with the format's extension.
Source images are never written over: a pair that would replace a source image,
or a file another pair of the same run writes, fails instead.

It refuses to start, writing nothing, when the list cannot be read, a folder
does not exist, the pattern is malformed, two ticked operations have the same
prefix and suffix, or an operation has neither prefix nor suffix and no
--output is given.

A rectangle outside an image skips that pair with a warning; a failed pair
prints an error line and the run goes on. Ctrl-C stops after the pairs under
way. Progress goes to stderr when it is a terminal. The last line on stdout
counts image-operation pairs:
  N written, M skipped, K failed

Exit status: 0 every pair written; 1 a pair skipped or failed, or the run was
stopped; 2 wrong arguments or refused to start.

Example:
  varnholt --batch ~/lists/web.vop --input ~/Pictures/shoot --output ~/web --jobs 2
)");
}

bool WantsBatch(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--batch") == 0 || std::strncmp(argv[i], "--batch=", 8) == 0 ||
        std::strcmp(argv[i], "--batch-worker") == 0)
      return true;
  return false;
}

std::optional<BatchOptions> ParseBatchArguments(const QStringList &args, QString &problem) {
  BatchOptions options;
  bool haveList = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString name = args[i];
    std::optional<QString> inlineValue;
    if (name.startsWith(QStringLiteral("--")) && name.contains(u'=')) {
      inlineValue = name.mid(name.indexOf(u'=') + 1);
      name = name.left(name.indexOf(u'='));
    }
    const auto value = [&]() -> std::optional<QString> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) {
        problem = name == "--batch" ? QStringLiteral("--batch needs an operation list file")
                                    : name + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    const auto flag = [&](bool &field) {
      if (inlineValue) {
        problem = name + " takes no value";
        return false;
      }
      field = true;
      return true;
    };
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--batch") {
      // "--batch --help" asks for help, not for a list named --help.
      if (!inlineValue && i + 1 < args.size() && (args[i + 1] == "--help" || args[i + 1] == "-h"))
        continue;
      const auto v = value();
      if (!v) return std::nullopt;
      options.listFile = *v;
      haveList = true;
    } else if (name == "--input" || name == "--output" || name == "--pattern") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (name == "--pattern") {
        options.pattern = *v;
      } else if (v->isEmpty()) {
        problem = name + " needs a folder";
        return std::nullopt;
      } else {
        (name == "--input" ? options.inputDir : options.outputDir) = *v;
      }
    } else if (name == "--jobs" || name == "-j") {
      const auto v = value();
      if (!v) return std::nullopt;
      bool ok = false;
      const int jobs = v->toInt(&ok);
      if (!ok || jobs < 1 || jobs > 256) {
        problem = "--jobs needs a whole number from 1 to 256, not \"" + *v + "\"";
        return std::nullopt;
      }
      options.jobs = jobs;
    } else if (name == "--inverse") {
      if (!flag(options.inverse)) return std::nullopt;
    } else if (name == "--antialias") {
      if (!flag(options.antialias)) return std::nullopt;
    } else if (name == "--allow-out-of-bounds") {
      if (!flag(options.allowOutOfBounds)) return std::nullopt;
    } else if (name == "--quiet" || name == "-q") {
      if (!flag(options.quiet)) return std::nullopt;
    } else if (name.startsWith(u'-')) {
      problem = "unknown option " + name;
      return std::nullopt;
    } else {
      problem = "unexpected argument \"" + name + "\"";
      return std::nullopt;
    }
  }
  if (!options.help && (!haveList || options.listFile.isEmpty())) {
    problem = QStringLiteral("--batch needs an operation list file");
    return std::nullopt;
  }
  return options;
}

namespace {

// Why the run does not start; printed as it stands.
struct Refusal {
  QString text;
};

// Everything a run needs, worked out before anything is written.
struct BatchJob {
  QString inputFolder;
  QStringList images;
  std::vector<BatchOperation> operations;
  Settings settings;
  std::vector<QString> notRun; // per pair, image-major: why it may not run
  QStringList notes;           // warnings for before the run

  const QString &whyNotRun(int image, int operation) const {
    return notRun[size_t(image) * operations.size() + size_t(operation)];
  }
};

QList<OperationListItem> ReadList(const QString &listFile) {
  Settings ignored;
  QString error;
  const QStringList lines = LoadOperationsFile(listFile, ignored, error);
  if (!error.isEmpty())
    throw Refusal{"cannot read the operation list " + listFile + ": " + error};
  QList<OperationListItem> items;
  try {
    for (const QString &line : lines) items << SplitListLine(line);
  } catch (const Failure &failure) {
    throw Refusal{"cannot read the operation list " + listFile + ": " + failure.text()};
  }
  return items;
}

// Pairs that may not run because they would write over a source image or
// over what an earlier pair writes: whatever the order the pairs run in, the
// same files come out.
void PlanOutputs(BatchJob &job, const QString &outputFolder, const QString &inputFolder) {
  QSet<QString> sources;
  for (const QString &image : job.images) sources.insert(inputFolder + u'/' + image);
  std::map<QString, std::pair<int, int>> claimedBy; // path -> (image, operation)
  const int operationCount = int(job.operations.size());
  job.notRun.assign(size_t(job.images.size()) * size_t(operationCount), QString());
  for (int i = 0; i < int(job.images.size()); ++i)
    for (int k = 0; k < operationCount; ++k) {
      QString &why = job.notRun[size_t(i) * size_t(operationCount) + size_t(k)];
      for (const QString &output : OutputsOf(outputFolder, job.images[i], job.operations[k].op)) {
        if (sources.contains(output)) {
          why = "it would write over the source image " + QFileInfo(output).fileName();
        } else if (const auto [at, fresh] = claimedBy.try_emplace(output, i, k); !fresh) {
          why = QStringLiteral("%1 is already written for %2 by the operation at position %3")
                    .arg(output, job.images[at->second.first])
                    .arg(job.operations[size_t(at->second.second)].position);
        }
        if (!why.isEmpty()) break;
      }
    }
}

BatchJob PrepareBatch(const BatchOptions &options) {
  const QList<OperationListItem> items = ReadList(options.listFile);

  const QString inputDir = options.inputDir.isEmpty() ? QDir::currentPath() : options.inputDir;
  if (!DirectoryExists(inputDir)) throw Refusal{"the input folder " + inputDir + " does not exist"};
  if (!options.outputDir.isEmpty() && !DirectoryExists(options.outputDir))
    throw Refusal{"the output folder " + options.outputDir + " does not exist"};
  // An output folder that is the image folder itself protects nothing.
  const bool separateOutput = !options.outputDir.isEmpty() &&
                              CanonicalFolder(options.outputDir) != CanonicalFolder(inputDir);

  BatchJob job;
  job.inputFolder = Absolute(inputDir);
  try {
    job.images = ListImageFiles(job.inputFolder, options.pattern, options.inverse);
  } catch (const Failure &failure) {
    if (failure.number() == 93)
      throw Refusal{"the pattern \"" + options.pattern + "\" is malformed: " + failure.text()};
    throw Refusal{"cannot list the input folder " + inputDir + ": " + failure.text()};
  }

  // The same check, on the same entries, as a run started from the window.
  if (const QStringList clashes = ClashReportLines(items); !clashes.isEmpty()) {
    QString text = ClashMessageText(clashes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    throw Refusal{"refusing to start, the operations clash.\n" + text};
  }

  // Ticked operations in list order; texts that cannot be read are passed
  // over, as in a run from the window.
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (!items[i].ticked) continue;
    QString parseError;
    const Operation op = ParseOperation(items[i].text, parseError);
    if (!parseError.isEmpty()) {
      job.notes << QStringLiteral("varnholt: warning: the operation at position %1 cannot be "
                                  "read and is passed over: %2\n")
                       .arg(i + 1)
                       .arg(parseError);
      continue;
    }
    if (!separateOutput && op.Prefix.isEmpty() && op.Suffix.isEmpty())
      throw Refusal{QStringLiteral("the operation at position %1 has neither a prefix nor a "
                                   "suffix, so its results would replace the images; give "
                                   "--output DIR, or a prefix or suffix")
                        .arg(i + 1)};
    job.operations.push_back({int(i + 1), items[i].text, op});
  }

  job.settings.OutputInDiffDir = separateOutput;
  job.settings.OutputDir = separateOutput ? Absolute(options.outputDir) : QString();
  job.settings.Antialias = options.antialias;
  job.settings.AllowOutOfBoundry = options.allowOutOfBounds;
  PlanOutputs(job, CanonicalFolder(separateOutput ? options.outputDir : inputDir),
              CanonicalFolder(inputDir));
  return job;
}

// One worker's ImageMagick and its window-less answers.
struct Worker {
  std::unique_ptr<MagickToolkit> toolkit;
  QString toolkitFailure;
  BatchPrompter prompter;
};

// Shared by the workers and the thread that reports.
struct RunControl {
  std::atomic<bool> stop{false};
  std::mutex mutex;
  QString stopReason; // under the mutex

  bool stopping() const { return stop || gInterrupted; }
};

// All operations on one image, in list order.
ImageResult ProcessImage(const BatchJob &job, int image, Worker &worker, RunControl &control) {
  ImageResult result;
  const QString path = AddBackslash(job.inputFolder) + job.images[image];
  RunState state;
  for (int k = 0; k < int(job.operations.size()); ++k) {
    const BatchOperation &bo = job.operations[size_t(k)];
    const QString pair =
        QStringLiteral("%1, operation at position %2").arg(job.images[image]).arg(bo.position);
    if (control.stopping()) {
      ++result.skipped;
      continue;
    }
    if (const QString &why = job.whyNotRun(image, k); !why.isEmpty()) {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": not run, " + why + "\n";
      continue;
    }
    if (!worker.toolkit) {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": " + worker.toolkitFailure + "\n";
      continue;
    }
    worker.prompter.clear();
    ApplyOutcome outcome = ApplyOutcome::Failed;
    const ApplyEnvironment env{job.settings, job.inputFolder, *worker.toolkit, worker.prompter};
    const QString failure = ApplyOperation(path, bo.op, env, state, &outcome);
    if (outcome == ApplyOutcome::Written) {
      ++result.written;
    } else if (outcome == ApplyOutcome::Skipped) {
      ++result.skipped;
      if (worker.prompter.lastTitle == QStringLiteral("Image too small"))
        result.lines << "varnholt: warning: " + pair +
                            ": skipped, the rectangle is outside the image: " +
                            OutOfImageReasons(worker.prompter.lastText) + "\n";
      else
        result.lines << "varnholt: warning: " + pair + ": skipped: " +
                            OneLine(worker.prompter.lastText) + "\n";
    } else {
      ++result.failed;
      result.lines << "varnholt: error: " + pair + ": " + OneLine(failure) + "\n";
    }
    // The output folder went away during the run.
    if (state.StopProcess && !control.stop.exchange(true)) {
      std::lock_guard lock(control.mutex);
      control.stopReason = OneLine(worker.prompter.lastText);
    }
  }
  // The next image is another file; its pictures would only crowd
  // ImageMagick's memory.
  if (worker.toolkit) worker.toolkit->releaseDecoded();
  return result;
}

struct Totals {
  int written = 0, skipped = 0, failed = 0;
};

// Results arrive in any order; they are printed in image order, above the
// progress bar.
class Reporter {
public:
  Reporter(const BatchJob &job, const BatchConsole &console, bool showProgress)
      : results_(static_cast<size_t>(job.images.size())), console_(console),
        bar_(console.err, showProgress, int(job.images.size())),
        operationCount_(int(job.operations.size())) {
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
      for (const QString &line : lines) Print(console_.err, line);
    }
    bar_.draw(finished_);
  }

  // Images a stopped run never started count as skipped.
  Totals finish(const RunControl &control) {
    flush();
    bar_.clear();
    int notStarted = 0;
    for (const ImageResult &r : results_) notStarted += r.done ? 0 : 1;
    totals_.skipped += notStarted * operationCount_;
    if (control.stopping())
      Print(console_.err,
            "varnholt: stopped (" +
                (gInterrupted ? QStringLiteral("interrupted") : control.stopReason) + "); " +
                QString::number(notStarted) + " images not processed\n");
    return totals_;
  }

private:
  std::vector<ImageResult> results_;
  const BatchConsole &console_;
  ProgressBar bar_;
  int operationCount_;
  size_t reported_ = 0;
  int finished_ = 0;
  Totals totals_;
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
Totals RunOnThreads(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control) {
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
  for (int j = 0; j < jobs; ++j) workers.emplace_back(work);
  {
    std::unique_lock lock(control.mutex);
    while (active > 0) {
      changed.wait_for(lock, std::chrono::milliseconds(250));
      reporter.flush();
    }
  }
  for (std::thread &t : workers) t.join();
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
  for (const BatchOperation &bo : job.operations) out << qint32(bo.position) << bo.text;
  out << job.settings.OutputInDiffDir << job.settings.OutputDir << job.settings.Antialias
      << job.settings.AllowOutOfBoundry << QStringList(job.notRun.begin(), job.notRun.end());
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
      job.settings.AllowOutOfBoundry >> notRun;
  if (in.status() != QDataStream::Ok ||
      notRun.size() != job.images.size() * qsizetype(job.operations.size()))
    return std::nullopt;
  job.notRun.assign(notRun.begin(), notRun.end());
  return job;
}

QByteArray ResultFrame(qint32 image, const ImageResult &r, const RunControl &control) {
  QByteArray payload;
  QDataStream out(&payload, QIODevice::WriteOnly);
  out << image << qint32(r.written) << qint32(r.skipped) << qint32(r.failed) << r.lines
      << bool(control.stop) << control.stopReason;
  return payload;
}

struct ChildProcess {
  pid_t pid = -1;
  int toChild = -1, fromChild = -1;
  QByteArray buffer;
  int image = -1; // being processed, or -1
};

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
  ChildProcess child;
  const int err = ::posix_spawn(&child.pid, path.constData(), &actions, nullptr, argv, environ);
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

Totals RunInProcesses(const BatchJob &job, int jobs, Reporter &reporter, RunControl &control) {
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

  const auto failImage = [&](int image, const QString &why) {
    ImageResult r;
    r.failed = int(job.operations.size());
    r.lines << "varnholt: error: " + job.images[image] + ": " + why + "\n";
    reporter.add(image, std::move(r));
  };
  // Hands the child its next image, or lets it go.
  const auto dispatch = [&](ChildProcess &child) {
    child.image = -1;
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

  for (int j = 0; j < jobs; ++j) {
    try {
      children.push_back(SpawnWorker(executable));
      WriteFrame(children.back().toChild, jobFrame);
    } catch (const Failure &) {
      if (children.empty()) throw;
      break; // fewer workers than asked for
    }
  }
  for (ChildProcess &child : children) dispatch(child);

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<ChildProcess *> owners;
    for (ChildProcess &child : children)
      if (child.fromChild >= 0) {
        fds.push_back({child.fromChild, POLLIN, 0});
        owners.push_back(&child);
      }
    if (fds.empty()) break;
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
          qint32 image = -1, written = 0, skipped = 0, failed = 0;
          ImageResult r;
          bool stop = false;
          QString stopReason;
          in >> image >> written >> skipped >> failed >> r.lines >> stop >> stopReason;
          if (in.status() != QDataStream::Ok || image != child.image) {
            if (child.image >= 0) failImage(child.image, "the worker process answered garbled");
            child.image = -1;
            CloseFd(child.toChild); // it leaves, and the others carry on
            break;
          }
          r.written = written;
          r.skipped = skipped;
          r.failed = failed;
          reporter.add(image, std::move(r));
          if (stop && !control.stop.exchange(true)) control.stopReason = stopReason;
          dispatch(child);
        }
        continue;
      }
      // The worker is gone: after its last image, or in the middle of one.
      CloseFd(child.fromChild);
      CloseFd(child.toChild);
      int status = 0;
      while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
      }
      child.pid = -1;
      if (child.image >= 0)
        failImage(child.image, "the worker process ended while processing it (" +
                                   ExitText(status) + ")");
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
          while (nextImage < imageCount) failImage(nextImage++, failure.text());
        }
        break; // children changed; poll again
      }
    }
    reporter.flush();
  }
  for (ChildProcess &child : children)
    if (child.pid > 0) ::waitpid(child.pid, nullptr, 0);
  return reporter.finish(control);
}

int RunWorker() {
  // Ctrl-C reaches the whole process group; the parent decides, and closes
  // this worker's input when it is to stop.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, SIG_IGN);
  // Answers go to the parent on what was stdout; anything a library prints
  // goes to stderr instead of into the answers.
  const int answers = ::dup(1);
  if (answers < 0 || ::dup2(2, 1) < 0) return kBatchRefused;
  const std::optional<QByteArray> jobFrame = ReadFrame(0);
  if (!jobFrame) return kBatchRefused;
  const std::optional<BatchJob> job = JobFromFrame(*jobFrame);
  if (!job) return kBatchRefused;
  Worker worker = MakeWorker();
  RunControl control;
  try {
    while (const std::optional<QByteArray> frame = ReadFrame(0)) {
      qint32 image = -1;
      QDataStream(*frame) >> image;
      if (image < 0 || image >= job->images.size()) break;
      const ImageResult result = ProcessImage(*job, image, worker, control);
      WriteFrame(answers, ResultFrame(image, result, control));
    }
  } catch (const Failure &) {
    return kBatchSomeNotWritten; // the parent is gone
  }
  return kBatchAllWritten;
}

} // namespace

int RunBatch(const BatchOptions &options, const BatchConsole &console) {
  BatchJob job;
  try {
    job = PrepareBatch(options);
  } catch (const Refusal &refusal) {
    Print(console.err, "varnholt: " + refusal.text + "\n");
    return kBatchRefused;
  }
  for (const QString &note : job.notes) Print(console.err, note);

  const int imageCount = int(job.images.size());
  if (imageCount == 0 || job.operations.empty()) {
    Print(console.err, imageCount == 0
                           ? "varnholt: nothing to do: no images in " +
                                 (options.inputDir.isEmpty() ? QDir::currentPath() : options.inputDir) + "\n"
                           : QStringLiteral("varnholt: nothing to do: no ticked operations in the list\n"));
    Print(console.out, QStringLiteral("0 written, 0 skipped, 0 failed\n"));
    return kBatchAllWritten;
  }

  const int jobs = std::clamp(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(), 1,
                              imageCount);
  InterruptGuard interrupts;
  RunControl control;
  Reporter reporter(job, console, console.errIsTerminal && !options.quiet);
  // Worker processes rather than threads: ImageMagick in one process shares
  // its locks, its memory budget and the address space's page faults, and
  // two processes measured faster than two threads (see bench/batch).
  Totals totals;
  try {
    totals = jobs > 1 ? RunInProcesses(job, jobs, reporter, control)
                      : RunOnThreads(job, jobs, reporter, control);
  } catch (const Failure &failure) {
    Print(console.err, "varnholt: cannot start worker processes (" + failure.text() +
                           "); working in this process\n");
    totals = RunOnThreads(job, jobs, reporter, control);
  }
  Print(console.out, QStringLiteral("%1 written, %2 skipped, %3 failed\n")
                         .arg(totals.written)
                         .arg(totals.skipped)
                         .arg(totals.failed));
  return (totals.skipped == 0 && totals.failed == 0 && !control.stopping()) ? kBatchAllWritten
                                                                           : kBatchSomeNotWritten;
}

int BatchMain(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationName(QStringLiteral("Varnholt"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersionText));
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  if (args == QStringList{QStringLiteral("--batch-worker")}) return RunWorker();
  QString problem;
  const std::optional<BatchOptions> options = ParseBatchArguments(args, problem);
  if (!options) {
    Print(stderr, "varnholt: " + problem + "\n" + BatchUsageText() +
                      "Try 'varnholt --batch --help' for more.\n");
    return kBatchRefused;
  }
  if (options->help) {
    Print(stdout, BatchHelpText());
    return kBatchAllWritten;
  }
  BatchConsole console;
  console.errIsTerminal = ::isatty(fileno(stderr)) == 1;
  return RunBatch(*options, console);
}

} // namespace varnholt
