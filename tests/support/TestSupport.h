// Test helpers: a fixture that gives each test fresh process-wide records and a scripted Ui.
#pragma once

#include "core/Renderer.h"
#include "core/Ui.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace testsupport
{

// Resets settings, store, display settings, settings store and installs a ScriptedUi.
// Remembers which pictures a run asked for, by their codes' numbers.
class RecordingRenderer final : public core::Renderer
{
public:
    void render(core::RenderCode code) override { codes.push_back(static_cast<int>(code)); }
    std::vector<int> codes;
};

// For runs whose pictures a test does not look at.
inline core::Renderer& noViews()
{
    static core::NoRenderer renderer;
    return renderer;
}

class RecordsTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    core::ScriptedUi ui;
};

// A fresh empty directory under the system temp folder, removed at exit of the test.
std::string makeTempDir();

// The difference of two phases in degrees, folded into -180..180.
inline double phaseDifferenceDeg(double a, double b)
{
    double d = std::fmod(a - b, 360.0);
    if (d > 180.0)
        d -= 360.0;
    if (d < -180.0)
        d += 360.0;
    return d;
}

} // namespace testsupport
