#include "app/Startup.h"

#include "app/Commands.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "core/Startup.h"
#include "core/Ui.h"

#include <charconv>

namespace app
{

namespace
{
void error(const std::string& text, const std::string& caption)
{
    core::messageText(text, caption, core::Icon::Error);
}

// A port number as the store holds it; 0 when it is not one of LPT 1..3.
int parsePort(const std::string& text)
{
    int v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size() || v < 1 || v > 3)
        return 0;
    return v;
}

// The settings-store read of the start-up. On the very first start there is no `Pfad`: that
// is the first-time setup, which stores the documents folder (and the default port) instead
// of reporting the missing values.
void readSettingsStore(const StartupHooks& hooks)
{
    core::SettingsStore& st = core::settingsStore();
    const auto path = st.value("Pfad");
    if (!path) {
        const std::string docs = hooks.documentsFolder ? hooks.documentsFolder() : "";
        if (!st.setValue("Pfad", docs))
            error("write Pfad", "ERROR");
        core::installFolder = docs;
        if (!st.value("LPT_PORT"))
            st.setValue("LPT_PORT", std::to_string(core::settings().parallelPort));
        if (!st.value("PortDriver"))
            st.setValue("PortDriver", "auto");
        return;
    }
    core::installFolder = *path;
    core::readSweepSettings(st, core::settings());
    const auto port = st.value("LPT_PORT");
    const int p = port ? parsePort(*port) : 0;
    if (p)
        core::settings().parallelPort = p;
    else
        error("LPT_Port (HKEY)", "ERROR");
}

int peekPort()
{
    const auto port = core::settingsStore().value("LPT_PORT");
    const int p = port ? parsePort(*port) : 0;
    return p ? p : core::settings().parallelPort;
}
} // namespace

StartupResult describeBox(const PortOpenResult& port)
{
    StartupResult r;
    r.simulator = port.simulator;
    r.title = "OrvoPro";
    r.statusTitle = "OrvoPro 2.3 Deutsch";
    if (port.simulator) {
        r.title += " - Simulierte Messbox";
        r.statusTitle = "Simulierte Messbox";
    } else if (port.soundCard) {
        r.title += " - " + port.description;
        r.statusTitle = port.description;
    } else if (!port.ok) {
        r.title += " - kein Parallelport";
        r.statusTitle = "Kein Parallelport";
    }
    return r;
}

StartupResult runStartup(const StartupHooks& hooks)
{
    StartupResult r;
    shell().zoomOpen = 0;
    if (hooks.prepareWindow)
        hooks.prepareWindow();

    // The driver decides between the parallel port and the simulated box; the port number
    // it needs is the stored one (read fully, with its messages, further down).
    const std::string driver = core::settingsStore().value("PortDriver").value_or("auto");
    PortOpenResult port;
    if (hooks.openPort)
        port = hooks.openPort(driver, peekPort());
    else
        port.simulator = true;
    if (!port.ok && port.soundCard)
        error("Die Soundkarte kann nicht geöffnet werden:\n" + port.detail +
                  "\nDie Einstellungen stehen unter Meßsystem → Soundkarte….",
              "OrvoPro");
    else if (!port.ok)
        error("Der Parallelport kann nicht geöffnet werden (PortDriver = " + driver + "):\n" +
                  port.detail + "\nOhne Port ist keine Messung möglich.",
              "OrvoPro");
    r.simulator = port.simulator;
    shell().simulator = port.simulator;

    if (hooks.createBars)
        hooks.createBars();
    if (hooks.choosePrinter)
        hooks.choosePrinter();

    core::prepareRecordsForStart();
    readSettingsStore(hooks);

    const StartupResult names = describeBox(port);
    r.title = names.title;
    r.statusTitle = names.statusTitle;
    core::settings().method = 1;

    // Without a way to ask the box (tests), it is taken to be the one with 3.2 kHz.
    const int hw =
        hooks.readHardwareNumber ? hooks.readHardwareNumber() : core::kThreeKilohertzHardwareNumber;
    const core::BoxRate rate = core::rateForBox(hw, core::settings().sampleRate);
    // Every start with such a box says so, whatever the rate in force.
    if (!rate.threeKilohertzAllowed)
        core::message(120, 0, core::Icon::Error);
    core::settings().sampleRate = rate.rateCode;
    core::threeKilohertzAllowed = rate.threeKilohertzAllowed ? 1 : 0;

    // Every view, not only the start image: before the first measurement a view shows its
    // frame and axes as for an empty record, so the user sees where the data will go.
    if (hooks.renderView)
        hooks.renderView(100);
    return r;
}

} // namespace app
