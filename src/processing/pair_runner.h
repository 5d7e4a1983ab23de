#pragma once

// One pair at a time, and one image's pairs in list order: the same steps
// for the window, the batch mode and the worker processes of both, which
// differ only in who answers the questions a pair asks.
#include "processing/apply_operation.h"
#include "processing/run_plan.h"

#include <QByteArray>

#include <functional>

namespace varnholt {

class ImageToolkit;
class Prompter;
class RunFiles;

enum class Questions {
  Ask,      // the user answers them (the window)
  Skip,     // nobody is there: a pair that asks is skipped and says why (the batch mode)
  HandBack, // the pair goes back to where the user can be asked (a worker ahead of the window)
};

struct PairResult {
  ApplyOutcome outcome = ApplyOutcome::Failed;
  std::optional<Failure> failure; // why it failed
  bool notStarted = false;        // skipped because the run was stopping
  QString questionTitle;          // the last question it asked, when nobody was asked
  QString questionText;
  bool handBack = false; // to be done again where the user can be asked
  bool stopsRun = false; // its output folder went away: the run cannot go on
  QStringList warnings;  // ImageMagick's, of a pair it still wrote
  QStringList notes;     // what the user should know of a pair that was written
  QByteArray handedAs;   // where a handed-over pair waits
  QStringList names;     // its files, to be moved into place
};

// Hands a complete pair over instead of putting it into place.
using HandOver = std::function<void(PairStage &stage, const QStringList &names)>;

class PairRunner {
public:
  // No toolkit: ImageMagick could not start here, for `toolkitFailure`.
  PairRunner(const RunPlan &plan, ImageToolkit *toolkit, RunFiles &files,
             std::optional<Failure> toolkitFailure = std::nullopt);

  // Pair (image, operation) of the plan. Under Questions::Ask `user` answers.
  PairResult run(int image, int operation, Questions questions, RunState &state,
                 Prompter *user = nullptr, const HandOver &handOver = {});
  // Any image and operation: the window's lists may change during its run.
  PairResult runAny(const QString &imagePath, const Operation &op, Questions questions,
                    RunState &state, Prompter *user = nullptr, const QString &label = QString(),
                    const HandOver &handOver = {});
  // The next pairs read another image.
  void imageDone();

  const RunPlan &plan() const { return plan_; }

private:
  const RunPlan &plan_;
  ImageToolkit *toolkit_;
  RunFiles &files_;
  std::optional<Failure> toolkitFailure_;
};

// Every operation of one image of the plan from `first` on, in list order.
// `stopping` is asked before each pair (a stopped run starts no other);
// `handOver`, given, takes each complete pair instead of putting it into place
// and says where it put it; each result goes to `done` as soon as it is known.
struct ImageRun {
  int image = 0;
  int first = 0;
  Questions questions = Questions::Skip;
  bool suppress = false; // the out-of-image questions are answered already
  std::function<bool()> stopping = {};
  std::function<QByteArray(PairStage &stage, int operation)> handOver = {};
  std::function<void(int operation, const PairResult &result)> done = {};
};
void RunImage(PairRunner &runner, const ImageRun &run);

} // namespace varnholt
