// Pictures of the program's windows as a person sees them, for reviewing
// layouts without clicking through the program. Each window has one function
// below; scripts/screenshots runs this under Xvfb.
//
//   varnholt_screenshots OUTPUT_FOLDER [NAME...]

#include "app/screenshot_pictures.h"
#include "app/screenshot_run.h"
#include "app/screenshot_seams.h"
#include "croptool/frm_crop_tool.h"
#include "desktop/program_icon.h"
#include "desktop/qt_desktop.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_error.h"
#include "dialogs/frm_go.h"
#include "dialogs/frm_splash.h"
#include "mainwindow/frm_main.h"
#include "mainwindow/image_panel.h"
#include "mainwindow/operation_editor.h"
#include "mainwindow/operation_list_panel.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace varnholt;
using namespace varnholt::shots;

namespace {

QString FillPictures(const QTemporaryDir &dir);

// The main window with the real desktop seams, as on a first start, beside a
// folder of photographs made for the picture.
struct FirstStart {
  QTemporaryDir dir;
  const QString folder = FillPictures(dir);
  Settings settings;
  QtPrompter prompter;
  QtFolderBrowser browser;
  QtFileDialogs dialogs;
  QtShell shell;
  MagickToolkit toolkit;
  NoErrors errors;
  frmMain window{MainWindowServices{settings, prompter, browser, dialogs, shell, toolkit, errors,
                                    QString(), dir.filePath(QStringLiteral("work"))}};
};

// A key the prefix box refused: its red frame, and the tip that says why.
bool RefusedKey(const QString &path) {
  FirstStart start;
  frmMain &window = start.window;
  const QString &folder = start.folder;
  window.show();
  window.findChild<QLineEdit *>(QStringLiteral("txtInputDirectory"))->setText(folder);
  auto *prefix = window.findChild<QLineEdit *>(QStringLiteral("txtPrefix"));
  QApplication::setActiveWindow(&window);
  prefix->setFocus(Qt::MouseFocusReason);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  for (const QChar c : QStringLiteral("../web_")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(prefix, &press);
    if (c == u'/') break; // the tip stays up over the box
  }
  for (int i = 0; i < 50; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  // The tip is a window of its own: the screen shows the box and the tip.
  const QRect around(prefix->mapToGlobal(QPoint(-40, -40)), QSize(420, 140));
  const QPixmap shot =
      window.screen()->grabWindow(0, around.x(), around.y(), around.width(), around.height());
  const bool saved = shot.save(path);
  std::printf("%s: %dx%d\n", qPrintable(path), shot.width(), shot.height());
  return saved;
}

// The splash a moment into loading, its bar part-way.
bool Splash(const QString &path) {
  frmSplash splash;
  bool saved = false;
  QTimer::singleShot(0, &splash, [&] {
    for (int tick = 0; tick < 20; ++tick)
      splash.timLoading_Timer();
    saved = Save(splash, path);
    splash.hide();
  });
  splash.ShowModal();
  return saved;
}

// The About/Settings window on one of its tabs, with settings a user might
// have: a separate output folder and the folder command registered.
bool AboutWindow(const QString &path, int tab) {
  Settings settings;
  settings.OutputInDiffDir = true;
  settings.OutputDir = QStringLiteral("/home/me/Pictures/web");
  settings.Antialias = true;
  NoPrompter prompter;
  NoFolderBrowser browser;
  NoShell shell;
  NoErrors errors;
  RegisteredCommand command;
  frmAbout window({settings, prompter, browser, shell, errors, &command,
                   [] { return QStringLiteral("/home/me/Pictures/shoot"); }});
  window.findChild<QTabBar *>(QStringLiteral("tabAbout"))->setCurrentIndex(tab);
  bool saved = false;
  QTimer::singleShot(100, &window, [&] {
    saved = Save(window, path);
    window.cmdCancel_Click();
  });
  window.exec();
  return saved;
}

// The crop tool on a photograph, both corners placed.
bool CropToolWindow(const QString &path) {
  Settings settings;
  NoPrompter prompter;
  frmCropTool tool(settings, prompter);
  tool.SetPicture(Seascape(1200, 800));
  tool.SetCropTopLeftX(130);
  tool.SetCropTopLeftY(96);
  tool.SetCropBottomRightX(589);
  tool.SetCropBottomRightY(399);
  tool.setWindowTitle(QStringLiteral("/home/me/Pictures/harbour at dawn 2024-08-17.jpg"));
  tool.resize(760, 560);
  bool saved = false;
  QTimer::singleShot(300, &tool, [&] {
    saved = Save(tool, path);
    tool.cmdOK_Click();
  });
  tool.exec();
  return saved;
}

// Photographs of several shapes and names.
QString FillPictures(const QTemporaryDir &dir) {
  const QString folder = dir.filePath(QStringLiteral("Pictures"));
  QDir().mkpath(folder);
  QDir().mkpath(dir.filePath(QStringLiteral("work")));
  Seascape(640, 480).save(folder + "/Beach at Sunset.jpg");
  Seascape(480, 640).save(folder + "/portrait_0042.png");
  Seascape(800, 600).save(folder + "/IMG_0001.JPG");
  Seascape(300, 200).save(folder + "/logo.png");
  Seascape(320, 240).save(folder + "/holiday photo from the mountains, day three.png");
  Seascape(64, 64).save(folder + "/notes.2020.png"); // its extension follows the last dot
  return folder;
}

// A list file of three operations, loaded, and the first clicked into the editor.
bool LoadThreeOperations(frmMain &window, const QString &list, Settings &settings) {
  const QList<OperationListItem> items = {
      {QStringLiteral("Extract (40,30)-(599,449) LimitWidthHeight (800*600) Prefix: \"crop_\" "
                      "Format: \"JPG\" Quality: \"90\""),
       true},
      {QStringLiteral("Extract Whole Image LimitWidth (640) Suffix: \"_web\" Format: \"JPG\" "
                      "Quality: \"82\""),
       true},
      {QStringLiteral("Extract Whole Image FixToSize (128*128) Prefix: \"th_\" Format: "
                      "\"PNG\" Quality: \"75\""),
       false}};
  QString error;
  if (!SaveOperationsFile(list, items, settings, error)) {
    std::fprintf(stderr, "cannot write the list: %s\n", qPrintable(error));
    return false;
  }
  window.Operations().OperationsFileToList(list);
  window.Operations().SetWindowTitle();
  window.findChild<QListWidget *>(QStringLiteral("lstOperations"))->setCurrentRow(0);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  return true;
}

// The main window on a folder of photographs with the first one previewed;
// with the editor, a list file of three operations is loaded and the first
// clicked into the editor; maximised, it takes the whole screen less a title
// bar, as a window manager would give it. Real desktop seams, as on a first
// start.
enum class MainShot { Default, Editor, Maximised };

bool MainWindow(const QString &path, MainShot shot) {
  FirstStart start;
  frmMain &window = start.window;
  const QString &folder = start.folder;
  window.show();
  if (shot == MainShot::Maximised) {
    // No window manager under Xvfb: the window is given what one would give it.
    QRect area = window.screen()->availableGeometry();
    area.setTop(area.top() + TitleBarHeight(window));
    window.setGeometry(area);
  }
  auto *lstImages = window.findChild<QListWidget *>(QStringLiteral("lstImages"));
  window.findChild<QLineEdit *>(QStringLiteral("txtInputDirectory"))->setText(folder);
  window.findChild<QCheckBox *>(QStringLiteral("chkExtract"))->setChecked(true);
  lstImages->item(1)->setCheckState(Qt::Unchecked);
  lstImages->setCurrentRow(0);
  window.Images().AdjustHorizontalScroll();
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  if (window.Images().PreviewedFile().isEmpty()) {
    std::fprintf(
        stderr, "no preview: %s\n",
        qPrintable(window.findChild<QLabel *>(QStringLiteral("lblViewPictureError"))->text()));
    return false;
  }
  const QStringList clipped = ClippedCaptions(&window);
  if (!clipped.isEmpty())
    std::fprintf(stderr, "clipped captions: %s\n", qPrintable(clipped.join(", ")));
  const QFont font = window.centralWidget()->font();
  std::printf("window %dx%d px, font %s %.1f pt\n", window.width(), window.height(),
              qPrintable(QFontInfo(font).family()), font.pointSizeF());
  if (shot == MainShot::Default) return Save(window, path);
  if (!LoadThreeOperations(window, start.dir.filePath(QStringLiteral("web.vop")), start.settings))
    return false;
  return SaveWithTitleBar(window, path);
}

// The crop tool opened from the main window on a 24 MP photograph, as a user
// opens it: fitted, then (`actualSize`) at 100 % after the key 1, about the
// middle of the view.
bool CropToolOnPhoto(const QString &path, bool actualSize) {
  static QTemporaryDir photos;
  const QString folder = photos.path();
  const QString photo = folder + "/harbour at dawn 2024-08-17.jpg";
  if (!QFileInfo::exists(photo) && !GrainyPhoto(6000, 4000).save(photo, "JPG", 88)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(photo));
    return false;
  }
  QTemporaryDir work;
  Settings settings;
  NoPrompter prompter;
  NoFolderBrowser browser;
  QtFileDialogs dialogs;
  NoShell shell;
  MagickToolkit toolkit;
  NoErrors errors;
  frmMain window(
      {settings, prompter, browser, dialogs, shell, toolkit, errors, QString(), work.path()});
  window.show();
  window.findChild<QLineEdit *>(QStringLiteral("txtInputDirectory"))->setText(folder);
  window.findChild<QCheckBox *>(QStringLiteral("chkExtract"))->setChecked(true);
  const std::pair<const char *, const char *> corners[] = {{"txtTopLeftX", "3060"},
                                                           {"txtTopLeftY", "1710"},
                                                           {"txtBottomRightX", "5339"},
                                                           {"txtBottomRightY", "3419"}};
  for (const auto &[name, value] : corners)
    window.findChild<QLineEdit *>(QString::fromLatin1(name))->setText(QString::fromLatin1(value));
  window.findChild<QListWidget *>(QStringLiteral("lstImages"))->setCurrentRow(0);
  frmCropTool *tool = window.Editor().CropTool();
  PaintWatch painted(tool->PictureArea());
  bool saved = false, zoomed = false, shownWhole = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!tool->isVisible() || !painted.seen) return;
    if (actualSize && !zoomed) {
      // The whole picture is decoded meanwhile, this timer ticking on: what
      // is painted until the key is handled is the small one, enlarged.
      zoomed = true;
      QWidget *view = tool->PictureArea()->parentWidget();
      QCursor::setPos(view->mapToGlobal(view->rect().center()));
      QKeyEvent one(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
      QCoreApplication::sendEvent(tool, &one);
      painted.seen = false;
      shownWhole = true;
      return;
    }
    if (actualSize && !shownWhole) return;
    poll.stop();
    std::printf("crop tool %dx%d px at %.0f %%\n", tool->width(), tool->height(),
                tool->Zoom() * 100);
    saved = Save(*tool, path);
    tool->cmdCancel_Click();
  });
  poll.start(20);
  window.findChild<QPushButton *>(QStringLiteral("cmdUseCropTool"))->click();
  return saved;
}

