#include "processing/run.h"

#include "operations/operation.h"
#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QtNumeric>

#include <algorithm>
#include <memory>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kDQ = QStringLiteral("\"");

qint64 TickedImages(const RunSource &source) {
  qint64 n = 0;
  for (qsizetype i = 0; i < source.imageCount(); ++i)
    if (source.imageTicked(i)) ++n;
  return n;
}

qint64 TickedOperationRows(const RunSource &source) {
  qint64 n = 0;
  for (qsizetype k = 0; k < source.operationCount(); ++k)
    if (source.operationTicked(k)) ++n;
  return n;
}

// The plan of the lists as they are at the start. Planning reads the lists
// ahead of the loop; a list that cannot be read fails the loop itself, at
// its own step, where it is reported.
RunPlan PlanOrNothing(const RunSource &source, const Settings &settings) {
  try {
    RunPlan plan = PlanFromSource(source, settings);
    // What runs that were killed left behind.
    if (const QString output = PlanFolder(plan.outputFolder()); !output.isEmpty())
      SweepLeftovers(output);
    return plan;
  } catch (...) {
    RunPlan plan;
    plan.settings = settings;
    return plan;
  }
}

// Hands the planned pairs to the workers; false when they cannot have them.
bool BeginAhead(RunAhead &ahead, const RunPlan &plan, RunFiles &files) {
  RunAhead::Job job;
  job.plan = &plan;
  job.outputFolder = PlanFolder(plan.outputFolder());
  try {
    OutputFolder &output = files.folder(job.outputFolder);
    job.handOverPlace = output.handOverPlace();
    job.outputHandle = output.handle();
  } catch (const Failure &) {
    return false; // no output folder: every pair asks about it, here
  }
  return ahead.begin(job);
}

// A pair done ahead, put into place now that its turn has come.
QString CommitAhead(const PairResult &r, RunFiles &files, const QString &outputFolder,
                    const QString &label) {
  if (r.outcome != ApplyOutcome::Written) return r.failure;
  try {
    files.folder(outputFolder).adopt(r.handedAs, label)->commit(r.names);
    return QString();
  } catch (const Failure &failure) {
    return failure.text() + kCrLf + QStringLiteral("Operation: Moving into place");
  }
}

// Pair `n` of the plan, when it is the one at this place of the lists: the
// lists may have changed since the run began.
bool IsPlannedPair(const RunPlan &plan, size_t n, qsizetype image, qsizetype operation,
                   const QString &imageText, const QString &operationText) {
  if (n >= plan.pairCount()) return false;
  const size_t i = n / plan.operations.size();
  const PlannedOperation &po = plan.operations[n % plan.operations.size()];
  return plan.imageRows[i] == image && plan.images[qsizetype(i)] == imageText &&
         po.position == operation + 1 && po.text == operationText;
}
} // namespace

QString OperationErrorText(const QString &imageCaption, const QString &operationText) {
  return "An error occured when processing:" + kCrLf + kCrLf + "Image: " + imageCaption + kCrLf +
         "Operation: " + operationText + kCrLf + kCrLf +
         "Do you want to continue? (Cancel = Yes to All)";
}

QString RunCountsText(qint64 written, qint64 skipped, qint64 failed, bool stopped) {
  return QStringLiteral("%1 written, %2 skipped%3, %4 failed")
      .arg(written)
      .arg(skipped)
      .arg(stopped ? QStringLiteral(" (stopped)") : QString())
      .arg(failed);
}

namespace {
// One run of the window's lists, image by image, pair by pair.
class ListRun {
public:
  ListRun(const RunSource &source, RunView &view, const RunEnvironment &env, RunState &state,
          RunOutcome &outcome)
      : source_(source), view_(view), env_(env), state_(state), outcome_(outcome),
        step(outcome.step) {}

  void run();

private:
  void image(qsizetype i);
  void pair(qsizetype i, qsizetype k, const QString &imageCaption, const QString &imagePath);
  PairResult doPair(const Operation &op, std::optional<size_t> planned,
                    const QString &imagePath, const QString &label);
  void askAfterFailure(const QString &imageCaption, const QString &operationText,
                       const QString &failure);
  qint64 pairsLeft() const;

