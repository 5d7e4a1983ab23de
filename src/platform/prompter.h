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
};

} // namespace varnholt
