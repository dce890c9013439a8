// decimora-cli live: the meter's live readings as lines (CSV, JSON lines, InfluxDB line protocol) on
// standard output or in files, or to an MQTT broker.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/CliSignals.h"
#include "cli/HomeAssistantRemoval.h"
#include "cli/LiveLog.h"
#include "cli/LiveOutput.h"
#include "cli/MeterSession.h"
#include "cli/MqttLoginOptions.h"
#include "cli/MqttSink.h"
#include "cli/WebPageSink.h"
#include "core/DecimoraError.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>
#include <memory>

namespace {

// The broker and its topics from live's options; nothing without --mqtt. Every mistake is a usage
// error, told before a single reading is taken.
std::optional<MqttPublisherOptions> ReadMqttOptions(const ParsedCommand& command)
{
    if (command.isSet("ha-prefix") && !command.isSet("ha-discovery") && !command.isSet("ha-remove"))
        throw UsageError(QStringLiteral("--ha-prefix belongs to --ha-discovery or --ha-remove."));
    if (command.isSet("ha-remove") && command.isSet("ha-discovery"))
        throw UsageError(QStringLiteral("--ha-remove removes what --ha-discovery announces: give one of them."));
    if (!command.isSet("mqtt")) {
        if (command.isSet("topic") || command.isSet("ha-discovery") || command.isSet("ha-remove")
            || command.isSet("mqtt-queue"))
            throw UsageError(QStringLiteral("--topic, --ha-discovery, --ha-remove and --mqtt-queue belong to --mqtt."));
        if (AnyMqttLoginOption(command))
            throw UsageError(QStringLiteral("--mqtt-user, --mqtt-password-file and the TLS files belong to --mqtt."));
        return std::nullopt;
    }
    MqttPublisherOptions options;
    // Outside the try: a file that cannot be read is a failure, not a usage error.
    ReadMqttLogin(command, options);
    try {
        options.broker = ParseMqttBrokerAddress(command.value("mqtt"), DefaultMqttPortFor(command));
        if (command.isSet("topic"))
            options.topicPrefix = command.value("topic");
        options.homeAssistantDiscovery = command.isSet("ha-discovery") || command.isSet("ha-remove");
        if (command.isSet("ha-prefix"))
            options.discoveryPrefix = command.value("ha-prefix");
        if (command.isSet("mqtt-queue")) {
            bool number = false;
            const qlonglong capacity = command.value("mqtt-queue").toLongLong(&number);
            if (!number || capacity < 1 || capacity > 10'000'000)
                throw UsageError(QStringLiteral("--mqtt-queue must be from 1 to 10000000, not '%1'.")
                                     .arg(command.value("mqtt-queue")));
            options.queueCapacity = static_cast<std::size_t>(capacity);
        }
        CheckMqttPublisherOptions(options);
    } catch (const DecimoraError& error) {
        throw UsageError(error.text());
    }
    return options;
}

// Why InfluxDB would refuse every line with this tag key or measurement name; empty when it takes them.
// "time" is the point's own time; names that start with "_" are InfluxDB's ("_measurement", "_field").
QString InfluxReservedName(const QString& what, const QString& name)
{
    if (name == QLatin1String("time"))
        return QStringLiteral("The %1 'time' is InfluxDB's own: every line would be refused.").arg(what);
    if (name.startsWith(QLatin1Char('_')))
        return QStringLiteral("The %1 '%2' starts with '_', which InfluxDB keeps for its own names.").arg(what, name);
    return {};
}

// The names of the InfluxDB lines from live's --measurement and --tag, checked against the protocol.
InfluxNames ReadInfluxNames(const ParsedCommand& command, LineFormat format)
{
    InfluxNames names;
    if ((command.isSet("measurement") || command.isSet("tag")) && format != LineFormat::Influx)
        throw UsageError(QStringLiteral("--measurement and --tag belong to --format influx."));
    if (command.isSet("measurement")) {
        names.measurement = command.value("measurement");
        for (const QString& problem : { InfluxNameProblem(QStringLiteral("measurement"), names.measurement, true),
                 InfluxReservedName(QStringLiteral("measurement"), names.measurement) })
            if (!problem.isEmpty())
                throw UsageError(problem);
    }
    for (const QString& pair : command.values("tag")) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals < 0)
            throw UsageError(QStringLiteral("--tag needs KEY=VALUE, not '%1'.").arg(pair));
        const QString key = pair.left(equals);
        const QString value = pair.mid(equals + 1);
        for (const QString& problem : { InfluxNameProblem(QStringLiteral("tag key"), key, false),
                 InfluxNameProblem(QStringLiteral("tag value"), value, false),
                 InfluxReservedName(QStringLiteral("tag key"), key) })
            if (!problem.isEmpty())
                throw UsageError(problem);
        for (const char* own : { "range", "response", "weighting", "level", "max_hold" })
            if (key == QLatin1String(own))
                throw UsageError(QStringLiteral("The tag '%1' is the reading's own.").arg(key));
        // InfluxDB refuses a line with one tag key twice, whatever the values.
        for (const auto& tag : names.tags)
            if (tag.first == key)
                throw UsageError(QStringLiteral("The tag '%1' is given twice.").arg(key));
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
    std::optional<WebPageRequest> web;
    MeterOptions meter;
};

