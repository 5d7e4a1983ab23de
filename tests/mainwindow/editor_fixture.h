#pragma once

#include "mainwindow/main_window_fixture.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTest>

#include <functional>

namespace varnholt::test {

inline const QString kCopyOnlyText = QStringLiteral(
    "This operation will merely copy the original image and save as a different name.\r\n"
    "(You have not selected extract or resize.)\r\n"
    "Are you sure you want to do this?");

// Passes each box on to the scripted prompter, after doing to the focused
// box what a real message box does: take the focus away from it.
class FocusTakingPrompter : public Prompter {
public:
  explicit FocusTakingPrompter(Prompter &inner) : inner_(inner) {}
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon icon) override {
    return askWithDetails(title, text, QString(), buttons, icon);
  }
  Answer askWithDetails(const QString &title, const QString &text, const QString &details,
                        Buttons buttons, Icon icon) override {
    if (QWidget *w = QApplication::focusWidget()) {
      QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
      QCoreApplication::sendEvent(w, &out);
    }
    if (peek) peek(title);
    return inner_.askWithDetails(title, text, details, buttons, icon);
  }
  // Sees the windows as each box comes up.
  std::function<void(const QString &title)> peek;

private:
  Prompter &inner_;
};

// The main window, active, so that focus moves between its boxes as a
// user's clicks and tabs move it.
class EditorTest : public MainWindowTest {
protected:
  void Start(const QString &folder = QString()) {
    window = std::make_unique<frmMain>(Services(focusTaker));
    window->show();
    Box("txtInputDirectory")->setText(folder.isEmpty() ? images.path() : folder);
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  // Clicks into the box and types over whatever it held.
  void Type(QLineEdit *box, const QString &text) {
    box->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
      QTest::keyClick(box, Qt::Key_Delete);
    else
      for (const QChar c : text) {
        if (c.unicode() < 128) {
          QTest::keyClicks(box, QString(c));
        } else {
          // Typed with a keyboard layout that has it: the key sends its text.
          QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
          QCoreApplication::sendEvent(box, &press);
        }
      }
  }
  // Moves the focus on to a control that is not part of the editor.
  void Leave() { Box("txtPattern")->setFocus(Qt::TabFocusReason); }
  void TypeAndLeave(QLineEdit *box, const QString &text) {
    Type(box, text);
    Leave();
  }

  // No handler has left the editor deaf: a letter typed into a number box goes.
  bool EditorAnswers() {
    Check("chkExtract")->setChecked(true);
    Type(Box("txtTopLeftX"), "1x");
    return Box("txtTopLeftX")->text() == "1";
  }

  QStringList Operations() const {
    QStringList texts;
    for (int row = 0; row < List("lstOperations")->count(); ++row)
      texts << List("lstOperations")->item(row)->text();
    return texts;
  }
  void ClickOperation(int row) {
    QListWidget *list = List("lstOperations");
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() + 40, rect.center().y()));
  }

  FocusTakingPrompter focusTaker{prompter};
};

} // namespace varnholt::test
