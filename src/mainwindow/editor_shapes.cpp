// The editor's two newer choices: a centred crop by aspect ratio in the
// Extract Image frame, and a scale by a percentage among the resize methods.
#include "mainwindow/box_problem.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/up_down.h"
#include "operations/editor_rules.h"
#include "operations/operation.h"
#include "operations/vb_text.h"
#include "platform/prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QValidator>

#include <functional>

namespace varnholt {

namespace {
const QStringList kAspects = {"Free", "1:1", "4:5", "5:4",  "2:3",
                              "3:2",  "3:4", "4:3", "9:16", "16:9"};
const QString kAspectProblem =
    QStringLiteral("A ratio of whole numbers (such as 16:9), or Free for the corners below.");
const QRegularExpression kRatio(QStringLiteral(R"(^\s*([0-9]+)\s*:\s*([0-9]+)\s*$)"));

// What the aspect box may hold, letter by letter: "Free" (the corners) or a ratio of
// numbers of up to five digits, and every beginning of them while typing.
class AspectValidator : public QValidator {
public:
  explicit AspectValidator(QComboBox *box) : QValidator(box), box_(box) {}
  State validate(QString &input, int &) const override {
    static const QRegularExpression whole(QStringLiteral(R"(\A(?:free|[0-9]{1,5}:[0-9]{1,5})\z)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString text = input.trimmed();
    const QRegularExpressionMatch m =
        whole.match(text, 0, QRegularExpression::PartialPreferCompleteMatch);
    if (m.hasMatch()) return Acceptable;
    if (m.hasPartialMatch() || text.isEmpty()) return Intermediate;
    if (box_->lineEdit()->hasFocus()) ShowRefusedInput(box_->lineEdit(), kAspectProblem);
    return Invalid;
  }

private:
  QComboBox *box_;
};

constexpr int kMaxPercent = 1000;

// Calls back when the user leaves the box: editingFinished says nothing of a
// box left holding half a ratio.
class LeaveWatcher : public QObject {
public:
  LeaveWatcher(QObject *parent, std::function<void()> left)
      : QObject(parent), left_(std::move(left)) {}
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::FocusOut) {
      const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) left_();
    }
    return false;
  }

private:
  std::function<void()> left_;
};
} // namespace

void OperationEditor::SetUpAspectBox() {
  cmbExtractAspect->addItems(kAspects);
  cmbExtractAspect->setValidator(new AspectValidator(cmbExtractAspect));
  // Typed ratios are the user's own: no entry of the list is made of them.
  cmbExtractAspect->setCompleter(nullptr);
  connect(cmbExtractAspect, &QComboBox::currentTextChanged, this, [this] { chkExtract_Click(); });
  connect(cmbResizeMethod, &QComboBox::currentIndexChanged, this,
          [this](int method) { ShowResizeMethod(method); });
  // A ratio typed in is tidied when the box is left; what is not one goes
  // back to the last choice that was.
  const auto tidy = [this] {
    ShowBoxProblem(cmbExtractAspect->lineEdit(), QString());
    const QString text = cmbExtractAspect->currentText().trimmed();
    const auto aspect = ChosenAspect();
    const auto fits = [](std::int32_t t) { return t >= 1 && t <= kMaxAspectTerm; };
    QString tidy = lastAspect_;
    if (text.compare(kAspects[0], Qt::CaseInsensitive) == 0)
      tidy = kAspects[0];
    else if (aspect && fits(aspect->first) && fits(aspect->second))
      tidy = QString::number(aspect->first) + u':' + QString::number(aspect->second);
    ShowAspectText(tidy);
  };
  cmbExtractAspect->installEventFilter(new LeaveWatcher(this, tidy));
  connect(cmbExtractAspect->lineEdit(), &QLineEdit::returnPressed, this, tidy);
}

std::optional<std::pair<std::int32_t, std::int32_t>> OperationEditor::ChosenAspect() const {
  const QRegularExpressionMatch m = kRatio.match(cmbExtractAspect->currentText());
  if (!m.hasMatch() || m.capturedLength(1) > 5 || m.capturedLength(2) > 5) return std::nullopt;
  return std::pair{ToLong(Val(m.captured(1))), ToLong(Val(m.captured(2)))};
}

void OperationEditor::ShowAspectText(const QString &text) {
  lastAspect_ = text;
  const int entry = cmbExtractAspect->findText(text);
  if (entry >= 0) cmbExtractAspect->setCurrentIndex(entry);
  cmbExtractAspect->setEditText(text);
}

void OperationEditor::ShowAspect(const Operation &op) {
  ShowAspectText(IsCentredCrop(op)
                     ? QString::number(op.AspectWidth) + u':' + QString::number(op.AspectHeight)
                     : kAspects[0]);
}

bool OperationEditor::TakesCorners() const { return !ChosenAspect(); }

void OperationEditor::ShowResizeMethod(int method) {
  const bool scale = method == kScale;
  lblResizeWidth->setText(scale ? QStringLiteral("Percent") : QStringLiteral("Width"));
  udbResizeWidth->setRange(scale ? 1 : 5, scale ? kMaxPercent : 20000);
  // A size in pixels is seldom a percentage worth keeping.
  if (scale && BoxValue(txtResizeWidth->text()) > kMaxPercent)
    txtResizeWidth->setText(QStringLiteral("100"));
}

bool OperationEditor::PercentLimit() {
  if (cmbResizeMethod->currentIndex() != kScale || !chkResizeImage->isChecked()) return false;
  if (txtResizeWidth->text().isEmpty()) {
    txtResizeWidth->setText(QStringLiteral("1"));
  } else if (BoxValue(txtResizeWidth->text()) > kMaxPercent) {
    services_.prompter.ask(QStringLiteral("Maximum Percentage Exceeded"),
                           "Maximum percentage allowed is: " + QString::number(kMaxPercent) + "%",
                           Buttons::Ok, Icon::Information);
    txtResizeWidth->setText(QString::number(kMaxPercent));
  }
  return true;
}

} // namespace varnholt
