// The main window of the program, shown offscreen with the program's own operations and a
// scripted user: the fixture of the desktop tests.
#pragma once

#include "app/Commands.h"
#include "app/MainWindow.h"
#include "app/Wiring.h"
#include "core/Store.h"
#include "core/Ui.h"
#include "tests/support/TestSupport.h"

#include <QApplication>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace testsupport
{

// The one application object of a test program.
inline QApplication& desktopApplication()
{
    static int argc = 1;
    static char name[] = "app_desktop_test";
    static char* argv[] = {name, nullptr};
    static QApplication* a = new QApplication(argc, argv);
    return *a;
}

inline std::string readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class WindowFixture : public RecordsTest
{
protected:
    void SetUp() override
    {
        desktopApplication();
        RecordsTest::SetUp();
        app::resetShell();
        app::wireDiagrams();
        window = std::make_unique<app::MainWindow>();
        app::setOperations(&window->desktop());
        window->resize(800, 600);
        window->show();
        core::setUi(&ui);
        dir = makeTempDir();
    }
    void TearDown() override
    {
        app::setOperations(nullptr);
        window.reset();
        RecordsTest::TearDown();
    }
    // Something measured: an impedance curve in the store.
    void measureSomething()
    {
        auto& st = core::store();
        for (int k = 0; k < core::kCurveBins; ++k) {
            st.impedanceMagnitude[k] = 6.0f + 40.0f / (1.0f + 0.01f * (k - 25) * (k - 25));
            st.impedancePhase[k] = 30.0f - 0.05f * k;
        }
        st.impedanceMagnitude.stamp(4096, 1);
        st.impedancePhase.stamp(4096, 1);
    }
    std::unique_ptr<app::MainWindow> window;
    std::string dir;
};

} // namespace testsupport
