#include "mainwindow/check_list_model.h"

#include <QListWidget>

#include <algorithm>
#include <memory>

namespace varnholt {

int CheckListModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(entries_.size());
}

QVariant CheckListModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= count()) return {};
  const Entry &entry = entries_[size_t(index.row())];
  if (role == Qt::DisplayRole) return entry.text;
  if (role == Qt::CheckStateRole) return entry.ticked ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::ToolTipRole && entry.marked) return kMarkedResultTip;
  return {};
}

bool CheckListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!index.isValid() || index.row() >= count() || role != Qt::CheckStateRole) return false;
  setTicked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags CheckListModel::flags(const QModelIndex &index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

qsizetype CheckListModel::tickedCount() const {
  return std::count_if(entries_.begin(), entries_.end(), [](const Entry &e) { return e.ticked; });
}

void CheckListModel::insert(qsizetype row, const QString &text, bool ticked) {
  beginInsertRows(QModelIndex(), int(row), int(row));
  entries_.insert(entries_.begin() + row, Entry{text, ticked});
  endInsertRows();
}

void CheckListModel::remove(qsizetype row, qsizetype n) {
  if (n <= 0) return;
  beginRemoveRows(QModelIndex(), int(row), int(row + n - 1));
  entries_.erase(entries_.begin() + row, entries_.begin() + row + n);
  endRemoveRows();
}

void CheckListModel::clear() {
  beginResetModel();
  entries_.clear();
  endResetModel();
}

void CheckListModel::setText(qsizetype row, const QString &text) {
  Entry &entry = entries_.at(size_t(row));
  if (entry.text == text) return;
  entry.text = text;
  emit dataChanged(index(int(row)), index(int(row)), {Qt::DisplayRole});
}

void CheckListModel::setTicked(qsizetype row, bool ticked) {
  Entry &entry = entries_.at(size_t(row));
  if (entry.ticked == ticked) return;
  entry.ticked = ticked;
  emit dataChanged(index(int(row)), index(int(row)), {Qt::CheckStateRole});
}

void CheckListModel::setMarked(qsizetype row, bool marked) {
  Entry &entry = entries_.at(size_t(row));
  if (entry.marked == marked) return;
  entry.marked = marked;
  emit dataChanged(index(int(row)), index(int(row)), {Qt::ForegroundRole, Qt::ToolTipRole});
}

void CheckListModel::setAllTicked(bool ticked) {
  if (entries_.empty()) return;
  for (Entry &entry : entries_)
    entry.ticked = ticked;
  emit dataChanged(index(0), index(int(count() - 1)), {Qt::CheckStateRole});
}

namespace {
// A marked entry in the list's greyed text, so it reads as set apart in
// the light look and the dark one alike.
void ShowMark(const CheckListModel &model, int row, QListWidget *list, QListWidgetItem *item) {
  const bool marked = model.marked(row);
  if (marked == item->data(Qt::UserRole).toBool()) return;
  item->setData(Qt::UserRole, marked);
  item->setForeground(marked ? list->palette().brush(QPalette::Disabled, QPalette::Text)
                             : QBrush());
  item->setToolTip(marked ? kMarkedResultTip : QString());
}

QListWidgetItem *NewItem(const CheckListModel &model, int row, QListWidget *list) {
  auto *item = new QListWidgetItem(model.text(row));
  item->setFlags(model.flags(model.index(row)));
  item->setCheckState(model.ticked(row) ? Qt::Checked : Qt::Unchecked);
  ShowMark(model, row, list, item);
  return item;
}
} // namespace

void ShowInList(CheckListModel &model, QListWidget *list) {
  // Set while the list is being brought in step: the changes it signals then
  // are the model's own, not the user's.
  const auto following = std::make_shared<bool>(false);
  const auto follow = [following](auto change) {
    const bool before = *following;
    *following = true;
    change();
    *following = before;
  };
  const auto insert = [&model, list](int first, int last) {
    for (int row = first; row <= last; ++row)
      list->insertItem(row, NewItem(model, row, list));
  };
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, list,
                   [follow, insert](const QModelIndex &, int first, int last) {
                     follow([&] { insert(first, last); });
                   });
  // Removed a run at a time, as the model removed them: one change for the
  // view however long the run.
  QObject::connect(&model, &QAbstractItemModel::rowsRemoved, list,
                   [follow, list](const QModelIndex &, int first, int last) {
                     follow([&] { list->model()->removeRows(first, last - first + 1); });
                   });
  QObject::connect(&model, &QAbstractItemModel::modelReset, list, [&model, follow, list, insert] {
    follow([&] {
      list->clear();
      if (model.count() > 0) insert(0, int(model.count() - 1));
    });
  });
  QObject::connect(&model, &QAbstractItemModel::dataChanged, list,
                   [&model, follow, list](const QModelIndex &top, const QModelIndex &bottom) {
                     follow([&] {
                       for (int row = top.row(); row <= bottom.row() && row < list->count();
                            ++row) {
                         QListWidgetItem *item = list->item(row);
                         const auto state = model.ticked(row) ? Qt::Checked : Qt::Unchecked;
                         if (item->text() != model.text(row)) item->setText(model.text(row));
                         if (item->checkState() != state) item->setCheckState(state);
                         ShowMark(model, row, list, item);
                       }
                     });
                   });
  QObject::connect(list, &QListWidget::itemChanged, &model,
                   [&model, following, list](QListWidgetItem *item) {
                     if (*following) return;
                     const int row = list->row(item);
                     if (row >= 0 && row < model.count())
                       model.setTicked(row, item->checkState() == Qt::Checked);
                   });
}

} // namespace varnholt
