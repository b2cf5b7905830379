#include "tests/support/TestSupport.h"

#include "core/Display.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Store.h"

#include <cstdlib>
#include <filesystem>
#include <random>

namespace testsupport {

void RecordsTest::SetUp()
{
    core::resetSettings();
    core::resetStore();
    core::resetDisplaySettings();
    core::setSettingsStore(nullptr);
    core::setUi(&ui);
}

void RecordsTest::TearDown() { core::setUi(nullptr); }

std::string makeTempDir()
{
    namespace fs = std::filesystem;
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("orvo-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec))
            return p.string();
    }
}

} // namespace testsupport
