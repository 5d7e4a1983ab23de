#include "dialogs/frm_splash.h"

#include "version.h"

#include <QApplication>
#include <QEventLoop>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace varnholt {

namespace {
QLabel *Label(const char *name, const QString &caption, QWidget *parent) {
  auto *label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}
} // namespace

frmSplash::frmSplash(QWidget *parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("frmSplash"));
  setWindowTitle(QStringLiteral("Varnholt"));
  setModal(true);

  Frame1 = new QFrame(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setFrameShape(QFrame::Panel);
  Frame1->setFrameShadow(QFrame::Raised);
  Frame1->setLineWidth(2);

  lbltitle = Label("lbltitle", QString(), Frame1);
  QFont titleFont = lbltitle->font();
  titleFont.setFamilies({QStringLiteral("MS Sans Serif"), titleFont.family()});
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 2.2);
  lbltitle->setFont(titleFont);
  Image1 = Label("Image1", QString(), Frame1);
  Image1->setPixmap(QApplication::windowIcon().pixmap(64, 64));
  Image1->setFixedSize(64, 64);
  Label4 = Label("Label4", QStringLiteral("Version:"), Frame1);
  lblVersion = Label("lblVersion", QString(), Frame1);
  Label3 = Label("Label3", QStringLiteral("Written By:"), Frame1);
  lblAuthor = Label("lblAuthor", QString::fromUtf8(kAuthor), Frame1);
  lblWebsite = Label("lblWebsite", QString::fromUtf8(kWebUrl), Frame1);
  Label2 = Label("Label2", QStringLiteral("Loading...."), Frame1);
  proLoading = new QProgressBar(Frame1);
  proLoading->setObjectName(QStringLiteral("proLoading"));
  proLoading->setTextVisible(false);
  timLoading = new QTimer(this);
  timLoading->setObjectName(QStringLiteral("timLoading"));
  timLoading->setInterval(10);
  connect(timLoading, &QTimer::timeout, this, [this] { timLoading_Timer(); });
  LayOutControls();

  // Load: the texts, the empty bar, and the middle of the screen.
  lbltitle->setText(QStringLiteral("Varnholt"));
  lblVersion->setText(QString::number(kVersionMajor) + u'.' + QString::number(kVersionMinor) +
                      u'.' + QString::number(kVersionRevision));
  proLoading->setRange(0, 500);
  proLoading->setValue(0);
  setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.left() + int(area.width() / 2.0 - width() / 2.0),
         area.top() + int(area.height() / 2.0 - height() / 2.0));
  }
}

void frmSplash::LayOutControls() {
  auto *details = new QGridLayout;
  details->addWidget(Label4, 0, 0);
  details->addWidget(lblVersion, 0, 1);
  details->addWidget(Label3, 1, 0);
  details->addWidget(lblAuthor, 1, 1);
  details->addWidget(lblWebsite, 2, 0, 1, 2);
  details->setColumnStretch(1, 1);
  details->setHorizontalSpacing(10);
  auto *top = new QGridLayout(Frame1);
  top->setContentsMargins(18, 14, 18, 14);
  top->setHorizontalSpacing(16);
  top->addWidget(Image1, 0, 0, 2, 1, Qt::AlignTop);
  top->addWidget(lbltitle, 0, 1);
  top->addLayout(details, 1, 1);
  top->addWidget(Label2, 2, 0, 1, 2);
  top->addWidget(proLoading, 3, 0, 1, 2);
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(Frame1);
}

void frmSplash::ShowModal() {
  QEventLoop loop;
  modalLoop_ = &loop;
  show();
  if (isVisible()) loop.exec(QEventLoop::DialogExec);
  modalLoop_ = nullptr;
}

void frmSplash::hideEvent(QHideEvent *event) {
  QDialog::hideEvent(event);
  timLoading->stop();
  if (modalLoop_) modalLoop_->quit();
}

void frmSplash::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  timLoading->start();
}

void frmSplash::timLoading_Timer() {
  proLoading->setValue(
      std::min(proLoading->maximum(), proLoading->value() + timLoading->interval()));
  if (proLoading->value() >= proLoading->maximum()) {
    timLoading->stop();
    hide();
  }
}

} // namespace varnholt
