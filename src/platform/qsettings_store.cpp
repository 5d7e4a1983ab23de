#include "platform/settings_store.h"

#include "platform/failure.h"

#include <QSettings>

namespace varnholt {

QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Varnholt"),
                                            QStringLiteral("Varnholt"))) {}

QSettingsStore::QSettingsStore(const QString &iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QSettingsStore::~QSettingsStore() = default;

std::optional<QString> QSettingsStore::read(const QString &section, const QString &key) {
  if (settings_->status() == QSettings::FormatError)
    throw Failure(kErrSettingsStore, "The settings file cannot be read: " + settings_->fileName());
  const QVariant value = settings_->value(section + '/' + key);
  if (!value.isValid()) return std::nullopt;
  // A value written by hand as a, b comes back as a list; keep its text.
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(", ");
  return value.toString();
}

void QSettingsStore::write(const QString &section, const QString &key, const QString &value) {
  settings_->setValue(section + '/' + key, value);
}

void QSettingsStore::flush() {
  settings_->sync();
  if (settings_->status() != QSettings::NoError)
    throw Failure(kErrSettingsStore, "The settings cannot be written to " + settings_->fileName());
}

QString QSettingsStore::fileName() const { return settings_->fileName(); }

} // namespace varnholt
