// A program without a display built from the libraries a headless tool may link, and from nothing else:
// core, hid, meter, store, datafile, stats and output. CTest reads the shared libraries it needs from
// its ELF header (check_needed.cmake) and runs it without a display. The run does what such a tool
// does: it looks for meters on USB, then takes live readings from the simulated meter through a
// receiver that is no window, keeps them in MeaData, figures their Leq and exports the table as CSV,
// which it reads back. Ends with 0 when every step did what it should, else says which one failed.

#include "core/Clock.h"
#include "core/LiveReading.h"
#include "core/MeterProtocol.h"
#include "core/NullServices.h"
#include "core/systemvar.h"
#include "hid/HidPlatformLinux.h"
#include "meter/SimulatedMeter.h"
#include "output/DBGridToExcel.h"
#include "output/ExportDataSet.h"
#include "stats/LevelStatistics.h"
#include "store/SqliteReadingStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Takes each live reading the module announces: a row of MeaData, and one more reading for the Leq.
class ReadingReceiver final : public QObject {
public:
    ReadingReceiver(TForm6& module, Clock& clock)
        : module_(module)
        , clock_(clock)
    {
    }

    LevelAccumulator levels;
    int received = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != static_cast<QEvent::Type>(WM_NEWREADING))
            return QObject::event(event);
        const QDateTime now = clock_.now();
        const std::int32_t tenths = std::min(module_.LiveValue, HighestLiveReading);
        ++received;
        module_.MeaData->appendRow({ QString::number(received), LevelText(tenths), WeightingText(module_.LiveFlags),
            now.toString(QStringLiteral("hh:mm:ss")), now.toString(QStringLiteral("yyyy-MM-dd")) });
        levels.addTenths(tenths, 1);
        return true;
    }

private:
    TForm6& module_;
    Clock& clock_;
};

bool waitUntil(const std::function<bool()>& condition)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

int failed(const char* step)
{
    std::fprintf(stderr, "headless probe: %s\n", step);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const QCoreApplication app(argc, argv);
    const QTemporaryDir folder;
    if (!folder.isValid())
        return failed("no temporary folder");

    {
        LinuxHidPlatform usb;
        std::printf("USB HID devices: %d\n", usb.available() ? int(usb.scan().size()) : 0);
    }

    // Nobody is there to answer: a message goes to the standard error, every question is declined.
    NullUserInteraction ui([](const QString& text, const QString& caption) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    });
    SystemClock clock;
    SilentSoundPlayer sound;
    SimulatedMeter meter;
    TForm6 module(ModuleServices { ui, clock, sound, meter, folder.path() },
        std::make_unique<SqliteReadingStore>(QDir(folder.path()).filePath(QStringLiteral("Decimora.mdb"))));
    ReadingTable& table = *module.MeaData;
    table.close();
    table.empty();
    table.open();
    if (!waitUntil([&] { return module.DeviceConnected; }))
        return failed("the simulated meter was not found");

    const std::vector<int> sent { 653, 702, 811 };
    meter.setStatusByte(0x40); // range 30-130, A weighting, fast
    meter.queueReadings(sent);
    ReadingReceiver receiver(module, clock);
    module.MeasureWindowHandle = &receiver;
    module.ReadMode = 1;
    for (int taken = 1; taken <= int(sent.size()); ++taken) {
        FillRequestReading(module.SendBuffer);
        if (!SendToMeter(module) || !waitUntil([&] { return receiver.received == taken; }))
            return failed("a live reading did not arrive");
    }
    module.MeasureWindowHandle = nullptr;
    if (table.rowCount() != qint64(sent.size()))
        return failed("MeaData does not hold the readings");
    std::printf("LAeq of %lld readings: %.1f dB\n", static_cast<long long>(receiver.levels.count()),
        receiver.levels.equivalentLevel().value_or(0.0));

    ReadingTableDataSet dataSet(table);
    const GridDescription grid = ReadingsGridDescription(dataSet);
    TDBGridToExcel writer;
    writer.DBGrid = &grid;
    writer.ShowProgress = false;
    writer.Format = SpreadsheetFormat::Csv;
    writer.FileName = QDir(folder.path()).filePath(QStringLiteral("readings.csv"));
    try {
        writer.ExportSheet();
    } catch (const SpreadsheetExportError& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.text()));
        return failed("the CSV export failed");
    }
    QFile csv(writer.FileName);
    if (!csv.open(QIODevice::ReadOnly))
        return failed("the CSV file cannot be read back");
    const QByteArray written = csv.readAll();
    for (const int tenths : sent) {
        if (!written.contains("," + LevelText(tenths).toUtf8() + ",A,"))
            return failed("a reading is missing from the CSV file");
    }
    std::printf("%s", written.constData());
    return 0;
}
