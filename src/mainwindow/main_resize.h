#pragma once

#include <QSize>

class QWidget;

namespace varnholt {

// How the room beyond the main window's first size is shared out, pixels:
// the image column and the operation list widen, the image list and the
// preview grow taller; everything else keeps its size and moves with them.
struct MainRoom {
  int column = 0;  // extra width of the image column
  int list = 0;    // extra width of the operation list
  int images = 0;  // extra height of the image list
  int preview = 0; // extra height of the preview
};
MainRoom ShareMainRoom(QSize extra);

// Places the controls of `client` for `extra` pixels beyond its first size.
// The first call, at that size, notes where each control sits.
void StretchMainControls(QWidget *client, QSize extra);

} // namespace varnholt
