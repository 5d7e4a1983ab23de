#include "desktop/window_placing.h"

#include "geometry/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace varnholt {

bool RestoreWindowPlace(QWidget *window, const QString &stored) {
  const std::optional<WindowPlace> place = ParseWindowPlace(stored);
  if (!place) return false;
  QList<QRect> areas;
  for (const QScreen *screen : QGuiApplication::screens())
    areas << screen->availableGeometry();
  if (!ShownOnAScreen(place->rect, areas)) return false;
  window->resize(place->rect.size().expandedTo(window->minimumSize()));
  window->move(place->rect.topLeft());
  if (place->maximised) window->setWindowState(window->windowState() | Qt::WindowMaximized);
  return true;
}

QString WindowPlaceNow(const QWidget *window) {
  const bool maximised = window->isMaximized();
  // The frame's corner is what move() takes; the size is the inside's.
  const QPoint frame = window->pos() - window->geometry().topLeft();
  const QRect normal = maximised ? window->normalGeometry() : window->geometry();
  return WindowPlaceText({QRect(normal.topLeft() + frame, normal.size()), maximised});
}

void CentreOnPrimaryScreen(QWidget *window) {
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // The border counts: it is known once the window is on the screen.
  const QRect area = screen->geometry();
  const QSize outer = window->frameGeometry().size();
  window->move(area.left() + int(area.width() / 2.0 - outer.width() / 2.0),
               area.top() + int(area.height() / 2.0 - outer.height() / 2.0));
}

} // namespace varnholt
