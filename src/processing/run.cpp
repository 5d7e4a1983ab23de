#include "processing/run.h"

#include "operations/operation.h"
#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QtNumeric>

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

qint64 TickedOperations(const RunSource &source) {
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

RunOutcome DoOperations(const RunSource &source, RunView &view, const RunEnvironment &env,
                        RunState &state) {
  RunOutcome outcome;
  QString &step = outcome.step;
  try {
    step = QStringLiteral("Working out number of ops");
    qint64 maximum = 0;
    if (qMulOverflow(TickedImages(source), TickedOperations(source), &maximum))
      throw Failure(kErrOverflow, QStringLiteral("Overflow"));
    outcome.progressMaximum = maximum;
    view.ShowProgress(0, maximum);

    step = QStringLiteral("Initialising");
    outcome.ProcessAborted = false;
    state.SuppressMessages = false;
    state.StopProcess = false;
    bool yesToAll = false;
    RunFiles files;
    const RunPlan plan = PlanOrNothing(source, env.settings);
    files.claims = plan.claims;
    PairRunner runner(plan, &env.toolkit, files);
    // Workers start on the pairs now; whatever they did and the run did not
    // take goes before the run's own hidden folders do.
    RunAhead *ahead = env.ahead && plan.pairCount() > 0 && BeginAhead(*env.ahead, plan, files)
                          ? env.ahead
                          : nullptr;
    struct EndAhead {
      RunAhead *&ahead;
      ~EndAhead() {
        if (ahead) ahead->end();
      }
    } endAhead{ahead};
    size_t nextPlanned = 0;

    for (qsizetype i = 0; i < source.imageCount() && !state.StopProcess; ++i) {
      if (!source.imageTicked(i)) continue;
      const QString imageCaption = source.imageText(i);
      view.ShowImage(imageCaption);
      view.DoEvents();
      step = "At image " + kDQ + imageCaption + kDQ;
      const QString imagePath = AddBackslash(source.inputFolder()) + imageCaption;

      for (qsizetype k = 0; k < source.operationCount() && !state.StopProcess; ++k) {
        if (!source.operationTicked(k)) continue;
        const QString operationText = source.operationText(k);
        step = "At image " + kDQ + imageCaption + kDQ + " Operation: " + operationText;

        // The plan read every operation once; only a list changed since then
        // is read again. A text that does not read as an operation is passed
        // over without a word: it was checked when it entered the list.
        const bool planned = IsPlannedPair(plan, nextPlanned, i, k, imageCaption, operationText);
        const size_t n = planned ? nextPlanned++ : 0;
        Operation op;
        if (planned) {
          op = plan.operations[n % plan.operations.size()].op;
        } else {
          QString errorText;
          op = ParseOperation(operationText, errorText);
          if (!errorText.isEmpty()) continue;
        }

        view.ShowOperation(operationText);
        view.DoEvents();
        step = "Do Operation: " + operationText + " >>>  " + imagePath;

        // Done ahead when it is the pair planned for this place, asked the
        // user nothing and its folder is still there; else done here, now.
        std::optional<PairResult> early;
        if (ahead && planned) {
          early = ahead->take(n, state.SuppressMessages, view);
        } else if (ahead) {
          ahead->end(); // the lists changed under the run
          ahead = nullptr;
        }
        if (early && (early->handBack || !PathExists(plan.outputFolder()))) early.reset();
        const QString result =
            early ? CommitAhead(*early, files, PlanFolder(plan.outputFolder()),
                                QStringLiteral("%1.%2").arg(i).arg(k))
                  : runner.runAny(imagePath, op, Questions::Ask, state, &env.prompter).failure;
        if (!result.isEmpty() && !yesToAll) {
          switch (env.prompter.ask(kOperationErrorTitle,
                                   OperationErrorText(imageCaption, operationText),
                                   Buttons::YesNoCancel, Icon::Question)) {
          case Answer::Yes: break;
          case Answer::No:
            state.StopProcess = true;
            outcome.ProcessAborted = true;
            break;
          default: yesToAll = true; break;
          }
        }
        view.ShowProgress(++outcome.progressValue, maximum);
      }
    }
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
