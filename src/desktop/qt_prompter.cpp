#include "desktop/qt_desktop.h"

#include <QMessageBox>

namespace varnholt {

Answer QtPrompter::ask(const QString &title, const QString &text, Buttons buttons, Icon icon) {
  return askWithDetails(title, text, QString(), buttons, icon);
}

Answer QtPrompter::askWithDetails(const QString &title, const QString &text, const QString &details,
                                  Buttons buttons, Icon icon) {
  QMessageBox box(parent_);
  box.setWindowTitle(title);
  box.setText(text);
  if (!details.isEmpty()) box.setDetailedText(details);
  switch (icon) {
  case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
  case Icon::Information: box.setIcon(QMessageBox::Information); break;
  case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
  case Icon::Question: box.setIcon(QMessageBox::Question); break;
  case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
  }
  switch (buttons) {
  case Buttons::Ok:
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    break;
  case Buttons::YesNo:
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    break;
  case Buttons::YesNoCancel:
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    break;
  }
  switch (box.exec()) {
  case QMessageBox::Yes: return Answer::Yes;
  case QMessageBox::No: return Answer::No;
  case QMessageBox::Cancel: return Answer::Cancel;
  default: return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  }
}

} // namespace varnholt
