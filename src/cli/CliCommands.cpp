#include "cli/CliCommands.h"

#include "cli/CliError.h"
#include "cli/CliSignals.h"
#include "cli/LiveLog.h"
#include "cli/LiveOutput.h"
#include "cli/MeterSession.h"
#include "cli/MqttSink.h"
#include "core/MeterProtocol.h"
#include "datafile/DataFile.h"
#include "datafile/StagingFile.h"
#include "meter/SimulatedMeter.h"
#include "output/DBGridToExcel.h"
#include "output/ExportDataSet.h"
#include "stats/StatisticsRows.h"
#include "store/SqliteReadingStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>

#include <unistd.h>

#ifndef DECIMORA_VERSION
#error "DECIMORA_VERSION: the project's version"
#endif

namespace {

bool qtMessagesShown = false;

void Say(const QString& text)
{
    std::fprintf(stderr, "decimora-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Print(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

constexpr char GeneralUsage[] = "Usage: decimora-cli COMMAND [OPTIONS]    (decimora-cli COMMAND --help tells more)";

const char* const GeneralHelp
    = "decimora-cli: the Decimora sound level meter tool for scripts and for logging without a screen.\n"
      "\n"
      "Usage: decimora-cli COMMAND [OPTIONS]\n"
      "\n"
      "Commands:\n"
      "  devices    the meters plugged in, and whether this user may open them\n"
      "  live       log the live readings as CSV, JSON lines, InfluxDB line protocol or to MQTT\n"
      "  download   download the meter's memory to a data file or spreadsheet\n"
      "  setup      read or change the meter's range, response, weighting, max hold and clock\n"
      "  convert    turn a data file into another data file or a spreadsheet\n"
      "  stats      the sound-level statistics (Leq, L10, L50, L90, SEL, ...) of data files\n"
      "\n"
      "Every command that talks to the meter takes --simulate-meter[=MEMORY.bin] (a simulated meter instead\n"
      "of the USB devices) and --trace (every report to and from the meter in hex on the error output).\n"
      "Exit codes: 0 done, 1 failed, 2 bad usage.\n";

// The options every command that talks to the meter has.
struct MeterOptionSet {
    QCommandLineOption simulate { QStringLiteral("simulate-meter"),
        QStringLiteral("Talk to a simulated meter instead of the USB devices; with =MEMORY.bin its logged memory "
                       "is that file's bytes (a dump written by download --raw)."),
        QStringLiteral("MEMORY.bin") };
    QCommandLineOption trace { QStringLiteral("trace"),
        QStringLiteral("Write every report sent to and received from the meter in hex on the error output.") };
    QCommandLineOption pretendStart { QStringLiteral("pretend-start"),
        QStringLiteral("With --simulate-meter only: the local time the tool's clock starts at."),
        QStringLiteral("TIME") };
    QCommandLineOption pretendRate { QStringLiteral("pretend-rate"),
        QStringLiteral("With --simulate-meter only: the tool's clock runs this many times as fast as the real one, "
                       "and so do its intervals."),
        QStringLiteral("FACTOR") };

    void addTo(QCommandLineParser& parser)
    {
        pretendStart.setFlags(QCommandLineOption::HiddenFromHelp);
        pretendRate.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOptions({ simulate, trace, pretendStart, pretendRate });
    }

    MeterOptions read(const QCommandLineParser& parser) const
    {
        MeterOptions options;
        options.simulate = parser.isSet(simulate);
        options.memoryFile = parser.value(simulate);
        options.trace = parser.isSet(trace);
        if (parser.isSet(pretendStart)) {
            if (!options.simulate)
                throw UsageError(QStringLiteral("--pretend-start is only for the simulated meter."));
            const QDateTime start = QDateTime::fromString(parser.value(pretendStart), Qt::ISODateWithMs);
            if (!start.isValid())
                throw UsageError(QStringLiteral("--pretend-start needs a time like 2026-12-10T23:59:58."));
            options.pretendStart = start;
        }
        if (parser.isSet(pretendRate)) {
            if (!options.simulate)
                throw UsageError(QStringLiteral("--pretend-rate is only for the simulated meter."));
            bool ok = false;
            const double rate = parser.value(pretendRate).toDouble(&ok);
            if (!ok || !(rate > 0.0) || rate > 1e6)
                throw UsageError(QStringLiteral("--pretend-rate needs a factor above 0 and at most 1000000, not '%1'.")
                                     .arg(parser.value(pretendRate)));
            options.pretendRate = rate;
        }
        ShowQtMessages(options.trace);
        return options;
    }
};

// Parses a command's arguments (arguments[0] names the command). False when --help has been answered.
// Throws UsageError for an unknown option, a missing value or an argument the command does not take.
bool ParseCommand(QCommandLineParser& parser, const QStringList& arguments, const QString& description,
    const QString& usage, bool takesArguments)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    if (!parser.parse(arguments))
        throw UsageError(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Qt's first line names the executable's path; ours names the command as it is typed.
        const qsizetype options = text.indexOf(QLatin1String("Options:"));
        text = usage + QStringLiteral("\n\n") + description + QStringLiteral("\n\n")
            + (options >= 0 ? text.mid(options) : text);
        Print(text);
        return false;
    }
    if (!takesArguments && !parser.positionalArguments().isEmpty())
        throw UsageError(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst()));
    return true;
}

// A number of seconds given to an option, as milliseconds within [lowestMs, highestMs].
qint64 SecondsOption(const QCommandLineParser& parser, const QCommandLineOption& option, qint64 lowestMs,
    qint64 highestMs, const QString& range)
{
    const QString text = parser.value(option);
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    const double ms = seconds * 1000.0;
    if (!ok || !std::isfinite(ms) || std::llround(ms) < lowestMs || std::llround(ms) > highestMs)
        throw UsageError(
            QStringLiteral("--%1 must be %2 seconds, not '%3'.").arg(option.names().constFirst(), range, text));
    return std::llround(ms);
}

// ---------------------------------------------------------------------------------------------------
// Where a table goes: a data file or a spreadsheet, by the name's extension.

enum class TableFileKind { DataFile, Spreadsheet };

std::optional<TableFileKind> TableFileKindOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("dmr"))
        return TableFileKind::DataFile;
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("xlsx") || suffix == QLatin1String("xls"))
        return TableFileKind::Spreadsheet;
    return std::nullopt;
}

