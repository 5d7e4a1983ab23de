#pragma once

#include <QString>

namespace varnholt {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Icon { None, Information, Exclamation, Question, Critical };
// Closing a box with its close button answers Cancel where it has one, else
// the last button.
enum class Answer { Ok, Yes, No, Cancel };

// Every modal message box of the program goes through this.
class Prompter {
public:
  virtual ~Prompter() = default;
  virtual Answer ask(const QString &title, const QString &text, Buttons buttons, Icon icon) = 0;
  // The same box with `details` behind a "Show Details..." button: a reason
  // too long or too technical for the question itself. A prompter nobody
  // reads asks without them.
  virtual Answer askWithDetails(const QString &title, const QString &text, const QString &details,
                                Buttons buttons, Icon icon) {
    Q_UNUSED(details);
    return ask(title, text, buttons, icon);
  }
};

} // namespace varnholt
