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

void PlaceForFirstStart(QWidget *window) {
  const QScreen *screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // Panels and docks are not the window's to cover. The border counts: it
  // is known once the window is on the screen, so showing places it again.
  const QRect area = screen->availableGeometry();
  const QSize frame = window->frameGeometry().size() - window->size();
  window->resize(FirstStartSize(area.size(), window->minimumSize(), frame));
  CentreFrameOnScreen(window);
}

void CentreFrameOnScreen(QWidget *window) {
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    window->move(CentredIn(screen->availableGeometry(), window->frameGeometry().size()).topLeft());
}

} // namespace varnholt