  const RunSource &source_;
  RunView &view_;
  const RunEnvironment &env_;
  RunState &state_;
  RunOutcome &outcome_;
  QString &step;
  qint64 maximum_ = 0;
  qint64 images_ = 0, imageNumber_ = 0;
  bool yesToAll_ = false;
  RunFiles files_;
  RunPlan plan_;
  // The operation list as last read: first at the first pair, in the loop's
  // own step, where a list that cannot be read is reported.
  OperationsRead operations_{QList<std::pair<QString, bool>>{}};
  std::unique_ptr<PairRunner> runner_;
  RunAhead *ahead_ = nullptr;
  size_t nextPlanned_ = 0;
  // Where the run is in the lists: a stop leaves what comes after unrun.
  qsizetype atImage_ = -1, atOperation_ = -1;
};

void ListRun::run() {
  step = QStringLiteral("Working out number of ops");
  if (qMulOverflow(TickedImages(source_), TickedOperationRows(source_), &maximum_))
    throw Failure(kErrOverflow, QStringLiteral("Overflow"));
  images_ = TickedImages(source_);
  outcome_.progressMaximum = maximum_;
  view_.ShowProgress(0, maximum_);

  step = QStringLiteral("Initialising");
  outcome_.ProcessAborted = false;
  state_.SuppressMessages = false;
  state_.StopProcess = false;
  plan_ = PlanOrNothing(source_, env_.settings);
  files_.claims = plan_.claims;
  runner_ = std::make_unique<PairRunner>(plan_, &env_.toolkit, files_);
  // Workers start on the pairs now; whatever they did and the run did not
  // take goes before the run's own hidden folders do.
  if (env_.ahead && plan_.pairCount() > 0 && BeginAhead(*env_.ahead, plan_, files_))
    ahead_ = env_.ahead;
  struct EndAhead {
    RunAhead *&ahead;
    ~EndAhead() {
      if (ahead) ahead->end();
    }
  } endAhead{ahead_};
  for (qsizetype i = 0; i < source_.imageCount() && !state_.StopProcess; ++i)
    if (source_.imageTicked(i)) image(i);
  if (state_.StopProcess) {
    outcome_.pairsNotRun = pairsLeft();
    outcome_.stopped = outcome_.pairsNotRun > 0;
  }
}

// The ticked pairs after the one the run stopped at, as the lists stand now;
// texts that do not read as operations would have been passed over anyway.
qint64 ListRun::pairsLeft() const {
  const std::vector<PlannedOperation> operations = OperationsRead(source_).operations();
  const auto restOfImage = std::count_if(operations.begin(), operations.end(),
                                         [&](const auto &po) { return po.position > atOperation_ + 1; });
  qint64 images = 0;
  for (qsizetype i = atImage_ + 1; i < source_.imageCount(); ++i)
    if (source_.imageTicked(i)) ++images;
  return (atImage_ >= 0 ? qint64(restOfImage) : 0) + images * qint64(operations.size());
}

void ListRun::image(qsizetype i) {
  const QString imageCaption = source_.imageText(i);
  atImage_ = i;
  atOperation_ = -1;
  view_.ShowImage(imageCaption);
  ++imageNumber_;
  // The lists can change while the run yields; the count never reads less
  // than the number.
  view_.ShowImageNumber(imageNumber_, std::max(images_, imageNumber_));
  view_.DoEvents();
  step = "At image " + kDQ + imageCaption + kDQ;
  const QString imagePath = AddBackslash(source_.inputFolder()) + imageCaption;
  for (qsizetype k = 0; k < source_.operationCount() && !state_.StopProcess; ++k)
    if (source_.operationTicked(k)) pair(i, k, imageCaption, imagePath);
}

void ListRun::pair(qsizetype i, qsizetype k, const QString &imageCaption,
                   const QString &imagePath) {
  atOperation_ = k;
  // The plan read every operation once; only a list changed since then is
  // read again. A text that does not read as an operation is passed over
  // without a word: it was checked when it entered the list.
  const PlannedOperation *current = operations_.at(source_, k);
  if (!current) return;
  const QString &operationText = current->text;
  step = "At image " + kDQ + imageCaption + kDQ + " Operation: " + operationText;

  std::optional<size_t> planned;
  Operation op = current->op;
  if (IsPlannedPair(plan_, nextPlanned_, i, k, imageCaption, operationText)) {
    planned = nextPlanned_++;
    op = plan_.operations[*planned % plan_.operations.size()].op;
  }

  view_.ShowOperation(operationText);
  view_.DoEvents();
  step = "Do Operation: " + operationText + " >>>  " + imagePath;
  const PairResult result =
      doPair(op, planned, imagePath, QStringLiteral("%1.%2").arg(i).arg(k));
  view_.ShowPairDone(result.failure.isEmpty() ? result.outcome : ApplyOutcome::Failed);
  if (!result.failure.isEmpty() && !yesToAll_)
    askAfterFailure(imageCaption, operationText, result.failure);
  view_.ShowProgress(++outcome_.progressValue, maximum_);
}

// Done ahead when it is the pair planned for this place, asked the user
// nothing and its folder is still there; else done here, now.
PairResult ListRun::doPair(const Operation &op, std::optional<size_t> planned,
                           const QString &imagePath, const QString &label) {
  std::optional<PairResult> early;
  if (ahead_ && planned) {
    early = ahead_->take(*planned, state_.SuppressMessages, view_);
  } else if (ahead_) {
    ahead_->end(); // the lists changed under the run
    ahead_ = nullptr;
  }
  if (early && (early->handBack || !PathExists(plan_.outputFolder()))) early.reset();
  if (early) {
    early->failure = CommitAhead(*early, files_, PlanFolder(plan_.outputFolder()), label);
    return *early;
  }
  return runner_->runAny(imagePath, op, Questions::Ask, state_, &env_.prompter);
}

// The question keeps its words; the reason, as the batch mode prints it, is
// behind its details button, where a long ImageMagick message fits.
void ListRun::askAfterFailure(const QString &imageCaption, const QString &operationText,
                              const QString &failure) {
  switch (env_.prompter.askWithDetails(kOperationErrorTitle,
                                       OperationErrorText(imageCaption, operationText), failure,
                                       Buttons::YesNoCancel, Icon::Question)) {
  case Answer::Yes: break;
  case Answer::No:
    state_.StopProcess = true;
    outcome_.ProcessAborted = true;
    break;
  default: yesToAll_ = true; break;
  }
}
} // namespace

RunOutcome DoOperations(const RunSource &source, RunView &view, const RunEnvironment &env,
                        RunState &state) {
  RunOutcome outcome;
  try {
    ListRun(source, view, env, state, outcome).run();
  } catch (const Failure &failure) {
    outcome.failure = failure;
  } catch (const std::exception &e) {
    outcome.failure = Failure(kErrToolkit, QString::fromLocal8Bit(e.what()));
  } catch (...) {
    outcome.failure = Failure(kErrToolkit, QStringLiteral("Unknown failure"));
  }
  if (outcome.failure) outcome.ProcessAborted = true;
  return outcome;
}

} // namespace varnholt
