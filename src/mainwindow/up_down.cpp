#include "mainwindow/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>

namespace varnholt {

UpDown::UpDown(QWidget *parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton *arrow : {up_, down_}) {
    arrow->setAutoRepeat(true);
    arrow->setFocusPolicy(Qt::NoFocus);
  }
  setFocusPolicy(Qt::TabFocus);
  connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDown::setRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
}

void UpDown::stepFromBuddyKeys(int pageStep) {
  pageStep_ = pageStep;
  if (buddy_) buddy_->installEventFilter(this);
}

bool UpDown::eventFilter(QObject *watched, QEvent *event) {
  if (watched != buddy_ || pageStep_ == 0 || !buddy_->isEnabled()) return false;
  if (event->type() == QEvent::Wheel) {
    // A wheel notch is 120; touchpads send smaller pieces, summed until one
    // makes a whole step.
    wheelRest_ += static_cast<QWheelEvent *>(event)->angleDelta().y();
    const int steps = wheelRest_ / 120;
    wheelRest_ -= steps * 120;
    if (steps != 0) step(steps);
    return true;
  }
  if (event->type() != QEvent::KeyPress) return false;
  switch (static_cast<QKeyEvent *>(event)->key()) {
  case Qt::Key_Up: step(+1); return true;
  case Qt::Key_Down: step(-1); return true;
  case Qt::Key_PageUp: step(+pageStep_); return true;
  case Qt::Key_PageDown: step(-pageStep_); return true;
  default: return false;
  }
}

void UpDown::resizeEvent(QResizeEvent *) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

void UpDown::step(int delta) {
  if (!buddy_) return;
  // The buddy's own text is the value: the user may have typed into it.
  bool ok = false;
  int value = buddy_->text().toInt(&ok);
  if (!ok) value = delta > 0 ? minimum_ - 1 : minimum_ + 1;
  value = std::clamp(value + delta, minimum_, maximum_);
  buddy_->setText(QString::number(value));
  emit changed(value);
}

} // namespace varnholt
