// The main window made larger: which controls grow, and which only move.
#include "mainwindow/main_resize.h"

#include <QVariant>
#include <QWidget>

namespace varnholt {

namespace {

// What an edge of a control moves by: a sum of shares of the room, or half
// of it for what stays centred in a growing frame.
enum Share : unsigned {
  None = 0,
  Column = 1,
  List = 2,
  Images = 4,
  Preview = 8,
  Half = 16,
  Wide = Column | List,
  Tall = Images | Preview,
};

struct StretchRow {
  const char *name;
  unsigned left, right, top, bottom;
};

// Controls not named here stay where they are, with their frame.
const StretchRow kStretch[] = {
    {"txtInputDirectory", None, Column, None, None},
    {"cmdSelectDir", Column, Column, None, None},
    {"txtPattern", None, Column, None, None},
    {"chkInversePattern", Column, Column, None, None},
    {"lstImages", None, Column, None, Images},
    {"fraLoadingImages", None, Column, None, Images},
    {"Label2", None, Column, Images | Half, Images | Half},
    {"cmdSelectAll", None, None, Images, Images},
    {"cmdDeselectAll", Column, Column, Images, Images},
    {"fraPreview", None, Column, Images, Tall},
    {"fraViewPicture", None, Column, None, Preview},
    {"lblLoading", None, Column, Preview | Half, Preview | Half},
    {"lblViewPictureError", None, Column, None, Preview},
    {"lblImageDimensions", None, Column, Preview, Preview},
    {"lstOperations", Column, Wide, None, Tall},
    {"cmdNewList", Wide, Wide, None, None},
    {"cmdSaveList", Wide, Wide, None, None},
    {"cmdLoadList", Wide, Wide, None, None},
    {"fraExtractImage", Column, Column, Tall, Tall},
    {"Frame4", Column, Column, Tall, Tall},
    {"Frame3", Column, Column, Tall, Tall},
    {"cmdNewOperation", Column, Column, Tall, Tall},
    {"cmdSaveOperation", Column, Column, Tall, Tall},
    {"cmdAddOperation", Column, Column, Tall, Tall},
    {"cmdRemoveOperation", Column, Column, Tall, Tall},
    {"cmdAbout", None, None, Tall, Tall},
    {"cmdVisitHV", None, None, Tall, Tall},
    {"cmdGo", Wide, Wide, Tall, Tall},
};

int By(unsigned share, const MainRoom &room) {
  const int sum = (share & Column ? room.column : 0) + (share & List ? room.list : 0) +
                  (share & Images ? room.images : 0) + (share & Preview ? room.preview : 0);
  return share & Half ? sum / 2 : sum;
}

} // namespace

MainRoom ShareMainRoom(QSize extra) {
  // Half the width to each side; the picture gets the larger half of the
  // height, the list of names needing fewer rows than a photo needs pixels.
  const int dx = std::max(0, extra.width()), dy = std::max(0, extra.height());
  return {dx / 2, dx - dx / 2, dy * 2 / 5, dy - dy * 2 / 5};
}

void StretchMainControls(QWidget *client, QSize extra) {
  const MainRoom room = ShareMainRoom(extra);
  for (const StretchRow &row : kStretch) {
    auto *w = client->findChild<QWidget *>(QString::fromLatin1(row.name));
    if (!w) continue;
    QVariant base = w->property("firstRect");
    if (base.isNull()) {
      base = w->geometry();
      w->setProperty("firstRect", base);
    }
    const QRect r = base.toRect();
    // Only grown: the loading frame is moved by each refresh of the list.
    if (row.left == None && row.top == None) {
      w->resize(r.width() + By(row.right, room), r.height() + By(row.bottom, room));
      continue;
    }
    w->setGeometry(QRect(QPoint(r.left() + By(row.left, room), r.top() + By(row.top, room)),
                         QPoint(r.right() + By(row.right, room), r.bottom() + By(row.bottom, room))));
  }
}

} // namespace varnholt
