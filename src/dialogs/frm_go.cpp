#include "dialogs/frm_go.h"

#include "platform/error_reporter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <limits>

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

QLabel *CaptionLabel(const QString &name, const QString &caption, QWidget *parent) {
  auto *label = new QLabel(caption, parent);
  label->setObjectName(name);
  return label;
}
} // namespace

frmGo::frmGo(RunSource &source, const Settings &settings, ImageToolkit &toolkit, Prompter &prompter,
             ErrorReporter &errors, QWidget *owner, RunAhead *ahead)
    : QDialog(owner), source_(source), settings_(settings), toolkit_(toolkit), prompter_(prompter),
      errors_(errors), ahead_(ahead) {
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
  if (!event->spontaneous() && !running_)
    QTimer::singleShot(0, this, [this] {
      if (isVisible() && !running_) Form_Activate();
    });
}

void frmGo::Form_Activate() {
  running_ = true;
  failed_ = false;
  cmdStop->setText(kStopCaption);
  lblCurrImage->clear();
  lblCurrOperation->clear();
  outcome_ = DoOperations(source_, *this, {settings_, toolkit_, prompter_, ahead_}, state_);
  running_ = false;
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

void frmGo::ShowProgress(qint64 value, qint64 maximum) {
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

void frmGo::DoEvents() { QCoreApplication::processEvents(); }

} // namespace varnholt
