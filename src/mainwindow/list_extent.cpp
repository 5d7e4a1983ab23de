#include "mainwindow/list_extent.h"

#include "geometry/window_math.h"

#include <QFontMetricsF>
#include <QListWidget>

#include <algorithm>

namespace varnholt {

namespace {
ExtentDelegate *Extent(const QListWidget *list) {
  return dynamic_cast<ExtentDelegate *>(list->itemDelegate());
}
} // namespace

int HorizontalExtent(const QListWidget *list) {
  const ExtentDelegate *delegate = Extent(list);
  return delegate ? delegate->extent() : 0;
}

void SetHorizontalExtent(QListWidget *list, double widestTwips, double twipsPerPixelX) {
  ExtentDelegate *delegate = Extent(list);
  if (!delegate) return;
  delegate->setExtent(HorizontalExtentPixels(widestTwips, twipsPerPixelX));
  list->doItemsLayout();
}

void AdjustHorizontalScroll(QListWidget *list, double twipsPerPixelX) {
  const QFontMetricsF metrics(list->font());
  double widest = 0;
  for (int row = 0; row < list->count(); ++row)
    widest = std::max(widest, metrics.horizontalAdvance(ExtentText(list->item(row)->text())) *
                                  twipsPerPixelX);
  SetHorizontalExtent(list, widest, twipsPerPixelX);
}

void SetUpCheckList(QListWidget *list) {
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list->setItemDelegate(new ExtentDelegate(list));
}

} // namespace varnholt