// Writes every row of the table to path, replacing a file there only with a complete new one.
void WriteTableFile(ReadingTable& table, const QString& path)
{
    if (TableFileKindOf(path) == TableFileKind::DataFile) {
        WriteDataFile(table, path);
        return;
    }
    ExportReadingTable(table, path);
}

// A folder of the tool's own for the tables and the staging file of one command, so that the desktop
// program's database and staging file are never touched.
struct WorkFolder {
    QTemporaryDir folder;

    WorkFolder()
    {
        if (!folder.isValid())
            throw CliError(QStringLiteral("Cannot create a temporary folder: %1").arg(folder.errorString()));
    }
    std::unique_ptr<SqliteReadingStore> store() const
    {
        return std::make_unique<SqliteReadingStore>(folder.filePath(QStringLiteral("Decimora.mdb")));
    }
    QString path() const { return folder.path(); }
};

// ---------------------------------------------------------------------------------------------------
// devices

int RunDevices(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    MeterOptionSet meterOptions;
    meterOptions.addTo(parser);
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Lists the sound level meters plugged in, each with its device node and whether this "
                           "user may open it."),
            usage, false))
        return ExitDone;
    MeterSession session(meterOptions.read(parser));
    session.waitForFirstScan();
    const TForm6& m = session.module();
    int meters = 0;
    bool withoutAccess = false;
    for (const auto& device : m.DeviceList) {
        if (!device || device->Attributes().vendorId != MeterVendorId
            || device->Attributes().productId != MeterProductId)
            continue;
        ++meters;
        const bool mayOpen = device->HasReadWriteAccess();
        withoutAccess = withoutAccess || !mayOpen;
        Print(QStringLiteral("%1\t%2\n")
                  .arg(device->PnPInfo() ? device->PnPInfo()->DevicePath : QString(),
                      mayOpen ? QStringLiteral("read-write") : QStringLiteral("no access")));
    }
    if (meters == 0)
        Print(QStringLiteral("No sound level meter is plugged in.\n"));
    std::fflush(stdout);
    if (withoutAccess)
        Say(MeterAccessHint());
    return ExitDone;
}

// ---------------------------------------------------------------------------------------------------
// live

