#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace varnholt {

// A pair of small arrows bound to a text box (its buddy): each click steps a
// value within its range and writes it into the buddy as decimal text.
class UpDown : public QWidget {
  Q_OBJECT
public:
  explicit UpDown(QWidget *parent = nullptr);

  void setBuddy(QLineEdit *buddy) { buddy_ = buddy; }
  // The buddy answers Up/Down (one step), PageUp/PageDown (`pageStep`) and
  // the wheel too, for a box that is closed to typing.
  void stepFromBuddyKeys(int pageStep);
  QLineEdit *buddy() const { return buddy_; }
  void setRange(int minimum, int maximum);
  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  QToolButton *upButton() const { return up_; }
  QToolButton *downButton() const { return down_; }

signals:
  // The value was written into the buddy by an arrow.
  void changed(int value);

protected:
  void resizeEvent(QResizeEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void step(int delta);

  QToolButton *up_;
  QToolButton *down_;
  QLineEdit *buddy_ = nullptr;
  int minimum_ = 0;
  int maximum_ = 100;
  int pageStep_ = 0; // 0: the buddy's keys are its own
  int wheelRest_ = 0;
};

} // namespace varnholt
