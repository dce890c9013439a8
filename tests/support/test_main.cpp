// The main() of every test program: an offscreen application, then GoogleTest.
#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    // Set before the application exists, also when CTest's discovery runs the binary.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test prints on a printer of the machine: the print system is one that is not there, as on
    // a desktop without a print server, and printing goes to PDF files that a test chooses.
    qputenv("CUPS_SERVER", "/nonexistent/decimora-tests/cups.sock");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
