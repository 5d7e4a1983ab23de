// The operation editor: numeric boxes, the rectangle kept in step, the
// limits, enabling, and the editor's record in and out.
#include "mainwindow/operation_editor.h"

#include "croptool/frm_crop_tool.h"
#include "mainwindow/box_problem.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/panel_host.h"
#include "mainwindow/up_down.h"
#include "operations/editor_rules.h"
#include "operations/operation.h"
#include "operations/vb_text.h"
#include "platform/bind_control.h"
#include "platform/failure.h"
#include "platform/prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include <algorithm>
#include <exception>
#include <functional>
#include <tuple>

namespace varnholt {

namespace {
// Writes a box the program has cleaned while the user types in it; the caret
// stays after the character it followed, as far as that survived.
void RewriteBox(QLineEdit *box, const QString &text, qsizetype caret) {
  box->setText(text);
  box->setCursorPosition(int(std::clamp<qsizetype>(caret, 0, text.size())));
}

QString Digits(const QString &text) { return RemoveNonNumbers(text, true); }

const QString kDigitsOnly = QStringLiteral("Only the digits 0 to 9 go in this box.");
const QString kBadCharacters =
    QStringLiteral("These characters not allowed in filenames: \\/|?\"><*:");

bool AllDigits(const QString &text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A key or a paste whose result the box cannot hold is not put in at all,
// and the box says why in place: a message box per key would take the
// keyboard and swallow what the user goes on typing. The program's own
// writes are not refused here; the boxes' change handling cleans those.
class RefusingValidator : public QValidator {
public:
  RefusingValidator(QLineEdit *box, std::function<bool(const QString &)> accepts, QString why)
      : QValidator(box), box_(box), accepts_(std::move(accepts)), why_(std::move(why)) {}
  State validate(QString &input, int &) const override {
    if (accepts_(input)) return Acceptable;
    if (box_->hasFocus()) ShowRefusedInput(box_, why_);
    return Invalid;
  }

private:
  QLineEdit *box_;
  std::function<bool(const QString &)> accepts_;
  QString why_;
};

// New methods go at the end: a method's code is its place in the box.
const QStringList kResizeMethods = {"Limit Width & Height", "Limit Width", "Limit Height",
                                    "Fix to Size", "Scale by Percent"};
const QStringList kOutputFormats = {"Don't Change", "BMP",  "GIF", "JPG",  "PNG",
                                    "TIFF",         "MIFF", "TGA", "WEBP", "AVIF"};
} // namespace

OperationEditor::OperationEditor(QWidget *client, const MainWindowServices &services,
                                 PanelHost &host, const ImagePanel &images, QObject *parent)
    : QObject(parent), services_(services), host_(host), images_(images),
      window_(client->window()) {
  BindControls(client);
  cmbResizeMethod->addItems(kResizeMethods);
  cmbOutputFormat->addItems(kOutputFormats);
  // Spinners and their boxes, with the editor's limits.
  const std::pair<UpDown *, QLineEdit *> spinners[] = {{udbExtractWidth, txtExtractWidth},
                                                       {udbExtractHeight, txtExtractHeight},
                                                       {udbResizeWidth, txtResizeWidth},
                                                       {udbResizeHeight, txtResizeHeight},
                                                       {udbJpgQuality, txtJpgQuality}};
  for (const auto &[spinner, buddy] : spinners) {
    spinner->setBuddy(buddy);
    spinner->setRange(spinner == udbJpgQuality ? 1 : 5, spinner == udbJpgQuality ? 100 : 20000);
  }
  // The quality box takes no typing, so without keys and the wheel every
  // step would be a click on an arrow.
  udbJpgQuality->stepFromBuddyKeys(10);
  for (QLineEdit *box : LeaveWatchedBoxes())
    box->setValidator(new RefusingValidator(box, AllDigits, kDigitsOnly));
  for (QLineEdit *box : {txtPrefix, txtSuffix})
    box->setValidator(new RefusingValidator(box, IsValidFilenamePart, kBadCharacters));
  cmdUseCropTool->setEnabled(false);
  SetUpAspectBox();
  Connect();
}

OperationEditor::~OperationEditor() {
  // Deleting a focused box sends it one last focus-out, which must not reach
  // an editor that is half gone.
  for (QLineEdit *box : LeaveWatchedBoxes() + QList<QLineEdit *>{txtPrefix, txtSuffix})
    box->removeEventFilter(this);
}

void OperationEditor::BindControls(QWidget *client) {
  const auto bind = [client](auto *&member, const char *name) {
    BindControl(*client, member, name);
  };
  bind(chkExtract, "chkExtract");
  bind(cmbExtractAspect, "cmbExtractAspect");
  bind(lblCoordX, "lblCoordX");
  bind(lblCoordY, "lblCoordY");
  bind(lblTopLeft, "lblTopLeft");
  bind(txtTopLeftX, "txtTopLeftX");
  bind(txtTopLeftY, "txtTopLeftY");
  bind(lblBottomRight, "lblBottomRight");
  bind(txtBottomRightX, "txtBottomRightX");
  bind(txtBottomRightY, "txtBottomRightY");
  bind(cmdUseCropTool, "cmdUseCropTool");
  bind(lblExtractWidth, "lblExtractWidth");
  bind(txtExtractWidth, "txtExtractWidth");
  bind(udbExtractWidth, "udbExtractWidth");
  bind(lblExtractX, "lblExtractX");
  bind(lblExtractHeight, "lblExtractHeight");
  bind(txtExtractHeight, "txtExtractHeight");
  bind(udbExtractHeight, "udbExtractHeight");
  bind(chkResizeImage, "chkResizeImage");
  bind(cmbResizeMethod, "cmbResizeMethod");
  bind(lblResizeWidth, "lblResizeWidth");
  bind(txtResizeWidth, "txtResizeWidth");
  bind(udbResizeWidth, "udbResizeWidth");
  bind(lblResizeX, "lblResizeX");
  bind(lblResizeHeight, "lblResizeHeight");
  bind(txtResizeHeight, "txtResizeHeight");
  bind(udbResizeHeight, "udbResizeHeight");
  bind(txtPrefix, "txtPrefix");
  bind(txtSuffix, "txtSuffix");
  bind(cmbOutputFormat, "cmbOutputFormat");
  bind(txtJpgQuality, "txtJpgQuality");
  bind(udbJpgQuality, "udbJpgQuality");
}

QList<QLineEdit *> OperationEditor::LeaveWatchedBoxes() const {
  return {txtTopLeftX,     txtTopLeftY,      txtBottomRightX, txtBottomRightY,
          txtExtractWidth, txtExtractHeight, txtResizeWidth,  txtResizeHeight};
}

void OperationEditor::Connect() {
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
  // Leaving a box that refused a key takes the complaint away.
  txtPrefix->installEventFilter(this);
  txtSuffix->installEventFilter(this);
  connect(txtSuffix, &QLineEdit::textChanged, this, [this] { txtSuffix_Change(); });
  connect(cmbOutputFormat, &QComboBox::currentIndexChanged, this,
          [this] { OperationSaved = false; });
  connect(txtJpgQuality, &QLineEdit::textChanged, this, [this] { OperationSaved = false; });
  connect(cmdUseCropTool, &QPushButton::clicked, this, [this] { cmdUseCropTool_Click(); });
}

bool OperationEditor::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::FocusOut && !leavingBox_) {
    // Another window taking the focus (a message box, another program) or a
    // context menu on the box is not a leave: the caret is still there.
    const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
    auto *box = qobject_cast<QLineEdit *>(watched);
    if (box && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      ShowBoxProblem(box, QString());
    if (box && box != txtPrefix && box != txtSuffix && reason != Qt::ActiveWindowFocusReason &&
        reason != Qt::PopupFocusReason) {
      leavingBox_ = true;
      BoxLeft(box);
      leavingBox_ = false;
    }
  }
  return QObject::eventFilter(watched, event);
}

void OperationEditor::BoxLeft(QLineEdit *box) {
  if (box == txtResizeWidth)
    txtResizeWidth_LostFocus();
  else if (box == txtResizeHeight)
    txtResizeHeight_LostFocus();
  else
    VerifyCoordinates(box);
}

void OperationEditor::CheckRemoveNonNumbers(QLineEdit *box, bool ZeroAllowed) {
  try {
    if (SettingControls) return;
    const QString text = box->text();
    if (text.isEmpty()) return;
    const QString cleaned = RemoveNonNumbers(text, ZeroAllowed);
    if (cleaned != text) RewriteBox(box, cleaned, Digits(text.left(box->cursorPosition())).size());
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("CheckRemoveNonNumbers"),
                        "TextBox: '" + box->objectName() + "' ZeroAllowed: '" +
                            (ZeroAllowed ? "True" : "False") + "'");
  }
}

