// QApplication first (it takes the desktop locale from the environment, as the program
// does), then the tests. ORVO_DIALOG_SHOTS=DIR writes a picture of each dialog into DIR.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
