// The operation list: moving operations between the editor and the list,
// list files, and the title that shows the list's file.
#include "mainwindow/operation_list_panel.h"

#include "mainwindow/frm_main.h"
#include "mainwindow/list_extent.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/panel_host.h"
#include "platform/bind_control.h"

#include "operations/editor_rules.h"
#include "operations/operation.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "settings/settings.h"

#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kDQ = QStringLiteral("\"");
const QString kListFilter = QStringLiteral("Varnholt Op Files (*.vop)|*.vop;");
const QString kListExtension = QStringLiteral("vop");
const QString kLeftOutTitle = QStringLiteral("Lines Left Out");

// Restores the flag however the block is left.
class FlagScope {
public:
  explicit FlagScope(bool &flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = before_; }

private:
  bool &flag_;
  bool before_;
};

} // namespace

OperationListPanel::OperationListPanel(QWidget *client, const MainWindowServices &services,
                                       PanelHost &host, OperationEditor &editor,
                                       double twipsPerPixelX, QObject *parent)
    : QObject(parent), services_(services), host_(host), editor_(editor),
      twipsPerPixelX_(twipsPerPixelX) {
  BindControl(*client, lstOperations, "lstOperations");
  BindControl(*client, cmdNewList, "cmdNewList");
  BindControl(*client, cmdSaveList, "cmdSaveList");
  BindControl(*client, cmdLoadList, "cmdLoadList");
  BindControl(*client, cmdNewOperation, "cmdNewOperation");
  BindControl(*client, cmdSaveOperation, "cmdSaveOperation");
  BindControl(*client, cmdAddOperation, "cmdAddOperation");
  BindControl(*client, cmdRemoveOperation, "cmdRemoveOperation");
  SetUpCheckList(lstOperations);
  ShowInList(operations_, lstOperations);
  Connect();
}

void OperationListPanel::Connect() {
  // A click on an entry, its check box, or moving to it with the keys.
  connect(lstOperations, &QListWidget::itemSelectionChanged, this,
          [this] { lstOperations_Click(); });
  connect(lstOperations, &QListWidget::itemClicked, this, [this] { lstOperations_Click(); });
  connect(cmdAddOperation, &QPushButton::clicked, this, [this] { cmdAddOperation_Click(); });
  connect(cmdSaveOperation, &QPushButton::clicked, this, [this] { cmdSaveOperation_Click(); });
  connect(cmdRemoveOperation, &QPushButton::clicked, this, [this] { cmdRemoveOperation_Click(); });
  connect(cmdNewOperation, &QPushButton::clicked, this, [this] { cmdNewOperation_Click(); });
  connect(cmdNewList, &QPushButton::clicked, this, [this] { cmdNewList_Click(); });
  connect(cmdLoadList, &QPushButton::clicked, this, [this] { cmdLoadList_Click(); });
  connect(cmdSaveList, &QPushButton::clicked, this, [this] { cmdSaveList_Click(); });
}

void OperationListPanel::AdjustHorizontalScroll() {
  varnholt::AdjustHorizontalScroll(lstOperations, twipsPerPixelX_);
}

QString OperationListPanel::ListFolder() const {
  return services_.operationsFolder.isEmpty() ? OperationsFolder() : services_.operationsFolder;
}

int OperationListPanel::HighlightedOperation() const {
  // A row the list made current on taking the focus is not one the user chose.
  const QListWidgetItem *item = lstOperations->currentItem();
  return item && item->isSelected() ? lstOperations->currentRow() : -1;
}

QList<OperationListItem> OperationListPanel::OperationItems() const {
  QList<OperationListItem> items;
  items.reserve(operations_.count());
  for (qsizetype row = 0; row < operations_.count(); ++row)
    items.push_back({operations_.text(row), operations_.ticked(row)});
  return items;
}

void OperationListPanel::SetWindowTitle() {
  emit titleChanged(WindowTitle(ProgramTitle(), services_.settings.LoadedFile, ListChanged));
}

