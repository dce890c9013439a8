// The main() of every test program: an offscreen application, then GoogleTest.
#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    // Set before the application exists, also when CTest's discovery runs the binary.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
