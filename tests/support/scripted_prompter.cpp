#include "support/scripted_prompter.h"

#include <gtest/gtest.h>

namespace varnholt::test {

namespace {
const char *ButtonsName(Buttons b) {
  switch (b) {
  case Buttons::Ok: return "Ok";
  case Buttons::YesNo: return "YesNo";
  case Buttons::YesNoCancel: return "YesNoCancel";
  }
  return "?";
}
const char *IconName(Icon i) {
  switch (i) {
  case Icon::None: return "None";
  case Icon::Information: return "Information";
  case Icon::Exclamation: return "Exclamation";
  case Icon::Question: return "Question";
  case Icon::Critical: return "Critical";
  }
  return "?";
}
} // namespace

ScriptedPrompter::~ScriptedPrompter() {
  for (const Box &box : expected_)
    ADD_FAILURE() << "expected message box never shown: " << box.title.toStdString() << " / "
                  << box.text.toStdString();
}

ScriptedPrompter &ScriptedPrompter::expect(const QString &title, const QString &text,
                                           Buttons buttons, Icon icon, Answer answer,
                                           const QString &details) {
  expected_.push_back({title, text, buttons, icon, answer, details});
  return *this;
}

Answer ScriptedPrompter::ask(const QString &title, const QString &text, Buttons buttons,
                             Icon icon) {
  return askWithDetails(title, text, QString(), buttons, icon);
}

Answer ScriptedPrompter::askWithDetails(const QString &title, const QString &text,
                                        const QString &details, Buttons buttons, Icon icon) {
  ++shown_;
  if (expected_.empty()) {
    ADD_FAILURE() << "unexpected message box: " << title.toStdString() << " / "
                  << text.toStdString();
    return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
  }
  const Box box = expected_.front();
  expected_.pop_front();
  EXPECT_EQ(box.title.toStdString(), title.toStdString());
  EXPECT_EQ(box.text.toStdString(), text.toStdString());
  EXPECT_EQ(box.details.toStdString(), details.toStdString()) << title.toStdString();
  EXPECT_STREQ(ButtonsName(box.buttons), ButtonsName(buttons)) << title.toStdString();
  EXPECT_STREQ(IconName(box.icon), IconName(icon)) << title.toStdString();
  return box.answer;
}

} // namespace varnholt::test
