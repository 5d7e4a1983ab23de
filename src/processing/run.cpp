#include "processing/run.h"

#include "platform/prompter.h"
#include "processing/run_machine.h"

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
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

RunOutcome DoOperations(const RunSource &source, RunView &view, const RunEnvironment &env,
                        RunState &state) {
  RunMachine machine(source, view, env, state);
  for (RunMachine::Waiting waiting = machine.start();;) {
    switch (waiting) {
    case RunMachine::Waiting::Finished: return machine.outcome();
    case RunMachine::Waiting::Worker: waiting = machine.waitForWorkers(10); break;
    case RunMachine::Waiting::Here: {
      RunState pairState = machine.pairState();
      try {
        const PairResult result = machine.doPairHere(env.prompter, pairState);
        waiting = machine.pairDoneHere(result, pairState);
      } catch (...) {
        waiting = machine.pairFailedHere(std::current_exception());
      }
      break;
    }
    case RunMachine::Waiting::Answer: {
      const RunMachine::Question &q = machine.question();
      waiting = machine.answered(env.prompter.askWithDetails(q.title, q.text, q.details,
                                                             Buttons::YesNoCancel, Icon::Question));
      break;
    }
    }
  }
}

} // namespace varnholt
