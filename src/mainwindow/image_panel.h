#pragma once

#include "geometry/window_math.h"
#include "mainwindow/check_list_model.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QImage;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class QWidget;

namespace varnholt {

class Failure;
class PanelHost;
struct MainWindowServices;
struct Settings;

// The left side of the main window: the image folder, the pattern, the list
// of image files and the preview of the current one. The list's entries live
// in Images(); the list box shows them.
class ImagePanel : public QObject {
  Q_OBJECT
public:
  // Takes over its controls among `client`'s children, by name.
  ImagePanel(QWidget *client, const MainWindowServices &services, PanelHost &host,
             double twipsPerPixelX, double twipsPerPixelY, QObject *parent = nullptr);

  const CheckListModel &Images() const { return images_; }
  // The folder the list was read from, as the folder box last said.
  QString Folder() const { return folder_; }
  QListWidget *List() const { return lstImages; }

  // --- Image folder and image list (image_list.cpp)
  void RefreshFileList();
  void AdjustHorizontalScroll();
  void txtInputDirectory_Change();
  void txtPattern_Change();
  void chkInversePattern_Click();
  void cmdSelectDir_Click();
  void cmdSelectAll_Click();
  void cmdDeselectAll_Click();
  // The last session's folder, pattern and inverse box, while the window
  // loads: no refresh until EndLoading.
  void BeginLoading(const QString &folder, const QString &pattern, bool inverse);
  void SetFolder(const QString &folder);
  void EndLoading();
  // Which of the listed names are earlier results of the operation list:
  // they are marked, and unticked when they become one.
  void SetResultFinder(std::function<QStringList(const QStringList &names)> finder) {
    resultFinder_ = std::move(finder);
  }
  void MarkResults();
  // The folder, pattern and inverse box into the settings, as the window closes.
  void Store(Settings &settings) const;

  // --- Preview (preview.cpp)
  void lstImages_Click();
  void lstImages_DblClick();
  // The picture the preview shows was made from this file; empty when none.
  QString PreviewedFile() const { return previewedFile_; }
  // A preview is waiting for ImageMagick.
  bool LoadingPreview() const { return LoadingPreview_; }
  // The current entry's name; empty when none.
  QString CurrentName() const;
  // Where working files go.
  QString WorkFolder() const;
  // The window grew (or shrank back) by this many pixels of the preview's
  // width and height: the picture shown is centred again, and made again
  // for the new box once the resizing pauses.
  void SetPreviewRoom(QSize extra);

signals:
  // The preview shows a picture (true) or none (false): the crop tool can be
  // opened on it only while it does.
  void previewShown(bool shown);
  // The preview starts loading this entry.
  void previewStarting(const QString &name);

private:
  const MainWindowServices &services_;
  PanelHost &host_;
  double twipsPerPixelX_, twipsPerPixelY_;
  CheckListModel images_;
  QString folder_;

  bool RefreshingList = false;
  bool FormLoading = false;
  bool LoadingPreview_ = false;
  int refreshDepth_ = 0;
  QSet<QString> unreadableReported_; // folders the user has heard about
  // With subfolders: what the last listing could not list, and the
  // subfolders the user has heard about (each once in a session).
  QStringList treeUnreadableNames_, treeUnreadableFolders_;
  QSet<QString> foldersReported_;
  QString patternToolTip_; // the pattern box's own tooltip
  PreviewBox previewBox_;
  QTimer *previewResize_ = nullptr;
  quint64 previewGeneration_ = 0;
  QString previewedFile_;
  // What a refresh knows of each listed name, found without walking the
  // list: the refresh that last saw it and its display width, measured once.
  struct Mark {
    quint64 pass = 0;
    double widthTwips = 0;
  };
  QHash<QString, Mark> marks_;
  std::function<QStringList(const QStringList &)> resultFinder_;
  quint64 pass_ = 0;

  QLineEdit *txtInputDirectory = nullptr;
  QPushButton *cmdSelectDir = nullptr;
  QLineEdit *txtPattern = nullptr;
  QCheckBox *chkInversePattern = nullptr;
  QListWidget *lstImages = nullptr;
  QGroupBox *fraLoadingImages = nullptr;
  QPushButton *cmdSelectAll = nullptr;
  QPushButton *cmdDeselectAll = nullptr;
  QFrame *fraViewPicture = nullptr;
  QLabel *lblLoading = nullptr;
  QLabel *imgPreview = nullptr;
  QLabel *lblViewPictureError = nullptr;
  QLabel *lblImageDimensions = nullptr;

  void Connect();
  QWidget *Window() const;
  void ShowListBusy(bool busy);
  QString FallbackFolder() const;
  void ReportUnreadableNames(const QString &folder);
  void ReportUnreadableFolders(const QString &folder);
  void TellNames(const QString &title, const QString &intro, const QStringList &names);
  bool ListFolder(const QString &folder, QStringList &names);
  // Marks the pattern box as not reading (a description) or reading (empty).
  void ShowPatternProblem(const QString &description);
  void MergeNames(const QStringList &names);
  void DropUnseen();
  void InsertSorted(const QString &name);
  void SetAllTicks(bool ticked);
  void ShowNoPreview();
  void ShowPreviewFailure(const QString &name, const QString &description);
  void ShowPreview(const QImage &picture, const QString &image);
  // Load number `generation` of the preview, of the entry `name`.
  void LoadPreview(const QString &name, quint64 generation);
};

} // namespace varnholt
