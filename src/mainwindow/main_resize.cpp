// The main window made larger: which controls grow, and which only move.
#include "mainwindow/main_resize.h"

#include "mainwindow/list_extent.h"

#include <QGroupBox>
#include <QListWidget>
#include <QScrollBar>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace varnholt {

namespace {

// What an edge of a control moves by: so many of each room's pixels. Edges
// of controls inside a frame move within the frame.
struct Move {
  double column = 0, right = 0, images = 0, preview = 0, list = 0;
};
constexpr Move Still{};
constexpr Move Column{.column = 1};
// Everything below the lists moves down with the whole extra height.
constexpr Move Down{.images = 1, .preview = 1};
constexpr Move HalfImages{.images = 0.5};
constexpr Move Images{.images = 1};
constexpr Move List{.list = 1};
// Across the right part: its share of the width, in eighths.
constexpr Move Right(int eighths) { return {.right = eighths / 8.0}; }
constexpr Move ColumnAndRight(int eighths) { return {.column = 1, .right = eighths / 8.0}; }

struct StretchRow {
  const char *name;
  Move left, right, top, bottom;
};

// Controls not named here stay where they are, with their frame. The two
// frames side by side take half the right part's room each; the boxes in
// them widen by half their frame's room, the second column of boxes moving
// over by that half.
const StretchRow kStretch[] = {
    // The image column
    {"txtInputDirectory", Still, Column, Still, Still},
    {"cmdSelectDir", Column, Column, Still, Still},
    {"txtPattern", Still, Column, Still, Still},
    {"chkInversePattern", Column, Column, Still, Still},
    {"lstImages", Still, Column, Still, Images},
    {"fraLoadingImages", Still, Column, Still, Images},
    {"Label2", Still, Column, HalfImages, HalfImages},
    {"cmdSelectAll", Still, Still, Images, Images},
    {"cmdDeselectAll", Column, Column, Images, Images},
    {"fraPreview", Still, Column, Images, Down},
    // The operation list, its buttons at its right
    {"lstOperations", Column, ColumnAndRight(8), Still, List},
    {"cmdNewList", ColumnAndRight(8), ColumnAndRight(8), Still, Still},
    {"cmdSaveList", ColumnAndRight(8), ColumnAndRight(8), Still, Still},
    {"cmdLoadList", ColumnAndRight(8), ColumnAndRight(8), Still, Still},
    // The editor, by the Start button
    {"fraExtractImage", Column, ColumnAndRight(4), Down, Down},
    {"cmbExtractAspect", Still, Right(1), Still, Still},
    {"lblCoordX", Right(1), Right(1), Still, Still},
    {"lblCoordY", Right(3), Right(3), Still, Still},
    {"txtTopLeftX", Still, Right(2), Still, Still},
    {"txtBottomRightX", Still, Right(2), Still, Still},
    {"txtTopLeftY", Right(2), Right(4), Still, Still},
    {"txtBottomRightY", Right(2), Right(4), Still, Still},
    {"cmdUseCropTool", Right(4), Right(4), Still, Still},
    {"txtExtractWidth", Still, Right(2), Still, Still},
    {"udbExtractWidth", Right(2), Right(2), Still, Still},
    {"lblExtractX", Right(2), Right(2), Still, Still},
    {"lblExtractHeight", Right(2), Right(2), Still, Still},
    {"txtExtractHeight", Right(2), Right(4), Still, Still},
    {"udbExtractHeight", Right(4), Right(4), Still, Still},
    {"Frame4", ColumnAndRight(4), ColumnAndRight(8), Down, Down},
    {"chkResizeImage", Still, Right(4), Still, Still},
    {"cmbResizeMethod", Still, Right(4), Still, Still},
    {"txtResizeWidth", Still, Right(2), Still, Still},
    {"udbResizeWidth", Right(2), Right(2), Still, Still},
    {"lblResizeX", Right(2), Right(2), Still, Still},
    {"lblResizeHeight", Right(2), Right(2), Still, Still},
    {"txtResizeHeight", Right(2), Right(4), Still, Still},
    {"udbResizeHeight", Right(4), Right(4), Still, Still},
    {"Frame3", Column, ColumnAndRight(8), Down, Down},
    {"txtPrefix", Still, Right(4), Still, Still},
    {"txtSuffix", Still, Right(4), Still, Still},
    {"Label5", Right(4), Right(4), Still, Still},
    {"lblJpgQuality", Right(4), Right(4), Still, Still},
    {"cmbOutputFormat", Right(4), Right(8), Still, Still},
    {"txtJpgQuality", Right(4), Right(8), Still, Still},
    {"udbJpgQuality", Right(8), Right(8), Still, Still},
    {"cmdNewOperation", Column, ColumnAndRight(2), Down, Down},
    {"cmdSaveOperation", ColumnAndRight(2), ColumnAndRight(4), Down, Down},
    {"cmdAddOperation", ColumnAndRight(4), ColumnAndRight(6), Down, Down},
    {"cmdRemoveOperation", ColumnAndRight(6), ColumnAndRight(8), Down, Down},
    // The bottom row, Start across the window
    {"cmdAbout", Still, Still, Down, Down},
    {"cmdVisitHV", Still, Still, Down, Down},
    {"cmdGo", Still, ColumnAndRight(8), Down, Down},
};

int By(double base, const Move &move, const MainRoom &room) {
  return static_cast<int>(std::lround(base + move.column * room.column + move.right * room.right +
                                      move.images * room.images + move.preview * room.preview +
                                      move.list * room.list));
}

bool IsStill(const Move &m) {
  return m.column == 0 && m.right == 0 && m.images == 0 && m.preview == 0 && m.list == 0;
}

QRect FirstRect(QWidget *w) {
  QVariant base = w->property("firstRect");
  if (base.isNull()) {
    base = w->geometry();
    w->setProperty("firstRect", base);
  }
  return base.toRect();
}

} // namespace