LiveRequest ReadLiveRequest(const ParsedCommand& command)
{
    LiveRequest request;
    request.intervalMs = command.milliseconds(
        "interval", LiveLog::ShortestIntervalMs, LiveLog::LongestIntervalMs, QStringLiteral("from 0.3 to 3600"));
    const std::optional<LineFormat> lineFormat = LineFormatNamed(command.value("format"));
    if (!lineFormat)
        throw UsageError(
            QStringLiteral("--format must be csv, jsonl or influx, not '%1'.").arg(command.value("format")));
    if (command.isSet("output")) {
        if (command.value("output").isEmpty())
            throw UsageError(QStringLiteral("--output needs a file name."));
        request.target = LineOutput::Target::File;
    }
    if (command.isSet("rotate")) {
        if (command.value("rotate") != QLatin1String("daily"))
            throw UsageError(QStringLiteral("--rotate knows only 'daily', not '%1'.").arg(command.value("rotate")));
        if (!command.isSet("output"))
            throw UsageError(QStringLiteral("--rotate daily needs --output FILE."));
        request.target = LineOutput::Target::DailyFiles;
    }
    if (command.isSet("duration"))
        request.durationMs = command.milliseconds(
            "duration", 1, qint64(10) * 366 * 24 * 3600 * 1000, QStringLiteral("more than 0 (and at most ten years)"));
    request.names = ReadInfluxNames(command, *lineFormat);
    request.mqtt = ReadMqttOptions(command);
    // Three readings missed, and at least a minute: a meter unplugged for longer shows as unavailable.
    if (request.mqtt && request.mqtt->homeAssistantDiscovery)
        request.mqtt->expireAfterSeconds
            = static_cast<int>(std::max<qint64>(60, (3 * request.intervalMs + 999) / 1000));
    // Offline until the first scan has found the meter.
    if (request.mqtt)
        request.mqtt->meterPresent = false;
    request.web = ReadWebPageRequest(command, request.intervalMs);
    // With a broker or the page, lines are written when they are asked for; without, they always are.
    if ((!request.mqtt && !request.web) || command.isSet("output") || command.isSet("format"))
        request.lines = *lineFormat;
    request.outputPath = command.value("output");
    request.meter = command.meterOptions();
    return request;
}

