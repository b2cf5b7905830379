// Fixture for the box tests: fresh records, a scripted Ui and a simulated box on LPT 1.
#pragma once

#include "box/Acquisition.h"
#include "box/PortAccess.h"
#include "box/sim/SimulatedBox.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <string>

// One capture with the device settings of the live settings and the length, input, rate and
// window codes a test gives: 1 when a record was delivered, as the tests count.
inline int acquireWith(int sampleCount, int input, int rateCode, int window,
                       core::TimeRecord& record, bool raw = false)
{
    box::AcquisitionRequest r = box::acquisitionRequest(core::settings());
    r.sampleCount = sampleCount;
    r.input = core::inputFromCode(input);
    r.rateCode = rateCode;
    r.window = core::windowFromCode(window);
    r.raw = raw;
    return box::acquireRecord(r, record) ? 1 : 0;
}

class BoxTest : public testsupport::RecordsTest
{
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        box::setPortAccess(&sim);
    }
    void TearDown() override
    {
        box::setPortAccess(nullptr);
        RecordsTest::TearDown();
    }
    // Number of messages with the text of string n, alone or followed by what the device
    // says went wrong ("<text>:\n<detail>").
    int messagesWith(int n)
    {
        int count = 0;
        const std::string text = core::str(n);
        for (const auto& m : ui.messages())
            if (m.text == text || m.text.rfind(text + ":\n", 0) == 0)
                ++count;
        return count;
    }
    box::sim::SimulatedBox sim;
};
