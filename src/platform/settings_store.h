#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace varnholt {

// Per-user text values by section and key.
class SettingsStore {
public:
  virtual ~SettingsStore() = default;
  virtual std::optional<QString> read(const QString &section, const QString &key) = 0;
  virtual void write(const QString &section, const QString &key, const QString &value) = 0;
  // Makes the writes durable; a store that cannot be written throws Failure.
  virtual void flush() = 0;
};

// QSettings in INI format: the user's own file, or one named for tests.
class QSettingsStore : public SettingsStore {
public:
  QSettingsStore(); // organisation and application "Varnholt"
  explicit QSettingsStore(const QString &iniFile);
  ~QSettingsStore() override;

  std::optional<QString> read(const QString &section, const QString &key) override;
  void write(const QString &section, const QString &key, const QString &value) override;
  void flush() override;
  QString fileName() const;

private:
  std::unique_ptr<QSettings> settings_;
};

} // namespace varnholt
