// Pictures of the program's windows as a person sees them, for reviewing
// layouts without clicking through the program. Each window has one function
// below; scripts/screenshots runs this under Xvfb.
//
//   varnholt_screenshots OUTPUT_FOLDER [NAME...]

#include "croptool/frm_crop_tool.h"
#include "dialogs/frm_error.h"
#include "dialogs/frm_splash.h"
#include "mainwindow/frm_main.h"
#include "operations/operation.h"
#include "operations/operation_list_file.h"
#include "platform/desktop.h"
#include "desktop/program_icon.h"
#include "platform/prompter.h"
#include "desktop/qt_desktop.h"
#include "dialogs/frm_go.h"
#include "processing/magick/magick_toolkit.h"
#include "settings/folder_command.h"
#include "dialogs/frm_about.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPolygonF>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <functional>

using namespace varnholt;

namespace {

class NoShell : public Shell {
public:
  bool open(const QString &) override { return true; }
};

class NoPrompter : public Prompter {
public:
  Answer ask(const QString &, const QString &, Buttons, Icon) override { return Answer::Yes; }
};

class NoErrors : public ErrorReporter {
public:
  void DisplayError(const ErrorReport &) override {}
  void Dismiss() override {}
};

class NoFolderBrowser : public FolderBrowser {
public:
  QString browse(const QString &) override { return QString(); }
};

class RegisteredCommand : public FolderCommand {
public:
  void Register() override {}
  void Unregister() override {}
  bool IsRegistered() override { return true; }
};

// Holds the n-th toolkit call so the run can be pictured in the middle.
class HoldingToolkit : public ImageToolkit {
public:
  HoldingToolkit(ImageToolkit &inner, int holdAt) : inner_(inner), holdAt_(holdAt) {}
  QString identify(const QStringList &args) override {
    hold();
    return inner_.identify(args);
  }
  void convert(const QStringList &args) override {
    hold();
    inner_.convert(args);
  }
  void mogrify(const QStringList &args) override {
    hold();
    inner_.mogrify(args);
  }
  int orientation(const QString &path) override { return inner_.orientation(path); }
  void letGo() {
    released = true;
    released.notify_all();
  }
  std::atomic<bool> held{false};
  std::atomic<bool> released{false};

private:
  void hold() {
    if (++calls_ != holdAt_) return;
    held = true;
    released.wait(false);
  }
  ImageToolkit &inner_;
  int holdAt_;
  std::atomic<int> calls_{0};
};

bool Save(QWidget &window, const QString &path) {
  const bool saved = window.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

QString OperationText(bool extract, bool resize, const QString &format, const QString &prefix) {
  Operation op = OperationDefaults();
  op.Extract = extract;
  op.TopLeftX = 40;
  op.TopLeftY = 30;
  op.BottomRightX = 199;
  op.BottomRightY = 149;
  op.Resize = resize;
  op.ResizeWidth = 120;
  op.ResizeHeight = 90;
  op.OutputFormat = format;
  op.Prefix = prefix;
  QString error;
  return OperationDescription(op, error);
}

void FillFolder(const QString &folder, ListRunSource &source) {
  source.folder = folder;
  for (const char *name : {"harbour at dawn 2024-08-17.png", "lighthouse, north pier.png",
                           "market day (ferry port).png", "storm over the bay.png"}) {
    QImage image(240, 180, QImage::Format_RGB32);
    image.fill(QColor(70, 110, 160));
    QPainter(&image).fillRect(0, 120, 240, 60, QColor(40, 90, 60));
    image.save(folder + '/' + name);
    source.images.push_back({QString::fromUtf8(name), true});
  }
  source.operations = {{OperationText(false, true, "JPG", "th_")},
                       {OperationText(true, false, kDontChange, "crop_")},
                       {OperationText(true, true, "PNG", "web_")}};
}

// The run window while the sixth toolkit call of a run is under way.
bool RunWindowMidRun(const QString &path) {
  QTemporaryDir dir;
  ListRunSource source;
  FillFolder(dir.path(), source);
  Settings settings;
  MagickToolkit magick;
  HoldingToolkit toolkit(magick, 6);
  NoPrompter prompter;
  NoErrors errors;
  frmGo window(source, settings, toolkit, prompter, errors);
  bool saved = false;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!toolkit.held || toolkit.released) return;
    saved = Save(window, path);
    toolkit.letGo();
  });
  poll.start();
  window.exec();
  return saved;
}

