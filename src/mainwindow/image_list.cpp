// The image folder, the pattern and the list of image files.
#include "desktop/desktop_look.h"
#include "mainwindow/image_panel.h"

#include "mainwindow/frm_main.h"
#include "mainwindow/list_extent.h"
#include "mainwindow/panel_host.h"
#include "operations/file_listing.h"
#include "platform/bind_control.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolTip>

#include <algorithm>

namespace varnholt {

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// What is wrong with a pattern; empty when it reads.
QString PatternProblem(const QString &pattern) {
  try {
    MatchesPattern(QString(), pattern); // the whole pattern is read before any match
    return QString();
  } catch (const Failure &failure) {
    return failure.description();
  }
}

bool IsListableFolder(const QString &folder) {
  const QFileInfo info(folder);
  return !folder.isEmpty() && info.isDir() && info.isReadable() && info.isExecutable();
}
} // namespace

ImagePanel::ImagePanel(QWidget *client, const MainWindowServices &services, PanelHost &host,
                       double twipsPerPixelX, double twipsPerPixelY, QObject *parent)
    : QObject(parent), services_(services), host_(host), twipsPerPixelX_(twipsPerPixelX),
      twipsPerPixelY_(twipsPerPixelY) {
  BindControl(*client, txtInputDirectory, "txtInputDirectory");
  BindControl(*client, cmdSelectDir, "cmdSelectDir");
  BindControl(*client, txtPattern, "txtPattern");
  BindControl(*client, chkInversePattern, "chkInversePattern");
  BindControl(*client, lstImages, "lstImages");
  BindControl(*client, fraLoadingImages, "fraLoadingImages");
  BindControl(*client, cmdSelectAll, "cmdSelectAll");
  BindControl(*client, cmdDeselectAll, "cmdDeselectAll");
  BindControl(*client, fraViewPicture, "fraViewPicture");
  BindControl(*client, lblLoading, "lblLoading");
  BindControl(*client, imgPreview, "imgPreview");
  BindControl(*client, lblViewPictureError, "lblViewPictureError");
  BindControl(*client, lblImageDimensions, "lblImageDimensions");
  SetUpCheckList(lstImages);
  ShowInList(images_, lstImages);
  fraLoadingImages->hide();
  lblViewPictureError->hide();
  lblViewPictureError->setWordWrap(true);
  imgPreview->hide();
  // The image control's design size, grown with the window (SetPreviewRoom).
  previewBox_ = PreviewBoxFromTwips(2085, 1725, twipsPerPixelX_, twipsPerPixelY_);
  patternToolTip_ = txtPattern->toolTip();
  Connect();
}

void ImagePanel::Connect() {
  connect(txtInputDirectory, &QLineEdit::textChanged, this, [this] { txtInputDirectory_Change(); });
  connect(txtPattern, &QLineEdit::textChanged, this, [this] { txtPattern_Change(); });
  connect(chkInversePattern, &QCheckBox::toggled, this, [this] { chkInversePattern_Click(); });
  connect(cmdSelectDir, &QPushButton::clicked, this, [this] { cmdSelectDir_Click(); });
  connect(cmdSelectAll, &QPushButton::clicked, this, [this] { cmdSelectAll_Click(); });
  connect(cmdDeselectAll, &QPushButton::clicked, this, [this] { cmdDeselectAll_Click(); });
  connect(lstImages, &QListWidget::currentRowChanged, this, [this] { lstImages_Click(); });
  connect(lstImages, &QListWidget::itemDoubleClicked, this, [this] { lstImages_DblClick(); });
}

QWidget *ImagePanel::Window() const { return lstImages->window(); }

void ImagePanel::BeginLoading(const QString &folder, const QString &pattern, bool inverse) {
  FormLoading = true;
  txtInputDirectory->setText(folder);
  txtPattern->setText(pattern);
  chkInversePattern->setChecked(inverse);
}

void ImagePanel::SetFolder(const QString &folder) { txtInputDirectory->setText(folder); }

void ImagePanel::EndLoading() { FormLoading = false; }

void ImagePanel::Store(Settings &settings) const {
  settings.SelectedDir = folder_;
  settings.Pattern = txtPattern->text();
  settings.InversePattern = chkInversePattern->isChecked() ? 1 : 0;
}

void ImagePanel::txtInputDirectory_Change() {
  folder_ = txtInputDirectory->text();
  txtInputDirectory->setToolTip(QStringLiteral("Image Folder: ") + folder_);
  RefreshFileList();
}

void ImagePanel::txtPattern_Change() { RefreshFileList(); }

void ImagePanel::chkInversePattern_Click() { RefreshFileList(); }

void ImagePanel::cmdSelectDir_Click() {
  QString folder;
  try {
    folder = services_.folderBrowser.browse(QStringLiteral("Select Input Directory"), folder_);
  } catch (const Failure &failure) {
    host_.ReportFailure(failure, QStringLiteral("cmdSelectDir_Click"),
                        QStringLiteral("Showing Browse Window"));
  }
  if (!folder.isEmpty()) txtInputDirectory->setText(folder);
}

