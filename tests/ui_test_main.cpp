#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // The window tests draw off screen; CTest's discovery runs this without a display too.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
