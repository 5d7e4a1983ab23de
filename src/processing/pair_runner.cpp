#include "processing/pair_runner.h"

#include "platform/image_toolkit.h"
#include "platform/prompter.h"

namespace varnholt {

namespace {
// Where nobody can be asked, questions are answered as a careful user would:
// "No" to suppressing the out-of-image messages (so every such pair is
// skipped and reported), OK to the rest. The question is kept for the report.
class UnattendedPrompter : public Prompter {
public:
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon) override {
    asked = true;
    lastTitle = title;
    lastText = text;
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
  }
  bool asked = false;
  QString lastTitle, lastText;
};
} // namespace

PairRunner::PairRunner(const RunPlan &plan, ImageToolkit *toolkit, RunFiles &files,
                       std::optional<Failure> toolkitFailure)
    : plan_(plan), toolkit_(toolkit), files_(files), toolkitFailure_(std::move(toolkitFailure)) {}

PairResult PairRunner::run(int image, int operation, Questions questions, RunState &state,
                           Prompter *user, const HandOver &handOver) {
  if (const QString &why = plan_.whyNotRun(image, operation); !why.isEmpty()) {
    PairResult result;
    result.failure = Failure(kErrWrittenByAnotherPair, "not run, " + why);
    return result;
  }
  return runAny(plan_.imagePath(image), plan_.operations[size_t(operation)].op, questions, state,
                user, QStringLiteral("%1.%2").arg(image).arg(operation), handOver);
}

PairResult PairRunner::runAny(const QString &imagePath, const Operation &op, Questions questions,
                              RunState &state, Prompter *user, const QString &label,
                              const HandOver &handOver) {
  PairResult result;
  if (!toolkit_) {
    result.handBack = questions == Questions::HandBack;
    result.failure = toolkitFailure_;
    return result;
  }
  UnattendedPrompter unattended;
  Prompter &prompter = questions == Questions::Ask && user ? *user : unattended;
  ApplyEnvironment env{plan_.settings, plan_.inputFolder, *toolkit_, prompter, &files_, label};
  env.notes = &result.notes;
  if (handOver)
    env.handOver = [&](PairStage &stage, const QStringList &names) {
      handOver(stage, names);
      result.names = names;
    };
  toolkit_->takeWarnings(); // what an earlier pair left
  result.failure = ApplyPair(imagePath, op, env, state, &result.outcome);
  result.warnings = toolkit_->takeWarnings();
  result.questionTitle = unattended.lastTitle;
  result.questionText = unattended.lastText;
  result.handBack = questions == Questions::HandBack && unattended.asked;
  result.stopsRun = state.StopProcess;
  return result;
}

void PairRunner::imageDone() {
  if (toolkit_) toolkit_->releaseDecoded();
}

void RunImage(PairRunner &runner, const ImageRun &run) {
  RunState state;
  state.SuppressMessages = run.suppress;
  const int count = int(runner.plan().operations.size());
  for (int k = run.first; k < count; ++k) {
    PairResult result;
    if (run.stopping && run.stopping()) {
      result.outcome = ApplyOutcome::Skipped;
      result.notStarted = true;
    } else {
      QByteArray handedAs;
      HandOver handOver;
      if (run.handOver)
        handOver = [&](PairStage &stage, const QStringList &) {
          handedAs = run.handOver(stage, k);
        };
      result = runner.run(run.image, k, run.questions, state, nullptr, handOver);
      result.handedAs = handedAs;
    }
    if (run.done) run.done(k, result);
  }
  runner.imageDone();
}

} // namespace varnholt
