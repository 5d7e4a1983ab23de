#pragma once

#include <QString>

#include <optional>

namespace varnholt {

// What a common file dialog is opened with.
struct FileDialogRequest {
  QString title;
  QString filter;        // "Shown text|pattern;pattern"
  QString defaultSuffix; // without the dot
  QString initialFolder; // used when fileName names no folder
  QString fileName;      // proposed name, may be a full path
};

class FileDialogs {
public:
  virtual ~FileDialogs() = default;
  // The chosen path, or nothing when the user cancels.
  virtual std::optional<QString> open(const FileDialogRequest &request) = 0;
  virtual std::optional<QString> save(const FileDialogRequest &request) = 0;
};

class FolderBrowser {
public:
  virtual ~FolderBrowser() = default;
  // The chosen folder, or empty text when cancelled. It opens at
  // `startFolder` when that exists: people pick a folder near the one they
  // are in far more often than one near the root.
  virtual QString browse(const QString &title, const QString &startFolder) = 0;
};

class Shell {
public:
  virtual ~Shell() = default;
  // Opens a file, folder or web address with the desktop's handler.
  virtual bool open(const QString &pathOrUrl) = 0;
};

} // namespace varnholt
