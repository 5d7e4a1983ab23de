// The image folder, the pattern and the list of image files.
#include "mainwindow/frm_main.h"

#include "mainwindow/image_list.h"
#include "operations/file_listing.h"
#include "platform/desktop.h"
#include "platform/error_reporter.h"
#include "platform/failure.h"
#include "platform/prompter.h"
#include "platform/paths.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");

bool IsListableFolder(const QString &folder) {
  const QFileInfo info(folder);
  return !folder.isEmpty() && info.isDir() && info.isReadable() && info.isExecutable();
}

ExtentDelegate *Extent(const QListWidget *list) {
  return dynamic_cast<ExtentDelegate *>(list->itemDelegate());
}
} // namespace

void frmMain::txtInputDirectory_Change() {
  txtInputDirectory->setToolTip(QStringLiteral("Image Folder: ") + txtInputDirectory->text());
  RefreshFileList();
}

void frmMain::txtPattern_Change() { RefreshFileList(); }

void frmMain::chkInversePattern_Click() { RefreshFileList(); }

void frmMain::cmdSelectDir_Click() {
  QString folder;
  try {
    folder = services_.folderBrowser.browse(QStringLiteral("Select Input Directory"));
  } catch (const Failure &failure) {
    ReportFailure(failure, QStringLiteral("cmdSelectDir_Click"),
                  QStringLiteral("Showing Browse Window"));
  }
  if (!folder.isEmpty()) txtInputDirectory->setText(folder);
}

void frmMain::ShowListBusy(bool busy) {
  if (busy) {
    const bool hadFocus = lstImages->hasFocus();
    lstImages->setProperty("hadFocus", hadFocus || lstImages->property("hadFocus").toBool());
    lstImages->hide();
    fraLoadingImages->show();
  } else {
    lstImages->show();
    fraLoadingImages->hide();
    if (lstImages->property("hadFocus").toBool()) lstImages->setFocus();
    lstImages->setProperty("hadFocus", false);
  }
}

QString frmMain::FallbackFolder() const {
  return services_.defaultFolder.isEmpty() ? DefaultImageFolder() : services_.defaultFolder;
}

ImageEntry *frmMain::EntryAt(int row) const {
  QListWidgetItem *item = lstImages->item(row);
  return item && item->type() == ImageEntry::kType ? static_cast<ImageEntry *>(item) : nullptr;
}

void frmMain::RebuildIndexIfStale() {
  if (imageIndex_.size() == lstImages->count()) return;
  imageIndex_.clear();
  for (int row = 0; row < lstImages->count(); ++row)
    if (ImageEntry *entry = EntryAt(row)) imageIndex_.insert(entry->text(), entry);
}

void frmMain::InsertSorted(ImageEntry *entry) {
  // The list is kept in order, so its place is found by halving.
  int low = 0, high = lstImages->count();
  while (low < high) {
    const int mid = (low + high) / 2;
    if (ImageNameLess(lstImages->item(mid)->text(), entry->text()))
      low = mid + 1;
    else
      high = mid;
  }
  lstImages->insertItem(low, entry);
}

void frmMain::ReportRefreshFailure(const Failure &failure) {
  ReportFailure(failure, QStringLiteral("RefreshFileList"));
}

// Files whose names are not valid UTF-8 cannot be opened through Qt, so
// they are missing from the list; the user hears about them once for each
// folder and set of such names, not on every refresh.
void frmMain::ReportUnreadableNames(const QString &folder) {
  QStringList names;
  try {
    names = UnreadableImageNames(folder, txtPattern->text(), chkInversePattern->isChecked());
  } catch (const Failure &) {
    return; // a malformed pattern has been reported already
  }
  const QString key = names.isEmpty() ? QString() : folder + u'\n' + names.join(u'\n');
  if (key == unreadableReported_) return;
  unreadableReported_ = key;
  if (names.isEmpty()) return;
  const qsizetype shown = std::min<qsizetype>(names.size(), 10);
  QString text = QStringLiteral("These images are not listed and cannot be processed because "
                                "their names are not valid UTF-8. Rename them to process them:") +
                 kCrLf;
  for (qsizetype i = 0; i < shown; ++i)
    text += kCrLf + names[i];
  if (names.size() > shown) text += kCrLf + QStringLiteral("and %1 more").arg(names.size() - shown);
  services_.prompter.ask(QStringLiteral("Unreadable File Names"), text, Buttons::Ok,
                         Icon::Exclamation);
}