void ImagePanel::ShowListBusy(bool busy) {
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

QString ImagePanel::FallbackFolder() const {
  return services_.defaultFolder.isEmpty() ? DefaultImageFolder() : services_.defaultFolder;
}

void ImagePanel::InsertSorted(const QString &name) {
  // The list is kept in order, so its place is found by halving.
  qsizetype low = 0, high = images_.count();
  while (low < high) {
    const qsizetype mid = (low + high) / 2;
    if (ImageNameLess(images_.text(mid), name))
      low = mid + 1;
    else
      high = mid;
  }
  images_.insert(low, name, true);
}

// Files whose names are not valid UTF-8 cannot be opened through Qt, so
// they are missing from the list; the user hears about them once for each
// folder in a session, not at every refresh or return to the folder.
void ImagePanel::ReportUnreadableNames(const QString &folder) {
  QStringList names = treeUnreadableNames_;
  if (services_.settings.IncludeSubfolders) {
    ReportUnreadableFolders(folder);
  } else {
    try {
      names = UnreadableImageNames(folder, txtPattern->text(), chkInversePattern->isChecked());
    } catch (const Failure &) {
      return; // a malformed pattern shows in its box
    }
  }
  if (names.isEmpty() || unreadableReported_.contains(folder)) return;
  unreadableReported_.insert(folder);
  TellNames(QStringLiteral("Unreadable File Names"),
            QStringLiteral("These images are not listed and cannot be processed because "
                           "their names are not valid UTF-8. Rename them to process them:"),
            names);
}

// A warning that names what it is about: the first ten, then how many more.
void ImagePanel::TellNames(const QString &title, const QString &intro, const QStringList &names) {
  const qsizetype shown = std::min<qsizetype>(names.size(), 10);
  QString text = intro + kCrLf;
  for (qsizetype i = 0; i < shown; ++i)
    text += kCrLf + names[i];
  if (names.size() > shown) text += kCrLf + QStringLiteral("and %1 more").arg(names.size() - shown);
  services_.prompter.ask(title, text, Buttons::Ok, Icon::Exclamation);
}

// A subfolder that cannot be read is named once, not at every refresh; the
// rest of the tree is listed.
void ImagePanel::ReportUnreadableFolders(const QString &folder) {
  QStringList fresh;
  for (const QString &subfolder : std::as_const(treeUnreadableFolders_))
    if (const QString key = AddBackslash(folder) + subfolder; !foldersReported_.contains(key)) {
      foldersReported_.insert(key);
      fresh << subfolder;
    }
  if (fresh.isEmpty()) return;
  TellNames(QStringLiteral("Unreadable Folders"),
            QStringLiteral("These subfolders cannot be read, so their images are not listed:"),
            fresh);
}

// The names to list; false when the folder could not be listed, after
// whatever that calls for has been done.
bool ImagePanel::ListFolder(const QString &folder, QStringList &names) {
  try {
    if (!IsListableFolder(folder)) throw Failure::fromErrno(ENOENT, folder);
    const Settings &settings = services_.settings;
    if (!settings.IncludeSubfolders) {
      names = ListImageFiles(folder, txtPattern->text(), chkInversePattern->isChecked());
      return true;
    }
    // Results written into a folder inside the images' are no images.
    const ImageTree tree = ListImageTree(folder, txtPattern->text(), chkInversePattern->isChecked(),
                                         settings.OutputInDiffDir ? settings.OutputDir : QString());
    names = tree.images;
    treeUnreadableNames_ = tree.unreadableNames;
    treeUnreadableFolders_ = tree.unreadableFolders;
    return true;
  } catch (const Failure &failure) {
    --refreshDepth_;
    RefreshingList = refreshDepth_ > 0;
    if (IsListableFolder(folder)) {
      if (PatternProblem(txtPattern->text()).isEmpty()) {
        host_.ReportFailure(failure, QStringLiteral("RefreshFileList"));
      } else {
        // Half-typed patterns ("[" before "a]") are normal while typing: the
        // box says so and the list waits for one that reads, instead of a
        // modal box taking the next keystrokes.
        ShowPatternProblem(PatternProblem(txtPattern->text()));
      }
      ShowListBusy(false);
      return false;
    }
    const QString fallback = FallbackFolder();
    if (folder == fallback) {
      // The fallback itself cannot be listed: an empty list, not another round.
      images_.clear();
      marks_.clear();
      ShowListBusy(false);
      lstImages_Click();
      return false;
    }
    services_.prompter.ask(QStringLiteral("Invalid Directory"),
                           "Directory: " + folder + " does not exist, or is invalid!" + kCrLf +
                               "Directory will be set to defualt.",
                           Buttons::Ok, Icon::Exclamation);
    txtInputDirectory->setText(fallback);
    ShowListBusy(false);
    return false;
  }
}

// Marks every listed name as seen in this pass; a new one comes in ticked.
void ImagePanel::MergeNames(const QStringList &names) {
  ++pass_;
  const QFontMetricsF metrics(lstImages->font());
  for (const QString &name : names) {
    auto found = marks_.find(name);
    if (found == marks_.end()) {
      found =
          marks_.insert(name, {0, metrics.horizontalAdvance(ExtentText(name)) * twipsPerPixelX_});
      InsertSorted(name);
    }
    found->pass = pass_; // an entry already listed keeps its tick as the user left it
  }
}

// Entries not seen in the latest pass go, a run at a time; the event loop
// gets a turn now and then so the window keeps painting.
void ImagePanel::DropUnseen() {
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  const auto unseen = [this](qsizetype row) {
    return row < images_.count() && marks_.value(images_.text(row)).pass != pass_;
  };
  for (qsizetype row = 0; row < images_.count();) {
    if (unseen(row)) {
      qsizetype end = row;
      while (unseen(end))
        marks_.remove(images_.text(end++));
      images_.remove(row, end - row);
      continue;
    }
    ++row;
    if (sinceEvents.elapsed() >= 15) {
      QCoreApplication::processEvents();
      sinceEvents.restart();
    }
  }
}

void ImagePanel::RefreshFileList() {
  RefreshingList = true;
  if (FormLoading) return; // the refresh that ends loading does the work
  // A refresh started from the event loop of another runs to its end first;
  // the list only counts as settled when the outermost one is done.
  ++refreshDepth_;
  fraLoadingImages->move(
      TwipsRectToPixels(QRect(90, 765, 2535, 2400), twipsPerPixelX_, twipsPerPixelY_).topLeft());
  ShowListBusy(true);

  const QString folder = folder_;
  QStringList names;
  if (!ListFolder(folder, names)) return;
  ShowPatternProblem(QString());
  MergeNames(names);
  DropUnseen();
  MarkResults();

  --refreshDepth_;
  RefreshingList = refreshDepth_ > 0;
  AdjustHorizontalScroll();
  ShowListBusy(false);
  // The list is back before the preview starts, so it can be used meanwhile.
  if (!RefreshingList) lstImages_Click();
  if (!RefreshingList) ReportUnreadableNames(folder);
}

void ImagePanel::MarkResults() {
  if (!resultFinder_) return;
  QStringList names;
  names.reserve(images_.count());
  for (qsizetype row = 0; row < images_.count(); ++row)
    names << images_.text(row);
  const QStringList found = resultFinder_(names);
  const QSet<QString> results(found.begin(), found.end());
  for (qsizetype row = 0; row < images_.count(); ++row) {
    const bool result = results.contains(images_.text(row));
    if (result == images_.marked(row)) continue;
    images_.setMarked(row, result);
    // Unticked once, when it becomes one: a tick given by hand afterwards stays.
    if (result) images_.setTicked(row, false);
  }
}

void ImagePanel::ShowPatternProblem(const QString &description) {
  const bool bad = !description.isEmpty();
  if (txtPattern->property("patternProblem").toBool() == bad &&
      (!bad || txtPattern->toolTip() == description))
    return;
  txtPattern->setProperty("patternProblem", bad);
  // A red that stands out on the box's own background, light or dark.
  const QString red =
      IsDarkPalette(txtPattern->palette()) ? QStringLiteral("#ff6b6b") : QStringLiteral("#d00000");
  txtPattern->setStyleSheet(bad ? "QLineEdit { border: 2px solid " + red + "; }" : QString());
  // A box with a style sheet no longer takes its face from the window: it is
  // given the window's while framed, and takes it from the window again after.
  txtPattern->setFont(bad ? txtPattern->parentWidget()->font() : QFont());
  // A tip already on the screen keeps its text: the old complaint would stay
  // up over a pattern that reads.
  if (!bad && QToolTip::isVisible() && QToolTip::text() == txtPattern->toolTip())
    QToolTip::hideText();
  txtPattern->setToolTip(bad ? description : patternToolTip_);
}

void ImagePanel::AdjustHorizontalScroll() {
  double widest = 0;
  for (qsizetype row = 0; row < images_.count(); ++row)
    widest = std::max(widest, marks_.value(images_.text(row)).widthTwips);
  SetHorizontalExtent(lstImages, widest, twipsPerPixelX_);
}

void ImagePanel::SetAllTicks(bool ticked) {
  const int current = lstImages->currentRow();
  ShowListBusy(true);
  RefreshingList = true;
  images_.setAllTicked(ticked);
  RefreshingList = refreshDepth_ > 0;
  if (lstImages->currentRow() != current) {
    const QSignalBlocker quiet(lstImages);
    lstImages->setCurrentRow(current);
  }
  ShowListBusy(false);
  if (!RefreshingList) lstImages_Click(); // one preview, not one per entry
}

void ImagePanel::cmdSelectAll_Click() { SetAllTicks(true); }

void ImagePanel::cmdDeselectAll_Click() { SetAllTicks(false); }

} // namespace varnholt