// The broker and its topics from live's options; nothing without --mqtt. Every mistake is a usage
// error, told before a single reading is taken.
std::optional<MqttPublisherOptions> ReadMqttOptions(const QCommandLineParser& parser, const QCommandLineOption& mqtt,
    const QCommandLineOption& topic, const QCommandLineOption& discovery, const QCommandLineOption& queue)
{
    if (!parser.isSet(mqtt)) {
        if (parser.isSet(topic) || parser.isSet(discovery) || parser.isSet(queue))
            throw UsageError(QStringLiteral("--topic, --ha-discovery and --mqtt-queue belong to --mqtt."));
        return std::nullopt;
    }
    MqttPublisherOptions options;
    try {
        options.broker = ParseMqttBrokerAddress(parser.value(mqtt));
        if (parser.isSet(topic))
            options.topicPrefix = parser.value(topic);
        options.homeAssistantDiscovery = parser.isSet(discovery);
        if (parser.isSet(queue)) {
            bool number = false;
            const qlonglong capacity = parser.value(queue).toLongLong(&number);
            if (!number || capacity < 1 || capacity > 10'000'000)
                throw UsageError(
                    QStringLiteral("--mqtt-queue must be from 1 to 10000000, not '%1'.").arg(parser.value(queue)));
            options.queueCapacity = static_cast<std::size_t>(capacity);
        }
        CheckMqttPublisherOptions(options);
    } catch (const DecimoraError& error) {
        throw UsageError(error.text());
    }
    return options;
}

// The names of the InfluxDB lines from live's --measurement and --tag, checked against the protocol.
InfluxNames ReadInfluxNames(const QCommandLineParser& parser, const QCommandLineOption& measurement,
    const QCommandLineOption& tag, LineFormat format)
{
    InfluxNames names;
    if ((parser.isSet(measurement) || parser.isSet(tag)) && format != LineFormat::Influx)
        throw UsageError(QStringLiteral("--measurement and --tag belong to --format influx."));
    if (parser.isSet(measurement)) {
        names.measurement = parser.value(measurement);
        if (const QString problem = InfluxNameProblem(QStringLiteral("measurement"), names.measurement, true);
            !problem.isEmpty())
            throw UsageError(problem);
    }
    for (const QString& pair : parser.values(tag)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals < 0)
            throw UsageError(QStringLiteral("--tag needs KEY=VALUE, not '%1'.").arg(pair));
        const QString key = pair.left(equals);
        const QString value = pair.mid(equals + 1);
        for (const QString& problem : { InfluxNameProblem(QStringLiteral("tag key"), key, false),
                 InfluxNameProblem(QStringLiteral("tag value"), value, false) })
            if (!problem.isEmpty())
                throw UsageError(problem);
        for (const char* own : { "range", "response", "weighting" })
            if (key == QLatin1String(own))
                throw UsageError(QStringLiteral("The tag '%1' is the reading's own.").arg(key));
        names.tags.emplace_back(key, value);
    }
    return names;
}

// What "live" was asked to do.
struct LiveRequest {
    qint64 intervalMs = 1000;
    std::optional<qint64> durationMs;
    // The format of the lines; nothing when only the broker gets the readings.
    std::optional<LineFormat> lines;
    InfluxNames names;
    LineOutput::Target target = LineOutput::Target::StandardOutput;
    QString outputPath;
    std::optional<MqttPublisherOptions> mqtt;
    MeterOptions meter;
};

