// The dark look as drawn: the edges of what the user types into and ticks
// stand out from the window and from the boxes' own ground.
#include "desktop/desktop_look.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QStyle>

#include <gtest/gtest.h>

namespace varnholt::test {
namespace {

// The lightest pixel of a column of `picture` beside its middle row.
int LightestAt(const QImage &picture, int x) {
  int lightest = 0;
  for (int y = picture.height() / 2 - 2; y <= picture.height() / 2 + 2; ++y)
    lightest = std::max(lightest, picture.pixelColor(x, y).lightness());
  return lightest;
}

TEST(DarkLook, TextBoxFramesShowAgainstTheWindowAndTheirGround) {
  const QPalette before = QApplication::palette();
  const QString style = QApplication::style()->name();
  UseDarkLook();
  const QPalette dark = QApplication::palette();
  QWidget window;
  window.resize(200, 60);
  auto *box = new QLineEdit(&window);
  box->setGeometry(10, 10, 120, 24);
  window.show();
  const QImage picture = box->grab().toImage();
  const int edge = std::max(LightestAt(picture, 0), LightestAt(picture, 1));
  EXPECT_GE(edge - dark.color(QPalette::Window).lightness(), 40) << "against the window";
  EXPECT_GE(edge - dark.color(QPalette::Base).lightness(), 40) << "against its ground";
  EXPECT_LT(LightestAt(picture, picture.width() / 2) - dark.color(QPalette::Base).lightness(), 10)
      << "the inside stays the box's ground";
  QApplication::setStyle(style);
  QApplication::setPalette(before);
}

} // namespace
} // namespace varnholt::test
