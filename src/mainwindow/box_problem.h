#pragma once

class QLineEdit;
class QString;

namespace varnholt {

// A box says what is wrong with it where the user looks, not in a message box
// that takes the keyboard: a red frame, and the complaint as its tooltip in
// place of its own. An empty problem gives the box back its own face and tip.
void ShowBoxProblem(QLineEdit *box, const QString &problem);

// Typing or a paste the box did not take: framed as above, and the complaint
// shown at once under the box.
void ShowRefusedInput(QLineEdit *box, const QString &why);

} // namespace varnholt
