// The operation editor: numeric boxes, the rectangle kept in step, the
// limits, enabling, and the editor's record in and out.
#include "mainwindow/frm_main.h"

#include "mainwindow/up_down.h"
#include "operations/editor_rules.h"
#include "operations/operation.h"
#include "operations/vb_text.h"
#include "platform/error_reporter.h"
#include "platform/failure.h"
#include "platform/prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>

namespace varnholt {

namespace {
const QString kForm = QStringLiteral("frmMain");

// Writes a box the program has cleaned while the user types in it; the caret
// stays after the character it followed, as far as that survived.
void RewriteBox(QLineEdit *box, const QString &text, qsizetype caret) {
  box->setText(text);
  box->setCursorPosition(int(std::clamp<qsizetype>(caret, 0, text.size())));
}

QString Digits(const QString &text) { return RemoveNonNumbers(text, true); }
} // namespace

void frmMain::ReportFailure(const Failure &failure, const QString &source,
                            const QString &operation) {
  services_.errorReporter.DisplayError(
      ErrorReport::from(failure, windowTitle(), kForm, source, operation));
  // Back from the error dialog the window is activated as after any window
  // of the program, except when the activation itself failed: that would
  // only fail again.
  if (!activating_) ActivateLater();
}

QList<QLineEdit *> frmMain::LeaveWatchedBoxes() const {
  return {txtTopLeftX,     txtTopLeftY,      txtBottomRightX, txtBottomRightY,
          txtExtractWidth, txtExtractHeight, txtResizeWidth,  txtResizeHeight};
}

void frmMain::ConnectEditor() {
  connect(chkExtract, &QCheckBox::toggled, this, [this] { chkExtract_Click(); });
  connect(chkResizeImage, &QCheckBox::toggled, this, [this] { chkResizeImage_Click(); });
  connect(cmbResizeMethod, &QComboBox::currentIndexChanged, this,
          [this] { cmbResizeMethod_Click(); });
  for (QLineEdit *box : LeaveWatchedBoxes()) {
    connect(box, &QLineEdit::textChanged, this, [this, box] {
      CheckRemoveNonNumbers(box, true);
      OperationSaved = false;
    });
    box->installEventFilter(this);
  }
  connect(udbExtractWidth, &UpDown::changed, this, [this] { VerifyCoordinates(txtExtractWidth); });
  connect(udbExtractHeight, &UpDown::changed, this,
          [this] { VerifyCoordinates(txtExtractHeight); });
  connect(txtPrefix, &QLineEdit::textChanged, this, [this] { txtPrefix_Change(); });
  connect(txtSuffix, &QLineEdit::textChanged, this, [this] { txtSuffix_Change(); });
  connect(cmbOutputFormat, &QComboBox::currentIndexChanged, this,
          [this] { OperationSaved = false; });
  connect(txtJpgQuality, &QLineEdit::textChanged, this, [this] { OperationSaved = false; });
  connect(cmdUseCropTool, &QPushButton::clicked, this, [this] { cmdUseCropTool_Click(); });
}

bool frmMain::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::FocusOut && !leavingBox_) {
    // Another window taking the focus (a message box, another program) or a
    // context menu on the box is not a leave: the caret is still there.
    const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (box && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      leavingBox_ = true;
      BoxLeft(box);
      leavingBox_ = false;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void frmMain::BoxLeft(QLineEdit *box) {
  if (box == txtResizeWidth)
    txtResizeWidth_LostFocus();
  else if (box == txtResizeHeight)
    txtResizeHeight_LostFocus();
  else
    VerifyCoordinates(box);
}

void frmMain::CheckRemoveNonNumbers(QLineEdit *box, bool ZeroAllowed) {
  try {
    if (SettingControls) return;
    const QString text = box->text();
    if (text.isEmpty()) return;
    const QString cleaned = RemoveNonNumbers(text, ZeroAllowed);
    if (cleaned != text) RewriteBox(box, cleaned, Digits(text.left(box->cursorPosition())).size());
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("CheckRemoveNonNumbers"),
                  "TextBox: '" + box->objectName() + "' ZeroAllowed: '" +
                      (ZeroAllowed ? "True" : "False") + "'");
  }
}

void frmMain::VerifyCoordinates(QLineEdit *txtbox) {
  try {
    QLineEdit *const boxes[] = {txtTopLeftX,     txtTopLeftY,     txtBottomRightX,
                                txtBottomRightY, txtExtractWidth, txtExtractHeight};
    RectangleBoxes values{txtTopLeftX->text(),     txtTopLeftY->text(),
                          txtBottomRightX->text(), txtBottomRightY->text(),
                          txtExtractWidth->text(), txtExtractHeight->text()};
    QString *const fields[] = {&values.TopLeftX,     &values.TopLeftY,     &values.BottomRightX,
                               &values.BottomRightY, &values.ExtractWidth, &values.ExtractHeight};
    const RectangleBox names[] = {RectangleBox::TopLeftX,     RectangleBox::TopLeftY,
                                  RectangleBox::BottomRightX, RectangleBox::BottomRightY,
                                  RectangleBox::ExtractWidth, RectangleBox::ExtractHeight};
    int which = 0;
    while (which < 6 && boxes[which] != txtbox)
      ++which;
    if (which == 6) return;

    const QList<SizeLimit> limits = varnholt::VerifyCoordinates(values, names[which]);
    for (int i = 0; i < 6; ++i)
      if (boxes[i]->text() != *fields[i]) boxes[i]->setText(*fields[i]);
    // The boxes already show the clamped rectangle while the message is read.
    for (const SizeLimit limit : limits)
      services_.prompter.ask(SizeLimitTitle(), SizeLimitText(limit), Buttons::Ok,
                             Icon::Information);
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("VerifyCoordinates"),
                  "txtbox = \"" + txtbox->objectName() + "\"");
  }
}

