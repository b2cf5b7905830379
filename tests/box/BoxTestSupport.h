// Fixture for the box tests: fresh records, a scripted Ui and a simulated box on LPT 1.
#pragma once

#include "box/PortAccess.h"
#include "box/sim/SimulatedBox.h"
#include "core/Strings.h"
#include "tests/support/TestSupport.h"

#include <string>

class BoxTest : public testsupport::RecordsTest {
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
    // Number of messages with the text of string n.
    int messagesWith(int n)
    {
        int count = 0;
        for (const auto& m : ui.messages())
            if (m.text == core::str(n))
                ++count;
        return count;
    }
    box::sim::SimulatedBox sim;
};