// Reads live's command line; nothing when it only asked for its help.
std::optional<LiveRequest> ReadLiveRequest(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    const QCommandLineOption interval(QStringLiteral("interval"),
        QStringLiteral("Seconds between two readings, from 0.3 to 3600 (default 1)."), QStringLiteral("S"),
        QStringLiteral("1"));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("csv (default), jsonl (one JSON object a line) or influx (InfluxDB line protocol)."),
        QStringLiteral("FORMAT"), QStringLiteral("csv"));
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral("Append the lines to FILE instead of writing them to standard output."), QStringLiteral("FILE"));
    const QCommandLineOption rotate(QStringLiteral("rotate"),
        QStringLiteral("daily: a file per local day, FILE's name with the date before its extension "
                       "(noise.csv -> noise-2026-12-10.csv), started by the first reading after midnight."),
        QStringLiteral("daily"));
    const QCommandLineOption duration(QStringLiteral("duration"),
        QStringLiteral("End after S seconds (default: run until SIGINT or SIGTERM)."), QStringLiteral("S"));
    const QCommandLineOption measurement(QStringLiteral("measurement"),
        QStringLiteral("influx: the measurement's name (default sound_level)."), QStringLiteral("NAME"));
    const QCommandLineOption tag(QStringLiteral("tag"),
        QStringLiteral("influx: one more tag on every line; may be given again."), QStringLiteral("KEY=VALUE"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
        QStringLiteral("Publish every reading to the MQTT broker at HOST, HOST:PORT or [IPv6]:PORT (port 1883 "
                       "unless given). Lines are then written only with --output or --format."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption topic(QStringLiteral("topic"),
        QStringLiteral("mqtt: the topics' prefix (default decimora): PREFIX/state, PREFIX/availability."),
        QStringLiteral("PREFIX"));
    const QCommandLineOption discovery(QStringLiteral("ha-discovery"),
        QStringLiteral("mqtt: also publish a retained Home Assistant discovery config, so that the meter appears "
                       "as a sound pressure sensor in dB."));
    const QCommandLineOption queue(QStringLiteral("mqtt-queue"),
        QStringLiteral("mqtt: readings kept while the broker is away, the oldest dropped first (default 3600)."),
        QStringLiteral("N"));
    parser.addOptions({ interval, format, output, rotate, duration, measurement, tag, mqtt, topic, discovery, queue });
    MeterOptionSet meterOptions;
    meterOptions.addTo(parser);
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Logs the meter's live readings, one line per reading with its time (ISO 8601 with the "
                           "offset from UTC), level, weighting, range and flags, each line written out at once. "
                           "Waits for the meter when it is unplugged; SIGINT and SIGTERM end it cleanly."),
            usage, false))
        return std::nullopt;

    LiveRequest request;
    request.intervalMs = SecondsOption(
        parser, interval, LiveLog::ShortestIntervalMs, LiveLog::LongestIntervalMs, QStringLiteral("from 0.3 to 3600"));
    const std::optional<LineFormat> lineFormat = LineFormatNamed(parser.value(format));
    if (!lineFormat)
        throw UsageError(QStringLiteral("--format must be csv, jsonl or influx, not '%1'.").arg(parser.value(format)));
    if (parser.isSet(output)) {
        if (parser.value(output).isEmpty())
            throw UsageError(QStringLiteral("--output needs a file name."));
        request.target = LineOutput::Target::File;
    }
    if (parser.isSet(rotate)) {
        if (parser.value(rotate) != QLatin1String("daily"))
            throw UsageError(QStringLiteral("--rotate knows only 'daily', not '%1'.").arg(parser.value(rotate)));
        if (!parser.isSet(output))
            throw UsageError(QStringLiteral("--rotate daily needs --output FILE."));
        request.target = LineOutput::Target::DailyFiles;
    }
    if (parser.isSet(duration))
        request.durationMs = SecondsOption(parser, duration, 1, qint64(10) * 366 * 24 * 3600 * 1000,
            QStringLiteral("more than 0 (and at most ten years)"));
    request.names = ReadInfluxNames(parser, measurement, tag, *lineFormat);
    request.mqtt = ReadMqttOptions(parser, mqtt, topic, discovery, queue);
    // With a broker, lines are written when they are asked for; without, they always are.
    if (!request.mqtt || parser.isSet(output) || parser.isSet(format))
        request.lines = *lineFormat;
    request.outputPath = parser.value(output);
    request.meter = meterOptions.read(parser);
    return request;
}

