// The settings store (on Windows the registry): `Pfad`, `LPT_PORT`, `PortDriver` and the
// simulator profile. The app uses QSettings; tests and orvo-tool use the in-memory store.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace core {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> value(const std::string& key) = 0;
    virtual bool setValue(const std::string& key, const std::string& value) = 0;
};

class MemorySettingsStore : public SettingsStore {
public:
    std::optional<std::string> value(const std::string& key) override;
    bool setValue(const std::string& key, const std::string& value) override;

private:
    std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

SettingsStore& settingsStore();
void setSettingsStore(SettingsStore* s); // nullptr restores the default in-memory store

// Stores the port (1..3) as `LPT_PORT`; called whenever `parallelPort` is set by the
// measurement-system dialog or a configuration load.
void writePortToRegistry(int parallelPort);

} // namespace core
