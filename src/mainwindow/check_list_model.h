#pragma once

#include "processing/run.h"

#include <QAbstractListModel>

#include <functional>
#include <vector>

class QListWidget;

namespace varnholt {

// The entries of one of the window's check lists, each a text and a tick:
// what a run reads and what the list box shows. The box is only a view of
// it; a tick the user clicks there comes back here (ShowInList).
class CheckListModel : public QAbstractListModel {
  Q_OBJECT
public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;

  qsizetype count() const { return qsizetype(entries_.size()); }
  const QString &text(qsizetype row) const { return entries_.at(size_t(row)).text; }
  bool ticked(qsizetype row) const { return entries_.at(size_t(row)).ticked; }
  // An entry shown apart (greyed, with a tooltip): an image list's earlier
  // result of the operation list.
  bool marked(qsizetype row) const { return entries_.at(size_t(row)).marked; }
  void setMarked(qsizetype row, bool marked);
  qsizetype tickedCount() const;

  void insert(qsizetype row, const QString &text, bool ticked);
  void append(const QString &text, bool ticked) { insert(count(), text, ticked); }
  // `n` entries from `row` on, in one step.
  void remove(qsizetype row, qsizetype n = 1);
  void clear();
  void setText(qsizetype row, const QString &text);
  void setTicked(qsizetype row, bool ticked);
  // Every entry at once: one change for the view, not one per entry.
  void setAllTicked(bool ticked);

private:
  struct Entry {
    QString text;
    bool ticked = true;
    bool marked = false;
  };
  std::vector<Entry> entries_;
};

// What a marked entry's tooltip says.
inline const QString kMarkedResultTip =
    QStringLiteral("An earlier result of the operation list: not ticked, so a run does not take "
                   "it for an image. Tick it to process it all the same.");

// Keeps `list` showing `model`: entries added, removed or changed in the
// model appear in the list, and a tick clicked in the list goes to the model.
// This is the one place the two are kept in step.
void ShowInList(CheckListModel &model, QListWidget *list);

// What a run of the window reads: the two lists' models and the image folder.
class WindowRunSource : public RunSource {
public:
  WindowRunSource(const CheckListModel &images, const CheckListModel &operations,
                  std::function<QString()> folder)
      : images_(images), operations_(operations), folder_(std::move(folder)) {}

  qsizetype imageCount() const override { return images_.count(); }
  QString imageText(qsizetype index) const override { return images_.text(index); }
  bool imageTicked(qsizetype index) const override { return images_.ticked(index); }
  qsizetype operationCount() const override { return operations_.count(); }
  QString operationText(qsizetype index) const override { return operations_.text(index); }
  bool operationTicked(qsizetype index) const override { return operations_.ticked(index); }
  QString inputFolder() const override { return folder_(); }

private:
  const CheckListModel &images_;
  const CheckListModel &operations_;
  std::function<QString()> folder_;
};

} // namespace varnholt
