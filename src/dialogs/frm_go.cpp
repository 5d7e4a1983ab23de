#include "dialogs/frm_go.h"

#include "platform/error_reporter.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>
#include <limits>
#include <utility>

namespace varnholt {

namespace {
// Image names and operation texts can be far wider than the window; the
// label keeps the whole text (and shows it as a tool tip) but paints it
// shortened in the middle, so neither end is lost and the window never grows.
class ElidingLabel : public QLabel {
public:
  using QLabel::QLabel;

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.drawText(area, int(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
  }
};

QLabel *NarrowLabel(const QString &name, QWidget *parent) {
  auto *label = new ElidingLabel(parent);
  label->setObjectName(name);
  QFont font = label->font();
  font.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow"),
                    QStringLiteral("DejaVu Sans Condensed")});
  label->setFont(font);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A pair done on another thread asks its question (a rectangle outside the
// picture) on the window's thread, and waits there for the answer.
class WindowThreadPrompter : public Prompter {
public:
  WindowThreadPrompter(Prompter &inner, QObject &window) : inner_(inner), window_(window) {}
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon icon) override {
    return onWindowThread([&] { return inner_.ask(title, text, buttons, icon); });
  }
  Answer askWithDetails(const QString &title, const QString &text, const QString &details,
                        Buttons buttons, Icon icon) override {
    return onWindowThread(
        [&] { return inner_.askWithDetails(title, text, details, buttons, icon); });
  }

private:
  template <class Ask> Answer onWindowThread(const Ask &ask) {
    if (QThread::currentThread() == window_.thread()) return ask();
    Answer answer = Answer::Cancel;
    QMetaObject::invokeMethod(
        &window_, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
    return answer;
  }
  Prompter &inner_;
  QObject &window_;
};

QLabel *CaptionLabel(const QString &name, const QString &caption, QWidget *parent) {
  auto *label = new QLabel(caption, parent);
  label->setObjectName(name);
  return label;
}
} // namespace

frmGo::frmGo(RunSource &source, const Settings &settings, ImageToolkit &toolkit, Prompter &prompter,
             ErrorReporter &errors, QWidget *owner, RunAhead *ahead)
    : QDialog(owner), source_(source), settings_(settings), toolkit_(toolkit), prompter_(prompter),
      pairPrompter_(std::make_unique<WindowThreadPrompter>(prompter, *this)), errors_(errors),
      ahead_(ahead) {
  setObjectName(QStringLiteral("frmGo"));
  setWindowTitle(QStringLiteral("Doing Operations..."));
  setModal(true);

  fraGo = new QGroupBox(this);
  fraGo->setObjectName(QStringLiteral("fraGo"));
  lblCurrImageLbl =
      CaptionLabel(QStringLiteral("lblCurrImageLbl"), QStringLiteral("Image:"), fraGo);
  lblCurrImage = NarrowLabel(QStringLiteral("lblCurrImage"), fraGo);
  lblCurrOperationLbl =
      CaptionLabel(QStringLiteral("lblCurrOperationLbl"), QStringLiteral("Operation:"), fraGo);
  lblCurrOperation = NarrowLabel(QStringLiteral("lblCurrOperation"), fraGo);
  proProcess = new QProgressBar(fraGo);
  proProcess->setObjectName(QStringLiteral("proProcess"));
  proProcess->setRange(0, 1);
  proProcess->setValue(0);
  lblImageNumber = CaptionLabel(QStringLiteral("lblImageNumber"), QString(), fraGo);
  lblTimeLeft = CaptionLabel(QStringLiteral("lblTimeLeft"), QString(), fraGo);
  lblTimeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblRunCounts = CaptionLabel(QStringLiteral("lblRunCounts"), QString(), fraGo);
  // Empty lines keep their height, so the window does not jump as they fill.
  for (QLabel *line : {lblImageNumber, lblTimeLeft, lblRunCounts})
    line->setMinimumHeight(line->fontMetrics().height());
  clock_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
  cmdStop = new QPushButton(kStopCaption, this);
  cmdStop->setObjectName(QStringLiteral("cmdStop"));
  cmdStop->setAutoDefault(false);
  connect(cmdStop, &QPushButton::clicked, this, &frmGo::cmdStop_Click);

  auto *grid = new QGridLayout(fraGo);
  grid->addWidget(lblCurrImageLbl, 0, 0);
  grid->addWidget(lblCurrImage, 0, 1);
  grid->addWidget(lblCurrOperationLbl, 1, 0);
  grid->addWidget(lblCurrOperation, 1, 1);
  grid->addWidget(proProcess, 2, 0, 1, 2);
  auto *progressLine = new QHBoxLayout;
  progressLine->addWidget(lblImageNumber);
  progressLine->addWidget(lblTimeLeft, 1);
  grid->addLayout(progressLine, 3, 0, 1, 2);
  grid->addWidget(lblRunCounts, 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(fraGo);
  layout->addWidget(cmdStop, 0, Qt::AlignHCenter);
  setFixedSize(480, sizeHint().height());

  // Centred over the owner once, at creation; afterwards it stays wherever
  // the user puts it.
  if (owner) {
    const QRect o = owner->frameGeometry();
    move(o.x() + o.width() / 2 - width() / 2, o.y() + o.height() / 2 - height() / 2);
  }
}

void frmGo::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  // A window restored from the task bar is not a new showing. The run starts
  // from the event loop so the window is painted before the first image.
  if (!event->spontaneous() && !running_ && !afterRun_)
    QTimer::singleShot(0, this, [this] {
      if (isVisible() && !running_ && !afterRun_) Form_Activate();
    });
}

frmGo::~frmGo() {
  if (pairThread_) pairThread_->wait();
  delete pairThread_;
}

void frmGo::Form_Activate() {
  running_ = true;
  failed_ = false;
  cmdStop->setText(kStopCaption);
  lblCurrImage->clear();
  lblCurrOperation->clear();
  lblImageNumber->clear();
  lblTimeLeft->clear();
  lblRunCounts->clear();
  startedAt_ = clock_();
  pairsDone_ = pairsPlanned_ = written_ = skipped_ = pairsFailed_ = 0;
  machine_.reset();
  environment_.emplace(RunEnvironment{settings_, toolkit_, prompter_, ahead_});
  RunView &view = *this;
  machine_ = std::make_unique<RunMachine>(source_, view, *environment_, state_);
  Await(machine_->start());
}

// Each wait ends in an event of the window's loop, which takes the next
// step: nothing here waits in a loop of its own.
void frmGo::Await(RunMachine::Waiting waiting) {
  switch (waiting) {
  case RunMachine::Waiting::Finished: RunEnded(); break;
  case RunMachine::Waiting::Here: DoPairHere(); break;
  case RunMachine::Waiting::Worker:
    // A short slice: an answer wakes it at once, and a click waits no longer.
    QTimer::singleShot(0, this, [this] { Await(machine_->waitForWorkers(10)); });
    break;
  case RunMachine::Waiting::Answer:
    QTimer::singleShot(0, this, [this] {
      const RunMachine::Question &q = machine_->question();
      Await(machine_->answered(prompter_.askWithDetails(q.title, q.text, q.details,
                                                        Buttons::YesNoCancel, Icon::Question)));
    });
    break;
  }
}

// The pair runs on a thread of its own with its own copy of the run's state;
// the window goes on handling events, and Stop waits for the pair to end.
void frmGo::DoPairHere() {
  struct Pair {
    RunState state;
    PairResult result;
    std::exception_ptr failure;
  };
  auto pair = std::make_shared<Pair>();
  pair->state = machine_->pairState();
  RunMachine *machine = machine_.get();
  Prompter *asker = pairPrompter_.get();
  pairThread_ = QThread::create([machine, asker, pair] {
    try {
      pair->result = machine->doPairHere(*asker, pair->state);
    } catch (...) {
      pair->failure = std::current_exception();
    }
  });
  connect(
      pairThread_, &QThread::finished, this,
      [this, pair] {
        pairThread_->wait();
        delete std::exchange(pairThread_, nullptr);
        Await(pair->failure ? machine_->pairFailedHere(pair->failure)
                            : machine_->pairDoneHere(pair->result, pair->state));
      },
      Qt::QueuedConnection);
  pairThread_->start();
}

void frmGo::RunEnded() {
  outcome_ = machine_->outcome();
  machine_.reset(); // and with it what the run kept open: its hidden folders go
  running_ = false;
  // What a stop left unrun is not "finished": it counts as skipped, and says so.
  if (outcome_.stopped) skipped_ += outcome_.pairsNotRun;
  ShowCounts();
  lblTimeLeft->clear();
  if (outcome_.failure) {
    // The run broke off: leave the window where it is, with the step it got
    // to, and let the user close it once the report has been read.
    failed_ = true;
    cmdStop->setText(kCloseCaption);
    errors_.DisplayError(ErrorReport::from(*outcome_.failure, windowTitle(),
                                           QStringLiteral("frmGo"), QStringLiteral("Form_Activate"),
                                           outcome_.step));
    return;
  }
  hide();
}

void frmGo::cmdStop_Click() {
  if (running_)
    state_.StopProcess = true;
  else
    hide();
}

void frmGo::closeEvent(QCloseEvent *event) {
  // Closing the window while it works asks it to stop; it hides itself once
  // the operation under way has finished.
  if (running_) {
    cmdStop_Click();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void frmGo::ShowAfterRun() {
  afterRun_ = true;
  show();
}

void frmGo::hideEvent(QHideEvent *event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) afterRun_ = false;
}

void frmGo::reject() {
  if (running_)
    cmdStop_Click();
  else
    QDialog::reject();
}

void frmGo::ShowImage(const QString &caption) {
  lblCurrImage->setText(caption);
  lblCurrImage->setToolTip(caption);
}

void frmGo::ShowOperation(const QString &operationText) {
  lblCurrOperation->setText(operationText);
  lblCurrOperation->setToolTip(operationText);
}

void frmGo::ShowImageNumber(qint64 number, qint64 count) {
  lblImageNumber->setText(QStringLiteral("Image %1 of %2").arg(number).arg(count));
}

void frmGo::ShowPairDone(ApplyOutcome outcome) {
  ++pairsDone_;
  switch (outcome) {
  case ApplyOutcome::Written: ++written_; break;
  case ApplyOutcome::Skipped: ++skipped_; break;
  case ApplyOutcome::Failed: ++pairsFailed_; break;
  }
  // The first pairs carry the start-up of ImageMagick and the workers; a
  // guess from them alone would promise far too much or too little.
  constexpr qint64 kPairsBeforeGuessing = 3;
  const qint64 remaining = pairsPlanned_ - pairsDone_;
  if (pairsDone_ < kPairsBeforeGuessing || remaining <= 0) {
    lblTimeLeft->clear();
    return;
  }
  const double perPair = double(clock_() - startedAt_) / double(pairsDone_);
  lblTimeLeft->setText(TimeLeftText(qint64(perPair * double(remaining) / 1000.0 + 0.5)));
}

void frmGo::ShowCounts() {
  lblRunCounts->setText(RunCountsText(written_, skipped_, pairsFailed_, outcome_.stopped));
}

QString frmGo::TimeLeftText(qint64 seconds) {
  seconds = std::max<qint64>(seconds, 1);
  QString left;
  if (seconds < 60)
    left = QStringLiteral("%1 s").arg(seconds);
  else if (seconds < 3600)
    left = QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
  else
    left = QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
  return QStringLiteral("About %1 left").arg(left);
}

void frmGo::ShowProgress(qint64 value, qint64 maximum) {
  pairsPlanned_ = maximum;
  // The bar counts in int; a longer run is shown in proportion.
  constexpr qint64 kBarMax = std::numeric_limits<int>::max();
  if (maximum > kBarMax) {
    value = qint64(double(value) / double(maximum) * double(kBarMax));
    maximum = kBarMax;
  }
  if (maximum <= 0) maximum = 1; // 0..0 would show a busy bar instead of an empty one
  if (proProcess->maximum() != maximum) proProcess->setRange(0, int(maximum));
  proProcess->setValue(int(std::min(value, maximum)));
}

} // namespace varnholt
