#include "app/screenshot_pictures.h"

#include "desktop/desktop_look.h"

#include <QApplication>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace varnholt::shots {

bool Save(QWidget &window, const QString &path) {
  const bool saved = window.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

bool Dark(const std::function<bool()> &take) {
  const QPalette before = QApplication::palette();
  const QPalette beforeTips = QToolTip::palette();
  UseDarkLook();
  const bool saved = take();
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(before);
  QToolTip::setPalette(beforeTips);
  return saved;
}

PaintWatch::PaintWatch(QWidget *widget) { widget->installEventFilter(this); }

bool PaintWatch::eventFilter(QObject *, QEvent *event) {
  seen = seen || event->type() == QEvent::Paint;
  return false;
}

int TitleBarHeight(const QWidget &window) { return QFontMetrics(window.font()).height() + 10; }

bool SaveWithTitleBar(QWidget &window, const QString &path) {
  const QPixmap client = window.grab();
  // In the window's units: on a scaled screen the grab holds more pixels.
  const qreal ratio = client.devicePixelRatio();
  const QSize inside = client.deviceIndependentSize().toSize();
  const int bar = TitleBarHeight(window);
  QPixmap framed(QSize(inside.width(), inside.height() + bar) * ratio);
  framed.setDevicePixelRatio(ratio);
  framed.fill(window.palette().color(QPalette::Highlight));
  QPainter painter(&framed);
  painter.setPen(window.palette().color(QPalette::HighlightedText));
  const int icon = bar - 8;
  painter.drawPixmap(6, 4, window.windowIcon().pixmap(icon, icon));
  painter.drawText(QRect(12 + icon, 0, inside.width() - 18 - icon, bar),
                   Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  painter.drawPixmap(0, bar, client);
  painter.end();
  const bool saved = framed.save(path);
  std::printf("%s %s (title: %s)\n", saved ? "wrote" : "could not write", qPrintable(path),
              qPrintable(window.windowTitle()));
  return saved;
}

QImage Seascape(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 0, height * 0.6);
  sky.setColorAt(0, QColor(38, 70, 130));
  sky.setColorAt(1, QColor(236, 176, 120));
  painter.fillRect(0, 0, width, int(height * 0.6), sky);
  QLinearGradient sea(0, height * 0.6, 0, height);
  sea.setColorAt(0, QColor(60, 96, 120));
  sea.setColorAt(1, QColor(18, 40, 60));
  painter.fillRect(0, int(height * 0.6), width, height, sea);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 226, 160));
  painter.drawEllipse(QPointF(width * 0.62, height * 0.5), height * 0.07, height * 0.07);
  painter.setBrush(QColor(44, 52, 40));
  painter.drawPolygon(QPolygonF({QPointF(0, height * 0.42), QPointF(width * 0.18, height * 0.47),
                                 QPointF(width * 0.34, height * 0.6), QPointF(0, height * 0.66)}));
  for (int i = 0; i < 14; ++i) {
    painter.setBrush(QColor(255, 214, 150, 70));
    painter.drawRect(
        QRectF(width * 0.62 - 40 + (i % 3) * 10, height * 0.62 + i * 12, 80 - i * 4, 3));
  }
  return image;
}

QImage GrainyPhoto(int width, int height) {
  QImage image = Seascape(width, height);
  quint32 seed = 2024;
  for (int y = 0; y < height; ++y) {
    auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int grain = int(seed >> 28) - 8;
      const QRgb p = line[x];
      line[x] = qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                     std::clamp(qBlue(p) + grain, 0, 255));
    }
  }
  return image;
}

} // namespace varnholt::shots
