// The start-up sequence of the main window, in its fixed order. The steps that need the
// window, the printer or the box are hooks, so the order and the settings-store handling
// can be checked without any of them.
#pragma once

#include <functional>
#include <string>

namespace app {

// Result of choosing and opening the port driver.
struct PortOpenResult {
    bool ok = true;         // false: the configured driver could not be opened
    bool simulator = false; // the simulated box is in use
    bool soundCard = false; // a sound card is the box
    std::string detail;     // what went wrong (UTF-8), shown to the user when !ok
    std::string description; // the sound card: "Soundkarte: <device>" for title and status
};
// Without a usable port the program still starts; measurements then report that the
// box is missing.

struct StartupHooks {
    std::function<void()> prepareWindow; // screen size, cursors (step 1)
    // Step 2: driver = settings-store value `PortDriver` ("auto" when unset).
    std::function<PortOpenResult(const std::string& driver, int parallelPort)> openPort;
    std::function<void()> createBars;    // toolbar and status bar (step 3)
    std::function<void()> choosePrinter; // default printer (step 4)
    std::function<std::string()> documentsFolder;
    std::function<int()> readHardwareNumber;  // step 9
    std::function<void(int code)> renderView; // step 10
};

struct StartupResult {
    std::string title;       // window title
    std::string statusTitle; // fixed text of status part 2
    bool simulator = false;
};

// Title and status-bar text for the box that was opened.
StartupResult describeBox(const PortOpenResult& port);

// Runs the start-up: port driver, bars, printer, records (initial scales, snapshot, slots,
// trailers), settings store (`Pfad`, `LPT_PORT`; on the first start `Pfad` becomes the
// documents folder), title, method MLS, hardware number and the 3.2 kHz rule, start image.
StartupResult runStartup(const StartupHooks& hooks);

} // namespace app