MainRoom ShareMainRoom(QSize extra, int listNeeds, int rightWidth) {
  const int dx = std::max(0, extra.width()), dy = std::max(0, extra.height());
  MainRoom room;
  room.right = std::clamp(dx / 3, 0, std::max(0, rightWidth));
  room.column = dx - room.right;
  room.images = dy / 3;
  room.preview = dy - room.images;
  room.list = std::clamp(listNeeds, 0, dy);
  return room;
}

int OperationListNeeds(const QListWidget *list, int width) {
  const QVariant first = list->property("firstRect");
  const int firstHeight = first.isNull() ? list->height() : first.toRect().height();
  const int row = list->count() > 0 ? list->sizeHintForRow(0) : 0;
  int needed = (list->count() + 1) * row + 2 * list->frameWidth();
  if (HorizontalExtent(list) > width - 2 * list->frameWidth())
    needed += list->horizontalScrollBar()->sizeHint().height();
  return std::max(0, needed - firstHeight);
}

MainRoom MainRoomFor(QWidget *client, QSize extra) {
  auto *list = client->findChild<QListWidget *>(QStringLiteral("lstOperations"));
  const QRect first = FirstRect(list);
  MainRoom room = ShareMainRoom(extra, 0, client->minimumWidth() - first.left());
  return ShareMainRoom(extra, OperationListNeeds(list, first.width() + room.right),
                       client->minimumWidth() - first.left());
}

// The picture's frame fills the inside of "View Picture" above the size
// line: the picture is centred in what the user sees as its frame, whatever
// room the style gives the caption and the border.
void FitPreviewFrame(QWidget *client) {
  auto *frame = client->findChild<QGroupBox *>(QStringLiteral("fraPreview"));
  auto *view = client->findChild<QWidget *>(QStringLiteral("fraViewPicture"));
  auto *size = client->findChild<QWidget *>(QStringLiteral("lblImageDimensions"));
  auto *loading = client->findChild<QWidget *>(QStringLiteral("lblLoading"));
  auto *error = client->findChild<QWidget *>(QStringLiteral("lblViewPictureError"));
  if (!frame || !view || !size || !loading || !error) return;
  const QRect inside = frame->contentsRect();
  size->setGeometry(inside.left(), inside.bottom() + 1 - size->height(), inside.width(),
                    size->height());
  view->setGeometry(inside.left(), inside.top(), inside.width(), size->y() - inside.top());
  const int gap = loading->fontMetrics().averageCharWidth();
  loading->setGeometry(gap, (view->height() - loading->height()) / 2, view->width() - 2 * gap,
                       loading->height());
  error->setGeometry(view->rect().adjusted(gap, gap, -gap, -gap));
}

void StretchMainControls(QWidget *client, const MainRoom &room) {
  for (const StretchRow &row : kStretch) {
    auto *w = client->findChild<QWidget *>(QString::fromLatin1(row.name));
    if (!w) continue;
    const QRect r = FirstRect(w);
    const int right = By(r.left() + r.width(), row.right, room);
    const int bottom = By(r.top() + r.height(), row.bottom, room);
    // Only grown: the loading frame is moved by each refresh of the list.
    if (IsStill(row.left) && IsStill(row.top)) {
      w->resize(right - r.left(), bottom - r.top());
      continue;
    }
    const int left = By(r.left(), row.left, room), top = By(r.top(), row.top, room);
    w->setGeometry(left, top, right - left, bottom - top);
  }
  FitPreviewFrame(client);
}

} // namespace varnholt
