#pragma once

#include "processing/run.h"
#include "processing/run_machine.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QGroupBox;
class QThread;

namespace varnholt {

class ErrorReporter;

// The run window. Showing it (modally, with exec()) starts a run over what the
// source holds at that moment; it hides itself when the run ends. The run is
// a RunMachine fed from the window's own event loop: a pair done in this
// process runs on a thread of its own, workers' answers are waited for in
// short slices between events, and every question is asked on this thread. It is made
// once, centred over its owner, and reused where the user leaves it.
class frmGo : public QDialog, private RunView {
  Q_OBJECT
public:
  frmGo(RunSource &source, const Settings &settings, ImageToolkit &toolkit, Prompter &prompter,
        ErrorReporter &errors, QWidget *owner = nullptr, RunAhead *ahead = nullptr);
  ~frmGo() override;

  // True after a run the user ended with No at the error question, or that
  // failed on its own; the main window then does not offer the results.
  bool ProcessAborted() const { return outcome_.ProcessAborted; }
  const RunOutcome &lastRun() const { return outcome_; }
  bool running() const { return running_; }

  void cmdStop_Click();

  // Shows the window again after its run, with the run's counts, while the
  // user is asked what comes next; hide() ends that.
  void ShowAfterRun();
  // Milliseconds from any fixed point; tests set their own.
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
  // "About 1 min 5 s left" for that many seconds.
  static QString TimeLeftText(qint64 seconds);

protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void hideEvent(QHideEvent *event) override;
  void reject() override;

private:
  void Form_Activate();
  // What the run waits for after its last step, set going.
  void Await(RunMachine::Waiting waiting);
  void DoPairHere();
  void RunEnded();

  void ShowImage(const QString &caption) override;
  void ShowOperation(const QString &operationText) override;
  void ShowProgress(qint64 value, qint64 maximum) override;
  void ShowImageNumber(qint64 number, qint64 count) override;
  void ShowPairDone(ApplyOutcome outcome) override;
  void ShowCounts();

  RunSource &source_;
  const Settings &settings_;
  ImageToolkit &toolkit_;
  Prompter &prompter_;
  // Asks for a pair done on another thread, on this window's thread.
  std::unique_ptr<Prompter> pairPrompter_;
  ErrorReporter &errors_;
  RunAhead *ahead_;

  QGroupBox *fraGo;
  QLabel *lblCurrImageLbl;
  QLabel *lblCurrImage;
  QLabel *lblCurrOperationLbl;
  QLabel *lblCurrOperation;
  QProgressBar *proProcess;
  QLabel *lblImageNumber;
  QLabel *lblTimeLeft;
  QLabel *lblRunCounts;
  QPushButton *cmdStop;

  RunState state_;
  RunOutcome outcome_;
  std::optional<RunEnvironment> environment_;
  std::unique_ptr<RunMachine> machine_;
  QThread *pairThread_ = nullptr; // the pair done in this process, under way
  bool running_ = false;
  bool failed_ = false;   // the last run failed; the window waits to be closed
  bool afterRun_ = false; // shown again after a run: no run of its own

  std::function<qint64()> clock_;
  qint64 startedAt_ = 0;
  qint64 pairsDone_ = 0, pairsPlanned_ = 0;
  qint64 written_ = 0, skipped_ = 0, pairsFailed_ = 0;
};

inline const QString kStopCaption = QStringLiteral("S&top Process");
inline const QString kCloseCaption = QStringLiteral("&Close");

} // namespace varnholt
