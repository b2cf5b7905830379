// Test helpers: a fixture that gives each test fresh process-wide records and a scripted Ui.
#pragma once

#include "core/Ui.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// Resets settings, store, display settings, settings store and installs a ScriptedUi.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    core::ScriptedUi ui;
};

// A fresh empty directory under the system temp folder, removed at exit of the test.
std::string makeTempDir();

} // namespace testsupport
