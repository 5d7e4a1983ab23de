// The window's run without its window: the same engine, with workers of the
// real executable running ahead and handing their pairs over, and every
// question answered "Yes to all". For the crash-point test, which kills it.
//
//   window_run EXECUTABLE INPUT OUTPUT|- OPERATION-FILE IMAGE...
#include "platform/prompter.h"
#include "processing/magick/magick_toolkit.h"
#include "processing/run.h"
#include "settings/settings.h"
#include "workers/ahead_pool.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace varnholt;

namespace {
class YesToAll : public Prompter {
public:
  Answer ask(const QString &, const QString &text, Buttons, Icon) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return Answer::Cancel;
  }
};

class NoView : public RunView {
public:
  void ShowImage(const QString &) override {}
  void ShowOperation(const QString &) override {}
  void ShowProgress(qint64, qint64) override {}
};
} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 6) return 2;
  ListRunSource source;
  source.folder = args[2];
  QFile operations(args[4]);
  if (!operations.open(QIODevice::ReadOnly)) return 2;
  for (const QByteArray &line : operations.readAll().split('\n'))
    if (!line.trimmed().isEmpty()) source.operations.push_back({QString::fromUtf8(line.trimmed())});
  Settings settings;
  for (const QString &image : args.mid(5)) {
    source.images.push_back({image});
    // Images named with their folder come from a listing with subfolders.
    settings.IncludeSubfolders = settings.IncludeSubfolders || image.contains(u'/');
  }
  settings.OutputInDiffDir = args[3] != "-";
  if (settings.OutputInDiffDir) settings.OutputDir = args[3];
  MagickToolkit toolkit;
  YesToAll prompter;
  NoView view;
  AheadPool ahead(2, args[1]);
  RunState state;
  const RunOutcome outcome =
      DoOperations(source, view, {settings, toolkit, prompter, &ahead}, state);
  return outcome.ProcessAborted ? 1 : 0;
}