void OperationEditor::VerifyCoordinates(QLineEdit *txtbox) {
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
    host_.ReportFailure(failure, QStringLiteral("VerifyCoordinates"),
                        "txtbox = \"" + txtbox->objectName() + "\"");
  }
}

void OperationEditor::ResizeLimit(QLineEdit *box, bool width) {
  try {
    QString text = box->text();
    if (CheckResizeLimit(text))
      services_.prompter.ask(SizeLimitTitle(), ResizeLimitText(width), Buttons::Ok,
                             Icon::Information);
    if (text != box->text()) box->setText(text);
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, width ? QStringLiteral("txtResizeWidth_LostFocus")
                                       : QStringLiteral("txtResizeHeight_LostFocus"));
  }
}

void OperationEditor::txtResizeWidth_LostFocus() {
  if (!PercentLimit()) ResizeLimit(txtResizeWidth, true);
}

void OperationEditor::txtResizeHeight_LostFocus() { ResizeLimit(txtResizeHeight, false); }

void OperationEditor::FileNameCheck(QLineEdit *box) {
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

void OperationEditor::txtPrefix_Change() { FileNameCheck(txtPrefix); }

void OperationEditor::txtSuffix_Change() { FileNameCheck(txtSuffix); }

void OperationEditor::SyncSpinners() {
  // An arrow never writes into a box the user cannot edit.
  for (UpDown *spinner : {udbExtractWidth, udbExtractHeight, udbResizeWidth, udbResizeHeight})
    spinner->setEnabled(spinner->buddy()->isEnabled());
}

void OperationEditor::chkExtract_Click() {
  const bool t = chkExtract->isChecked();
  // A centred crop has no corners: they and the crop tool rest meanwhile.
  const bool corners = t && TakesCorners();
  for (QWidget *w : std::initializer_list<QWidget *>{
           lblCoordX, lblCoordY, lblTopLeft, lblBottomRight, txtTopLeftX, txtTopLeftY,
           txtBottomRightX, txtBottomRightY, lblExtractWidth, lblExtractHeight, txtExtractWidth,
           txtExtractHeight, lblExtractX})
    w->setEnabled(corners);
  cmbExtractAspect->setEnabled(t);
  cmdUseCropTool->setEnabled(corners && ImageLoaded != 0);
  SyncSpinners();
  OperationSaved = false;
}

void OperationEditor::chkResizeImage_Click() {
  const bool t = chkResizeImage->isChecked();
  for (QWidget *w :
       std::initializer_list<QWidget *>{cmbResizeMethod, lblResizeWidth, lblResizeHeight,
                                        txtResizeWidth, txtResizeHeight, lblResizeX})
    w->setEnabled(t);
  cmbResizeMethod_Click();
  SyncSpinners();
  OperationSaved = false;
}

void OperationEditor::cmbResizeMethod_Click() {
  if (!chkResizeImage->isChecked()) return;
  const int method = cmbResizeMethod->currentIndex();
  const bool width = method != kLimitHeight;
  const bool height = method != kLimitWidth && method != kScale;
  for (QWidget *w :
       std::initializer_list<QWidget *>{txtResizeWidth, lblResizeWidth, udbResizeWidth})
    w->setEnabled(width);
  for (QWidget *w :
       std::initializer_list<QWidget *>{txtResizeHeight, lblResizeHeight, udbResizeHeight})
    w->setEnabled(height);
  lblResizeX->setEnabled(width && height);
  OperationSaved = false;
}

bool OperationEditor::OperationFromControls(Operation &op) {
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
    // The newer forms carry only what their texts hold.
    if (const auto aspect = ChosenAspect(); aspect && fresh.Extract) {
      fresh.TopLeftX = fresh.TopLeftY = fresh.BottomRightX = fresh.BottomRightY = 0;
      std::tie(fresh.AspectWidth, fresh.AspectHeight) = *aspect;
    }
    if (IsScaled(fresh)) fresh.ResizeHeight = fresh.ResizeWidth;
    op = fresh;
    return true;
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("OperationFromControls"));
    return false;
  }
}