// Logs until the duration is up, a signal ends it, or the readings cannot be passed on.
int RunLiveRequest(const LiveRequest& request)
{
    // Caught from here on, so that a signal during the start ends the tool as cleanly as later.
    SignalEvents signalEvents(request.meter.simulate ? std::initializer_list<int> { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 }
                                                     : std::initializer_list<int> { SIGINT, SIGTERM });
    MeterSession session(request.meter);
    std::optional<LineOutput> lines;
    if (request.lines)
        lines.emplace(*request.lines, request.names, request.target, request.outputPath, Say);
    std::unique_ptr<MqttSink> broker;
    if (request.mqtt)
        broker = std::make_unique<MqttSink>(*request.mqtt, Say);
    std::optional<BothSinks> both;
    LiveReadingSink* sink = broker.get();
    if (lines && broker)
        sink = &both.emplace(*lines, *broker);
    else if (lines)
        sink = &*lines;
    LiveLog log(session, *sink, Say);
    QEventLoop loop;
    // An end asked for before the loop runs (a signal during the first scan) is kept until it does.
    std::optional<int> endedWith;
    const auto end = [&](int code) {
        log.stop();
        if (!endedWith)
            endedWith = code;
        loop.exit(*endedWith);
    };
    QObject::connect(&log, &LiveLog::failed, &loop, [&](const QString& text) {
        Say(text);
        end(ExitFailed);
    });
    QObject::connect(&signalEvents, &SignalEvents::caught, &loop, [&](int signalNumber) {
        SimulatedMeter* meter = session.simulatedMeter();
        if (signalNumber == SIGUSR1 && meter) {
            meter->unplug();
        } else if (signalNumber == SIGUSR2 && meter) {
            meter->plug();
        } else {
            end(ExitDone);
        }
    });
    // The intervals are of the tool's clock, which a test may run fast.
    const auto realMs = [&](qint64 clockMs) {
        return std::max<qint64>(1, std::llround(double(clockMs) / request.meter.pretendRate));
    };
    // A QTimer holds at most 2^31 - 1 ms (24.8 days); a longer run is timed in stretches of that.
    QTimer timeUp;
    timeUp.setSingleShot(true);
    QDeadlineTimer deadline(QDeadlineTimer::Forever);
    const auto armTimeUp = [&] {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            end(ExitDone);
        else
            timeUp.start(static_cast<int>(std::min<qint64>(left, std::numeric_limits<int>::max())));
    };
    if (request.durationMs) {
        deadline.setRemainingTime(realMs(*request.durationMs));
        QObject::connect(&timeUp, &QTimer::timeout, &loop, armTimeUp);
        armTimeUp();
    }
    session.waitForFirstScan();
    if (endedWith)
        return *endedWith;
    log.start(static_cast<int>(realMs(request.intervalMs)));
    const int code = loop.exec();
    log.stop();
    return code;
}

int RunLive(const QStringList& arguments, const QString& usage)
{
    const std::optional<LiveRequest> request = ReadLiveRequest(arguments, usage);
    if (!request)
        return ExitDone;
    return RunLiveRequest(*request);
}

// ---------------------------------------------------------------------------------------------------
// download

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

void WriteRawMemory(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw CliError(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

int RunDownload(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral("Write the readings to FILE: a data file (.dmr) or a spreadsheet (.csv, .xlsx, .xls), "
                       "replacing it only once the new one is complete."),
        QStringLiteral("FILE"));
    const QCommandLineOption raw(QStringLiteral("raw"),
        QStringLiteral("Also keep the memory's bytes exactly as the meter sent them, up to and including its end "
                       "mark, in FILE (for a bug report, or to replay with --simulate-meter=FILE)."),
        QStringLiteral("FILE"));
    parser.addOptions({ output, raw });
    MeterOptionSet meterOptions;
    meterOptions.addTo(parser);
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Downloads what the meter logged on its own and decodes it as the import window does."),
            usage, false))
        return ExitDone;
    if (!parser.isSet(output) && !parser.isSet(raw))
        throw UsageError(QStringLiteral("download needs --output FILE, --raw FILE or both."));
    const QString outputPath = parser.value(output);
    if (parser.isSet(output) && !TableFileKindOf(outputPath))
        throw UsageError(
            QStringLiteral("--output must name a .dmr, .csv, .xlsx or .xls file, not '%1'.").arg(outputPath));
    const QString rawPath = parser.value(raw);
    if (parser.isSet(raw) && rawPath.isEmpty())
        throw UsageError(QStringLiteral("--raw needs a file name."));
    const MeterOptions options = meterOptions.read(parser);

    // SIGINT and SIGTERM call the download off between two blocks; with the simulated meter SIGUSR1
    // pulls its cable and SIGUSR2 plugs it back.
    SignalEvents signalEvents(options.simulate ? std::initializer_list<int> { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 }
                                               : std::initializer_list<int> { SIGINT, SIGTERM });
    const WorkFolder work;
    MeterSession session(options, work.store(), work.path());
    bool calledOff = false;
    QObject::connect(&signalEvents, &SignalEvents::caught, &session, [&](int signalNumber) {
        SimulatedMeter* meter = session.simulatedMeter();
        if (signalNumber == SIGUSR1 && meter)
            meter->unplug();
        else if (signalNumber == SIGUSR2 && meter)
            meter->plug();
        else
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
    DownloadHooks hooks;
    hooks.decode = [&decoder](std::uint8_t byte) { decoder.Dispatch(byte); };
    hooks.cancelled = [&calledOff] { return calledOff; };
    hooks.afterBlock = [&] {
        // The block just decoded is still in ReceivedBytes; the dump ends with the end mark.
        for (std::size_t i = 0; i < 8 && !endSeen; ++i) {
            const auto byte = static_cast<char>(m.ReceivedBytes[i]);
            memory.append(byte);
            endSeen = static_cast<std::uint8_t>(byte) == EndOfLoggedData;
        }
        progress.show(memory.size(), decoder.ImportCount());
    };
    const DownloadOutcome outcome = RunMeterDownload(m, hooks);
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

// ---------------------------------------------------------------------------------------------------
// setup

struct RangeName {
    const char* name;
    int code;
};
constexpr RangeName RangeNames[]
    = { { "30-130", 0 }, { "30-80", 1 }, { "50-100", 2 }, { "60-110", 3 }, { "80-130", 4 } };

// The meter's status, read as the setup window reads it: a request and 260 ms for the answer. A busy
// machine can take longer to pass the answer on, so the tool asks up to five times before it says the
// meter did not answer. Throws CliError then.
int ReadStatus(TForm6& m)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        // A reply sets LiveFlags to the status byte (0 to 255); nothing sets it below 0.
        m.LiveFlags = -1;
        const int flags = ReadMeterStatus(m);
        if (flags >= 0)
            return flags;
        if (!m.DeviceConnected)
            break;
    }
    throw CliError(QStringLiteral("The meter did not answer."));
}

