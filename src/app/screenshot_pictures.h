#pragma once

// What the screenshots are made of and how they are written.

#include <QImage>
#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace varnholt::shots {

// Writes what the window shows and says so on standard output.
bool Save(QWidget &window, const QString &path);
// Without a window manager there is no title bar; draws one so the title with
// the list's file name is in the picture.
bool SaveWithTitleBar(QWidget &window, const QString &path);
// Something with the look of a photograph: sky, sea, a headland and a sun.
QImage Seascape(int width, int height);
// The same with a camera's grain, so that 100 % shows texture.
QImage GrainyPhoto(int width, int height);
// Draws what `take` draws in the look the program takes on a dark desktop.
bool Dark(const std::function<bool()> &take);

// Notes that a widget was painted.
class PaintWatch : public QObject {
public:
  explicit PaintWatch(QWidget *widget);
  bool seen = false;
  bool eventFilter(QObject *, QEvent *event) override;
};

// The height of the title bar SaveWithTitleBar draws.
int TitleBarHeight(const QWidget &window);

} // namespace varnholt::shots