// Logs until the duration is up, a signal ends it, or the readings cannot be passed on.
int RunLiveRequest(const LiveRequest& request)
{
    // Caught from here on, so that a signal during the start ends the tool as cleanly as later.
    SignalEvents signalEvents(request.meter.simulate ? std::initializer_list<int> { SIGINT, SIGTERM, SIGUSR1, SIGUSR2 }
                                                     : std::initializer_list<int> { SIGINT, SIGTERM });
    MeterSession session(request.meter);
    // First, so that a port in use ends the tool before a file is opened or a broker is told anything.
    std::unique_ptr<WebPageSink> page;
    if (request.web)
        page = std::make_unique<WebPageSink>(*request.web, Say);
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
    std::optional<BothSinks> withPage;
    if (page && sink)
        sink = &withPage.emplace(*sink, *page);
    else if (page)
        sink = page.get();
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
    if (broker) {
        QObject::connect(broker.get(), &MqttSink::loginRefused, &loop, [&](const QString& text) {
            Say(text);
            end(ExitFailed);
        });
        // Home Assistant shows the sensors unavailable while the meter is unplugged.
        QObject::connect(&session, &MeterSession::devicesChanged, broker.get(),
            [&] { broker->setMeterPresent(session.module().DeviceConnected); });
    }
    QObject::connect(&signalEvents, &SignalEvents::caught, &loop, [&](int signalNumber) {
        if (!session.pullOrPlugCable(signalNumber))
            end(ExitDone);
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
    if (!log.start(static_cast<int>(realMs(request.intervalMs))))
        throw CliError(QStringLiteral("The meter is busy."));
    const int code = loop.exec();
    log.stop();
    return code;
}

int RunLive(const ParsedCommand& command)
{
    const LiveRequest request = ReadLiveRequest(command);
    if (command.isSet("ha-remove")) {
        RemoveHomeAssistantSensors(*request.mqtt);
        return ExitDone;
    }
    return RunLiveRequest(request);
}

} // namespace

const CliCommand& LiveCommand()
{
    static const CliCommand command {
        .name = "live",
        .summary = "log the live readings as CSV, JSON lines, InfluxDB line protocol or to MQTT",
        .description = "Logs the meter's live readings, one line per reading with its time (ISO 8601 with the offset "
                       "from UTC), level, weighting, range and flags, each line written out at once. Waits for the "
                       "meter when it is unplugged; SIGINT and SIGTERM end it cleanly.",
        .options = WithWebPageOptions({
            { .name = "interval",
                .description = "Seconds between two readings, from 0.3 to 3600 (default 1).",
                .valueName = "S",
                .defaultValue = "1" },
            { .name = "format",
                .description = "csv (default), jsonl (one JSON object a line) or influx (InfluxDB line protocol).",
                .valueName = "FORMAT",
                .defaultValue = "csv",
                .usageValue = "csv|jsonl|influx" },
            { .name = "output",
                .description = "Append the lines to FILE instead of writing them to standard output.",
                .valueName = "FILE" },
            { .name = "rotate",
                .description = "daily: a file per local day, FILE's name with the date before its extension "
                               "(noise.csv -> noise-2026-12-10.csv), started by the first reading after midnight.",
                .valueName = "daily",
                .within = "output" },
            { .name = "duration",
                .description = "End after S seconds (default: run until SIGINT or SIGTERM).",
                .valueName = "S" },
            { .name = "measurement",
                .description = "influx: the measurement's name (default sound_level).",
                .valueName = "NAME" },
            { .name = "tag",
                .description = "influx: one more tag on every line; may be given again.",
                .valueName = "KEY=VALUE",
                .repeatable = true },
            { .name = "mqtt",
                .description = "Publish every reading to the MQTT broker at HOST, HOST:PORT or [IPv6]:PORT (port "
                               "1883 unless given, 8883 with TLS). Lines are then written only with --output or "
                               "--format. A broker that refuses the login ends the tool with exit code 1; one that "
                               "cannot be reached is tried again.",
                .valueName = "HOST[:PORT]" },
            { .name = "topic",
                .description = "mqtt: the topics' prefix (default decimora): PREFIX/state, PREFIX/availability.",
                .valueName = "PREFIX",
                .within = "mqtt" },
            { .name = "ha-discovery",
                .description = "mqtt: also publish retained Home Assistant discovery configs, so that the meter "
                               "appears as three sound pressure sensors: the A-weighted readings (dBA, on "
                               "PREFIX/level_a), the C-weighted ones (dB, PREFIX/level_c) and the LAeq of each "
                               "minute (dBA, PREFIX/laeq_1min), with over- and under-range as attributes. They show "
                               "as unavailable while the meter is unplugged.",
                .within = "mqtt" },
            { .name = "ha-remove",
                .description = "mqtt: remove the Home Assistant sensors that --ha-discovery announced with the same "
                               "--topic and --ha-prefix (empty retained configs), and end; the meter is not needed.",
                .insteadOf = "ha-discovery" },
            { .name = "ha-prefix",
                .description = "ha-discovery, ha-remove: the discovery prefix Home Assistant listens on (default "
                               "homeassistant).",
                .valueName = "PREFIX",
                .within = "ha-discovery" },
            { .name = "mqtt-queue",
                .description = "mqtt: readings kept while the broker is away, the oldest dropped first (default "
                               "3600).",
                .valueName = "N",
                .within = "mqtt" },
            { .name = "mqtt-user",
                .description = "mqtt: log in to the broker as NAME; the password comes from --mqtt-password-file or "
                               "the environment variable DECIMORA_MQTT_PASSWORD.",
                .valueName = "NAME",
                .within = "mqtt" },
            { .name = "mqtt-password-file",
                .description = "mqtt: the password is the first line of FILE.",
                .valueName = "FILE",
                .within = "mqtt-user" },
            { .name = "mqtt-cafile",
                .description = "mqtt: connect with TLS (port 8883 unless given) and trust the broker's certificate if "
                               "the authority in FILE (PEM) signed it for the broker's host name.",
                .valueName = "FILE",
                .within = "mqtt" },
            { .name = "mqtt-cert",
                .description = "mqtt: with TLS, identify with the client certificate in FILE (PEM); needs --mqtt-key.",
                .valueName = "FILE",
                .within = "mqtt-cafile" },
            { .name = "mqtt-key",
                .description = "mqtt: the key of the client certificate (PEM, not encrypted).",
                .valueName = "FILE",
                .within = "mqtt-cafile" },
        }),
        .arguments = {},
        .talksToMeter = true,
        .check = [](const ParsedCommand& command) { ReadLiveRequest(command); },
        .run = RunLive,
    };
    return command;
}
