#pragma once

#include <QStyledItemDelegate>

class QListWidget;

namespace varnholt {

// Gives every row of a list box the same width, the list's horizontal scroll
// range: rows are measured once per refresh, not by the view for each paint.
class ExtentDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  int extent() const { return extent_; }
  void setExtent(int pixels) { extent_ = pixels; }

  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(extent_);
    return size;
  }

private:
  int extent_ = 0;
};

// A check list of the main window: one entry chosen at a time, rows as wide
// as the widest entry.
void SetUpCheckList(QListWidget *list);
// The horizontal scroll range last given to a list box, in pixels.
int HorizontalExtent(const QListWidget *list);
// Scrolls `list` as wide as its widest entry, `widestTwips`.
void SetHorizontalExtent(QListWidget *list, double widestTwips, double twipsPerPixelX);
// The same, measuring every entry's text.
void AdjustHorizontalScroll(QListWidget *list, double twipsPerPixelX);

} // namespace varnholt
