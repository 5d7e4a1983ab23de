#pragma once

#include "platform/failure.h"
#include "processing/apply_operation.h"
#include "processing/pair_runner.h"
#include "processing/run_plan.h"

#include <QString>

#include <optional>
#include <vector>

namespace varnholt {

class ImageToolkit;
class RunAhead;
class RunClaims;
class Prompter;
struct Settings;

// Where a run takes its images, operations and folder from: the main window's
// two lists and its folder box. Everything is read again at each step, since
// the lists can change between the run's events.
class RunSource {
public:
  virtual ~RunSource() = default;
  virtual qsizetype imageCount() const = 0;
  virtual QString imageText(qsizetype index) const = 0;
  virtual bool imageTicked(qsizetype index) const = 0;
  virtual qsizetype operationCount() const = 0;
  virtual QString operationText(qsizetype index) const = 0;
  virtual bool operationTicked(qsizetype index) const = 0;
  virtual QString inputFolder() const = 0;
};

// A source held in memory, for the batch mode, tests and pictures.
struct RunEntry {
  QString text;
  bool ticked = true;
};
class ListRunSource : public RunSource {
public:
  qsizetype imageCount() const override { return qsizetype(images.size()); }
  QString imageText(qsizetype i) const override { return images.at(i).text; }
  bool imageTicked(qsizetype i) const override { return images.at(i).ticked; }
  qsizetype operationCount() const override { return qsizetype(operations.size()); }
  QString operationText(qsizetype k) const override { return operations.at(k).text; }
  bool operationTicked(qsizetype k) const override { return operations.at(k).ticked; }
  QString inputFolder() const override { return folder; }

  QString folder;
  std::vector<RunEntry> images;
  std::vector<RunEntry> operations;
};

// What a run shows while it works: the run window, or nothing.
class RunView {
public:
  virtual ~RunView() = default;
  virtual void ShowImage(const QString &caption) = 0;
  virtual void ShowOperation(const QString &operationText) = 0;
  virtual void ShowProgress(qint64 value, qint64 maximum) = 0;
  // The image shown is the `number`th of the run's `count` ticked images.
  virtual void ShowImageNumber(qint64 number, qint64 count) {
    Q_UNUSED(number);
    Q_UNUSED(count);
  }
  // A pair is over: written, skipped, or failed.
  virtual void ShowPairDone(ApplyOutcome outcome) { Q_UNUSED(outcome); }
};

struct RunEnvironment {
  const Settings &settings;
  ImageToolkit &toolkit;
  Prompter &prompter;
  // Worker processes running ahead; none: every pair is done here.
  RunAhead *ahead = nullptr;
};

// Pairs worked out ahead of the run by other processes, in the run's order,
// each built out of sight and handed over; the run still commits them one by
// one, in its own order, and asks its questions when their turn comes.
class RunAhead {
public:
  virtual ~RunAhead() = default;

  struct Setup {
    const RunPlan *plan = nullptr;
    QString outputFolder;
    int outputHandle = -1;    // the run's own handle on it, which the workers use too
    QByteArray handOverPlace; // the hidden folder in outputFolder pairs are handed to
  };

  // Starts work on the plan's pairs; false: nothing will be done ahead.
  virtual bool begin(const Setup &ahead) = 0;
  // Pair `n` of the plan (image-major), without waiting: not ready yet, or
  // ready with its result, or ready without one (not worked out ahead: the
  // run does it itself). Pairs are handed out with `suppress` as the
  // out-of-image questions stand.
  struct Taken {
    bool ready = true;
    std::optional<PairResult> result;
  };
  virtual Taken take(size_t n, bool suppress) = 0;
  // Waits up to `milliseconds` for what the workers say; throws Failure.
  virtual void wait(int milliseconds) = 0;
  // Ends the work; what was done ahead and not taken is dropped with the
  // run's hidden folder.
  virtual void end() = 0;
};

struct RunOutcome {
  // The user answered No at the error question, or the run itself failed:
  // either way it did not finish, and nobody should be told it did.
  bool ProcessAborted = false;
  qint64 progressMaximum = 0;
  qint64 progressValue = 0;
  // An unexpected failure of the run itself; it ended at once, at this step.
  std::optional<Failure> failure;
  QString step;
  // Ended early (Stop, No at the error question, the output folder gone)
  // with this many ticked pairs of the lists never run.
  bool stopped = false;
  qint64 pairsNotRun = 0;
};

// Applies every ticked operation to every ticked image, image by image, in
// list order, on this thread: a RunMachine driven until it finishes, every
// question asked through env.prompter. `state` is read at each step, so a
// Stop set from the view's calls ends the run before the next operation.
RunOutcome DoOperations(const RunSource &source, RunView &view, const RunEnvironment &env,
                        RunState &state);

// The question after a failed operation; why it failed goes in its details.
QString OperationErrorText(const QString &imageCaption, const QString &operationText);
inline const QString kOperationErrorTitle = QStringLiteral("Error in Operation");

// The end line of a run, in the window and the batch mode alike. A stopped
// run counts the pairs it never ran as skipped, and says why.
QString RunCountsText(qint64 written, qint64 skipped, qint64 failed, bool stopped);

} // namespace varnholt
