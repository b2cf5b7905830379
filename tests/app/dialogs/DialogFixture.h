#pragma once

#include "app/dialogs/DialogHost.h"
#include "app/dialogs/DialogWidgets.h"
#include "tests/support/TestSupport.h"

#include <QWidget>

#include <string>
#include <vector>

class DialogTest : public testsupport::RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        app::dialogs::resetDialogHost();
        app::dialogs::setRenderHandler([this](int code) { renders.push_back(code); });
    }
    void TearDown() override
    {
        app::dialogs::resetDialogHost();
        RecordsTest::TearDown();
    }

    template <class T>
    static T* control(const QWidget& dialog, int id)
    {
        T* c = app::dialogs::findControl<T>(&dialog, id);
        EXPECT_NE(c, nullptr) << "control " << id;
        return c;
    }

    std::vector<int> renders;
};

// Writes the dialog's picture when ORVO_DIALOG_SHOTS names a folder.
void saveShot(QWidget& dialog, const char* name);
