#pragma once

// One copy of the program as the frame's tests drive it offscreen: a module with the simulated meter
// and scripted dialogs, a real reading store in a temporary folder, and stand-ins for the windows a
// test does not look into.

#include "analysis/DataAnalyze.h"
#include "datafile/DataFile.h"
#include "desktop/ChosenPrinter.h"
#include "import/GetRecorde.h"
#include "measure/Measuring.h"
#include "setup/Option.h"
#include "shell/DataSheetPrinting.h"
#include "shell/DecimoraMain.h"
#include "shell/ExportToExcel.h"
#include "shell/about.h"
#include "store/SqliteReadingStore.h"
#include "support/TestModule.h"

#include <QDir>
#include <QFile>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

// The data sheet definition the program ships, found from the test's sources.
inline const QString ShippedDataSheet
    = QDir(QStringLiteral(QT_TESTCASE_SOURCEDIR)).filePath("../../resources/Decimora_en.rav");

// A plain child window standing in for a window the test does not look into.
inline QWidget* StandIn(const char* name)
{
    auto* window = new QWidget;
    window->setObjectName(QString::fromLatin1(name));
    return window;
}

struct Calls {
    int registrations = 0;
    int exports = 0;
    int loads = 0;
};

// A readings window standing in for the real one: the import window offers its table for export once it has
// rows, the analysis window always; neither saves here. It counts the files it is asked to load.
class StandInReadingsWindow final : public ReadingsWindow {
public:
    StandInReadingsWindow(const char* name, ReadingTable* table, bool exportWhenEmpty, Calls& calls)
        : table_(table)
        , exportWhenEmpty_(exportWhenEmpty)
        , calls_(calls)
    {
        setObjectName(QString::fromLatin1(name));
    }
    ReadingTable* readingsTable() const override { return table_; }
    QAbstractItemView* readingsGrid() const override { return nullptr; }
    bool canExportAndPrint() const override { return exportWhenEmpty_ || (table_ && table_->rowCount() >= 1); }
    bool canSave() const override { return false; }
    void save() override { }
    bool hasUnsavedReadings() const override { return false; }
    void loadDataFile() override { ++calls_.loads; }

private:
    ReadingTable* table_;
    bool exportWhenEmpty_;
    Calls& calls_;
};

// One copy of the program. Copies made on the same data folder share the database and the
// single-instance lock, as two starts of the program on one machine do.
struct ProgramCopy {
    // The lock lives in the data folder unless another one is given (a start from another working
    // directory: another database, the same lock).
    enum class ImportWindow { StandIn, Real };
    enum class AnalysisWindow { StandIn, Real };

    explicit ProgramCopy(const QString& dataFolder, bool withStore = true, const QString& lockFolder = {},
        ImportWindow importWindow = ImportWindow::StandIn, AnalysisWindow analysisWindow = AnalysisWindow::StandIn,
        const QStringList& rescueFolders = {})
        : test(withStore ? std::make_unique<SqliteReadingStore>(QDir(dataFolder).filePath("Decimora.mdb")) : nullptr)
    {
        if (!QFile::copy(ShippedDataSheet, test.folder.filePath("Decimora_en.rav")))
            ADD_FAILURE() << "cannot copy the report definition";

        FrameWindowsAndCommands windowsAndCommands;
        windowsAndCommands.createAboutBox = [this](TForm6& m) -> QWidget* {
            if (realAboutBox)
                return new TForm3(m);
            return StandIn("Form3");
        };
        windowsAndCommands.createSetupWindow = [this](TForm6& m) -> QWidget* {
            if (realSetupWindow)
                return new TForm8(m);
            return StandIn("Form8");
        };
        windowsAndCommands.createImportWindow = [this, importWindow](TForm6& m) -> ReadingsWindow* {
            if (importWindow == ImportWindow::Real)
                return new TForm4(m, printer);
            return new StandInReadingsWindow("Form4", m.GetRecorde, false, calls);
        };
        windowsAndCommands.createAnalysisWindow = [this, analysisWindow](TForm6& m) -> ReadingsWindow* {
            if (analysisWindow == AnalysisWindow::Real)
                return new TForm7(m, printer);
            return new StandInReadingsWindow("Form7", m.LoadData, true, calls);
        };
        windowsAndCommands.exportToExcel = [this](ReadingsWindow& window) {
            ++calls.exports;
            exportedFrom = window.objectName();
            ExportToExcel(module(), window);
        };
        windowsAndCommands.printDataSheet = [this](ReadingsWindow& window) {
            PrintDataSheet(module(), printer.printer(), window.readingsTable(), &window);
        };
        frame = std::make_unique<TForm1>(ShellServices {
                                             test.ui,
                                             printer,
                                             QStringLiteral("decimora"),
                                             lockFolder.isEmpty() ? QDir(dataFolder).filePath("lock") : lockFolder,
                                             QDir(dataFolder).filePath("Decimora.mdb"),
                                             [this]() -> TForm6& {
                                                 moduleCreated = true;
                                                 return *test.module;
                                             },
                                             [this](const QString&) -> std::optional<DataSourceRegistrationMessage> {
                                                 ++calls.registrations;
                                                 return registrationFailure;
                                             },
                                             rescueFolders,
                                         },
            windowsAndCommands);
        // The frame's one-second tick comes round while any box is open.
        test.ui.everySecond.push_back([shown = QPointer<TForm1>(frame.get())] {
            if (shown)
                shown->Timer1Timer();
        });
    }

