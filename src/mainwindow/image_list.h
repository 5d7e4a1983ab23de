#pragma once

#include <QListWidgetItem>
#include <QStyledItemDelegate>

namespace varnholt {

// An entry of the image list. What a refresh needs to know about it lives
// beside it, so that marking it never disturbs the list control.
class ImageEntry : public QListWidgetItem {
public:
  static constexpr int kType = QListWidgetItem::UserType + 1;
  explicit ImageEntry(const QString &name) : QListWidgetItem(name, nullptr, kType) {}

  int passMark = 0;      // seen in the running refresh
  double widthTwips = 0; // display width, measured once
};

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

} // namespace varnholt
