#include "processing/run_machine.h"

#include "operations/file_listing.h"
#include "operations/operation.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "processing/pair_runner.h"
#include "settings/settings.h"

#include <QtNumeric>

#include <algorithm>

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
    if (const QString output = PlanFolder(plan.outputFolder()); !output.isEmpty()) {
      SweepLeftovers(output);
      // Every subfolder, not only this plan's: a run with a narrower pattern
      // would otherwise never come to what a killed run left elsewhere.
      if (settings.IncludeSubfolders) SweepLeftoversBelow(output);
    }
    return plan;
  } catch (...) {
    RunPlan plan;
    plan.settings = settings;
    return plan;
  }
}

// Hands the planned pairs to the workers; false when they cannot have them.
bool BeginAhead(RunAhead &ahead, const RunPlan &plan, RunFiles &files) {
  RunAhead::Setup setup;
  setup.plan = &plan;
  setup.outputFolder = PlanFolder(plan.outputFolder());
  try {
    OutputFolder &output = files.folder(setup.outputFolder);
    setup.handOverPlace = output.handOverPlace();
    setup.outputHandle = output.handle();
  } catch (const Failure &) {
    return false; // no output folder: every pair asks about it, here
  }
  return ahead.begin(setup);
}

// A pair done ahead, put into place now that its turn has come.
// Pairs of a subfolder's image are handed over at the top of the output
// folders too, and go from there into their own subfolder.
std::optional<Failure> CommitAhead(const PairResult &r, RunFiles &files,
                                   const QString &outputFolder, const QString &subfolder,
                                   const QString &label) {
  if (r.outcome != ApplyOutcome::Written) return r.failure;
  try {
    OutputFolder &top = files.folder(outputFolder);
    (subfolder.isEmpty()
         ? top.adopt(r.handedAs, label)
         : files.subfolder(outputFolder, subfolder).adoptFrom(top, r.handedAs, label))
        ->commit(r.names);
    return std::nullopt;
  } catch (const Failure &failure) {
    return Failure(failure.number(),
                   failure.description() + kCrLf + QStringLiteral("Operation: Moving into place"));
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

RunMachine::RunMachine(const RunSource &source, RunView &view, const RunEnvironment &env,
                       RunState &state)
    : source_(source), view_(view), env_(env), state_(state), step_(outcome_.step) {}

RunMachine::~RunMachine() {
  if (ahead_) ahead_->end();
}

// Every event ends the run, with the step it got to, when the run itself
// fails: the lists cannot be read, the numbers overflow, ImageMagick breaks.
template <class Event> RunMachine::Waiting RunMachine::guarded(Event &&event) {
  if (at_ == At::Done) return Waiting::Finished;
  try {
    return event();
  } catch (const Failure &failure) {
    outcome_.failure = failure;
  } catch (const std::exception &e) {
    outcome_.failure = Failure(kErrToolkit, QString::fromLocal8Bit(e.what()));
  } catch (...) {
    outcome_.failure = Failure(kErrToolkit, QStringLiteral("Unknown failure"));
  }
  outcome_.ProcessAborted = true;
  if (ahead_) std::exchange(ahead_, nullptr)->end();
  at_ = At::Done;
  return Waiting::Finished;
}

RunMachine::Waiting RunMachine::start() {
  return guarded([&] {
    begin();
    return advance();
  });
}

RunMachine::Waiting RunMachine::waitForWorkers(int milliseconds) {
  return guarded([&] {
    if (ahead_ && at_ == At::Ahead) ahead_->wait(milliseconds);
    return advance();
  });
}

RunMachine::Waiting RunMachine::pairDoneHere(const PairResult &result, const RunState &pairState) {
  return guarded([&] {
    if (at_ != At::Here) return advance();
    // A stop from the pair (its folder gone) or from the user both hold.
    state_.StopProcess = state_.StopProcess || pairState.StopProcess;
    state_.SuppressMessages = pairState.SuppressMessages;
    endPair(result);
    return advance();
  });
}

RunMachine::Waiting RunMachine::pairFailedHere(std::exception_ptr failure) {
  return guarded([&]() -> Waiting { std::rethrow_exception(failure); });
}

RunMachine::Waiting RunMachine::answered(Answer answer) {
  return guarded([&] {
    if (at_ != At::Asking) return advance();
    switch (answer) {
    case Answer::Yes: break;
    case Answer::No:
      state_.StopProcess = true;
      outcome_.ProcessAborted = true;
      break;
    default: yesToAll_ = true; break;
    }
    view_.ShowProgress(++outcome_.progressValue, maximum_);
    at_ = At::NextOperation;
    return advance();
  });
}

void RunMachine::begin() {
  step_ = QStringLiteral("Working out number of ops");
  images_ = TickedImages(source_);
  if (qMulOverflow(images_, TickedOperationRows(source_), &maximum_))
    throw Failure(kErrOverflow, QStringLiteral("Overflow"));
  outcome_.progressMaximum = maximum_;
  view_.ShowProgress(0, maximum_);

  step_ = QStringLiteral("Initialising");
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
  at_ = At::NextImage;
}

// From where the run is to the next thing it waits for, image by image and
// pair by pair in list order, with the lists as they stand at each step.
RunMachine::Waiting RunMachine::advance() {
  for (;;) {
    switch (at_) {
    case At::NextImage:
      if (state_.StopProcess) return finish();
      for (++atImage_; atImage_ < source_.imageCount() && !source_.imageTicked(atImage_);)
        ++atImage_;
      if (atImage_ >= source_.imageCount()) return finish();
      beginImage();
      break;
    case At::NextOperation:
      if (state_.StopProcess) return finish(); // Stop ends the image too
      for (++atOperation_;
           atOperation_ < source_.operationCount() && !source_.operationTicked(atOperation_);)
        ++atOperation_;
      if (atOperation_ >= source_.operationCount()) {
        at_ = At::NextImage;
        break;
      }
      if (!beginPair()) break;
      // Done ahead when it is the pair planned for this place; a pair off
      // the plan means the lists changed under the run.
      if (ahead_ && planned_) {
        at_ = At::Ahead;
        break;
      }
      if (ahead_) std::exchange(ahead_, nullptr)->end();
      at_ = At::Here;
      return Waiting::Here;
    case At::Ahead: {
      const RunAhead::Taken taken = ahead_->take(*planned_, state_.SuppressMessages);
      if (!taken.ready) return Waiting::Worker;
      std::optional<PairResult> early = taken.result;
      // A pair that would ask the user, or whose folder went, is done here.
      if (early && (early->handBack || !PathExists(plan_.outputFolder()))) early.reset();
      if (!early) {
        at_ = At::Here;
        return Waiting::Here;
      }
      early->failure =
          CommitAhead(*early, files_, PlanFolder(plan_.outputFolder()),
                      ImageSubfolder(plan_.images[qsizetype(*planned_ / plan_.operations.size())]),
                      QStringLiteral("%1.%2").arg(atImage_).arg(atOperation_));
      endPair(*early);
      break;
    }
    case At::Here: return Waiting::Here;
    case At::Asking: return Waiting::Answer;
    case At::Done: return Waiting::Finished;
    }
  }
}

void RunMachine::beginImage() {
  imageCaption_ = source_.imageText(atImage_);
  atOperation_ = -1;
  view_.ShowImage(imageCaption_);
  ++imageNumber_;
  // The lists can change during the run; the count never reads less than
  // the number.
  view_.ShowImageNumber(imageNumber_, std::max(images_, imageNumber_));
  step_ = "At image " + kDQ + imageCaption_ + kDQ;
  imagePath_ = AddBackslash(source_.inputFolder()) + imageCaption_;
  at_ = At::NextOperation;
}

// False: the entry does not read as an operation and is passed over without
// a word (it was checked when it entered the list).
bool RunMachine::beginPair() {
  // The plan read every operation once; only a list changed since then is
  // read again.
  const PlannedOperation *current = operations_.at(source_, atOperation_);
  if (!current) return false;
  operationText_ = current->text;
  step_ = "At image " + kDQ + imageCaption_ + kDQ + " Operation: " + operationText_;
  planned_.reset();
  op_ = current->op;
  if (IsPlannedPair(plan_, nextPlanned_, atImage_, atOperation_, imageCaption_, operationText_)) {
    planned_ = nextPlanned_++;
    op_ = plan_.operations[*planned_ % plan_.operations.size()].op;
  }
  view_.ShowOperation(operationText_);
  step_ = "Do Operation: " + operationText_ + " >>>  " + imagePath_;
  return true;
}

PairResult RunMachine::doPairHere(Prompter &user, RunState &pairState) {
  return runner_->runAny(imagePath_, op_, Questions::Ask, pairState, &user,
                         QStringLiteral("%1.%2").arg(atImage_).arg(atOperation_));
}

// The question keeps its words; the reason, as the batch mode prints it, is
// behind its details button, where a long ImageMagick message fits.
void RunMachine::endPair(const PairResult &result) {
  view_.ShowPairDone(result.failure ? ApplyOutcome::Failed : result.outcome);
  if (result.failure && !yesToAll_) {
    question_ = {kOperationErrorTitle, OperationErrorText(imageCaption_, operationText_),
                 result.failure->text()};
    at_ = At::Asking;
    return;
  }
  view_.ShowProgress(++outcome_.progressValue, maximum_);
  at_ = At::NextOperation;
}

RunMachine::Waiting RunMachine::finish() {
  if (state_.StopProcess) {
    outcome_.pairsNotRun = pairsLeft();
    outcome_.stopped = outcome_.pairsNotRun > 0;
  }
  if (ahead_) std::exchange(ahead_, nullptr)->end();
  at_ = At::Done;
  return Waiting::Finished;
}

// The ticked pairs after the one the run stopped at, as the lists stand now;
// texts that do not read as operations would have been passed over anyway.
qint64 RunMachine::pairsLeft() const {
  const std::vector<PlannedOperation> operations = OperationsRead(source_).operations();
  const auto restOfImage = std::count_if(operations.begin(), operations.end(), [&](const auto &po) {
    return po.position > atOperation_ + 1;
  });
  qint64 images = 0;
  for (qsizetype i = atImage_ + 1; i < source_.imageCount(); ++i)
    if (source_.imageTicked(i)) ++images;
  return (atImage_ >= 0 ? qint64(restOfImage) : 0) + images * qint64(operations.size());
}

} // namespace varnholt
