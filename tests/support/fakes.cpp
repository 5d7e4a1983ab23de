#include "support/fakes.h"

#include <gtest/gtest.h>

namespace varnholt::test {

std::optional<QString> MemorySettingsStore::read(const QString &section, const QString &key) {
  const auto it = values.find(section + '/' + key);
  if (it == values.end()) return std::nullopt;
  return *it;
}

void MemorySettingsStore::write(const QString &section, const QString &key, const QString &value) {
  values[section + '/' + key] = value;
  writeOrder << key;
}

namespace {
std::optional<QString> Next(std::deque<std::optional<QString>> &answers) {
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected file dialog";
    return std::nullopt;
  }
  auto answer = answers.front();
  answers.pop_front();
  return answer;
}
} // namespace

std::optional<QString> FakeFileDialogs::open(const FileDialogRequest &request) {
  opened.push_back(request);
  return Next(answers);
}

std::optional<QString> FakeFileDialogs::save(const FileDialogRequest &request) {
  saved.push_back(request);
  return Next(answers);
}

QString FakeFolderBrowser::browse(const QString &title, const QString &startFolder) {
  titles << title;
  startFolders << startFolder;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected folder browser";
    return QString();
  }
  QString answer = answers.front();
  answers.pop_front();
  return answer;
}

bool RecordingShell::open(const QString &pathOrUrl) {
  opened << pathOrUrl;
  return result;
}

void RecordingToolkit::record(const Call &call) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back(call);
  }
  // Outside the lock: a hook that waits must not hold up the other threads.
  if (before) before(call);
}

QString RecordingToolkit::identify(const QStringList &args) {
  record(QStringLiteral("identify"), args);
  return inner().identify(args);
}

void RecordingToolkit::convert(const QStringList &args) {
  record(QStringLiteral("convert"), args);
  inner().convert(args);
}

void RecordingToolkit::convertInSteps(const ConvertSteps &work, bool reuseDecoded) {
  record(Call{QStringLiteral("convert"), work.arguments(), work.steps});
  inner().convertInSteps(work, reuseDecoded);
}

void RecordingToolkit::mogrify(const QStringList &args) {
  record(QStringLiteral("mogrify"), args);
  inner().mogrify(args);
}

int RecordingToolkit::orientation(const QString &path) {
  record(QStringLiteral("orientation"), {path});
  return inner().orientation(path);
}

} // namespace varnholt::test
