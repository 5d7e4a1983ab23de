#include "desktop/qt_desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace varnholt {

QString QtFilterFromPipeFilter(const QString &filter) {
  const QStringList parts = filter.split(u'|');
  QStringList qtFilters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    const QString shown = "(" + patterns.join(u' ') + ")";
    // A caption that already shows its patterns keeps them once, not twice.
    qtFilters << (parts[i].endsWith(shown) ? parts[i] : parts[i] + " " + shown);
  }
  return qtFilters.join(QStringLiteral(";;"));
}

namespace {
std::optional<QString> RunDialog(QWidget *parent, const FileDialogRequest &request,
                                 QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, request.title);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilter(QtFilterFromPipeFilter(request.filter));
  dialog.setDefaultSuffix(request.defaultSuffix);
  const QFileInfo proposed(request.fileName);
  if (!request.fileName.isEmpty() && proposed.isAbsolute()) {
    dialog.setDirectory(proposed.absolutePath());
    dialog.selectFile(proposed.fileName());
  } else {
    dialog.setDirectory(request.initialFolder);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(dialog.selectedFiles().first());
}
} // namespace

std::optional<QString> QtFileDialogs::open(const FileDialogRequest &request) {
  return RunDialog(parent_, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtFileDialogs::save(const FileDialogRequest &request) {
  return RunDialog(parent_, request, QFileDialog::AcceptSave);
}

QString QtFolderBrowser::browse(const QString &title, const QString &startFolder) {
  const QString start = QFileInfo(startFolder).isDir() ? startFolder : QDir::homePath();
  return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(parent_, title, start));
}

bool QtShell::open(const QString &pathOrUrl) {
  const QUrl url = pathOrUrl.contains(QStringLiteral("://")) || pathOrUrl.startsWith("mailto:")
                       ? QUrl(pathOrUrl)
                       : QUrl::fromLocalFile(pathOrUrl);
  return QDesktopServices::openUrl(url);
}

} // namespace varnholt