int RunSetup(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    const QCommandLineOption range(
        QStringLiteral("range"), QStringLiteral("The measurement range in dB."), QStringLiteral("RANGE"));
    const QCommandLineOption fast(QStringLiteral("fast"), QStringLiteral("Fast time weighting (125 ms)."));
    const QCommandLineOption slow(QStringLiteral("slow"), QStringLiteral("Slow time weighting (1 s)."));
    const QCommandLineOption weighting(
        QStringLiteral("weighting"), QStringLiteral("Frequency weighting A or C."), QStringLiteral("A|C"));
    const QCommandLineOption maxHold(
        QStringLiteral("max-hold"), QStringLiteral("Hold the maximum: on or off."), QStringLiteral("on|off"));
    const QCommandLineOption setClock(
        QStringLiteral("set-clock"), QStringLiteral("Set the meter's clock to this computer's local time."));
    parser.addOptions({ range, fast, slow, weighting, maxHold, setClock });
    MeterOptionSet meterOptions;
    meterOptions.addTo(parser);
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Changes the meter's settings as the setup window does; what is not given stays as the "
                           "meter has it. Prints the meter's settings afterwards (with no option: prints them)."),
            usage, false))
        return ExitDone;

    std::optional<int> rangeCode;
    if (parser.isSet(range)) {
        for (const RangeName& known : RangeNames)
            if (parser.value(range) == QLatin1String(known.name))
                rangeCode = known.code;
        if (!rangeCode)
            throw UsageError(QStringLiteral("--range must be 30-130, 30-80, 50-100, 60-110 or 80-130, not '%1'.")
                                 .arg(parser.value(range)));
    }
    if (parser.isSet(fast) && parser.isSet(slow))
        throw UsageError(QStringLiteral("--fast and --slow exclude each other."));
    std::optional<bool> cWeighting;
    if (parser.isSet(weighting)) {
        const QString value = parser.value(weighting).toUpper();
        if (value != QLatin1String("A") && value != QLatin1String("C"))
            throw UsageError(QStringLiteral("--weighting must be A or C, not '%1'.").arg(parser.value(weighting)));
        cWeighting = value == QLatin1String("C");
    }
    std::optional<bool> holdMaximum;
    if (parser.isSet(maxHold)) {
        const QString value = parser.value(maxHold);
        if (value != QLatin1String("on") && value != QLatin1String("off"))
            throw UsageError(QStringLiteral("--max-hold must be on or off, not '%1'.").arg(value));
        holdMaximum = value == QLatin1String("on");
    }
    const MeterOptions options = meterOptions.read(parser);

    MeterSession session(options);
    session.waitForFirstScan();
    session.requireMeter();
    TForm6& m = session.module();
    const int before = ReadStatus(m);
    const bool modeChanges = rangeCode || parser.isSet(fast) || parser.isSet(slow) || cWeighting || holdMaximum;
    std::optional<std::uint8_t> mode;
    if (modeChanges) {
        const bool isFast = parser.isSet(fast) || (!parser.isSet(slow) && (before & MeterStatus::Fast));
        mode = ModeByte(rangeCode.value_or(before & MeterStatus::RangeMask), isFast,
            cWeighting.value_or((before & MeterStatus::CWeighting) != 0),
            holdMaximum.value_or((before & MeterStatus::MaxHold) != 0));
    }
    QDateTime clockSetTo;
    if (modeChanges || parser.isSet(setClock)) {
        m.LastErrorText.clear();
        clockSetTo = session.clock().now();
        ApplyMeterSettings(m, parser.isSet(setClock), clockSetTo, mode);
        if (!m.DeviceConnected)
            throw CliError(QStringLiteral("The meter was disconnected while it was being set up."));
        if (!m.LastErrorText.isEmpty())
            throw CliError(QStringLiteral("Cannot send the settings to the meter (%1).").arg(m.LastErrorText));
    }
    const int after = ReadStatus(m);
    Print(QStringLiteral("range: %1\nresponse: %2\nweighting: %3\nmax_hold: %4\n")
              .arg(RangeText(after), ResponseText(after), WeightingText(after),
                  MaxHoldOn(after) ? QStringLiteral("on") : QStringLiteral("off")));
    if (parser.isSet(setClock))
        Print(QStringLiteral("clock: set to %1\n").arg(clockSetTo.toString(Qt::ISODate)));
    if (mode && (after & 0x7F) != *mode)
        throw CliError(QStringLiteral("The meter did not take the settings: it reports the ones above."));
    return ExitDone;
}

