#include "dialogs/frm_error.h"

#include "platform/desktop.h"
#include "platform/error_report.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace varnholt {

namespace {
void ExitAtOnce(int exitCode) {
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

QLabel *Label(const QString &name, const QString &caption, QWidget *parent) {
  auto *label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  return label;
}
} // namespace

frmError::frmError(Shell &shell, QWidget *parent, ExitFunction exit)
    : QDialog(parent), shell_(shell), exit_(exit ? std::move(exit) : ExitFunction(ExitAtOnce)) {
  setObjectName(QStringLiteral("frmError"));
  setWindowTitle(QStringLiteral("Error"));
  setModal(true);

  lblTitle = Label(QStringLiteral("lblTitle"), QStringLiteral("An Error Has Occured!"), this);
  QFont titleFont = lblTitle->font();
  titleFont.setFamilies({QStringLiteral("MS Sans Serif"), titleFont.family()});
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  lblTitle->setFont(titleFont);
  imgError = Label(QStringLiteral("imgError"), QString(), this);
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  imgError->setPixmap(style()
                          ->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this)
                          .pixmap(iconSize, iconSize));
  lblIDTitle = Label(QStringLiteral("lblIDTitle"), QStringLiteral("ID:"), this);
  lblID = Label(QStringLiteral("lblID"), QString(), this);
  lblID->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblDescription = Label(QStringLiteral("lblDescription"), QStringLiteral("Description: "), this);
  lblDescription->setWordWrap(true);
  lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblDetails = Label(QStringLiteral("lblDetails"), QStringLiteral("Details:"), this);
  txtDetails = new QPlainTextEdit(this);
  txtDetails->setObjectName(QStringLiteral("txtDetails"));
  txtDetails->setReadOnly(true);
  txtDetails->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtDetails->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  cmdOK = new QPushButton(QStringLiteral("&OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  cmdSendToHV = new QPushButton(QStringLiteral("Send Error Infomation to Bug Reporter"), this);
  cmdSendToHV->setObjectName(QStringLiteral("cmdSendToHV"));
  cmdSendToHV->setAutoDefault(false);
  connect(cmdOK, &QPushButton::clicked, this, &frmError::cmdOK_Click);
  connect(cmdSendToHV, &QPushButton::clicked, this, &frmError::cmdSendToHV_Click);

  auto *heading = new QHBoxLayout;
  heading->addWidget(imgError);
  heading->addWidget(lblTitle, 1);
  auto *id = new QHBoxLayout;
  id->addWidget(lblIDTitle);
  id->addWidget(lblID, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(cmdSendToHV);
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addLayout(id);
  layout->addWidget(lblDescription);
  layout->addWidget(lblDetails);
  layout->addWidget(txtDetails, 1);
  layout->addLayout(buttons);
  resize(480, 360);
}

void frmError::DisplayError(const ErrorReport &report) {
  QWidget *caller = QApplication::activeWindow();
  DisplayError(report, caller && caller != this ? caller->windowIcon() : QIcon());
}

void frmError::DisplayError(const ErrorReport &report, const QIcon &dialogIcon) {
  setWindowTitle(report.title);
  lblID->setText(QString::number(report.errorNumber));
  lblDescription->setText("Description: " + report.description);
  if (!dialogIcon.isNull()) setWindowIcon(dialogIcon);

  programId_ = EncodeForURL(report.programId);
  windowName_ = EncodeForURL(report.form);
  programVersion_.clear();
  const QString text = ErrorReportText(report);
  txtDetails->setPlainText(text);
  report_ = EncodeForURL(text);

  exec();
  if (report.isFatal) exit_(1);
}

void frmError::cmdOK_Click() {
  programId_.clear();
  windowName_.clear();
  report_.clear();
  hide();
}

void frmError::reject() { cmdOK_Click(); }

QString frmError::reportAddress() const {
  return BugReportAddress(programId_, programVersion_, windowName_, report_);
}

void frmError::cmdSendToHV_Click() {
  // Whether a browser came up is not ours to judge; the dialog stays either way.
  shell_.open(reportAddress());
}

} // namespace varnholt
