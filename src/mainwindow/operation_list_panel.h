#pragma once

#include "mainwindow/check_list_model.h"
#include "operations/operation_list_file.h"

#include <QObject>

#include <optional>

class QListWidget;
class QPushButton;
class QWidget;

namespace varnholt {

class OperationEditor;
class PanelHost;
struct MainWindowServices;

// The operation list with its buttons: operations move between the editor
// and the list, lists go to and come from files, and the window's title
// names the list's file. The entries live in Operations(); the list box
// shows them.
class OperationListPanel : public QObject {
  Q_OBJECT
public:
  // Takes over its controls among `client`'s children, by name.
  OperationListPanel(QWidget *client, const MainWindowServices &services, PanelHost &host,
                     OperationEditor &editor, double twipsPerPixelX, QObject *parent = nullptr);

  const CheckListModel &Operations() const { return operations_; }
  QListWidget *List() const { return lstOperations; }

  void cmdAddOperation_Click();
  void cmdSaveOperation_Click();
  void cmdRemoveOperation_Click();
  void cmdNewOperation_Click();
  void lstOperations_Click();
  void cmdNewList_Click();
  void cmdLoadList_Click();
  void cmdSaveList_Click();
  void SetWindowTitle();
  void OperationsFileToList(const QString &fileName);
  void AdjustHorizontalScroll();
  // The highlighted entry of the operation list, or -1.
  int HighlightedOperation() const;
  // The list has changes that no file holds yet: closing asks.
  bool listChanged() const { return ListChanged; }
  void SetListChanged(bool changed) { ListChanged = changed; }
  QList<OperationListItem> OperationItems() const;
  // As the window closes: offers to save a changed list. False when the
  // window has to stay open (the list is still unsaved).
  bool OfferToSave();

signals:
  // The window's title, naming the list's file and whether it changed.
  void titleChanged(const QString &title);

private:
  const MainWindowServices &services_;
  PanelHost &host_;
  OperationEditor &editor_;
  double twipsPerPixelX_;
  CheckListModel operations_;
  bool ListChanged = false;
  // The list is being changed by the program: the highlight moving is not
  // the user choosing an operation to edit.
  bool ChangingList = false;

  QListWidget *lstOperations = nullptr;
  QPushButton *cmdNewList = nullptr;
  QPushButton *cmdSaveList = nullptr;
  QPushButton *cmdLoadList = nullptr;
  QPushButton *cmdNewOperation = nullptr;
  QPushButton *cmdSaveOperation = nullptr;
  QPushButton *cmdAddOperation = nullptr;
  QPushButton *cmdRemoveOperation = nullptr;

  void Connect();
  QString ListFolder() const;
  // The lines the last list file loaded could not read, and that file.
  QList<DroppedListLine> dropped_;
  QString droppedFrom_;
  // What to write after the list's entries when saving to fileName: none,
  // or the lines of it the list could not read; nothing: do not save.
  std::optional<QStringList> LinesToKeep(const QString &fileName);
  bool SaveTo(const QString &fileName, QString &errorText, const QStringList &keptLines);
  bool AddFromEditor(); // false: the editor could not say what it holds
  void FillFromLines(const QString &fileName, const QStringList &lines);
};

} // namespace varnholt
