#include "core/SettingsStore.h"

namespace core {

namespace {
MemorySettingsStore g_defaultStore;
SettingsStore* g_store = &g_defaultStore;
} // namespace

std::optional<std::string> MemorySettingsStore::value(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

bool MemorySettingsStore::setValue(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    values_[key] = value;
    return true;
}

SettingsStore& settingsStore() { return *g_store; }
void setSettingsStore(SettingsStore* s) { g_store = s ? s : &g_defaultStore; }

void writePortToRegistry(int parallelPort)
{
    g_store->setValue("LPT_PORT", std::to_string(parallelPort));
}

} // namespace core
