#include "processing/run.h"

#include "operations/operation.h"
#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "settings/paths.h"
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
// Every image the run reads, and the files of its pairs claimed in the order
// they run: a pair that would write over either fails when its turn comes.
// Lists that change during the run claim their new pairs as they come.
void PlanRun(const RunSource &source, const Settings &settings, RunFiles &files) {
  const QString folder = AddBackslash(source.inputFolder());
  const QString output = settings.OutputInDiffDir ? settings.OutputDir : source.inputFolder();
  std::vector<Operation> operations;
  for (qsizetype k = 0; k < source.operationCount(); ++k) {
    if (!source.operationTicked(k)) continue;
    QString errorText;
    const Operation op = ParseOperation(source.operationText(k), errorText);
    if (errorText.isEmpty()) operations.push_back(op);
  }
  QStringList images;
  for (qsizetype i = 0; i < source.imageCount(); ++i)
    if (source.imageTicked(i)) images << source.imageText(i);
  for (const QString &image : images)
    files.claims.addSource(folder + image);
  for (const QString &image : images)
    for (const Operation &op : operations) {
      const PairPlan plan = PlanPair(output, image, op);
      QStringList paths;
      for (const QString &name : plan.names())
        paths << plan.path(name);
      files.claims.claim({folder + image, PairKey(folder + image, op), 0}, paths);
    }
  // What runs that were killed left behind.
  if (!output.isEmpty()) SweepLeftovers(output);
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
    try {
      PlanRun(source, env.settings, files);
    } catch (...) {
      // Planning reads the lists ahead of the loop; a list that cannot be
      // read fails the loop itself, at its own step, where it is reported.
    }

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

        // A text that does not read as an operation is passed over without a
        // word: it was checked when it entered the list.
        QString errorText;
        const Operation op = ParseOperation(operationText, errorText);
        if (!errorText.isEmpty()) continue;

        view.ShowOperation(operationText);
        view.DoEvents();
        step = "Do Operation: " + operationText + " >>>  " + imagePath;

        const ApplyEnvironment apply{env.settings, source.inputFolder(), env.toolkit, env.prompter,
                                     &files};
        const QString result = ApplyOperation(imagePath, op, apply, state);
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
