// decimora-cli download: what the meter logged on its own, decoded as the import window decodes it,
// to a data file or a spreadsheet, and its bytes as they came.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliSignals.h"
#include "cli/MeterSession.h"
#include "cli/TableFiles.h"
#include "core/MeterProtocol.h"
#include "core/WholeFileWriter.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "store/SqliteReadingStore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

// The download's progress on the error output: a bar redrawn in place on a terminal, a plain line now
// and then otherwise (a log, a pipe). How much the meter holds is not known until its end mark comes,
// so the bar shows that the download moves, and the numbers how far it has come.
class DownloadProgress {
public:
    DownloadProgress()
        : terminal_(::isatty(STDERR_FILENO) == 1)
    {
        sinceShown_.start();
    }

    void show(qint64 bytes, qint64 readings, bool last = false)
    {
        if (terminal_) {
            if (!last && sinceShown_.elapsed() < 100)
                return;
            constexpr int Width = 24;
            QByteArray bar(Width, ' ');
            const int at = static_cast<int>((bytes / 8) % Width);
            for (int i = 0; i < 4; ++i)
                bar[(at + i) % Width] = '=';
            if (last)
                bar.fill('=');
            std::fprintf(stderr, "\rDownloading [%s] %lld readings, %lld bytes%s", bar.constData(),
                static_cast<long long>(readings), static_cast<long long>(bytes), last ? "\n" : "");
        } else {
            if (!last && sinceShown_.elapsed() < 1000)
                return;
            std::fprintf(stderr, "decimora-cli: downloaded %lld readings, %lld bytes%s\n",
                static_cast<long long>(readings), static_cast<long long>(bytes), last ? ", done" : "");
        }
        std::fflush(stderr);
        sinceShown_.restart();
    }

    // A download that ended early leaves the bar's line; the message goes below it.
    void abandon()
    {
        if (terminal_) {
            std::fputs("\n", stderr);
            std::fflush(stderr);
        }
    }

private:
    bool terminal_;
    QElapsedTimer sinceShown_;
};

// The download stopped because the output's sheet cannot take every reading.
QString TooManyForSheetText(const QString& path, qint64 limit)
{
    const bool xlsx = QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0;
    return QStringLiteral("The meter holds more than %1 readings, more than %2 file takes; the download stopped there "
                          "and nothing was written. Name the output file %3 to download them all.")
        .arg(QLocale(QLocale::English).toString(limit), xlsx ? QStringLiteral("an .xlsx") : QStringLiteral("an .xls"),
            xlsx ? QStringLiteral("*.csv") : QStringLiteral("*.xlsx"));
}

void WriteRawMemory(const QString& path, const QByteArray& bytes)
{
    WholeFileWriter file(path);
    file.writeAll(bytes);
    file.commit();
}

// Where "download" puts what it downloads: the readings, the memory's bytes, or both.
struct DownloadRequest {
    QString outputPath;
    QString rawPath;
    MeterOptions meter;
};

DownloadRequest ReadDownloadRequest(const ParsedCommand& command)
{
    if (!command.isSet("output") && !command.isSet("raw"))
        throw UsageError(QStringLiteral("download needs --output FILE, --raw FILE or both."));
    DownloadRequest request;
    request.outputPath = command.value("output");
    if (command.isSet("output") && !TableFileKindOf(request.outputPath))
        throw UsageError(
            QStringLiteral("--output must name a .dmr, .csv, .xlsx or .xls file, not '%1'.").arg(request.outputPath));
    request.rawPath = command.value("raw");
    if (command.isSet("raw") && request.rawPath.isEmpty())
        throw UsageError(QStringLiteral("--raw needs a file name."));
    request.meter = command.meterOptions();
    return request;
}