void frmMain::ResizeLimit(QLineEdit *box, bool width) {
  try {
    QString text = box->text();
    if (CheckResizeLimit(text))
      services_.prompter.ask(SizeLimitTitle(), ResizeLimitText(width), Buttons::Ok,
                             Icon::Information);
    if (text != box->text()) box->setText(text);
  } catch (const Failure &failure) {
    ReportFailure(failure, width ? QStringLiteral("txtResizeWidth_LostFocus")
                                 : QStringLiteral("txtResizeHeight_LostFocus"));
  }
}

void frmMain::txtResizeWidth_LostFocus() { ResizeLimit(txtResizeWidth, true); }

void frmMain::txtResizeHeight_LostFocus() { ResizeLimit(txtResizeHeight, false); }

void frmMain::FileNameCheck(QLineEdit *box) {
  const QString text = box->text();
  if (!IsValidFilenamePart(text)) {
    services_.prompter.ask(QStringLiteral("Bad Characters"),
                           QStringLiteral("These characters not allowed in filenames: \\/|?\"><*:"),
                           Buttons::Ok, Icon::Exclamation);
    RewriteBox(box, RemoveInvalidFilenameChars(text),
               RemoveInvalidFilenameChars(text.left(box->cursorPosition())).size());
  }
  OperationSaved = false;
}

void frmMain::txtPrefix_Change() { FileNameCheck(txtPrefix); }

void frmMain::txtSuffix_Change() { FileNameCheck(txtSuffix); }

void frmMain::SyncSpinners() {
  // An arrow never writes into a box the user cannot edit.
  for (UpDown *spinner : {udbExtractWidth, udbExtractHeight, udbResizeWidth, udbResizeHeight})
    spinner->setEnabled(spinner->buddy()->isEnabled());
}

void frmMain::chkExtract_Click() {
  const bool t = chkExtract->isChecked();
  for (QWidget *w : std::initializer_list<QWidget *>{
           lblCoordX, lblCoordY, lblTopLeft, lblBottomRight, txtTopLeftX, txtTopLeftY,
           txtBottomRightX, txtBottomRightY, lblExtractWidth, lblExtractHeight, txtExtractWidth,
           txtExtractHeight, lblExtractX})
    w->setEnabled(t);
  cmdUseCropTool->setEnabled(t && ImageLoaded != 0);
  SyncSpinners();
  OperationSaved = false;
}

