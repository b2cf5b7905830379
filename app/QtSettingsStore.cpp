#include "app/QtSettingsStore.h"

namespace app {

QtSettingsStore::QtSettingsStore()
    : settings_(QStringLiteral("TAVEN"), QStringLiteral("OrvoPro2.3Deutsch"))
{
}

std::optional<std::string> QtSettingsStore::value(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const QString k = QString::fromStdString(key);
    if (!settings_.contains(k))
        return std::nullopt;
    return settings_.value(k).toString().toStdString();
}

bool QtSettingsStore::setValue(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

} // namespace app