void frmMain::RefreshFileList() {
  RefreshingList = true;
  if (FormLoading) return; // the refresh that ends loading does the work
  ++refreshDepth_;
  // A refresh started from the event loop of another runs to its end first;
  // the list only counts as settled when the outermost one is done.
  const auto settle = [this] {
    --refreshDepth_;
    RefreshingList = refreshDepth_ > 0;
  };

  fraLoadingImages->move(TwipsToPixels(QRect(90, 765, 2535, 2400)).topLeft());
  ShowListBusy(true);

  const QString folder = txtInputDirectory->text();
  QStringList names;
  try {
    if (!IsListableFolder(folder)) throw Failure::fromErrno(ENOENT, folder);
    names = ListImageFiles(folder, txtPattern->text(), chkInversePattern->isChecked());
  } catch (const Failure &failure) {
    settle();
    if (IsListableFolder(folder)) {
      ReportRefreshFailure(failure);
      ShowListBusy(false);
      return;
    }
    const QString fallback = FallbackFolder();
    if (folder == fallback) {
      // The fallback itself cannot be listed: an empty list, not another round.
      lstImages->clear();
      imageIndex_.clear();
      ShowListBusy(false);
      lstImages_Click();
      return;
    }
    services_.prompter.ask(QStringLiteral("Invalid Directory"),
                           "Directory: " + folder + " does not exist, or is invalid!" + kCrLf +
                               "Directory will be set to defualt.",
                           Buttons::Ok, Icon::Exclamation);
    txtInputDirectory->setText(fallback);
    ShowListBusy(false);
    return;
  }

  RebuildIndexIfStale();
  for (int row = 0; row < lstImages->count(); ++row)
    if (ImageEntry *entry = EntryAt(row)) entry->passMark = 0;

  const QFontMetricsF metrics(lstImages->font());
  double widest = 0;
  for (const QString &name : names) {
    ImageEntry *entry = imageIndex_.value(name);
    if (entry) {
      entry->passMark = 1; // its tick stays as the user left it
    } else {
      entry = new ImageEntry(name);
      entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      entry->setCheckState(Qt::Checked);
      entry->passMark = 1;
      entry->widthTwips = metrics.horizontalAdvance(ExtentText(name)) * twipsPerPixelX_;
      InsertSorted(entry);
      imageIndex_.insert(name, entry);
    }
    widest = std::max(widest, entry->widthTwips);
  }

  // Entries not seen in this pass go, a run at a time; the event loop gets a
  // turn now and then so the window keeps painting.
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  for (int row = 0; row < lstImages->count();) {
    ImageEntry *entry = EntryAt(row);
    if (entry && entry->passMark == 0) {
      int end = row;
      while (end < lstImages->count() && EntryAt(end) && EntryAt(end)->passMark == 0) {
        imageIndex_.remove(EntryAt(end)->text());
        ++end;
      }
      lstImages->model()->removeRows(row, end - row);
      continue;
    }
    ++row;
    if (sinceEvents.elapsed() >= 15) {
      QCoreApplication::processEvents();
      sinceEvents.restart();
    }
  }

  settle();
  Extent(lstImages)->setExtent(HorizontalExtentPixels(widest, twipsPerPixelX_));
  lstImages->doItemsLayout();
  ShowListBusy(false);
  // The list is back before the preview starts, so it can be used meanwhile.
  if (!RefreshingList) lstImages_Click();
  if (!RefreshingList) ReportUnreadableNames(folder);
}

void frmMain::AdjustHorizontalScroll(QListWidget *lstbox) {
  ExtentDelegate *delegate = Extent(lstbox);
  if (!delegate) return;
  const QFontMetricsF metrics(lstbox->font());
  double widest = 0;
  for (int row = 0; row < lstbox->count(); ++row) {
    const ImageEntry *entry = lstbox == lstImages ? EntryAt(row) : nullptr;
    const double twips =
        entry ? entry->widthTwips
              : metrics.horizontalAdvance(ExtentText(lstbox->item(row)->text())) * twipsPerPixelX_;
    widest = std::max(widest, twips);
  }
  delegate->setExtent(HorizontalExtentPixels(widest, twipsPerPixelX_));
  lstbox->doItemsLayout();
}

int frmMain::HorizontalExtent(const QListWidget *lstbox) const {
  const ExtentDelegate *delegate = Extent(lstbox);
  return delegate ? delegate->extent() : 0;
}

void frmMain::SetAllTicks(bool ticked) {
  const int current = lstImages->currentRow();
  ShowListBusy(true);
  RefreshingList = true;
  const Qt::CheckState state = ticked ? Qt::Checked : Qt::Unchecked;
  for (int row = 0; row < lstImages->count(); ++row) {
    QListWidgetItem *item = lstImages->item(row);
    if (item->checkState() != state) item->setCheckState(state);
  }
  RefreshingList = refreshDepth_ > 0;
  if (lstImages->currentRow() != current) {
    const QSignalBlocker quiet(lstImages);
    lstImages->setCurrentRow(current);
  }
  ShowListBusy(false);
  if (!RefreshingList) lstImages_Click(); // one preview, not one per entry
}

void frmMain::cmdSelectAll_Click() { SetAllTicks(true); }

void frmMain::cmdDeselectAll_Click() { SetAllTicks(false); }

} // namespace varnholt