// The run window after the run itself failed: it waits to be closed.
bool RunWindowAfterFailure(const QString &path) {
  class BrokenList : public ListRunSource {
  public:
    QString operationText(qsizetype) const override {
      throw Failure(kErrSubscript, QStringLiteral("Subscript out of range"));
    }
  };
  QTemporaryDir dir;
  BrokenList source;
  FillFolder(dir.path(), source);
  Settings settings;
  MagickToolkit magick;
  NoPrompter prompter;
  NoErrors errors;
  frmGo window(source, settings, magick, prompter, errors);
  bool saved = false;
  QTimer::singleShot(200, &window, [&] {
    saved = Save(window, path);
    window.findChild<QPushButton *>(QStringLiteral("cmdStop"))->click();
  });
  window.exec();
  return saved;
}

bool ErrorDialog(const QString &path) {
  NoShell shell;
  frmError dialog(shell);
  const ErrorReport report = ErrorReport::from(
      Failure(6, QStringLiteral("Overflow")), QStringLiteral("Doing Operations..."),
      QStringLiteral("frmGo"), QStringLiteral("Form_Activate"),
      QStringLiteral("Do Operation: Extract (40,30)-(199,149) >>>  /home/me/Pictures/harbour.png"));
  bool saved = false;
  QTimer::singleShot(100, &dialog, [&] {
    saved = Save(dialog, path);
    dialog.cmdOK_Click();
  });
  dialog.DisplayError(report);
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

// Something with the look of a photograph: sky, sea, a headland and a sun.
QImage Seascape(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, 0, height * 0.6);
  sky.setColorAt(0, QColor(38, 70, 130));
  sky.setColorAt(1, QColor(236, 176, 120));
  painter.fillRect(0, 0, width, int(height * 0.6), sky);
  QLinearGradient sea(0, height * 0.6, 0, height);
  sea.setColorAt(0, QColor(60, 96, 120));
  sea.setColorAt(1, QColor(18, 40, 60));
  painter.fillRect(0, int(height * 0.6), width, height, sea);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 226, 160));
  painter.drawEllipse(QPointF(width * 0.62, height * 0.5), height * 0.07, height * 0.07);
  painter.setBrush(QColor(44, 52, 40));
  painter.drawPolygon(QPolygonF({QPointF(0, height * 0.42), QPointF(width * 0.18, height * 0.47),
                                 QPointF(width * 0.34, height * 0.6), QPointF(0, height * 0.66)}));
  for (int i = 0; i < 14; ++i) {
    painter.setBrush(QColor(255, 214, 150, 70));
    painter.drawRect(
        QRectF(width * 0.62 - 40 + (i % 3) * 10, height * 0.62 + i * 12, 80 - i * 4, 3));
  }
  return image;
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

