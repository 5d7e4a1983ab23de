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
// Where the run's pairs go, as the run's folder handles name it.
QString OutputFolderOf(const RunSource &source, const Settings &settings) {
  return PlanFolder(settings.OutputInDiffDir ? settings.OutputDir : source.inputFolder());
}

// Every image the run reads, and the files of its pairs claimed in the order
// they run: a pair that would write over either fails when its turn comes.
// Lists that change during the run claim their new pairs as they come.
// The pairs in order are what workers may do ahead.
void PlanRun(const RunSource &source, const Settings &settings, RunFiles &files,
             std::vector<RunAhead::Pair> &pairs) {
  const QString folder = AddBackslash(source.inputFolder());
  const QString output = OutputFolderOf(source, settings);
  std::vector<std::pair<qsizetype, Operation>> operations;
  for (qsizetype k = 0; k < source.operationCount(); ++k) {
    if (!source.operationTicked(k)) continue;
    QString errorText;
    const Operation op = ParseOperation(source.operationText(k), errorText);
    if (errorText.isEmpty()) operations.emplace_back(k, op);
  }
  std::vector<qsizetype> images;
  for (qsizetype i = 0; i < source.imageCount(); ++i)
    if (source.imageTicked(i)) images.push_back(i);
  for (const qsizetype i : images)
    files.claims.addSource(folder + source.imageText(i));
  for (const qsizetype i : images) {
    const QString image = source.imageText(i);
    for (const auto &[k, op] : operations) {
      const PairPlan plan = PlanPair(output, image, op);
      QStringList paths;
      for (const QString &name : plan.names())
        paths << plan.path(name);
      files.claims.claim({folder + image, PairKey(folder + image, op), 0}, paths);
      pairs.push_back({i, k, image, source.operationText(k)});
    }
  }
  // What runs that were killed left behind.
  if (!output.isEmpty()) SweepLeftovers(output);
}

// Hands the planned pairs to the workers; false when they cannot have them.
bool BeginAhead(RunAhead &ahead, const RunSource &source, const Settings &settings,
                RunFiles &files, const std::vector<RunAhead::Pair> &pairs) {
  RunAhead::Job job;
  job.inputFolder = source.inputFolder();
  job.outputFolder = OutputFolderOf(source, settings);
  job.settings = &settings;
  job.pairs = pairs;
  job.claims = &files.claims;
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
QString CommitAhead(const RunAhead::Result &r, RunFiles &files, const QString &outputFolder,
                    const QString &label) {
  if (r.outcome != ApplyOutcome::Written) return r.failure;
  try {
    files.folder(outputFolder).adopt(r.handedAs, label)->commit(r.names);
    return QString();
  } catch (const Failure &failure) {
    return failure.text() + kCrLf + QStringLiteral("Operation: Moving into place");
  }
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
    std::vector<RunAhead::Pair> pairs;
    try {
      PlanRun(source, env.settings, files, pairs);
    } catch (...) {
      // Planning reads the lists ahead of the loop; a list that cannot be
      // read fails the loop itself, at its own step, where it is reported.
      pairs.clear();
    }
    // Workers start on the pairs now; whatever they did and the run did not
    // take goes before the run's own hidden folders do.
    RunAhead *ahead = env.ahead && !pairs.empty() &&
                              BeginAhead(*env.ahead, source, env.settings, files, pairs)
                          ? env.ahead
                          : nullptr;
    struct EndAhead {
      RunAhead *&ahead;
      ~EndAhead() {
        if (ahead) ahead->end();
      }
    } endAhead{ahead};
    size_t nextAhead = 0;

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

        // Done ahead when it is the pair planned for this place, asked the
        // user nothing and its folder is still there; else done here, now.
        std::optional<RunAhead::Result> early;
        if (ahead) {
          const RunAhead::Pair *planned = nextAhead < pairs.size() ? &pairs[nextAhead] : nullptr;
          if (planned && planned->image == i && planned->operation == k &&
              planned->imageText == imageCaption && planned->operationText == operationText) {
            early = ahead->take(nextAhead++, state.SuppressMessages, view);
          } else {
            ahead->end(); // the lists changed under the run
            ahead = nullptr;
          }
        }
        if (early && (early->doHere || (env.settings.OutputInDiffDir &&
                                       !PathExists(env.settings.OutputDir))))
          early.reset();
        const ApplyEnvironment apply{env.settings, source.inputFolder(), env.toolkit, env.prompter,
                                     &files};
        const QString result =
            early ? CommitAhead(*early, files, OutputFolderOf(source, env.settings),
                                QStringLiteral("%1.%2").arg(i).arg(k))
                  : ApplyOperation(imagePath, op, apply, state);
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
