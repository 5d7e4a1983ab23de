#include "processing/run.h"

#include "operations/operation.h"
#include "platform/prompter.h"
#include "settings/paths.h"

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

        const ApplyEnvironment apply{env.settings, source.inputFolder(), env.toolkit, env.prompter};
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
