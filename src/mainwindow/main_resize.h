#pragma once

#include <QSize>

class QListWidget;
class QWidget;

namespace varnholt {

// How the room beyond the main window's first size is shared out, pixels.
// Across: two thirds to the image column (the image list and the preview
// widen), a third to the right part (the operation list and the editor,
// whose text boxes widen), up to twice that part's first width. Down: the
// image list a third, the preview the rest; the operation list only what its
// rows need, the editor and its buttons staying by the Start button.
struct MainRoom {
  int column = 0;  // extra width of the image column
  int right = 0;   // extra width of the operation list and the editor
  int images = 0;  // extra height of the image list
  int preview = 0; // extra height of the preview
  int list = 0;    // extra height of the operation list
};
// `listNeeds`: the operation list's extra height for all its rows
// (OperationListNeeds); `rightWidth`: the right part's first width.
MainRoom ShareMainRoom(QSize extra, int listNeeds, int rightWidth);

// Pixels beyond its first height that the operation list, `width` wide,
// needs to show every row and one more, where the next one added goes, and
// its horizontal scroll bar when its widest row needs one. None when they fit.
int OperationListNeeds(const QListWidget *list, int width);
// The room of `client`'s controls when it is `extra` beyond its first size.
MainRoom MainRoomFor(QWidget *client, QSize extra);

// Places the controls of `client` for `room`. The first call, at the first
// size, notes where each control sits.
void StretchMainControls(QWidget *client, const MainRoom &room);

} // namespace varnholt
