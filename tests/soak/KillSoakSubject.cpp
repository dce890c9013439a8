// One copy of the desktop program for the kill soak, to be ended by SIGKILL at a moment of the soak's
// choosing: the real main window, module, measurement window, reading tables (SQLite), single-instance
// lock and rescue, on the simulated meter, with scripted dialogs and a clock the soak sets. It says
// on standard output, one flushed line at a time, what it has done, so that the soak knows what must
// have survived the kill:
//
//   kill_soak_subject live FOLDER DAY          start (rescuing what a killed copy left), then a live
//                                              run as fast as the meter answers: "reading RECNO
//                                              VALUE TIME DATE" (tab-separated) once each row is in
//                                              MeaData
//   kill_soak_subject save FOLDER FILE ROWS GEN   MeaData holds rows 1..ROWS+GEN (KillSoakRows.h);
//   kill_soak_subject export FOLDER FILE ROWS GEN one more row, then Save (or File > Export to Excel)
//                                              to FILE, again and again: "writing G" before the
//                                              table of ROWS+G rows is written, "written G" after
//   kill_soak_subject close FOLDER             start, then end as File > Exit does
//
// Every message box is printed as "message TEXT" (its line breaks as " | "). FOLDER holds the
// database, the lock, the program folder and the folder rescued readings go to ("rescued").

#include "core/ProgramFolders.h"
#include "desktop/ChosenPrinter.h"
#include "measure/Measuring.h"
#include "meter/SimulatedMeter.h"
#include "shell/DecimoraMain.h"
#include "shell/ExportToExcel.h"
#include "soak/KillSoakRows.h"
#include "store/SqliteReadingStore.h"
#include "support/FakeServices.h"
#include "support/ScriptedUserInteraction.h"
#include "support/TestModule.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void Say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

[[noreturn]] void Fail(const QString& why)
{
    Say(QStringLiteral("failed ") + why);
    std::fflush(stdout);
    std::_Exit(1);
}

// The program's parts as main() puts them together, with the soak's services in place of the
// desktop's.
class ProgramUnderSoak {
public:
    explicit ProgramUnderSoak(const QString& folder)
        : folder_(folder)
    {
        const QString programFolder = QDir(folder).filePath(QStringLiteral("program"));
        QDir().mkpath(programFolder);
        const QString definition = QDir(programFolder).filePath(QStringLiteral("Decimora_en.rav"));
        if (!QFileInfo::exists(definition) && !QFile::copy(QStringLiteral(DECIMORA_REPORT_DEFINITION), definition))
            Fail(QStringLiteral("cannot copy the report definition"));
        const QString database = QDir(folder).filePath(QStringLiteral("Decimora.mdb"));

        FrameWindowsAndCommands windowsAndCommands;
        windowsAndCommands.exportToExcel = [this](ReadingsWindow& window) { ExportToExcel(*module_, window); };
        frame_ = std::make_unique<TForm1>(
            ShellServices {
                ui,
                printer_,
                QStringLiteral("decimora"),
                QDir(folder).filePath(QStringLiteral("lock")),
                database,
                [this, programFolder, database]() -> TForm6& {
                    module_ = std::make_unique<TForm6>(ModuleServices { ui, clock, sound_, meter, programFolder },
                        std::make_unique<SqliteReadingStore>(database));
                    return *module_;
                },
                {},
                { QDir(folder).filePath(QStringLiteral("rescued")) },
            },
            windowsAndCommands);
    }

    ~ProgramUnderSoak()
    {
        // The frame's windows point into the module.
        frame_.reset();
        module_.reset();
    }

    // The program entry's start: the frame (lock, rescue), then the module; the meter found.
    void start()
    {
        if (!frame_->FormCreate())
            Fail(QStringLiteral("the frame did not start"));
        frame_->StartModule();
        sayMessages();
        frame_->show();
        if (!TestModule::waitUntil([this] { return module_->DeviceConnected; }))
            Fail(QStringLiteral("the simulated meter was not found"));
    }

    // File > Real Time Measure.
    TForm5& openMeasurementWindow()
    {
        frame_->RealTimeMeasure1->trigger();
        auto* window = qobject_cast<TForm5*>(module_->MeasureWindow.data());
        if (!window)
            Fail(QStringLiteral("no measurement window"));
        return *window;
    }

    void sayMessages()
    {
        for (const auto& message : ui.messages)
            Say(QStringLiteral("message ") + QString(message.text).replace(QLatin1Char('\r'), QLatin1String(" | ")));
        ui.messages.clear();
    }