// ---------------------------------------------------------------------------------------------------
// convert and stats

// Loads a data file into the table (emptied first) through the staging file of the work folder.
void LoadInto(const WorkFolder& work, ReadingTable& table, const QString& path)
{
    table.empty();
    StagingFileLease staging = StagingFileLease::acquire(work.path(), QStringLiteral("a data file load"));
    if (!LoadDataFile(path, table, staging))
        throw CliError(QStringLiteral("%1 is not a Decimora data file.").arg(path));
}

int RunConvert(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("IN.dmr"), QStringLiteral("A data file."));
    parser.addPositionalArgument(QStringLiteral("OUT"),
        QStringLiteral("The file to write: a data file (.dmr) or a spreadsheet (.csv, .xlsx, .xls)."));
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Writes the readings of a data file to another data file or a spreadsheet, as File > "
                           "Export to Excel does; the output is replaced only once the new one is complete."),
            usage, true))
        return ExitDone;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2)
        throw UsageError(QStringLiteral("convert needs two files, IN.dmr and OUT."));
    if (!TableFileKindOf(files[1]))
        throw UsageError(QStringLiteral("OUT must be a .dmr, .csv, .xlsx or .xls file, not '%1'.").arg(files[1]));
    const WorkFolder work;
    const std::unique_ptr<SqliteReadingStore> store = work.store();
    LoadInto(work, store->loadData(), files[0]);
    WriteTableFile(store->loadData(), files[1]);
    return ExitDone;
}

QString FigureValue(const StatisticsRow& row)
{
    if (!row.value)
        return {};
    if (row.unit == QLatin1String("dB"))
        return QString::number(*row.value, 'f', 1);
    return QString::number(std::llround(*row.value));
}

int RunStats(const QStringList& arguments, const QString& usage)
{
    QCommandLineParser parser;
    const QCommandLineOption interval(QStringLiteral("interval"),
        QStringLiteral("Whole seconds each reading stands for (a data file does not say); without it the "
                       "duration, SEL and time above the alarm are not known."),
        QStringLiteral("S"));
    const QCommandLineOption highAlarm(QStringLiteral("high-alarm"),
        QStringLiteral("The level in dB whose exceedances are counted (default 85)."), QStringLiteral("DB"),
        QStringLiteral("85"));
    parser.addOptions({ interval, highAlarm });
    parser.addPositionalArgument(
        QStringLiteral("FILE.dmr"), QStringLiteral("Data files."), QStringLiteral("FILE.dmr..."));
    if (!ParseCommand(parser, arguments,
            QStringLiteral("Prints the sound-level statistics of each data file as the statistics window shows "
                           "them, one figure a line: file, figure, value, unit, separated by tabs. A figure that "
                           "is not known has no value."),
            usage, true))
        return ExitDone;
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        throw UsageError(QStringLiteral("stats needs at least one data file."));
    std::int32_t intervalSeconds = 0;
    if (parser.isSet(interval)) {
        bool ok = false;
        intervalSeconds = parser.value(interval).toInt(&ok);
        if (!ok || intervalSeconds < 1 || intervalSeconds > 86400)
            throw UsageError(QStringLiteral("--interval must be whole seconds from 1 to 86400, not '%1'.")
                                 .arg(parser.value(interval)));
    }
    bool ok = false;
    const double alarm = parser.value(highAlarm).toDouble(&ok);
    if (!ok || !(alarm >= 0.0 && alarm <= 200.0))
        throw UsageError(
            QStringLiteral("--high-alarm must be a level from 0 to 200 dB, not '%1'.").arg(parser.value(highAlarm)));

    const WorkFolder work;
    const std::unique_ptr<SqliteReadingStore> store = work.store();
    QString text = QStringLiteral("file\tfigure\tvalue\tunit\n");
    for (const QString& file : files) {
        LoadInto(work, store->loadData(), file);
        const WeightedLevelStatistics statistics = StatisticsOfTable(store->loadData(), intervalSeconds);
        for (const StatisticsRow& row : StatisticsRows(statistics, alarm))
            text += QStringLiteral("%1\t%2\t%3\t%4\n").arg(file, row.label, FigureValue(row), row.unit);
    }
    // Printed once every file has been read, so that a file that fails leaves no half table behind.
    Print(text);
    return ExitDone;
}

