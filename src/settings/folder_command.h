#pragma once

#include <QString>
#include <QStringList>

namespace varnholt {

// The "Extract Images..." command in the file managers' folder menus: it
// starts this program with the folder as its one argument.
class FolderCommand {
public:
  virtual ~FolderCommand() = default;
  // Failures are silent: the next IsRegistered() tells the truth.
  virtual void Register() = 0;
  virtual void Unregister() = 0;
  // Registered, and for an executable of this program's file name (in any
  // letter case), wherever it now lives.
  virtual bool IsRegistered() = 0;
};

inline const QString kFolderCommandCaption = QStringLiteral("Extract Images...");

// Per-user menu entries under the XDG data folder: a KDE service menu
// (Dolphin) and a Nemo action (Cinnamon). Only these two files are ever
// written or removed.
class XdgFolderCommand : public FolderCommand {
public:
  XdgFolderCommand(QString dataHome, QString executable);

  void Register() override;
  void Unregister() override;
  bool IsRegistered() override;

  QString KdeEntryPath() const;
  QString NemoEntryPath() const;

  // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
  static QString DefaultDataHome();

private:
  QString dataHome_;
  QString executable_;
};

// The entries' texts for an executable.
QString KdeServiceMenuText(const QString &executable);
QString NemoActionText(const QString &executable);

// One argument of a desktop-entry (or GLib) command line: in double quotes,
// with '"', '`', '$' and '\' escaped.
QString QuotedExecArgument(const QString &argument);
// A desktop-entry string value: '\' doubled, line breaks and tabs escaped.
QString EscapedDesktopString(const QString &value);
// The value of a key in a desktop-entry text, escapes undone; empty when absent.
QString DesktopEntryValue(const QString &text, const QString &group, const QString &key);

} // namespace varnholt