    TForm6& module() { return *module_; }
    TForm1& frame() { return *frame_; }

    ScriptedUserInteraction ui;
    FakeClock clock;
    SimulatedMeter meter;

private:
    QString folder_;
    RecordingSoundPlayer sound_;
    ChosenPrinter printer_;
    std::unique_ptr<TForm6> module_;
    std::unique_ptr<TForm1> frame_;
};

// A live run: one reading after the other, each as the measurement window's poll asks for it.
[[noreturn]] void LiveRun(ProgramUnderSoak& program, int day)
{
    program.clock.current = QDateTime(QDate(2026, 1, 1).addDays(day), QTime(0, 0));
    program.start();
    TForm5& window = program.openMeasurementWindow();
    window.findChild<QPushButton*>(QStringLiteral("StartButton"))->click();
    if (!window.IsMeasuring())
        Fail(QStringLiteral("the run did not start"));
    // The poll is ticked here, as fast as the meter answers, instead of once a second.
    window.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
    Say(QStringLiteral("started"));
    ReadingTable& table = *program.module().MeaData;
    for (qint64 i = 1;; ++i) {
        program.clock.current = program.clock.current.addSecs(1);
        program.meter.queueReadings({ 300 + static_cast<int>((i * 7 + day * 31) % 900) });
        const qint64 before = table.rowCount();
        window.Timer1Timer();
        if (!TestModule::waitUntil([&] { return table.rowCount() > before; }))
            Fail(QStringLiteral("reading %1 never arrived").arg(i));
        const ReadingRow row = table.row(table.rowCount() - 1);
        Say(QStringLiteral("reading\t%1\t%2\t%3\t%4").arg(row.recNo, row.meaValue, row.time, row.date));
        program.meter.clearWrittenReports();
    }
}

void FillMeaData(ReadingTable& table, qint64 rows)
{
    qint64 next = 1;
    QByteArray texts[4];
    table.appendRows([&](RowToAppend& row) {
        if (next > rows)
            return false;
        const ReadingRow reading = KillSoakRow(next);
        texts[0] = reading.meaValue.toUtf8();
        texts[1] = reading.weight.toUtf8();
        texts[2] = reading.time.toUtf8();
        texts[3] = reading.date.toUtf8();
        row.recNo = next++;
        row.text = ReadingRowText { texts[0], texts[1], texts[2], texts[3] };
        return true;
    });
}

// Save or export, again and again, one row more each time.
[[noreturn]] void WriteAgainAndAgain(
    ProgramUnderSoak& program, bool exporting, const QString& file, qint64 rows, qint64 generation)
{
    program.start();
    TForm5& window = program.openMeasurementWindow();
    ReadingTable& table = *program.module().MeaData;
    FillMeaData(table, rows + generation);
    Say(QStringLiteral("ready"));
    for (qint64 g = generation + 1;; ++g) {
        table.appendRow(KillSoakRow(rows + g));
        program.module().MeasureSaved = false;
        program.ui.saveFileNames = { file };
        program.ui.answers = { MessageAnswer::Yes };
        Say(QStringLiteral("writing %1").arg(g));
        if (exporting) {
            ExportToExcel(program.module(), window);
            // Asked to replace (from the second time on), then told how many records.
            if (program.ui.messages.empty() || !program.ui.messages.back().text.startsWith(QLatin1String("Exported")))
                Fail(QStringLiteral("the export did not say it was done"));
            program.ui.messages.clear();
        } else {
            window.SaveButtonClick();
            if (!program.ui.messages.empty())
                program.sayMessages();
            if (!program.module().MeasureSaved)
                Fail(QStringLiteral("the save failed"));
        }
        Say(QStringLiteral("written %1").arg(g));
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Qt's warnings about the offscreen platform would bury the soak's own lines; its criticals stay.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    if (arguments.size() < 3)
        Fail(QStringLiteral("usage: kill_soak_subject live|save|export|close FOLDER ..."));
    ProgramUnderSoak program(arguments.at(2));
    if (mode == QLatin1String("live"))
        LiveRun(program, arguments.value(3).toInt());
    if ((mode == QLatin1String("save") || mode == QLatin1String("export")) && arguments.size() == 6)
        WriteAgainAndAgain(program, mode == QLatin1String("export"), arguments.at(3), arguments.at(4).toLongLong(),
            arguments.at(5).toLongLong());
    if (mode == QLatin1String("close")) {
        program.start();
        program.frame().EndWithoutAsking();
        Say(QStringLiteral("closed"));
        return 0;
    }
    Fail(QStringLiteral("unknown mode ") + mode);
}