void OperationEditor::SetControlsForOperation(const Operation &op) {
  try {
    chkExtract->setChecked(op.Extract);
    txtTopLeftX->setText(QString::number(op.TopLeftX));
    txtTopLeftY->setText(QString::number(op.TopLeftY));
    txtBottomRightX->setText(QString::number(op.BottomRightX));
    txtBottomRightY->setText(QString::number(op.BottomRightY));
    ShowAspect(op);
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
    host_.ReportFailure(failure, QStringLiteral("SetControlsForOperation"));
  }
}

void OperationEditor::ShowOperation(const Operation &op) {
  SetControlsForOperation(op);
  VerifyCoordinates(txtTopLeftX);
}

void OperationEditor::BringStatesInLine() {
  const bool saved = OperationSaved;
  chkExtract_Click();
  chkResizeImage_Click();
  OperationSaved = saved;
}

void OperationEditor::RecheckRectangle() { VerifyCoordinates(txtBottomRightY); }

bool OperationEditor::CopiesOnly() const {
  return !chkExtract->isChecked() && !chkResizeImage->isChecked();
}

bool OperationEditor::KeepsNames() const {
  return txtPrefix->text().isEmpty() && txtSuffix->text().isEmpty();
}

void OperationEditor::SetPreviewShown(bool shown) {
  ImageLoaded = shown ? 1 : 0;
  cmdUseCropTool->setEnabled(ImageLoaded * (chkExtract->isChecked() ? 1 : 0) > 0 && TakesCorners());
}

void OperationEditor::SetPreviewName(const QString &name) {
  cmdUseCropTool->setToolTip("Use crop tool to specify coordinates on selected image: " + name);
}

} // namespace varnholt
