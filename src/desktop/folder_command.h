#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace varnholt {

// The "Extract Images..." command in the file managers' folder menus: it
// starts this program with the folder as its one argument.
class FolderCommand {
public:
  virtual ~FolderCommand() = default;
  // Failures are silent (but for a uca.xml that cannot be read, told on
  // standard error): the next IsRegistered() tells the truth.
  virtual void Register() = 0;
  virtual void Unregister() = 0;
  // Registered, and for an executable of this program's file name (in any
  // letter case), wherever it now lives.
  virtual bool IsRegistered() = 0;
};

inline const QString kFolderCommandCaption = QStringLiteral("Extract Images...");
// The group of the KDE service menu that holds our command line: written with
// the entry, read back to tell whether the entry is ours.
inline const QString kKdeActionGroup = QStringLiteral("Desktop Action extractImages");

// Where a user's menu entries live: $XDG_DATA_HOME, $XDG_CONFIG_HOME, and the
// system's $XDG_CONFIG_DIRS (where Thunar's shipped actions are).
struct XdgPlaces {
  QString dataHome;
  QString configHome;
  QStringList configFolders;
  static XdgPlaces FromEnvironment();
};

// Per-user menu entries: a KDE service menu (Dolphin), a Nemo action
// (Cinnamon), a GNOME Files script, a FileManager-Actions entry (Caja,
// PCManFM) and one action in Thunar's uca.xml. Only these are ever written or
// removed; of uca.xml, only our action, found by its unique id.
class XdgFolderCommand : public FolderCommand {
public:
  XdgFolderCommand(XdgPlaces places, QString executable);
  XdgFolderCommand(QString dataHome, QString executable);

  void Register() override;
  void Unregister() override;
  bool IsRegistered() override;

  QString KdeEntryPath() const;
  QString NemoEntryPath() const;
  QString NautilusScriptPath() const;
  QString FileManagerActionPath() const;
  QString ThunarActionsPath() const;

  // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
  static QString DefaultDataHome();

private:
  void EditThunarActions(bool add);

  XdgPlaces places_;
  QString executable_;
};

// The entries' texts for an executable.
QString KdeServiceMenuText(const QString &executable);
QString NemoActionText(const QString &executable);
QString NautilusScriptText(const QString &executable);
QString FileManagerActionText(const QString &executable);
// Our <action> element of uca.xml, without a line break after it.
QString ThunarActionXml(const QString &executable);
// Whether XML 1.0 carries every character of the text as it is (line ends
// would be normalised, control characters are not allowed at all).
bool XmlCarries(const QString &text);

// uca.xml with our action added (or replaced where it already is) or taken
// out; everything else stays byte for byte. Empty when the text is not a
// well-formed UTF-8 XML file whose root is <actions>; `problem` then says why.
std::optional<QByteArray> WithThunarAction(const QByteArray &file,
                                           const std::optional<QString> &executable,
                                           QString *problem = nullptr);

// One argument of a desktop-entry (or GLib) command line: in double quotes,
// with '"', '`', '$' and '\' escaped.
QString QuotedExecArgument(const QString &argument);
// A desktop-entry string value: '\' doubled, line breaks and tabs escaped.
QString EscapedDesktopString(const QString &value);
// The value of a key in a desktop-entry text, escapes undone; empty when absent.
QString DesktopEntryValue(const QString &text, const QString &group, const QString &key);

} // namespace varnholt