struct Command {
    const char* name;
    std::function<int(const QStringList&, const QString&)> run;
    const char* usage;
};

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands {
        { "devices", RunDevices, "Usage: decimora-cli devices [--simulate-meter[=MEMORY.bin]] [--trace]" },
        { "live", RunLive,
            "Usage: decimora-cli live [--interval S] [--format csv|jsonl|influx] [--output FILE [--rotate daily]] "
            "[--duration S] [--measurement NAME] [--tag KEY=VALUE]... [--mqtt HOST[:PORT] [--topic PREFIX] "
            "[--ha-discovery] "
            "[--mqtt-queue N]] [--simulate-meter[=MEMORY.bin]] [--trace]" },
        { "download", RunDownload,
            "Usage: decimora-cli download [--output FILE.dmr|.csv|.xlsx|.xls] [--raw FILE.bin] "
            "[--simulate-meter[=MEMORY.bin]] [--trace]" },
        { "setup", RunSetup,
            "Usage: decimora-cli setup [--range 30-130|30-80|50-100|60-110|80-130] [--fast|--slow] "
            "[--weighting A|C] [--max-hold on|off] [--set-clock] [--simulate-meter[=MEMORY.bin]] [--trace]" },
        { "convert", RunConvert, "Usage: decimora-cli convert IN.dmr OUT.dmr|.csv|.xlsx|.xls" },
        { "stats", RunStats, "Usage: decimora-cli stats [--interval S] [--high-alarm DB] FILE.dmr..." },
    };
    return commands;
}

void QtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg) {
        Say(QStringLiteral("internal error: %1").arg(text));
        std::abort();
    }
    if (qtMessagesShown)
        Say(QStringLiteral("qt: %1").arg(text));
}

} // namespace

void InstallCliMessageHandler()
{
    qInstallMessageHandler(QtMessage);
}

void ShowQtMessages(bool show)
{
    qtMessagesShown = show;
}

int RunCli(const QStringList& givenArguments)
{
    QStringList arguments = givenArguments;
    // --simulate-meter takes its file after "=" only, so that a bare --simulate-meter never swallows
    // the argument after it.
    for (QString& argument : arguments)
        if (argument == QLatin1String("--simulate-meter"))
            argument += QLatin1Char('=');

    const QString first = arguments.value(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        Print(QString::fromLatin1(GeneralHelp));
        return ExitDone;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Print(QStringLiteral("decimora-cli %1\n").arg(QStringLiteral(DECIMORA_VERSION)));
        return ExitDone;
    }
    const Command* command = nullptr;
    for (const Command& known : Commands())
        if (first == QLatin1String(known.name))
            command = &known;
    if (!command) {
        Say(first.isEmpty() ? QStringLiteral("No command given.") : QStringLiteral("Unknown command '%1'.").arg(first));
        std::fprintf(stderr, "%s\n", GeneralUsage);
        return ExitUsage;
    }

    QStringList commandArguments = arguments.mid(2);
    commandArguments.prepend(QStringLiteral("decimora-cli ") + first);
    try {
        const int code = command->run(commandArguments, QString::fromLatin1(command->usage));
        std::fflush(stdout);
        return code;
    } catch (const UsageError& error) {
        Say(error.text());
        std::fprintf(stderr, "%s\n", command->usage);
        return ExitUsage;
    } catch (const CliError& error) {
        Say(error.text());
    } catch (const std::exception& error) {
        Say(ErrorText(error));
    }
    return ExitFailed;
}