void OperationListPanel::cmdAddOperation_Click() {
  try {
    if (WritesBesideImages(services_.settings) && editor_.KeepsNames()) {
      services_.prompter.ask(QStringLiteral("Operation Addition Error"),
                             "You must specify either a prefix or suffix for the operation" +
                                 kCrLf +
                                 "if you have not opted to output in a different directory!",
                             Buttons::Ok, Icon::Exclamation);
      return;
    }
    if (editor_.CopiesOnly() &&
        services_.prompter.ask(
            QStringLiteral("Operation Addition"),
            "This operation will merely copy the original image and save as a different name." +
                kCrLf + "(You have not selected extract or resize.)" + kCrLf +
                "Are you sure you want to do this?",
            Buttons::YesNo, Icon::Question) != Answer::Yes)
      return;

    QString errorText, text;
    {
      FlagScope quiet(ChangingList);
      Operation op;
      if (!editor_.OperationFromControls(op)) return;
      text = OperationDescription(op, errorText);
      if (errorText.isEmpty()) {
        operations_.append(text, true);
        AdjustHorizontalScroll();
        ListChanged = true;
        editor_.MarkSaved();
      }
    }
    if (!errorText.isEmpty())
      services_.prompter.ask(QStringLiteral("Operation Addition Error"),
                             "Error in adding operation: " + errorText, Buttons::Ok,
                             Icon::Exclamation);
    SetWindowTitle();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdAddOperation_Click"));
  }
}

void OperationListPanel::cmdSaveOperation_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0) {
      cmdAddOperation_Click();
      return;
    }
    {
      FlagScope quiet(ChangingList);
      Operation op;
      if (!editor_.OperationFromControls(op)) return;
      QString errorText;
      const QString text = OperationDescription(op, errorText);
      if (!text.isEmpty()) operations_.setText(row, text);
    }
    editor_.MarkSaved();
    AdjustHorizontalScroll();
    ListChanged = true;
    SetWindowTitle();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdSaveOperation_Click"));
  }
}

void OperationListPanel::cmdRemoveOperation_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0) return;
    {
      // The list moving its highlight to a neighbour must not load that one:
      // the editor keeps the removed operation.
      FlagScope quiet(ChangingList);
      operations_.remove(row);
      lstOperations->setCurrentRow(-1);
      lstOperations->clearSelection();
    }
    ListChanged = true;
    editor_.MarkSaved();
    AdjustHorizontalScroll();
    SetWindowTitle();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdRemoveOperation_Click"));
  }
}

void OperationListPanel::cmdNewOperation_Click() {
  try {
    editor_.ShowOperation(OperationDefaults());
    editor_.MarkSaved();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdNewOperation_Click"));
  }
}

void OperationListPanel::lstOperations_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0 || ChangingList) return;
    QString errorText;
    const Operation op = ParseOperation(operations_.text(row), errorText);
    editor_.ShowOperation(op);
    editor_.MarkSaved();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("lstOperations_Click"));
  }
}

void OperationListPanel::cmdNewList_Click() {
  try {
    {
      FlagScope quiet(ChangingList);
      operations_.clear();
    }
    AdjustHorizontalScroll();
    services_.settings.LoadedFile.clear();
    SetWindowTitle();
    editor_.MarkSaved();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdNewList_Click"));
  }
}

void OperationListPanel::cmdLoadList_Click() {
  std::optional<QString> chosen;
  try {
    chosen = services_.fileDialogs.open({QStringLiteral("Open Operation File..."), kListFilter,
                                         kListExtension, ListFolder(), QString()});
  } catch (const Failure &) {
    chosen.reset(); // a dialog that cannot be shown is as good as cancelled
  }
  if (chosen && !chosen->isEmpty()) OperationsFileToList(*chosen);
  SetWindowTitle();
}

void OperationListPanel::cmdSaveList_Click() {
  try {
    if (operations_.count() == 0) {
      services_.prompter.ask(QStringLiteral("Empty Operation List"),
                             QStringLiteral("No Operations to Save!"), Buttons::Ok,
                             Icon::Exclamation);
      return;
    }
    const QString &loaded = services_.settings.LoadedFile;
    const QString proposed =
        loaded.isEmpty() ? AddBackslash(ListFolder()) + "NewOpFile." + kListExtension : loaded;
    std::optional<QString> chosen;
    try {
      chosen = services_.fileDialogs.save({QStringLiteral("Save Operation File as..."), kListFilter,
                                           kListExtension, ListFolder(), proposed});
    } catch (const Failure &) {
      chosen.reset();
    }
    const std::optional<QStringList> kept =
        chosen && !chosen->isEmpty() ? LinesToKeep(*chosen) : std::nullopt;
    if (kept) {
      QString errorText;
      if (SaveTo(*chosen, errorText, *kept))
        ListChanged = false;
      else
        services_.prompter.ask(QStringLiteral("File Write Error"),
                               "Could not save operations to " + kDQ + *chosen + kDQ + "!" + kCrLf +
                                   errorText,
                               Buttons::Ok, Icon::Exclamation);
    }
    SetWindowTitle();
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdSaveList_Click"));
  }
}