void frmMain::chkResizeImage_Click() {
  const bool t = chkResizeImage->isChecked();
  for (QWidget *w :
       std::initializer_list<QWidget *>{cmbResizeMethod, lblResizeWidth, lblResizeHeight,
                                        txtResizeWidth, txtResizeHeight, lblResizeX})
    w->setEnabled(t);
  cmbResizeMethod_Click();
  SyncSpinners();
  OperationSaved = false;
}

void frmMain::cmbResizeMethod_Click() {
  if (!chkResizeImage->isChecked()) return;
  const int method = cmbResizeMethod->currentIndex();
  const bool width = method != kLimitHeight;
  const bool height = method != kLimitWidth;
  for (QWidget *w :
       std::initializer_list<QWidget *>{txtResizeWidth, lblResizeWidth, udbResizeWidth})
    w->setEnabled(width);
  for (QWidget *w :
       std::initializer_list<QWidget *>{txtResizeHeight, lblResizeHeight, udbResizeHeight})
    w->setEnabled(height);
  lblResizeX->setEnabled(width && height);
  OperationSaved = false;
}

bool frmMain::OperationFromControls(Operation &op) {
  try {
    const auto number = [](const QLineEdit *box) { return ToLong(BoxValue(box->text())); };
    Operation fresh;
    fresh.Extract = chkExtract->isChecked();
    fresh.TopLeftX = number(txtTopLeftX);
    fresh.TopLeftY = number(txtTopLeftY);
    fresh.BottomRightX = number(txtBottomRightX);
    fresh.BottomRightY = number(txtBottomRightY);
    fresh.Resize = chkResizeImage->isChecked();
    fresh.ResizeMethod = cmbResizeMethod->currentIndex();
    fresh.ResizeWidth = number(txtResizeWidth);
    fresh.ResizeHeight = number(txtResizeHeight);
    fresh.OutputFormat =
        cmbOutputFormat->currentIndex() <= 0 ? QString() : cmbOutputFormat->currentText();
    fresh.JpgQuality = ToByte(BoxValue(txtJpgQuality->text()));
    fresh.Prefix = txtPrefix->text();
    fresh.Suffix = txtSuffix->text();
    op = fresh;
    return true;
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("OperationFromControls"));
    return false;
  }
}

void frmMain::SetControlsForOperation(const Operation &op) {
  try {
    chkExtract->setChecked(op.Extract);
    txtTopLeftX->setText(QString::number(op.TopLeftX));
    txtTopLeftY->setText(QString::number(op.TopLeftY));
    txtBottomRightX->setText(QString::number(op.BottomRightX));
    txtBottomRightY->setText(QString::number(op.BottomRightY));
    chkResizeImage->setChecked(op.Resize);
    if (op.ResizeMethod < -1 || op.ResizeMethod >= cmbResizeMethod->count())
      throw Failure(kErrInvalidCall, "No resize method number " + QString::number(op.ResizeMethod));
    cmbResizeMethod->setCurrentIndex(op.ResizeMethod);
    txtResizeWidth->setText(QString::number(op.ResizeWidth));
    txtResizeHeight->setText(QString::number(op.ResizeHeight));
    txtPrefix->setText(op.Prefix);
    txtSuffix->setText(op.Suffix);
    const int format = op.OutputFormat.isEmpty()
                           ? 0
                           : cmbOutputFormat->findText(op.OutputFormat, Qt::MatchFixedString);
    if (format < 0) throw Failure(kErrInvalidCall, "No output format \"" + op.OutputFormat + "\"");
    cmbOutputFormat->setCurrentIndex(format);
    txtJpgQuality->setText(QString::number(op.JpgQuality));
    chkExtract_Click();
    chkResizeImage_Click();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("SetControlsForOperation"));
  }
}

} // namespace varnholt