const struct {
  const char *name;
  std::function<bool(const QString &)> take;
} kShots[] = {
    {"run-window", RunWindowMidRun},
    {"run-window-failed", RunWindowAfterFailure},
    {"error-dialog", ErrorDialog},
    {"run-error-question", RunErrorQuestion},
    {"refused-key", RefusedKey},
    {"splash", Splash},
    {"about-general", [](const QString &path) { return AboutWindow(path, 0); }},
    {"about-terms", [](const QString &path) { return AboutWindow(path, 1); }},
    {"about-settings", [](const QString &path) { return AboutWindow(path, 2); }},
    {"crop-tool", CropToolWindow},
    {"main-window", [](const QString &path) { return MainWindow(path, MainShot::Default); }},
    {"main-window-editor", [](const QString &path) { return MainWindow(path, MainShot::Editor); }},
    {"main-window-maximised",
     [](const QString &path) { return MainWindow(path, MainShot::Maximised); }},
    {"main-window-dark",
     [](const QString &path) { return Dark([&] { return MainWindow(path, MainShot::Editor); }); }},
    {"crop-tool-fitted", [](const QString &path) { return CropToolOnPhoto(path, false); }},
    {"crop-tool-100", [](const QString &path) { return CropToolOnPhoto(path, true); }},
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // The program's themed look.
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setWindowIcon(ProgramIcon());
  QStringList args = QApplication::arguments().mid(1);
  // --dark: the named windows on a dark desktop, as dark-NAME.png.
  const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
  if (args.isEmpty()) {
    std::fputs("usage: varnholt_screenshots OUTPUT_FOLDER [--dark] [NAME...]\n", stderr);
    return 2;
  }
  const QString out = args[0];
  QDir().mkpath(out);
  const QStringList wanted = args.mid(1);
  int failures = 0;
  for (const auto &shot : kShots) {
    if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(shot.name))) continue;
    if (!dark && !shot.take(out + '/' + shot.name + ".png")) ++failures;
    if (dark && !Dark([&] { return shot.take(out + "/dark-" + shot.name + ".png"); })) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