    // The program entry's start: main window, then module.
    bool start()
    {
        if (!frame->FormCreate())
            return false;
        frame->StartModule();
        return true;
    }

    TForm6& module() { return *test.module; }
    TForm5* measurementWindow() { return qobject_cast<TForm5*>(module().MeasureWindow.data()); }
    TForm7* analysisWindow() { return qobject_cast<TForm7*>(module().AnalysisWindow.data()); }
    QMdiSubWindow* subWindowOf(QWidget* child) { return qobject_cast<QMdiSubWindow*>(child->parentWidget()); }
    int windowMenuCount(QAction* item) { return int(frame->WindowMenu()->actions().count(item)); }
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const auto& message : test.ui.messages)
            texts << message.text;
        return texts;
    }
    // One reading through the meter: the measurement window's tick asks, the meter answers.
    void takeReading()
    {
        const qint64 before = module().MeaData->rowCount();
        measurementWindow()->Timer1Timer();
        ASSERT_TRUE(TestModule::waitUntil([&] { return module().MeaData->rowCount() > before; }));
    }

    TestModule test;
    ChosenPrinter printer;
    Calls calls;
    QString exportedFrom;
    std::optional<DataSourceRegistrationMessage> registrationFailure;
    bool moduleCreated = false;
    // Option > System Setup opens the real setup window rather than a stand-in; Help > About the
    // real about box.
    bool realSetupWindow = false;
    bool realAboutBox = false;
    // Declared last: the frame goes before the module its windows point into.
    std::unique_ptr<TForm1> frame;
};

struct FileCommands {
    bool save;
    bool exportAndPrint;
};

inline FileCommands fileCommands(TForm1& frame)
{
    EXPECT_EQ(frame.ExporttoExcel1->isEnabled(), frame.PrintDataSheet1->isEnabled());
    return { frame.Save1->isEnabled(), frame.ExporttoExcel1->isEnabled() };
}

// Whether Debian's /usr/bin/python3 has openpyxl (python3-openpyxl), which reads an .xlsx as a
// spreadsheet user's tools do.
inline bool HasOpenpyxl()
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), { "-c", "import openpyxl" });
    return probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

// The rows of one sheet of an .xlsx as openpyxl reads them, each "cell|cell|...": texts quoted as Python
// writes them ('LAeq'), numbers as floats (a whole level written as 90 reads as 90.0 either way), an
// empty cell empty. Empty when openpyxl cannot read the file (a test failure says why).
inline QStringList XlsxSheetRows(const QString& path, const QString& sheet)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"),
        { "-c",
            "import openpyxl, sys\n"
            "sheet = openpyxl.load_workbook(sys.argv[1])[sys.argv[2]]\n"
            "for row in sheet.iter_rows(values_only=True):\n"
            "    print('|'.join('' if v is None else repr(float(v) if type(v) is int else v) for v in row))\n",
            path, sheet });
    if (!reader.waitForFinished(60000) || reader.exitCode() != 0) {
        ADD_FAILURE() << "openpyxl cannot read " << path.toStdString() << ": "
                      << reader.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(reader.readAllStandardOutput()).split('\n');
}

// A data file of readings as the program writes them.
inline QString WriteReadings(const QString& path, const QStringList& values)
{
    QByteArray content = QByteArray(DataFileHeader) + "\r\nTotal:" + QByteArray::number(values.size()) + "\r\n";
    for (const QString& value : values)
        content += "5/12/2006 ,9:5:30  ," + value.leftJustified(6).toLatin1() + ",A\r\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

// Three readings through the measurement window, the run stopped; the window stays open and active,
// ready to save, export or print.
inline void takeThreeReadings(ProgramCopy& copy)
{
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    for (int i = 0; i < 3; ++i)
        copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    copy.frame->Timer1Timer();
}
