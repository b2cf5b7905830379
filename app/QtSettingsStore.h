// The settings store of the application: QSettings under organisation "TAVEN", application
// "OrvoPro2.3Deutsch" (an INI file under the XDG config folder on Linux, the registry on
// Windows).
#pragma once

#include "core/SettingsStore.h"

#include <QSettings>

#include <mutex>

namespace app {

class QtSettingsStore : public core::SettingsStore
{
public:
    QtSettingsStore();
    std::optional<std::string> value(const std::string& key) override;
    bool setValue(const std::string& key, const std::string& value) override;

private:
    std::mutex mutex_;
    QSettings settings_;
};

} // namespace app
