#include "geometry/window_place.h"

#include <QStringList>

namespace varnholt {

QString WindowPlaceText(const WindowPlace &place) {
  const QRect &r = place.rect;
  QString text = QString::number(r.x()) + u',' + QString::number(r.y()) + u',' +
                 QString::number(r.width()) + u',' + QString::number(r.height());
  if (place.maximised) text += QStringLiteral(",max");
  return text;
}

std::optional<WindowPlace> ParseWindowPlace(const QString &text) {
  const QStringList parts = text.trimmed().split(u',');
  if (parts.size() != 4 && parts.size() != 5) return std::nullopt;
  int v[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    v[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
  }
  if (v[2] < 1 || v[3] < 1) return std::nullopt;
  WindowPlace place{QRect(v[0], v[1], v[2], v[3])};
  if (parts.size() == 5) {
    if (parts[4].trimmed() != QLatin1String("max")) return std::nullopt;
    place.maximised = true;
  }
  return place;
}

bool ShownOnAScreen(const QRect &window, const QList<QRect> &screenAreas) {
  const QPoint grip(window.center().x(), window.top());
  const qint64 area = qint64(window.width()) * window.height();
  for (const QRect &screen : screenAreas) {
    const QRect seen = screen.intersected(window);
    if (screen.contains(grip) && 2 * qint64(seen.width()) * seen.height() >= area) return true;
  }
  return false;
}

QRect CentredIn(const QRect &area, QSize size) {
  size = size.boundedTo(area.size());
  return QRect(area.x() + (area.width() - size.width()) / 2,
               area.y() + (area.height() - size.height()) / 2, size.width(), size.height());
}

QSize FirstStartSize(QSize available, QSize minimum, QSize frame) {
  const QSize outer(available.width() * 2 / 3, available.height() * 2 / 3);
  return (outer - frame).expandedTo(minimum);
}

} // namespace varnholt
