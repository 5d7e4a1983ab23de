// The operation list: moving operations between the editor and the list,
// list files, and the title that shows the list's file.
#include "mainwindow/frm_main.h"

#include "operations/editor_rules.h"
#include "operations/operation.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kDQ = QStringLiteral("\"");
const QString kListFilter = QStringLiteral("Varnholt Op Files (*.vop)|*.vop;");
const QString kListExtension = QStringLiteral("vop");

// Restores the flag however the block is left.
class SettingControlsScope {
public:
  explicit SettingControlsScope(bool &flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~SettingControlsScope() { flag_ = before_; }

private:
  bool &flag_;
  bool before_;
};

QListWidgetItem *NewOperationItem(const QString &text, bool ticked) {
  auto *item = new QListWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  return item;
}
} // namespace

void frmMain::ConnectOperationList() {
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
  connect(cmdGo, &QPushButton::clicked, this, [this] { cmdGo_Click(); });
}

QString frmMain::ListFolder() const {
  return services_.operationsFolder.isEmpty() ? OperationsFolder() : services_.operationsFolder;
}

int frmMain::HighlightedOperation() const {
  // A row the list made current on taking the focus is not one the user chose.
  const QListWidgetItem *item = lstOperations->currentItem();
  return item && item->isSelected() ? lstOperations->currentRow() : -1;
}

QList<OperationListItem> frmMain::OperationItems() const {
  QList<OperationListItem> items;
  items.reserve(lstOperations->count());
  for (int row = 0; row < lstOperations->count(); ++row) {
    const QListWidgetItem *item = lstOperations->item(row);
    items.push_back({item->text(), item->checkState() == Qt::Checked});
  }
  return items;
}

void frmMain::SetWindowTitle() {
  setWindowTitle(WindowTitle(ProgramTitle(), services_.settings.LoadedFile, ListChanged));
}

void frmMain::cmdAddOperation_Click() {
  try {
    if (!services_.settings.OutputInDiffDir && txtPrefix->text().isEmpty() &&
        txtSuffix->text().isEmpty()) {
      services_.prompter.ask(QStringLiteral("Operation Addition Error"),
                             "You must specify either a prefix or suffix for the operation" +
                                 kCrLf +
                                 "if you have not opted to output in a different directory!",
                             Buttons::Ok, Icon::Exclamation);
      return;
    }
    if (!chkExtract->isChecked() && !chkResizeImage->isChecked() &&
        services_.prompter.ask(
            QStringLiteral("Operation Addition"),
            "This operation will merely copy the original image and save as a different name." +
                kCrLf + "(You have not selected extract or resize.)" + kCrLf +
                "Are you sure you want to do this?",
            Buttons::YesNo, Icon::Question) != Answer::Yes)
      return;

    QString errorText, text;
    {
      SettingControlsScope quiet(SettingControls);
      Operation op;
      if (!OperationFromControls(op)) return;
      text = OperationDescription(op, errorText);
      if (errorText.isEmpty()) {
        lstOperations->addItem(NewOperationItem(text, true));
        AdjustHorizontalScroll(lstOperations);
        ListChanged = true;
        OperationSaved = true;
      }
    }
    if (!errorText.isEmpty())
      services_.prompter.ask(QStringLiteral("Operation Addition Error"),
                             "Error in adding operation: " + errorText, Buttons::Ok,
                             Icon::Exclamation);
    SetWindowTitle();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdAddOperation_Click"));
  }
}

void frmMain::cmdSaveOperation_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0) {
      cmdAddOperation_Click();
      return;
    }
    {
      SettingControlsScope quiet(SettingControls);
      Operation op;
      if (!OperationFromControls(op)) return;
      QString errorText;
      const QString text = OperationDescription(op, errorText);
      if (!text.isEmpty()) lstOperations->item(row)->setText(text);
    }
    OperationSaved = true;
    AdjustHorizontalScroll(lstOperations);
    ListChanged = true;
    SetWindowTitle();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdSaveOperation_Click"));
  }
}

void frmMain::cmdRemoveOperation_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0) return;
    {
      // The list moving its highlight to a neighbour must not load that one:
      // the editor keeps the removed operation.
      SettingControlsScope quiet(SettingControls);
      delete lstOperations->takeItem(row);
      lstOperations->setCurrentRow(-1);
      lstOperations->clearSelection();
    }
    ListChanged = true;
    OperationSaved = true;
    AdjustHorizontalScroll(lstOperations);
    SetWindowTitle();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdRemoveOperation_Click"));
  }
}

void frmMain::cmdNewOperation_Click() {
  try {
    SetControlsForOperation(OperationDefaults());
    VerifyCoordinates(txtTopLeftX);
    OperationSaved = true;
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdNewOperation_Click"));
  }
}

void frmMain::lstOperations_Click() {
  try {
    const int row = HighlightedOperation();
    if (row < 0 || SettingControls) return;
    QString errorText;
    const Operation op = ParseOperation(lstOperations->item(row)->text(), errorText);
    SetControlsForOperation(op);
    VerifyCoordinates(txtTopLeftX);
    OperationSaved = true;
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("lstOperations_Click"));
  }
}

void frmMain::cmdNewList_Click() {
  try {
    {
      SettingControlsScope quiet(SettingControls);
      lstOperations->clear();
    }
    AdjustHorizontalScroll(lstOperations);
    services_.settings.LoadedFile.clear();
    SetWindowTitle();
    OperationSaved = true;
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdNewList_Click"));
  }
}

void frmMain::cmdLoadList_Click() {
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

void frmMain::cmdSaveList_Click() {
  try {
    if (lstOperations->count() == 0) {
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
    if (chosen && !chosen->isEmpty()) {
      QString errorText;
      if (SaveOperationsFile(*chosen, OperationItems(), services_.settings, errorText))
        ListChanged = false;
      else
        services_.prompter.ask(QStringLiteral("File Write Error"),
                               "Could not save operations to " + kDQ + *chosen + kDQ + "!" + kCrLf +
                                   errorText,
                               Buttons::Ok, Icon::Exclamation);
    }
    SetWindowTitle();
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdSaveList_Click"));
  }
}

void frmMain::OperationsFileToList(const QString &fileName) {
  {
    SettingControlsScope quiet(SettingControls);
    QString errorText;
    const QStringList lines = LoadOperationsFile(fileName, services_.settings, errorText);
    if (errorText.isEmpty()) {
      lstOperations->clear();
      try {
        for (const QString &line : lines) {
          const OperationListItem entry = SplitListLine(line);
          lstOperations->addItem(NewOperationItem(entry.text, entry.ticked));
        }
        ListChanged = false;
      } catch (const Failure &failure) {
        ReportFailure(failure, QStringLiteral("OperationsFileToList"),
                      "fileName = " + kDQ + fileName + kDQ);
        // The list holds only the lines before the bad one. Saving it under
        // the file's name would throw the rest of the file away, so it
        // belongs to no file now, and closing asks where to keep it.
        services_.settings.LoadedFile.clear();
        ListChanged = true;
      }
      AdjustHorizontalScroll(lstOperations);
      OperationSaved = true;
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

} // namespace varnholt