// Without a window manager there is no title bar; draw one so the title with
// the list's file name is in the picture.
bool SaveWithTitleBar(QWidget &window, const QString &path) {
  const QPixmap client = window.grab();
  const int bar = QFontMetrics(window.font()).height() + 10;
  QPixmap framed(client.width(), client.height() + bar);
  framed.fill(window.palette().color(QPalette::Highlight));
  QPainter painter(&framed);
  painter.setPen(window.palette().color(QPalette::HighlightedText));
  const int icon = bar - 8;
  painter.drawPixmap(6, 4, window.windowIcon().pixmap(icon, icon));
  painter.drawText(QRect(12 + icon, 0, client.width() - 18 - icon, bar),
                   Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  painter.drawPixmap(0, bar, client);
  painter.end();
  const bool saved = framed.save(path);
  std::printf("%s %s (title: %s)\n", saved ? "wrote" : "could not write", qPrintable(path),
              qPrintable(window.windowTitle()));
  return saved;
}

// The main window on a folder of photographs with the first one previewed;
// with the editor, a list file of three operations is loaded and the first
// clicked into the editor. Real desktop seams, as on a first start.
bool MainWindow(const QString &path, bool withEditor) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("Pictures"));
  QDir().mkpath(folder);
  QDir().mkpath(dir.filePath(QStringLiteral("work")));
  Seascape(640, 480).save(folder + "/Beach at Sunset.jpg");
  Seascape(480, 640).save(folder + "/portrait_0042.png");
  Seascape(800, 600).save(folder + "/IMG_0001.JPG");
  Seascape(300, 200).save(folder + "/logo.png");
  Seascape(320, 240).save(folder + "/holiday photo from the mountains, day three.png");
  Seascape(64, 64).save(folder + "/notes.2020.png"); // never listed: two dots
  Settings settings;
  QtPrompter prompter;
  QtFolderBrowser browser;
  QtFileDialogs dialogs;
  QtShell shell;
  MagickToolkit toolkit;
  NoErrors errors;
  frmMain window({settings, prompter, browser, dialogs, shell, toolkit, errors, QString(),
                  dir.filePath(QStringLiteral("work"))});
  window.show();
  auto *lstImages = window.findChild<QListWidget *>(QStringLiteral("lstImages"));
  window.findChild<QLineEdit *>(QStringLiteral("txtInputDirectory"))->setText(folder);
  window.findChild<QCheckBox *>(QStringLiteral("chkExtract"))->setChecked(true);
  lstImages->item(1)->setCheckState(Qt::Unchecked);
  lstImages->setCurrentRow(0);
  window.AdjustHorizontalScroll(lstImages);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  if (window.PreviewedFile().isEmpty()) {
    std::fprintf(stderr, "no preview: %s\n",
                 qPrintable(window.findChild<QLabel *>(QStringLiteral("lblViewPictureError"))->text()));
    return false;
  }
  const QStringList clipped = ClippedCaptions(&window);
  if (!clipped.isEmpty())
    std::fprintf(stderr, "clipped captions: %s\n", qPrintable(clipped.join(", ")));
  const QFont font = window.centralWidget()->font();
  std::printf("window %dx%d px, font %s %.1f pt\n", window.width(), window.height(),
              qPrintable(QFontInfo(font).family()), font.pointSizeF());
  if (!withEditor) return Save(window, path);

  const QString list = dir.filePath(QStringLiteral("web.vop"));
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
  window.OperationsFileToList(list);
  window.SetWindowTitle();
  window.findChild<QListWidget *>(QStringLiteral("lstOperations"))->setCurrentRow(0);
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents();
  return SaveWithTitleBar(window, path);
}

const struct {
  const char *name;
  std::function<bool(const QString &)> take;
} kShots[] = {
    {"run-window", RunWindowMidRun},
    {"run-window-failed", RunWindowAfterFailure},
    {"error-dialog", ErrorDialog},
    {"splash", Splash},
    {"about-general", [](const QString &path) { return AboutWindow(path, 0); }},
    {"about-terms", [](const QString &path) { return AboutWindow(path, 1); }},
    {"about-settings", [](const QString &path) { return AboutWindow(path, 2); }},
    {"crop-tool", CropToolWindow},
    {"main-window", [](const QString &path) { return MainWindow(path, false); }},
    {"main-window-editor", [](const QString &path) { return MainWindow(path, true); }},
};

} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setWindowIcon(ProgramIcon());
  const QStringList args = QApplication::arguments().mid(1);
  if (args.isEmpty()) {
    std::fputs("usage: varnholt_screenshots OUTPUT_FOLDER [NAME...]\n", stderr);
    return 2;
  }
  const QString out = args[0];
  QDir().mkpath(out);
  const QStringList wanted = args.mid(1);
  int failures = 0;
  for (const auto &shot : kShots) {
    if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(shot.name))) continue;
    if (!shot.take(out + '/' + shot.name + ".png")) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
