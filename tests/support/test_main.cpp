// The main() of every test program: an offscreen application, then GoogleTest.
#include <QApplication>
#include <QEvent>
#include <gmock/gmock.h>

#include <exception>

namespace {

// An exception that leaves an event handler would reach the event loop, where the program has
// nothing to catch it: Qt says so on standard error and the program most likely ends. Here the
// test that let it through fails instead, with the exception's text.
class TestApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ADD_FAILURE() << "An exception reached the event loop: " << error.what() << " (event " << event->type()
                          << " to a " << receiver->metaObject()->className() << ")";
        } catch (...) {
            ADD_FAILURE() << "An exception reached the event loop (event " << event->type() << " to a "
                          << receiver->metaObject()->className() << ")";
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Set before the application exists, also when CTest's discovery runs the binary.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test prints on a printer of the machine: the print system is one that is not there, as on
    // a desktop without a print server, and printing goes to PDF files that a test chooses.
    qputenv("CUPS_SERVER", "/nonexistent/decimora-tests/cups.sock");
    TestApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
