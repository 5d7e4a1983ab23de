#pragma once

#include "platform/prompter.h"
#include "processing/pair_stage.h"
#include "processing/run.h"

#include <exception>
#include <memory>
#include <optional>

namespace varnholt {

class PairRunner;

// One run of the window's lists as a machine that takes one step for each
// event and never waits itself: the run window, a test or a tool drives it
// from its own loop. Each event handler shows what the run has come to on
// the view and returns what the run waits for next. The lists are read
// again only at its steps, as revisions of the plan (OperationsRead), so
// they may change between any two events.
class RunMachine {
public:
  enum class Waiting {
    Finished, // the run is over; outcome() says how
    Worker,   // a pair done ahead: waitForWorkers() until it is handed over
    Here,     // a pair to do in this process: doPairHere(), then pairDoneHere()
    Answer,   // the error question(): answered()
  };
  // The question after a failed pair: its title and text (Yes, No, Cancel;
  // the question icon), and why the pair failed, for its details.
  struct Question {
    QString title, text, details;
  };

  RunMachine(const RunSource &source, RunView &view, const RunEnvironment &env, RunState &state);
  ~RunMachine();
  RunMachine(const RunMachine &) = delete;
  RunMachine &operator=(const RunMachine &) = delete;

  // The events. Stop needs none of its own: `state.StopProcess` is read at
  // every step, and a pair under way is finished first.
  Waiting start();
  // Waits up to `milliseconds` for the workers, then steps.
  Waiting waitForWorkers(int milliseconds);
  Waiting pairDoneHere(const PairResult &result, const RunState &pairState);
  Waiting pairFailedHere(std::exception_ptr failure);
  Waiting answered(Answer answer);

  // The pair to do in this process, on any thread, while the machine waits
  // for it: its own copy of the run's state, and the work itself, which
  // asks `user` whatever it must ask and may throw.
  RunState pairState() const { return state_; }
  PairResult doPairHere(Prompter &user, RunState &pairState);

  const Question &question() const { return question_; }
  const RunOutcome &outcome() const { return outcome_; }

private:
  enum class At { NextImage, NextOperation, Ahead, Here, Asking, Done };
  template <class Event> Waiting guarded(Event &&event);
  void begin();
  Waiting advance();
  void beginImage();
  bool beginPair();
  void endPair(const PairResult &result);
  Waiting finish();
  qint64 pairsLeft() const;

  const RunSource &source_;
  RunView &view_;
  const RunEnvironment &env_;
  RunState &state_;
  RunOutcome outcome_;
  QString &step_;
  At at_ = At::NextImage;
  qint64 maximum_ = 0;
  qint64 images_ = 0, imageNumber_ = 0;
  bool yesToAll_ = false;
  RunFiles files_;
  RunPlan plan_;
  // The operation list as last read: first at the first pair, in the
  // loop's own step, where a list that cannot be read is reported.
  OperationsRead operations_{QList<std::pair<QString, bool>>{}};
  std::unique_ptr<PairRunner> runner_;
  RunAhead *ahead_ = nullptr;
  size_t nextPlanned_ = 0;
  // Where the run is in the lists: a stop leaves what comes after unrun.
  qsizetype atImage_ = -1, atOperation_ = -1;
  // The image and pair under way.
  QString imageCaption_, imagePath_, operationText_;
  Operation op_;
  std::optional<size_t> planned_;
  Question question_;
};

} // namespace varnholt
