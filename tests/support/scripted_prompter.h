#pragma once

#include "platform/prompter.h"

#include <QString>

#include <deque>

namespace varnholt::test {

// A queue of the message boxes a test expects, in order. Each box shown is
// compared exactly (title, text, buttons, icon, details: none unless
// expected) and gets the scripted answer;
// a box nobody expected fails the test, and so does one expected but never
// shown (checked when the prompter is destroyed, or by done()).
class ScriptedPrompter : public Prompter {
public:
  struct Box {
    QString title;
    QString text;
    Buttons buttons;
    Icon icon;
    Answer answer;
    QString details;
  };

  ~ScriptedPrompter() override;
  ScriptedPrompter &expect(const QString &title, const QString &text, Buttons buttons, Icon icon,
                           Answer answer, const QString &details = QString());
  Answer ask(const QString &title, const QString &text, Buttons buttons, Icon icon) override;
  Answer askWithDetails(const QString &title, const QString &text, const QString &details,
                        Buttons buttons, Icon icon) override;

  int shown() const { return shown_; }
  bool done() const { return expected_.empty(); }

private:
  std::deque<Box> expected_;
  int shown_ = 0;
};

} // namespace varnholt::test
