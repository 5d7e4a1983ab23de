#pragma once

#include "desktop/folder_command.h"
#include "platform/desktop.h"
#include "platform/forwarding_toolkit.h"
#include "platform/settings_store.h"

#include <QMap>
#include <QStringList>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace varnholt::test {

class MemorySettingsStore : public SettingsStore {
public:
  std::optional<QString> read(const QString &section, const QString &key) override;
  void write(const QString &section, const QString &key, const QString &value) override;
  void flush() override { ++flushes; }

  QMap<QString, QString> values; // "section/key" -> text
  QStringList writeOrder;
  int flushes = 0;
};

// Answers file dialogs from a queue and remembers what each was opened with.
class FakeFileDialogs : public FileDialogs {
public:
  std::optional<QString> open(const FileDialogRequest &request) override;
  std::optional<QString> save(const FileDialogRequest &request) override;

  std::deque<std::optional<QString>> answers;
  std::vector<FileDialogRequest> opened; // open dialogs shown
  std::vector<FileDialogRequest> saved;  // save dialogs shown
};

class FakeFolderBrowser : public FolderBrowser {
public:
  QString browse(const QString &title, const QString &startFolder) override;
  std::deque<QString> answers;
  QStringList titles;
  QStringList startFolders;
};

// Remembers what was asked of it, in order ("Register", "Unregister").
class FakeFolderCommand : public FolderCommand {
public:
  void Register() override {
    calls << QStringLiteral("Register");
    registered = true;
  }
  void Unregister() override {
    calls << QStringLiteral("Unregister");
    registered = false;
  }
  bool IsRegistered() override { return registered; }
  bool registered = false;
  QStringList calls;
};

class RecordingShell : public Shell {
public:
  bool open(const QString &pathOrUrl) override;
  QStringList opened;
  bool result = true;
};

// A toolkit of a test's own, which answers the four calls by hand: its steps
// are one convert, and it keeps nothing and warns of nothing.
class PlainToolkit : public ImageToolkit {
public:
  void convertInSteps(const ConvertSteps &work, bool) override { convert(work.arguments()); }
  void checkSize(qint64, qint64, const QString &) override {}
  QStringList takeWarnings() override { return {}; }
  void releaseDecoded() override {}
};

// Passes every call on to another toolkit and records it as
// "command arg1 arg2 ...". A hook may run before each call (to slow it down,
// or to make it fail). Runs and previews call it from worker threads, at
// times from two at once; read `calls` once those are done.
class RecordingToolkit : public ForwardingToolkit {
public:
  using ForwardingToolkit::ForwardingToolkit;
  QString identify(const QStringList &args) override;
  void convert(const QStringList &args) override;
  void mogrify(const QStringList &args) override;
  int orientation(const QString &path) override; // recorded as "orientation"
  // Recorded as one "convert" with the whole argument list, and its steps.
  void convertInSteps(const ConvertSteps &work, bool reuseDecoded) override;

  struct Call {
    QString command;
    QStringList args;
    std::vector<QStringList> steps = {};
  };
  std::vector<Call> calls;
  std::function<void(const Call &)> before;

private:
  void record(const Call &call);
  void record(const QString &command, const QStringList &args) { record(Call{command, args}); }
  std::mutex mutex_;
};

} // namespace varnholt::test

#include "platform/error_reporter.h"

namespace varnholt::test {

// Records every error report; a test asserts on them.
class RecordingErrorReporter : public ErrorReporter {
public:
  void DisplayError(const ErrorReport &report) override { reports.push_back(report); }
  void Dismiss() override { ++dismissed; }
  std::vector<ErrorReport> reports;
  int dismissed = 0;
};

} // namespace varnholt::test