void OperationListPanel::FillFromLines(const QString &fileName, const QStringList &lines) {
  operations_.clear();
  try {
    for (const QString &line : lines) {
      const OperationListItem entry = SplitListLine(line);
      operations_.append(entry.text, entry.ticked);
    }
    ListChanged = false;
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("OperationsFileToList"),
                        "fileName = " + kDQ + fileName + kDQ);
    // The list holds only the lines before the bad one. Saving it under
    // the file's name would throw the rest of the file away, so it
    // belongs to no file now, and closing asks where to keep it.
    services_.settings.LoadedFile.clear();
    ListChanged = true;
  }
  AdjustHorizontalScroll();
  editor_.MarkSaved();
}

void OperationListPanel::OperationsFileToList(const QString &fileName) {
  {
    FlagScope quiet(ChangingList);
    QString errorText, loaded;
    const QStringList lines = LoadOperationsFile(fileName, loaded, errorText);
    if (errorText.isEmpty()) {
      // The list belongs to the file from now on, unless a line of it fails.
      services_.settings.LoadedFile = loaded;
      FillFromLines(fileName, lines);
      // Said once, here; saving over the file asks before they are lost.
      dropped_ = DroppedOperationLinesOfFile(fileName);
      droppedFrom_ = fileName;
      if (!dropped_.isEmpty())
        services_.prompter.ask(kLeftOutTitle,
                               "Some lines of " + kDQ + fileName + kDQ +
                                   " could not be read as operations and are left out of the "
                                   "list:" +
                                   kCrLf + kCrLf + DroppedLinesText(dropped_),
                               Buttons::Ok, Icon::Exclamation);
    } else {
      services_.prompter.ask(QStringLiteral("Varnholt"),
                             "Could not open operation file " + kDQ + fileName + kDQ + kCrLf +
                                 errorText,
                             Buttons::Ok, Icon::None);
      services_.settings.LoadedFile.clear();
    }
  }
  lstOperations_Click();
}

std::optional<QStringList> OperationListPanel::LinesToKeep(const QString &fileName) {
  if (dropped_.isEmpty() || QFileInfo(fileName) != QFileInfo(droppedFrom_)) return QStringList();
  switch (services_.prompter.ask(
      kLeftOutTitle,
      kDQ + droppedFrom_ + kDQ + " has lines that could not be read as operations:" + kCrLf +
          kCrLf + DroppedLinesText(dropped_) + kCrLf + kCrLf +
          "Drop them from the file? (No keeps them at its end, Cancel saves nothing.)",
      Buttons::YesNoCancel, Icon::Question)) {
  case Answer::Yes: return QStringList();
  case Answer::No: {
    QStringList kept;
    for (const DroppedListLine &line : dropped_)
      kept << line.text;
    return kept;
  }
  default: return std::nullopt;
  }
}

bool OperationListPanel::SaveTo(const QString &fileName, QString &errorText,
                                const QStringList &keptLines) {
  if (!SaveOperationsFile(fileName, OperationItems(), services_.settings, errorText, keptLines))
    return false;
  // The file as it is now: dropped lines gone, or kept at new places.
  if (!dropped_.isEmpty() && QFileInfo(fileName) == QFileInfo(droppedFrom_))
    dropped_ = DroppedOperationLinesOfFile(fileName);
  return true;
}

bool OperationListPanel::OfferToSave() {
  Settings &settings = services_.settings;
  // A list that was emptied and belongs to no file holds nothing to keep.
  const bool worthKeeping = !settings.LoadedFile.isEmpty() || operations_.count() > 0;
  if (!ListChanged || !worthKeeping) return true;
  const QString title = QStringLiteral("Save Changes?");
  if (!settings.LoadedFile.isEmpty()) {
    if (services_.prompter.ask(title, "Save changes to " + FileNamePart(settings.LoadedFile) + "?",
                               Buttons::YesNo, Icon::Question) == Answer::Yes) {
      const std::optional<QStringList> kept = LinesToKeep(settings.LoadedFile);
      if (!kept) return false; // nothing saved: the window stays open
      QString errorText;
      if (!SaveTo(settings.LoadedFile, errorText, *kept)) {
        services_.prompter.ask(QStringLiteral("File Write Error"),
                               "Could not save operations to \"" + settings.LoadedFile + "\"!\r\n" +
                                   errorText,
                               Buttons::Ok, Icon::Exclamation);
        // Stay open: closing now would throw the changes away.
        return false;
      }
      ListChanged = false;
    }
  } else if (services_.prompter.ask(title,
                                    QStringLiteral("Do you want to save operations to a file?"),
                                    Buttons::YesNo, Icon::Question) == Answer::Yes) {
    cmdSaveList_Click();
    if (ListChanged) return false;
  }
  return true;
}

} // namespace varnholt