int RunDownload(const ParsedCommand& command)
{
    const DownloadRequest request = ReadDownloadRequest(command);
    const QString& outputPath = request.outputPath;
    const QString& rawPath = request.rawPath;
    const MeterOptions& options = request.meter;
    // A file that cannot be written is told before the meter is asked for anything.
    RequireWritable(outputPath);
    RequireWritable(rawPath);

    // SIGINT and SIGTERM call the download off between two blocks; with the simulated meter SIGUSR1
    // pulls its cable and SIGUSR2 plugs it back.
    SignalEvents signalEvents(options.simulate ? std::initializer_list<int> { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 }
                                               : std::initializer_list<int> { SIGINT, SIGTERM });
    const WorkFolder work;
    MeterSession session(options, work.store(), work.path());
    bool calledOff = false;
    QObject::connect(&signalEvents, &SignalEvents::caught, &session, [&](int signalNumber) {
        if (!session.pullOrPlugCable(signalNumber))
            calledOff = true;
    });
    session.waitForFirstScan();
    session.requireMeter();
    TForm6& m = session.module();

    StagingFileLease staging = StagingFileLease::acquire(work.path(), QStringLiteral("a download from the meter"));
    staging.recreate();
    MeterMemoryDecoder& decoder = m.ImportDecoder;
    decoder.StartDownload();
    decoder.setReadingSink([&staging](const DecodedReading& reading) {
        staging.writeLine(
            StagingLine(reading.dateText, reading.timeText, reading.valueText, reading.weight, reading.recNo, 6));
    });
    decoder.setHeaderSink([&m](std::uint8_t status) { m.LiveFlags = status; });

    QByteArray memory;
    bool endSeen = false;
    DownloadProgress progress;
    // The meter does not say how many readings it holds before it has sent them all; a spreadsheet that
    // cannot take them ends the download as soon as it has more, unless the raw dump wants every byte.
    const std::optional<qint64> recordLimit = rawPath.isEmpty() ? TableFileRecordLimit(outputPath) : std::nullopt;
    const auto tooMany = [&] { return recordLimit && decoder.ImportCount() > *recordLimit; };
    DownloadHooks hooks;
    hooks.decode = [&decoder](std::uint8_t byte) { decoder.Dispatch(byte); };
    hooks.cancelled = [&] { return calledOff || tooMany(); };
    hooks.afterBlock = [&] {
        // The block just decoded is still in ReceivedBytes; the dump ends with the end mark.
        for (std::size_t i = 0; i < 8 && !endSeen; ++i) {
            const auto byte = static_cast<char>(m.ReceivedBytes[i]);
            memory.append(byte);
            endSeen = static_cast<std::uint8_t>(byte) == EndOfLoggedData;
        }
        progress.show(memory.size(), decoder.ImportCount());
    };
    const DownloadOutcome outcome = m.Link().download(hooks);
    decoder.setReadingSink({});
    decoder.setHeaderSink({});

    switch (outcome) {
    case DownloadOutcome::Completed:
        break;
    case DownloadOutcome::Refused:
        progress.abandon();
        throw CliError(QStringLiteral("The meter refused the download. Nothing was written."));
    case DownloadOutcome::Disconnected:
        progress.abandon();
        throw CliError(QStringLiteral("The meter was disconnected during the download. Nothing was written; connect "
                                      "the meter again and repeat the download."));
    case DownloadOutcome::TimedOut:
        progress.abandon();
        throw CliError(QStringLiteral("The meter stopped answering during the download. Nothing was written; switch "
                                      "the meter off and on, then repeat the download."));
    case DownloadOutcome::Cancelled:
        progress.abandon();
        if (!calledOff && tooMany())
            throw CliError(TooManyForSheetText(outputPath, *recordLimit));
        throw CliError(QStringLiteral("The download was called off. Nothing was written."));
    case DownloadOutcome::NotStarted:
        progress.abandon();
        throw CliError(QStringLiteral("The meter is busy. Nothing was written."));
    }
    progress.show(memory.size(), decoder.ImportCount(), true);

    if (!rawPath.isEmpty())
        WriteRawMemory(rawPath, memory);
    if (outputPath.isEmpty())
        return ExitDone;
    if (decoder.ImportCount() == 0)
        throw CliError(QStringLiteral("The meter's memory holds no readings; %1 was not written.").arg(outputPath));
    ReadingTable& table = *m.GetRecorde;
    AppendStagingTable(staging, table);
    WriteTableFile(table, outputPath);
    return ExitDone;
}

} // namespace

const CliCommand& DownloadCommand()
{
    static const CliCommand command {
        .name = "download",
        .summary = "download the meter's memory to a data file or spreadsheet",
        .description = "Downloads what the meter logged on its own and decodes it as the import window does.",
        .options = {
            { .name = "output",
                .description = "Write the readings to FILE: a data file (.dmr) or a spreadsheet (.csv, .xlsx, "
                               ".xls), replacing it only once the new one is complete.",
                .valueName = "FILE",
                .usageValue = "FILE.dmr|.csv|.xlsx|.xls" },
            { .name = "raw",
                .description = "Also keep the memory's bytes exactly as the meter sent them, up to and including "
                               "its end mark, in FILE (for a bug report, or to replay with --simulate-meter=FILE).",
                .valueName = "FILE",
                .usageValue = "FILE.bin" },
        },
        .arguments = {},
        .talksToMeter = true,
        .check = [](const ParsedCommand& command) { ReadDownloadRequest(command); },
        .run = RunDownload,
    };
    return command;
}
