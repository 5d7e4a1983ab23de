#include "mainwindow/box_problem.h"

#include "desktop/desktop_look.h"

#include <QLineEdit>
#include <QToolTip>

namespace varnholt {

namespace {
const char *const kFramed = "varnholtProblem";
const char *const kOwnTip = "varnholtOwnToolTip";
} // namespace

void ShowBoxProblem(QLineEdit *box, const QString &problem) {
  const bool bad = !problem.isEmpty();
  const bool framed = box->property(kFramed).toBool();
  if (!bad && !framed) return;
  if (bad && !framed) box->setProperty(kOwnTip, box->toolTip());
  box->setProperty(kFramed, bad);
  // A red that stands out on the box's own background, light or dark.
  const QString red =
      IsDarkPalette(box->palette()) ? QStringLiteral("#ff6b6b") : QStringLiteral("#d00000");
  box->setStyleSheet(bad ? "QLineEdit { border: 2px solid " + red + "; }" : QString());
  // A box with a style sheet no longer takes its face from the window.
  if (box->parentWidget()) box->setFont(bad ? box->parentWidget()->font() : QFont());
  // A tip on the screen keeps its text: the complaint would outlive its cause.
  if (!bad && QToolTip::isVisible() && QToolTip::text() == box->toolTip()) QToolTip::hideText();
  box->setToolTip(bad ? problem : box->property(kOwnTip).toString());
}

void ShowRefusedInput(QLineEdit *box, const QString &why) {
  ShowBoxProblem(box, why);
  QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), why, box);
}

} // namespace varnholt
