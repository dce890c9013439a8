// Program entry: the main window, then the module, then the event loop until the program ends.
//
// The one command-line option of its own is --simulate-meter[=MEMORY.bin]: the program then talks to a
// simulated meter instead of the USB HID devices, so that anyone can try it without the instrument, or
// replay a memory dump. --help and --version are answered without a display.

#include "analysis/DataAnalyze.h"
#include "core/Clock.h"
#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"
#include "desktop/QtSoundPlayer.h"
#include "desktop/QtUserInteraction.h"
#include "import/GetRecorde.h"
#include "meter/MeterChoice.h"
#include "setup/Option.h"
#include "shell/CommandLine.h"
#include "shell/DataSheetPrinting.h"
#include "shell/DecimoraMain.h"
#include "shell/ExportToExcel.h"
#include "shell/FrameImages.h"
#include "shell/HTMLHelp_Decl.h"
#include "shell/TerminationSignal.h"
#include "shell/about.h"
#include "store/DataSourceRegistration.h"
#include "store/SqliteReadingStore.h"
#include "windowkit/ReadingsWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Read only by bench/bench_startup: print a line on the frame's first paint and end the event loop.
constexpr char FirstPaintProbeVariable[] = "DECIMORA_BENCH_FIRST_PAINT";

// Reports the first paint of anything in the frame, then ends the event loop. The tables are empty
// then, so the next start has nothing to rescue and says nothing.
class FirstPaintProbe final : public QObject {
public:
    explicit FirstPaintProbe(TForm1& frame)
        : frame_(frame)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!seen_ && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->window() == &frame_) {
            seen_ = true;
            // After the paint: the frame has been drawn and handed to the display.
            QTimer::singleShot(0, &frame_, [] {
                std::printf("first-paint\n");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    TForm1& frame_;
    bool seen_ = false;
};

// The application title: the executable's file name without folder and extension.
QString ApplicationTitle()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

} // namespace

int main(int argc, char** argv)
{
    InstallTerminationSignal();
    if (AsksForText(argc, argv)) {
        const QCoreApplication app(argc, argv);
        return ReadCommandLine().exitCode();
    }

    QApplication app(argc, argv);
    QApplication::setWindowIcon(ProgramIcon());
    const CommandLine commandLine = ReadCommandLine();
    if (commandLine.outcome != CommandLine::Outcome::Run)
        return commandLine.exitCode();

    QtUserInteraction ui;
    ChosenPrinter printer;
    SystemClock clock;
    const ProgramFolders folders = ProgramFolders::forExecutable(QCoreApplication::applicationDirPath());
    if (QString error; !folders.createWritableFolders(&error))
        std::fprintf(stderr, "decimora: cannot create the folder %s\n", qPrintable(error));
    QtSoundPlayer sound(folders.resourceFolder());
    const std::unique_ptr<HidPlatform> hid = MakeMeterPlatform(commandLine.meter).platform;
    const QString databasePath = SqliteReadingStore::defaultDatabasePath();

    // The help engine outlives the frame, which owns the help windows.
    HtmlHelpEngine help;
    // The module lives longer than the main window, whose child windows point into it.
    std::unique_ptr<TForm6> module;

    FrameWindowsAndCommands windowsAndCommands;
    windowsAndCommands.createImportWindow = [&printer](TForm6& m) { return new TForm4(m, printer); };
    windowsAndCommands.createAnalysisWindow = [&printer](TForm6& m) { return new TForm7(m, printer); };
    windowsAndCommands.createSetupWindow = [](TForm6& m) { return new TForm8(m); };
    windowsAndCommands.createAboutBox = [](TForm6& m) { return new TForm3(m); };
    windowsAndCommands.showHelp = [&help](TForm6& m, QWidget* frame) { ShowHelp(help, m, frame); };
    windowsAndCommands.closeHelpWindows
        = [&help](TForm6& m, QWidget* frame) { return CloseHelpWindows(help, m, frame); };
    windowsAndCommands.exportToExcel = [&module](ReadingsWindow& window) { ExportToExcel(*module, window); };
    windowsAndCommands.printDataSheet = [&module, &printer](ReadingsWindow& window) {
        PrintDataSheet(*module, printer.printer(), window.readingsTable(), &window);
    };
    TForm1 frame(ShellServices {
                     ui,
                     printer,
                     ApplicationTitle(),
                     QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation),
                     databasePath,
                     [&]() -> TForm6& {
                         module = std::make_unique<TForm6>(ModuleServices { ui, clock, sound, *hid, folders },
                             std::make_unique<SqliteReadingStore>(databasePath));
                         return *module;
                     },
                     [](const QString& path) { return RegisterDataSource(path); },
                 },
        windowsAndCommands);
    try {
        if (!frame.FormCreate())
            return 0;
        frame.StartModule();
    } catch (const TableError& error) {
        // Without its database the program has nothing to show readings in. The module may not
        // exist yet (its tables are what failed), so the box is shown here rather than through it.
        ui.showMessage(nullptr,
            QStringLiteral("The database %1 cannot be opened:\r%2")
                .arg(QDir::toNativeSeparators(databasePath), error.text()),
            QStringLiteral("Error Information"), MessageButtons::Ok, MessageIcon::Error);
        return 1;
    }

    std::unique_ptr<FirstPaintProbe> probe;
    if (qEnvironmentVariableIsSet(FirstPaintProbeVariable))
        probe = std::make_unique<FirstPaintProbe>(frame);
    OnTerminationSignal(&frame, [&frame] { frame.EndWithoutAsking(); });
    frame.show();
    return QApplication::exec();
}
