// decimora-cli run as a user runs it: a separate process, started with QProcess without any display
// (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM removed), talking to the simulated meter. What it
// writes is read back by the programs a user would read it with: Python's csv and json modules, a
// strict reader of the InfluxDB line protocol, openpyxl and xlrd.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "core/SystemTexts.h"
#include "import/GetRecorde.h"
#include "meter/SimulatedMeter.h"
#include "stats/StatisticsRows.h"
#include "store/SqliteReadingStore.h"
#include "support/ChildWindowHarness.h"
#include "support/FifoReader.h"
#include "support/MosquittoBroker.h"
#include "support/NullDevice.h"
#include "support/PdfReading.h"
#include "support/SimulatedLevels.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

QProcessEnvironment HeadlessEnvironment(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    return environment;
}

struct Finished {
    int exitCode = -1;
    bool normalExit = false;
    QString out;
    QString err;
};

class CliTest : public testing::Test {
protected:
    QString file(const QString& name) const { return QDir(folder.path()).filePath(name); }

    // environment: more variables for the tool, as NAME=VALUE.
    void start(QProcess& tool, const QStringList& arguments, const QStringList& environment = {}) const
    {
        QProcessEnvironment variables = HeadlessEnvironment(folder.path());
        for (const QString& variable : environment)
            variables.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
        tool.setProcessEnvironment(variables);
        tool.setWorkingDirectory(folder.path());
        tool.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE), arguments);
        ASSERT_TRUE(tool.waitForStarted());
    }

    Finished run(const QStringList& arguments, const QStringList& environment = {}) const
    {
        QProcess tool;
        start(tool, arguments, environment);
        EXPECT_TRUE(tool.waitForFinished(180000)) << arguments.join(QLatin1Char(' ')).toStdString();
        return { tool.exitCode(), tool.exitStatus() == QProcess::NormalExit,
            QString::fromLocal8Bit(tool.readAllStandardOutput()), QString::fromLocal8Bit(tool.readAllStandardError()) };
    }

    // Runs a Python program (Debian's) and returns its standard output; fails the test on its failure.
    static QByteArray python(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess program;
        program.start(QStringLiteral("/usr/bin/python3"), arguments);
        program.write(input);
        program.closeWriteChannel();
        EXPECT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        return program.readAllStandardOutput();
    }

    // The readings in files of the format, as the strict reader found them.
    static QJsonArray liveReadings(const QString& format, const QStringList& files)
    {
        const QByteArray json
            = python(QStringList { QStringLiteral(DECIMORA_CLI_TEST_DIR "/live_lines.py"), format } + files);
        return QJsonDocument::fromJson(json).object().value(QLatin1String("readings")).toArray();
    }

    static std::vector<int> tenthsOf(const QJsonArray& readings)
    {
        std::vector<int> tenths;
        for (const QJsonValue& reading : readings)
            tenths.push_back(qRound(reading.toObject().value(QLatin1String("level")).toDouble() * 10));
        return tenths;
    }

    static int lineCount(const QString& path) { return static_cast<int>(readFile(path).count('\n')); }

    QTemporaryDir folder;
};

std::vector<int> Prefix(const std::vector<int>& levels, std::size_t count)
{
    return { levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(std::min(count, levels.size())) };
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000)
{
    return TestModule::waitUntil(condition, timeoutMs);
}

// ---------------------------------------------------------------------------------------------------
// live

TEST_F(CliTest, LiveWritesEveryReadingInEachFormatForOtherProgramsToRead)
{
    const std::vector<int> expected = SimulatedLevels(100);
    for (const char* format : { "csv", "jsonl", "influx" }) {
        SCOPED_TRACE(format);
        const QString output = file(QStringLiteral("live.") + QLatin1String(format));
        const Finished done = run({ "live", "--simulate-meter", "--interval", "0.3", "--duration", "2", "--format",
            format, "--output", output });
        ASSERT_TRUE(done.normalExit);
        ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
        EXPECT_EQ(done.out, QString());

        const QJsonArray readings = liveReadings(QLatin1String(format), { output });
        ASSERT_GE(readings.size(), 3);
        // Every reading of the meter, in order, none lost or repeated.
        EXPECT_EQ(tenthsOf(readings), Prefix(expected, std::size_t(readings.size())));
        qint64 previous = 0;
        for (const QJsonValue& value : readings) {
            const QJsonObject reading = value.toObject();
            const qint64 time = qint64(reading.value(QLatin1String("time_ms")).toDouble());
            EXPECT_GT(time, previous);
            previous = time;
            const double level = reading.value(QLatin1String("level")).toDouble();
            EXPECT_GE(level, 30.0);
            EXPECT_LE(level, 140.0);
            // The simulated meter starts fast, A weighted, 30-130 dB, max hold off.
            EXPECT_EQ(reading.value(QLatin1String("weighting")).toString(), "A");
            EXPECT_EQ(reading.value(QLatin1String("range")).toString(), "30-130");
            EXPECT_EQ(reading.value(QLatin1String("response")).toString(), "fast");
            EXPECT_FALSE(reading.value(QLatin1String("max_hold")).toBool());
        }
    }
}

TEST_F(CliTest, LiveToStandardOutputAndInfluxNamesWithTheProtocolsEscapes)
{
    const Finished done = run({ "live", "--simulate-meter", "--interval", "0.3", "--duration", "1", "--format",
        "influx", "--measurement", "noise level,site", "--tag", "place=north gate, east", "--tag", "a=b=c" });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    const QString output = file(QStringLiteral("stdout.influx"));
    writeFile(output, done.out.toUtf8());
    const QByteArray json
        = python({ QStringLiteral(DECIMORA_CLI_TEST_DIR "/live_lines.py"), QStringLiteral("influx"), output });
    const QJsonArray tags = QJsonDocument::fromJson(json).object().value(QLatin1String("tags")).toArray();
    ASSERT_GE(tags.size(), 1);
    for (const QJsonValue& value : tags) {
        const QJsonObject line = value.toObject();
        EXPECT_EQ(line.value(QLatin1String("measurement")).toString(), "noise level,site");
        const QJsonObject lineTags = line.value(QLatin1String("tags")).toObject();
        EXPECT_EQ(lineTags.value(QLatin1String("place")).toString(), "north gate, east");
        EXPECT_EQ(lineTags.value(QLatin1String("a")).toString(), "b=c");
        EXPECT_EQ(lineTags.value(QLatin1String("weighting")).toString(), "A");
    }
}

TEST_F(CliTest, InfluxDbTakesTheLinesAndGivesBackEveryReading)
{
    const QString lines = file(QStringLiteral("live.influx"));
    const Finished done = run({ "live", "--simulate-meter", "--interval", "0.3", "--duration", "1.5", "--format",
        "influx", "--measurement", "noise level,site", "--tag", "place=north gate", "--output", lines });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    const QJsonArray written = liveReadings(QStringLiteral("influx"), { lines });
    ASSERT_GE(written.size(), 3);

    const QJsonArray stored
        = QJsonDocument::fromJson(python({ QStringLiteral(DECIMORA_CLI_TEST_DIR "/influx_roundtrip.py"), lines,
                                      QStringLiteral("noise level,site") }))
              .object()
              .value(QLatin1String("points"))
              .toArray();
    ASSERT_EQ(stored.size(), written.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QJsonObject point = stored[i].toObject();
        const QJsonObject reading = written[i].toObject();
        EXPECT_EQ(point.value(QLatin1String("level")).toDouble(), reading.value(QLatin1String("level")).toDouble());
        EXPECT_EQ(point.value(QLatin1String("max_hold")).toBool(), false);
        EXPECT_EQ(point.value(QLatin1String("place")).toString(), "north gate");
        EXPECT_EQ(point.value(QLatin1String("weighting")).toString(), "A");
        EXPECT_EQ(point.value(QLatin1String("range")).toString(), "30-130");
        EXPECT_EQ(qRound64(point.value(QLatin1String("time_ns")).toDouble() / 1e6),
            qint64(reading.value(QLatin1String("time_ms")).toDouble()));
    }
}

TEST_F(CliTest, LiveWaitsThroughAnUnplugLosesNothingAfterTheReplugAndEndsOnSigtermWithACompleteLine)
{
    const QString output = file(QStringLiteral("unplug.csv"));
    QProcess tool;
    start(tool, { "live", "--simulate-meter", "--interval", "0.3", "--output", output });
    QString errors;
    const auto saidSoFar = [&] {
        errors += QString::fromLocal8Bit(tool.readAllStandardError());
        return errors;
    };
    // The header and three readings.
    ASSERT_TRUE(WaitFor([&] { return lineCount(output) >= 4; }));
    const int beforeUnplug = lineCount(output) - 1;
    ::kill(static_cast<pid_t>(tool.processId()), SIGUSR1);
    ASSERT_TRUE(WaitFor([&] { return saidSoFar().contains(QLatin1String("unplugged; waiting")); }))
        << errors.toStdString();
    const int whileUnplugged = lineCount(output) - 1;
    // Requests keep falling due while the cable is out; nothing may come of them.
    QTest::qWait(1000);
    EXPECT_EQ(lineCount(output) - 1, whileUnplugged);
    ::kill(static_cast<pid_t>(tool.processId()), SIGUSR2);
    ASSERT_TRUE(WaitFor([&] { return saidSoFar().contains(QLatin1String("back; logging goes on")); }))
        << errors.toStdString();
    ASSERT_TRUE(WaitFor([&] { return lineCount(output) - 1 >= whileUnplugged + 4; }));
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0) << saidSoFar().toStdString();

    // The reader refuses a file whose last line is not complete.
    const std::vector<int> written = tenthsOf(liveReadings(QStringLiteral("csv"), { output }));
    const std::vector<int> expected = SimulatedLevels(int(written.size()) + 1);
    if (written != Prefix(expected, written.size())) {
        // Only the reading asked for as the cable was pulled may be missing; everything after the
        // replug follows on without a gap.
        std::size_t gap = 0;
        while (gap < written.size() && written[gap] == expected[gap])
            ++gap;
        EXPECT_GE(gap, std::size_t(beforeUnplug));
        EXPECT_LE(gap, std::size_t(whileUnplugged));
        std::vector<int> withoutGap = expected;
        withoutGap.erase(withoutGap.begin() + static_cast<std::ptrdiff_t>(gap));
        EXPECT_EQ(written, Prefix(withoutGap, written.size()));
    }
}

// A run of months: longer than a QTimer holds in milliseconds (2^31 - 1, 24.8 days), a duration once
// ended the run at once (just over 2^32 ms, which wraps to almost nothing) or never at all. It logs on
// until it is told to end.
TEST_F(CliTest, LiveForLongerThanATimerHoldsLogsOnUntilItsEnd)
{
    for (const char* seconds : { "4294968", "2592000" }) {
        SCOPED_TRACE(seconds);
        const QString output = file(QStringLiteral("long-%1.csv").arg(QLatin1String(seconds)));
        QProcess tool;
        start(tool, { "live", "--simulate-meter", "--interval", "0.3", "--duration", seconds, "--output", output });
        ASSERT_TRUE(WaitFor([&] { return lineCount(output) >= 6; })) << tool.readAllStandardError().toStdString();
        EXPECT_EQ(tool.state(), QProcess::Running);
        tool.terminate();
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 0);
    }
}

// Readings to a real mosquitto, watched with mosquitto_sub, and at the same time as JSON lines to a
// file: the file says which readings were taken, the broker must have every one of them, also those
// taken while it was stopped.
TEST_F(CliTest, LiveToMqttAnnouncesTheSensorAndDeliversTheReadingsTakenWhileTheBrokerWasAway)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    MqttSubscriber subscriber(broker, { QStringLiteral("noise/#"), QStringLiteral("home/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();

    const QString lines = file(QStringLiteral("mqtt.jsonl"));
    QProcess tool;
    start(tool,
        { "live", "--simulate-meter", "--interval", "0.3", "--mqtt", broker.address(), "--topic", "noise",
            "--ha-discovery", "--ha-prefix", "home", "--format", "jsonl", "--output", lines });
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("noise/state"), 3)) << subscriber.error().toStdString();

    broker.stop();
    const int atStop = lineCount(lines);
    ASSERT_TRUE(WaitFor([&] { return lineCount(lines) >= atStop + 5; })) << "readings go on without the broker";
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    const int atRestart = lineCount(lines);
    ASSERT_TRUE(WaitFor([&] { return lineCount(lines) >= atRestart + 3; }));
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished(60000));
    const QString said = QString::fromLocal8Bit(tool.readAllStandardError());
    EXPECT_EQ(tool.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String("MQTT: connected to"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String("MQTT: no connection to"))) << said.toStdString();

    QList<QByteArray> taken = readFile(lines).split('\n');
    taken.removeAll(QByteArray());
    ASSERT_GE(taken.size(), atRestart + 3);
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("noise/state"), int(taken.size())))
        << subscriber.error().toStdString();
    // At least once: a reading whose acknowledgement went down with the broker comes again. Each
    // reading's time makes it unique, so the first arrival of each is what counts.
    QList<QByteArray> arrived;
    for (const MqttMessage& message : subscriber.messages(QStringLiteral("noise/state")))
        if (!arrived.contains(message.payload))
            arrived.append(message.payload);
    EXPECT_EQ(arrived, taken);

    // Home Assistant finds the sensor through a retained config, also when it subscribes later, under
    // the discovery prefix it was given; the sensor of this topic is one of its own.
    MqttSubscriber homeAssistant(broker, { QStringLiteral("home/#") }, QStringLiteral("decimora-test-home-assistant"));
    ASSERT_TRUE(homeAssistant.start()) << homeAssistant.error().toStdString();
    ASSERT_TRUE(WaitFor([&] { return homeAssistant.messages().size() >= 3; }, 15000));
    const QList<MqttMessage> configs = homeAssistant.messages();
    const auto config = std::find_if(configs.begin(), configs.end(),
        [](const MqttMessage& m) { return m.topic.endsWith(QLatin1String("/level_a/config")); });
    ASSERT_NE(config, configs.end());
    EXPECT_TRUE(config->retained);
    EXPECT_TRUE(config->topic.startsWith(QLatin1String("home/sensor/decimora_"))) << config->topic.toStdString();
    EXPECT_TRUE(config->topic.endsWith(QLatin1String("_noise/level_a/config"))) << config->topic.toStdString();
    const QJsonObject sensor = QJsonDocument::fromJson(config->payload).object();
    EXPECT_EQ(sensor.value(QLatin1String("device_class")).toString(), "sound_pressure");
    EXPECT_EQ(sensor.value(QLatin1String("unit_of_measurement")).toString(), "dBA");
    EXPECT_EQ(sensor.value(QLatin1String("state_topic")).toString(), "noise/level_a");
    EXPECT_EQ(sensor.value(QLatin1String("availability_topic")).toString(), "noise/availability");
    // Three readings of 0.3 s missed would be too short a wait: at least a minute.
    EXPECT_EQ(sensor.value(QLatin1String("expire_after")).toInt(), 60);
}

// Home Assistant as it meets the tool: it subscribes after the tool has announced the sensors, finds
// the retained configs of all three, sees them go unavailable while the meter is unplugged and come
// back, and sees --ha-remove take them away. The clock runs 60 times as fast, so minutes pass in
// seconds: a reading every 18 s of the tool's clock, 0.3 s of the real one.
TEST_F(CliTest, HomeAssistantFindsTheSensorsSeesTheUnplugAndLosesThemToHaRemove)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    MqttSubscriber readings(broker, { QStringLiteral("site/#") });
    ASSERT_TRUE(readings.start()) << readings.error().toStdString();
    const QStringList mqtt { "--mqtt", broker.address(), "--topic", "site", "--ha-prefix", "ha" };
    QProcess tool;
    start(tool,
        QStringList { "live", "--simulate-meter", "--pretend-rate", "60", "--interval", "18", "--ha-discovery" }
            + mqtt);
    ASSERT_TRUE(readings.waitForMessages(QStringLiteral("site/laeq_1min"), 2)) << readings.error().toStdString();

    MqttSubscriber homeAssistant(
        broker, { QStringLiteral("ha/#"), QStringLiteral("site/availability") }, QStringLiteral("home-assistant"));
    ASSERT_TRUE(homeAssistant.start()) << homeAssistant.error().toStdString();
    ASSERT_TRUE(WaitFor([&] { return homeAssistant.messages().size() >= 4; }, 15000));
    QString deviceId;
    for (const char* key : { "level_a", "level_c", "laeq_1min" }) {
        SCOPED_TRACE(key);
        const QList<MqttMessage> all = homeAssistant.messages();
        const auto config = std::find_if(all.begin(), all.end(), [&](const MqttMessage& m) {
            return m.topic.endsWith(QStringLiteral("/%1/config").arg(QLatin1String(key)));
        });
        ASSERT_NE(config, all.end());
        EXPECT_TRUE(config->retained);
        // ha/sensor/DEVICE/KEY/config: one device, a sensor a key.
        const QStringList levels = config->topic.split(QLatin1Char('/'));
        ASSERT_EQ(levels.size(), 5) << config->topic.toStdString();
        EXPECT_EQ(levels[1], "sensor");
        if (deviceId.isEmpty())
            deviceId = levels[2];
        EXPECT_EQ(levels[2], deviceId);
        EXPECT_TRUE(deviceId.startsWith(QLatin1String("decimora_")) && deviceId.endsWith(QLatin1String("_site")))
            << deviceId.toStdString();
        const QJsonObject sensor = QJsonDocument::fromJson(config->payload).object();
        EXPECT_EQ(
            sensor.value(QLatin1String("unique_id")).toString(), deviceId + QLatin1Char('_') + QLatin1String(key));
        EXPECT_EQ(sensor.value(QLatin1String("state_topic")).toString(), QStringLiteral("site/") + QLatin1String(key));
        EXPECT_EQ(sensor.value(QLatin1String("unit_of_measurement")).toString(),
            QLatin1String(key) == QLatin1String("level_c") ? "dB" : "dBA");
        EXPECT_EQ(sensor.value(QLatin1String("device_class")).toString(), "sound_pressure");
        EXPECT_EQ(sensor.value(QLatin1String("state_class")).toString(), "measurement");
        EXPECT_EQ(sensor.value(QLatin1String("availability_topic")).toString(), "site/availability");
        EXPECT_EQ(
            sensor.value(QLatin1String("origin")).toObject().value(QLatin1String("name")).toString(), "decimora-cli");
        // A reading every 18 s: a minute, the shortest wait; the minute's sensor waits three.
        EXPECT_EQ(sensor.value(QLatin1String("expire_after")).toInt(),
            QLatin1String(key) == QLatin1String("laeq_1min") ? 180 : 60);
    }
    EXPECT_EQ(homeAssistant.messages(QStringLiteral("site/availability")).first().payload, "online");

    // The cable pulled: the sensors are unavailable, and available again once it is back.
    ::kill(static_cast<pid_t>(tool.processId()), SIGUSR1);
    ASSERT_TRUE(homeAssistant.waitForMessages(QStringLiteral("site/availability"), 2));
    ::kill(static_cast<pid_t>(tool.processId()), SIGUSR2);
    ASSERT_TRUE(homeAssistant.waitForMessages(QStringLiteral("site/availability"), 3));
    QList<QByteArray> availability;
    for (const MqttMessage& m : homeAssistant.messages(QStringLiteral("site/availability")))
        availability.append(m.payload);
    EXPECT_EQ(availability, QList<QByteArray>({ "online", "offline", "online" }));
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    // The simulated meter is A-weighted: its sensor got every reading, the C sensor none; each minute's
    // LAeq is the mean energy of that minute's readings.
    const QList<MqttMessage> levelA = readings.messages(QStringLiteral("site/level_a"));
    EXPECT_EQ(levelA.size(), readings.messages(QStringLiteral("site/state")).size());
    EXPECT_TRUE(readings.messages(QStringLiteral("site/level_c")).isEmpty());
    std::map<QString, std::pair<double, int>> energy; // by minute
    for (const MqttMessage& m : levelA) {
        const QJsonObject reading = QJsonDocument::fromJson(m.payload).object();
        EXPECT_EQ(reading.value(QLatin1String("weighting")).toString(), "A");
        EXPECT_TRUE(reading.contains(QLatin1String("over_range")) && reading.contains(QLatin1String("under_range")));
        auto& [sum, count] = energy[reading.value(QLatin1String("time")).toString().left(16)];
        sum += std::pow(10.0, reading.value(QLatin1String("level")).toDouble() / 10);
        ++count;
    }
    for (const MqttMessage& m : readings.messages(QStringLiteral("site/laeq_1min"))) {
        const QJsonObject minute = QJsonDocument::fromJson(m.payload).object();
        const auto [sum, count] = energy[minute.value(QLatin1String("time")).toString().left(16)];
        EXPECT_EQ(minute.value(QLatin1String("readings")).toInt(), count) << m.payload.toStdString();
        EXPECT_NEAR(minute.value(QLatin1String("laeq")).toDouble(), 10 * std::log10(sum / std::max(count, 1)), 0.05);
    }

    // --ha-remove needs no meter: the configs are emptied, and a Home Assistant that comes later finds none.
    const Finished removed = run(QStringList { "live", "--ha-remove" } + mqtt);
    EXPECT_EQ(removed.exitCode, 0) << removed.err.toStdString();
    EXPECT_TRUE(removed.err.contains(QStringLiteral("removed the Home Assistant sensors of %1").arg(deviceId)))
        << removed.err.toStdString();
    for (const char* key : { "level_a", "level_c", "laeq_1min" }) {
        const QString topic = QStringLiteral("ha/sensor/%1/%2/config").arg(deviceId, QLatin1String(key));
        ASSERT_TRUE(homeAssistant.waitForMessages(topic, 2)) << key;
        EXPECT_EQ(homeAssistant.messages(topic).last().payload, QByteArray()) << key;
    }
    MqttSubscriber later(broker, { QStringLiteral("ha/#") }, QStringLiteral("home-assistant-later"));
    ASSERT_TRUE(later.start()) << later.error().toStdString();
    QTest::qWait(500);
    EXPECT_TRUE(later.messages().isEmpty()) << later.messages().first().topic.toStdString();

    // A broker that is not there: the sensors cannot be removed, and the tool says so.
    broker.stop();
    const Finished unreachable = run(QStringList { "live", "--ha-remove", "--mqtt", broker.address() });
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_TRUE(unreachable.err.contains(QLatin1String("could not remove the Home Assistant sensors (cannot reach")))
        << unreachable.err.toStdString();
}

// No broker at all and a queue of two: every reading beyond the two newest is dropped and counted,
// and the end says what was dropped and what could not be sent; together they are every reading.
TEST_F(CliTest, LiveToAnAbsentBrokerCountsTheReadingsItDropsAndLeaves)
{
    const MosquittoBroker nothingListening; // a free port, never started
    const QString lines = file(QStringLiteral("queue.jsonl"));
    const Finished done = run({ "live", "--simulate-meter", "--interval", "0.3", "--duration", "2", "--mqtt",
        nothingListening.address(), "--mqtt-queue", "2", "--format", "jsonl", "--output", lines });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    const int taken = lineCount(lines);
    ASSERT_GE(taken, 4);
    EXPECT_TRUE(done.err.contains(QLatin1String("MQTT: no connection to"))) << done.err.toStdString();
    EXPECT_TRUE(done.err.contains(QLatin1String("the queue is full"))) << done.err.toStdString();
    EXPECT_TRUE(done.err.contains(QStringLiteral("MQTT: %1 readings dropped in all").arg(taken - 2)))
        << done.err.toStdString();
    EXPECT_TRUE(done.err.contains(QLatin1String("MQTT: 2 readings could not be sent"))) << done.err.toStdString();
}

// One run of live against a broker that wants a login or TLS: what it is given, how it ends, and
// whether the readings it took reached the broker.
struct BrokerCase {
    const char* what;
    QStringList arguments;
    QStringList environment;
    int exitCode;
    // A line the error output holds exactly once.
    QString said;
    bool delivered;
};

// Runs each case for two seconds with its own topic, next to a subscriber that watches every topic:
// a delivered case's readings (the JSON lines it wrote) must all have arrived, a refused one's none.
class CliBrokerTest : public CliTest {
protected:
    void checkLiveToBroker(MqttSubscriber& subscriber, const QString& broker, const std::vector<BrokerCase>& cases)
    {
        int number = 0;
        for (const BrokerCase& c : cases) {
            SCOPED_TRACE(c.what);
            const QString topic = QStringLiteral("case%1").arg(++number);
            const QString lines = file(topic + QStringLiteral(".jsonl"));
            const Finished done = run(QStringList { "live", "--simulate-meter", "--interval", "0.3", "--duration", "2",
                                          "--mqtt", broker, "--topic", topic, "--format", "jsonl", "--output", lines }
                    + c.arguments,
                c.environment);
            EXPECT_EQ(done.exitCode, c.exitCode) << done.err.toStdString();
            EXPECT_EQ(done.err.count(c.said), 1) << done.err.toStdString();
            const QString state = topic + QStringLiteral("/state");
            if (c.delivered) {
                const int taken = lineCount(lines);
                EXPECT_GE(taken, 3);
                EXPECT_TRUE(subscriber.waitForMessages(state, taken)) << subscriber.error().toStdString();
            } else {
                EXPECT_EQ(subscriber.messages(state).size(), 0);
            }
        }
    }
};

// A broker with a password file refuses anonymous clients: the login is taken from a file or the
// environment; a refused one is told once and ends the tool, since trying again cannot help.
TEST_F(CliBrokerTest, LiveLogsInToABrokerThatRefusesAnonymousClients)
{
    MosquittoSecurity security;
    security.users = { { QStringLiteral("meter"), QStringLiteral("s3cret") },
        { QStringLiteral("watcher"), QStringLiteral("w4tch") } };
    MosquittoBroker broker(security);
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    MqttSubscriber subscriber(broker, { QStringLiteral("#") });
    subscriber.addArguments({ "-u", "watcher", "-P", "w4tch" });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    writeFile(file(QStringLiteral("password")), "s3cret\n");
    writeFile(file(QStringLiteral("wrong")), "guess\n");

    const QString refused = QStringLiteral("refused the login: not authorised. Check --mqtt-user and the password.");
    const std::vector<BrokerCase> cases = {
        { "password file", { "--mqtt-user", "meter", "--mqtt-password-file", file(QStringLiteral("password")) }, {}, 0,
            "MQTT: connected to", true },
        { "password in the environment", { "--mqtt-user", "meter" }, { "DECIMORA_MQTT_PASSWORD=s3cret" }, 0,
            "MQTT: connected to", true },
        { "a wrong password file wins over the environment",
            { "--mqtt-user", "meter", "--mqtt-password-file", file(QStringLiteral("wrong")) },
            { "DECIMORA_MQTT_PASSWORD=s3cret" }, 1, refused, false },
        { "anonymous", {}, {}, 1, refused, false },
    };
    checkLiveToBroker(subscriber, broker.address(), cases);
}

// A TLS listener that wants a client certificate, with certificates made by openssl here: the right
// authority and certificate deliver; a wrong authority, a missing certificate or no TLS at all are
// told in words and tried again, as the broker's certificate may be mended while the tool runs.
TEST_F(CliBrokerTest, LiveReachesABrokerOverTlsWithAClientCertificate)
{
    QString error;
    ASSERT_TRUE(MakeTestCertificates(folder.path(), error)) << error.toStdString();
    MosquittoSecurity security;
    security.caFile = file(QStringLiteral("ca.pem"));
    security.certFile = file(QStringLiteral("broker.pem"));
    security.keyFile = file(QStringLiteral("broker.key"));
    security.requireCertificate = true;
    MosquittoBroker broker(security);
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    MqttSubscriber subscriber(broker, { QStringLiteral("#") });
    subscriber.addArguments({ "--cafile", file(QStringLiteral("ca.pem")), "--cert", file(QStringLiteral("client.pem")),
        "--key", file(QStringLiteral("client.key")) });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();

    const QStringList client { "--mqtt-cert", file(QStringLiteral("client.pem")), "--mqtt-key",
        file(QStringLiteral("client.key")) };
    const std::vector<BrokerCase> cases = {
        { "the broker's authority and a client certificate",
            QStringList { "--mqtt-cafile", file(QStringLiteral("ca.pem")) } + client, {}, 0, "MQTT: connected to",
            true },
        { "an authority that did not sign the broker's certificate",
            QStringList { "--mqtt-cafile", file(QStringLiteral("stranger-ca.pem")) } + client, {}, 0,
            "certificate verify failed", false },
        { "no TLS", {}, {}, 0, "closed the connection without an answer (does it want TLS?)", false },
    };
    checkLiveToBroker(subscriber, broker.address(), cases);

    // Without a port, TLS goes to 8883.
    const Finished tlsPort = run({ "live", "--simulate-meter", "--duration", "1", "--mqtt", "127.0.0.1",
        "--mqtt-cafile", file(QStringLiteral("ca.pem")) });
    EXPECT_TRUE(tlsPort.err.contains(QLatin1String("MQTT: no connection to 127.0.0.1:8883")))
        << tlsPort.err.toStdString();
}

TEST_F(CliTest, LiveRotatesDailyAtLocalMidnightWithoutLosingAReading)
{
    const Finished done = run(
        { "live", "--simulate-meter", "--pretend-start=2026-12-10T23:59:57.600", "--interval", "0.5", "--duration", "5",
            "--format", "jsonl", "--output", file(QStringLiteral("noise.jsonl")), "--rotate", "daily" });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList({ QStringLiteral("noise*") }, QDir::Files),
        QStringList({ "noise-2026-12-10.jsonl", "noise-2026-12-11.jsonl" }));
    std::vector<int> levels;
    for (const char* day : { "2026-12-10", "2026-12-11" }) {
        const QByteArray content = readFile(file(QStringLiteral("noise-%1.jsonl").arg(QLatin1String(day))));
        ASSERT_TRUE(content.endsWith('\n')) << day;
        const QList<QByteArray> lines = content.trimmed().split('\n');
        EXPECT_GE(lines.size(), 1) << day;
        for (const QByteArray& line : lines) {
            QJsonParseError error {};
            const QJsonObject reading = QJsonDocument::fromJson(line, &error).object();
            ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            EXPECT_TRUE(reading.value(QLatin1String("time")).toString().startsWith(QLatin1String(day)))
                << line.toStdString();
            levels.push_back(qRound(reading.value(QLatin1String("level")).toDouble() * 10));
        }
    }
    EXPECT_EQ(levels, Prefix(SimulatedLevels(int(levels.size())), levels.size()));
}

// ---------------------------------------------------------------------------------------------------
// download

// 0xFD, status, second, minute, hour, day, month, year (BCD), interval; then 65.3 and 70.1 dB packed
// into three bytes; then a C-weighted run; the end mark.
const Bytes SmallMemory { 0xFD, 0x00, 0x30, 0x05, 0x09, 0x12, 0x05, 0x06, 0x0A, 0x51, 0xA5, 0x7A, 0xFD, 0x10, 0x00,
    0x00, 0x08, 0x13, 0x05, 0x06, 0x3C, 0x51, 0xA5, 0x7A, 0x51, 0xA5, 0x7A, 0xFF };

// What the import window saves after downloading memory: the reference for the tool's data file.
QByteArray ImportWindowSave(const Bytes& memory, const QString& path)
{
    QTemporaryDir tables;
    TestModule fixture { std::make_unique<SqliteReadingStore>(QDir(tables.path()).filePath("Decimora.mdb")) };
    EXPECT_TRUE(fixture.connect());
    TForm6& m = *fixture.module;
    m.MeasureSaved = true;
    m.ImportCommandEnabled = true;
    m.FormsReady = true;
    ChildWindowHarness<TForm4> shown;
    EXPECT_TRUE(shown.open(m, ChildWindowKind::Import));
    fixture.meter.setLoggedMemory(memory);
    QTest::mouseClick(shown.button("ImportButton"), Qt::LeftButton);
    fixture.ui.saveFileNames.push_back(path);
    QTest::mouseClick(shown.button("SaveButton"), Qt::LeftButton);
    return readFile(path);
}

// The meter does not say how many readings it holds until it has sent them: a download to an .xls
// ends as soon as the readings are more than its sheet takes, rather than after all of them, and
// writes nothing. With --raw the download goes on for the dump, which is kept, and the .xls is refused.
TEST_F(CliTest, DownloadToXlsStopsOnceTheReadingsPassItsRowLimit)
{
    const auto memoryOf = [&](int readings) {
        LoggedRun run { 0x40, QDateTime(QDate(2026, 12, 1), QTime(8, 0)), 1,
            std::vector<int>(std::size_t(readings), 653) };
        const Bytes memory = EncodeLoggedMemory({ run });
        const QString path = file(QStringLiteral("memory-%1.bin").arg(readings));
        writeFile(path, QByteArray(reinterpret_cast<const char*>(memory.data()), qsizetype(memory.size())));
        return path;
    };
    const QString fits = memoryOf(65534);
    const QString twoMore = memoryOf(65536);
    const QString farMore = memoryOf(80000);
    const QString stopped = QStringLiteral("decimora-cli: The meter holds more than 65,534 readings, more than an .xls "
                                           "file takes; the download stopped there and nothing was written. Name the "
                                           "output file *.xlsx to download them all.");
    const struct {
        const char* what;
        QString memory;
        bool raw;
        int exitCode;
        // A line of the error output; empty for none to check.
        QString said;
        bool done;
    } cases[] = {
        { "as many as fit", fits, false, 0, "downloaded 65534 readings, 98311 bytes, done", true },
        // The last block brings the last readings with the end mark: the sheet refuses them.
        { "two more", twoMore, false, 1, "65,536 records do not fit in an .xls file", true },
        { "far more", farMore, false, 1, stopped, false },
        { "far more, with the dump", farMore, true, 1, "80,000 records do not fit in an .xls file", true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString xls = file(QStringLiteral("out.xls"));
        const QString raw = file(QStringLiteral("out.bin"));
        QFile::remove(xls);
        QFile::remove(raw);
        QStringList arguments { "download", "--simulate-meter=" + c.memory, "--output", xls };
        if (c.raw)
            arguments += { "--raw", raw };
        const Finished done = run(arguments);
        EXPECT_EQ(done.exitCode, c.exitCode) << done.err.toStdString();
        EXPECT_TRUE(done.err.contains(c.said)) << done.err.toStdString();
        // The last progress line says whether the download went to the end mark.
        EXPECT_EQ(done.err.contains(QLatin1String(", done")), c.done) << done.err.toStdString();
        EXPECT_EQ(QFileInfo::exists(xls), c.exitCode == 0);
        EXPECT_EQ(QFileInfo::exists(raw), c.raw);
        if (c.raw) {
            EXPECT_EQ(readFile(raw), readFile(c.memory));
        }
    }
}

TEST_F(CliTest, DownloadWritesTheImportWindowsDataFileAndARawDumpThatReplaysToTheSameRows)
{
    const QString memoryFile = file(QStringLiteral("memory.bin"));
    writeFile(memoryFile, QByteArray(reinterpret_cast<const char*>(SmallMemory.data()), qsizetype(SmallMemory.size())));
    const QByteArray reference = ImportWindowSave(SmallMemory, file(QStringLiteral("window.dmr")));
    ASSERT_TRUE(reference.startsWith("@Zentrobasis Decimora File")) << reference.toStdString();

    const Finished first = run({ "download", "--simulate-meter=" + memoryFile, "--output",
        file(QStringLiteral("tool.dmr")), "--raw", file(QStringLiteral("dump.bin")) });
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(readFile(file(QStringLiteral("tool.dmr"))), reference);
    // The bytes as the meter sent them, up to and including the end mark.
    EXPECT_EQ(readFile(file(QStringLiteral("dump.bin"))), readFile(memoryFile));
    // Standard error is no terminal here: plain progress lines, the last one saying it is done.
    EXPECT_TRUE(first.err.contains(QLatin1String("downloaded 6 readings, 28 bytes, done"))) << first.err.toStdString();

    // The default memory of the simulated meter, dumped and replayed.
    const Finished dumped = run({ "download", "--simulate-meter", "--output", file(QStringLiteral("default.dmr")),
        "--raw", file(QStringLiteral("default.bin")) });
    ASSERT_EQ(dumped.exitCode, 0) << dumped.err.toStdString();
    const QByteArray dump = readFile(file(QStringLiteral("default.bin")));
    ASSERT_TRUE(dump.endsWith('\xFF'));
    EXPECT_EQ(dump.count('\xFF'), 1);
    const Finished replayed = run({ "download", "--simulate-meter=" + file(QStringLiteral("default.bin")), "--output",
        file(QStringLiteral("replayed.dmr")) });
    ASSERT_EQ(replayed.exitCode, 0) << replayed.err.toStdString();
    EXPECT_EQ(readFile(file(QStringLiteral("replayed.dmr"))), readFile(file(QStringLiteral("default.dmr"))));
    EXPECT_EQ(readFile(file(QStringLiteral("default.dmr"))).count("\r\n"), 2 + 3120);
}

TEST_F(CliTest, ADownloadOnATerminalDrawsItsProgressBarInPlace)
{
    // script(1) gives the tool a terminal and copies what it shows; the terminal ends lines in CR LF.
    QProcess terminal;
    terminal.setProcessEnvironment(HeadlessEnvironment(folder.path()));
    terminal.setWorkingDirectory(folder.path());
    terminal.start(QStringLiteral("script"),
        { "-qec", QStringLiteral(DECIMORA_CLI_EXECUTABLE " download --simulate-meter --output shown.dmr"),
            "/dev/null" });
    ASSERT_TRUE(terminal.waitForFinished(180000));
    EXPECT_EQ(terminal.exitCode(), 0);
    const QByteArray shown = terminal.readAllStandardOutput();
    EXPECT_TRUE(shown.startsWith("\rDownloading [")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("\rDownloading [========================] 3120 readings, 4708 bytes\r\n"))
        << shown.toStdString();
    EXPECT_EQ(shown.count('\n'), 1);
    EXPECT_TRUE(readFile(file(QStringLiteral("shown.dmr"))).startsWith("@Zentrobasis Decimora File\r\nTotal:3120\r\n"));
}

TEST_F(CliTest, ADownloadCutByAnUnplugEndsWithOneMessageAndNoFile)
{
    // A memory long enough that the download is still running when the cable is pulled: 200,000
    // readings, announced by a progress line after the first second.
    Bytes memory { 0xFD, 0x40, 0x00, 0x00, 0x10, 0x01, 0x06, 0x26, 0x01 };
    for (int i = 0; i < 100000; ++i)
        memory.insert(memory.end(), { 0x51, 0xA5, 0x7A });
    memory.push_back(0xFF);
    const QString memoryFile = file(QStringLiteral("long.bin"));
    writeFile(memoryFile, QByteArray(reinterpret_cast<const char*>(memory.data()), qsizetype(memory.size())));
    const QString output = file(QStringLiteral("cut.dmr"));
    const QString raw = file(QStringLiteral("cut.bin"));

    QProcess tool;
    start(tool, { "download", "--simulate-meter=" + memoryFile, "--output", output, "--raw", raw });
    QString errors;
    ASSERT_TRUE(WaitFor([&] {
        errors += QString::fromLocal8Bit(tool.readAllStandardError());
        return errors.contains(QLatin1String("downloaded"));
    })) << errors.toStdString();
    ::kill(static_cast<pid_t>(tool.processId()), SIGUSR1);
    ASSERT_TRUE(tool.waitForFinished(60000));
    errors += QString::fromLocal8Bit(tool.readAllStandardError());
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_TRUE(errors.endsWith(QLatin1String(
        "decimora-cli: The meter was disconnected during the download. Nothing was written; connect the meter again "
        "and repeat the download.\n")))
        << errors.toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList({ QStringLiteral("cut*") }, QDir::Files), QStringList());
}

// ---------------------------------------------------------------------------------------------------
// setup

TEST_F(CliTest, SetupSendsTheModeByteKeepingWhatIsNotGivenAndPrintsTheSettings)
{
    struct Case {
        QStringList options;
        // The mode byte sent, or -1 for no mode report.
        int modeByte;
        const char* printed;
    };
    // The simulated meter starts at 30-130 dB, fast, A weighting, max hold off: status 0x40.
    const Case cases[] = {
        { {}, -1, "range: 30-130\nresponse: fast\nweighting: A\nmax_hold: off\n" },
        { { "--weighting", "C" }, 0x50, "range: 30-130\nresponse: fast\nweighting: C\nmax_hold: off\n" },
        { { "--range", "50-100", "--slow", "--max-hold", "on" }, 0x22,
            "range: 50-100\nresponse: slow\nweighting: A\nmax_hold: on\n" },
        { { "--range", "80-130", "--fast", "--weighting", "c", "--max-hold", "off" }, 0x54,
            "range: 80-130\nresponse: fast\nweighting: C\nmax_hold: off\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(QStringList { "setup", "--simulate-meter", "--trace" } + c.options);
        ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
        EXPECT_EQ(done.out, QLatin1String(c.printed));
        // A status request is asked again when a busy machine passes the answer on late: repeats of
        // the same report count once.
        QStringList sent;
        for (const QString& line : done.err.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("trace: >")) && (sent.isEmpty() || sent.last() != line.mid(9)))
                sent << line.mid(9);
        // The status before and after; with nothing to change, the two requests run together.
        QStringList expected { "00 b3 00 00 00 00 00 00 00" };
        if (c.modeByte >= 0)
            expected << QStringLiteral("00 56 %1 00 00 00 00 00 00").arg(c.modeByte, 2, 16, QLatin1Char('0'))
                     << "00 b3 00 00 00 00 00 00 00";
        EXPECT_EQ(sent, expected) << done.err.toStdString();
        // The answers were traced too.
        EXPECT_GE(done.err.count(QLatin1String("trace: < 00 ")), 2) << done.err.toStdString();
    }
}

TEST_F(CliTest, SetupSetsTheClockInPackedBcd)
{
    const Finished done = run({ "setup", "--simulate-meter", "--trace", "--set-clock" });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    const qsizetype at = done.out.indexOf(QLatin1String("clock: set to "));
    ASSERT_GE(at, 0) << done.out.toStdString();
    const QDateTime set = QDateTime::fromString(done.out.mid(at + 14, 19), Qt::ISODate);
    ASSERT_TRUE(set.isValid());
    const auto bcd
        = [](int value) { return QStringLiteral("%1").arg((value / 10) * 16 + value % 10, 2, 16, QLatin1Char('0')); };
    const QString clockReport = QStringLiteral("trace: > 00 7c %1 %2 %3 %4 %5 %6 00")
                                    .arg(bcd(set.time().second()), bcd(set.time().minute()), bcd(set.time().hour()),
                                        bcd(set.date().day()), bcd(set.date().month()), bcd(set.date().year() % 100));
    EXPECT_TRUE(done.err.contains(clockReport)) << clockReport.toStdString() << "\n" << done.err.toStdString();
    EXPECT_FALSE(done.err.contains(QLatin1String("trace: > 00 56"))) << "no mode was asked for";
}

// ---------------------------------------------------------------------------------------------------
// convert and stats

// Six readings, A and C weighted, as the program writes a data file.
const QByteArray SmallDataFile = "@Zentrobasis Decimora File\r\n"
                                 "Total:6\r\n"
                                 "5/12/2006 ,9:5:30  ,65.3  ,A\r\n"
                                 "5/12/2006 ,9:5:40  ,70.1  ,A\r\n"
                                 "5/12/2006 ,9:5:50  ,58.0  ,A\r\n"
                                 "5/12/2006 ,9:6:0   ,82.4  ,A\r\n"
                                 "5/12/2006 ,9:6:10  ,91.7  ,C\r\n"
                                 "5/12/2006 ,9:6:20  ,88.2  ,C\r\n";

TEST_F(CliTest, ConvertRoundTripsThroughEveryFormatAsTheirReadersSeeIt)
{
    const QString in = file(QStringLiteral("in.dmr"));
    writeFile(in, SmallDataFile);
    for (const char* name : { "out.dmr", "out.csv", "out.xlsx", "out.xls" }) {
        const Finished done = run({ "convert", in, file(QLatin1String(name)) });
        ASSERT_EQ(done.exitCode, 0) << name << done.err.toStdString();
    }
    EXPECT_EQ(readFile(file(QStringLiteral("out.dmr"))), SmallDataFile);

    // Each spreadsheet read by its own reader; every sheet row with a level, as level and weighting.
    const QByteArray script = R"(
import csv, os, sys, openpyxl, xlrd
folder = sys.argv[1]
def show(name, rows):
    found = [(str(r[1]), str(r[2])) for r in rows if len(r) > 2 and str(r[2]) in ("A", "C")]
    print(name, " ".join("%s/%s" % (float(level), weight) for level, weight in found))
with open(folder + "/out.csv", newline="", encoding="utf-8") as f:
    show("csv", list(csv.reader(f, strict=True)))
show("xlsx", list(openpyxl.load_workbook(folder + "/out.xlsx", read_only=True).worksheets[0].iter_rows(values_only=True)))
# The bare worksheet stream has no code page record, which xlrd notes on its log.
sheet = xlrd.open_workbook(folder + "/out.xls", logfile=open(os.devnull, "w")).sheet_by_index(0)
show("xls", [sheet.row_values(i) for i in range(sheet.nrows)])
)";
    const QString seen = QString::fromUtf8(python({ QStringLiteral("-"), folder.path() }, script));
    const QString levels = QStringLiteral(" 65.3/A 70.1/A 58.0/A 82.4/A 91.7/C 88.2/C\n");
    EXPECT_EQ(seen.toStdString(), ("csv" + levels + "xlsx" + levels + "xls" + levels).toStdString());
}

// The files the tool writes, into every kind of target: a file is replaced whole, a symbolic link is
// followed and stays a link; a FIFO, a device and standard output ("-" or /dev/stdout) are written
// directly and stay what they are.
TEST_F(CliTest, EveryKindOfTargetGetsTheFileAndStaysWhatItIs)
{
    const QString in = file(QStringLiteral("in.dmr"));
    writeFile(in, SmallDataFile);
    const QString memory = file(QStringLiteral("memory.bin"));
    const QByteArray memoryBytes(reinterpret_cast<const char*>(SmallMemory.data()), qsizetype(SmallMemory.size()));
    writeFile(memory, memoryBytes);
    ASSERT_EQ(run({ "convert", in, file(QStringLiteral("reference.csv")) }).exitCode, 0);
    const QByteArray csv = readFile(file(QStringLiteral("reference.csv")));
    const auto kind = [](const QString& path) {
        struct stat facts { };
        EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &facts), 0) << path.toStdString();
        return facts.st_mode & S_IFMT;
    };
    const auto link = [this](const char* target, const char* name) {
        EXPECT_EQ(::symlink(target, QFile::encodeName(file(QLatin1String(name))).constData()), 0);
    };
    // The levels of a spreadsheet that openpyxl reads.
    const auto xlsxLevels = [this](const QByteArray& bytes) {
        writeFile(file(QStringLiteral("received.xlsx")), bytes);
        return python({ QStringLiteral("-"), file(QStringLiteral("received.xlsx")) },
            "import openpyxl, sys\n"
            "rows = openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets[0].iter_rows(values_only=True)\n"
            "print(' '.join(str(float(r[1])) for r in rows if len(r) > 2 and r[2] in ('A', 'C')))\n");
    };
    std::unique_ptr<FifoReader> fifo;
    QString device;
    struct Case {
        const char* target;
        QStringList arguments;
        // Makes the target before the tool runs.
        std::function<void()> make;
        // Checks the target, given what the tool wrote on standard output.
        std::function<void(const QByteArray& out)> check;
    };
    const Case cases[] = {
        { "a file", { "convert", in, file(QStringLiteral("out.csv")) },
            [&] { writeFile(file(QStringLiteral("out.csv")), "the file that was there"); },
            [&](const QByteArray&) {
                EXPECT_EQ(readFile(file(QStringLiteral("out.csv"))), csv);
                EXPECT_EQ(kind(file(QStringLiteral("out.csv"))), S_IFREG);
            } },
        { "a symbolic link to a file", { "convert", in, file(QStringLiteral("link.csv")) },
            [&] {
                writeFile(file(QStringLiteral("real.csv")), "the file that was there");
                link("real.csv", "link.csv");
            },
            [&](const QByteArray&) {
                EXPECT_EQ(kind(file(QStringLiteral("link.csv"))), S_IFLNK);
                EXPECT_EQ(readFile(file(QStringLiteral("real.csv"))), csv);
            } },
        { "a FIFO", { "convert", in, file(QStringLiteral("pipe.csv")) },
            [&] { fifo = std::make_unique<FifoReader>(file(QStringLiteral("pipe.csv"))); },
            [&](const QByteArray&) {
                EXPECT_EQ(fifo->received(), csv);
                EXPECT_EQ(kind(file(QStringLiteral("pipe.csv"))), S_IFIFO);
            } },
        { "a FIFO for a spreadsheet its library writes by name", { "convert", in, file(QStringLiteral("pipe.xlsx")) },
            [&] { fifo = std::make_unique<FifoReader>(file(QStringLiteral("pipe.xlsx"))); },
            [&](const QByteArray&) {
                EXPECT_EQ(xlsxLevels(fifo->received()), "65.3 70.1 58.0 82.4 91.7 88.2\n");
                EXPECT_EQ(kind(file(QStringLiteral("pipe.xlsx"))), S_IFIFO);
            } },
        { "a character device", { "convert", in, file(QStringLiteral("null.csv")) },
            [&] { device = MakeNullDevice(file(QStringLiteral("null.csv"))); },
            [&](const QByteArray&) { EXPECT_EQ(kind(device), S_IFCHR); } },
        { "standard output as -", { "download", "--simulate-meter=" + memory, "--raw", "-" }, [] {},
            [&](const QByteArray& out) { EXPECT_EQ(out, memoryBytes); } },
        { "standard output as /dev/stdout", { "download", "--simulate-meter=" + memory, "--raw", "/dev/stdout" }, [] {},
            [&](const QByteArray& out) { EXPECT_EQ(out, memoryBytes); } },
        { "a FIFO for the raw dump",
            { "download", "--simulate-meter=" + memory, "--raw", file(QStringLiteral("pipe.bin")) },
            [&] { fifo = std::make_unique<FifoReader>(file(QStringLiteral("pipe.bin"))); },
            [&](const QByteArray&) { EXPECT_EQ(fifo->received(), memoryBytes); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        c.make();
        QProcess tool;
        start(tool, c.arguments);
        ASSERT_TRUE(tool.waitForFinished(60000));
        const QByteArray out = tool.readAllStandardOutput();
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        c.check(out);
        EXPECT_EQ(QDir(folder.path()).entryList({ ".*" }, QDir::Files | QDir::Hidden), QStringList());
    }
}

TEST_F(CliTest, StatsAgreeWithAnIndependentComputation)
{
    const QString in = file(QStringLiteral("stats.dmr"));
    writeFile(in, SmallDataFile);
    const Finished done = run({ "stats", "--interval", "10", "--high-alarm", "80", in });
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    QMap<QString, double> figures;
    const QStringList lines = done.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "file\tfigure\tvalue\tunit");
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        ASSERT_EQ(fields.size(), 4) << line.toStdString();
        EXPECT_EQ(fields[0], in);
        if (!fields[2].isEmpty())
            figures.insert(fields[1], fields[2].toDouble());
    }
    // The figures from their definitions, by the statistics tests' own independent script.
    const QByteArray script = R"(
import json, os, sys
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(sys.argv[1]))
expected = __import__(os.path.splitext(os.path.basename(sys.argv[1]))[0])
a = [(65.3, 10), (70.1, 10), (58.0, 10), (82.4, 10)]
c = [(91.7, 10), (88.2, 10)]
print(json.dumps({"A": expected.figures(a, 80), "C": expected.figures(c, 80)}))
)";
    const QJsonObject independent
        = QJsonDocument::fromJson(python({ QStringLiteral("-"), QStringLiteral(DECIMORA_STATS_SCRIPT) }, script))
              .object();
    ASSERT_FALSE(independent.isEmpty());
    for (const char* weighting : { "A", "C" }) {
        const QJsonObject wanted = independent.value(QLatin1String(weighting)).toObject();
        const std::pair<const char*, const char*> labelled[] = { { "eq", "Leq" }, { "10", "L10" }, { "50", "L50" },
            { "90", "L90" }, { "max", "Lmax" }, { "min", "Lmin" }, { "E (SEL)", "SEL" } };
        for (const auto& [figure, name] : labelled) {
            const QString label = QStringLiteral("L%1%2").arg(QLatin1String(weighting), QLatin1String(figure));
            const QString key = QLatin1String(name);
            ASSERT_TRUE(figures.contains(label)) << label.toStdString() << done.out.toStdString();
            EXPECT_NEAR(figures.value(label), wanted.value(key).toDouble(), 0.051) << label.toStdString();
        }
    }
}

// A day at 60, an evening at 55 and a night at 45 dB from 07:00 on 12 May 2006, a reading a minute, as
// a download's data file writes them (tests/stats/expected_noise.py's first case: Lden 58.8766, Ldn
// 58.9025); the line of the reading at 12:00 replaced by badLine when given.
QByteArray DayEveningNightFile(const QByteArray& badLine = {})
{
    QByteArray content = "@Zentrobasis Decimora File\r\nTotal:1440\r\n";
    for (int i = 0; i < 1440; ++i) {
        const QDateTime t = QDateTime(QDate(2006, 5, 12), QTime(7, 0)).addSecs(60 * i);
        const int hour = t.time().hour();
        const QByteArray level = hour >= 7 && hour < 19 ? "60.0" : hour >= 19 && hour < 23 ? "55.0" : "45.0";
        QByteArray line = t.date().toString("M/d/yyyy").toLatin1().leftJustified(10) + ','
            + t.time().toString("H:m:s").toLatin1().leftJustified(8) + ',' + level.leftJustified(6) + ",A";
        if (i == 300 && !badLine.isEmpty())
            line = badLine;
        content += line + "\r\n";
    }
    return content;
}

QList<QStringList> Rows(const QString& table)
{
    QList<QStringList> rows;
    for (const QString& line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows << line.split(QLatin1Char('\t'));
    return rows;
}

// The logger's own files read back: a CSV and a JSON-lines log of the six readings of SmallDataFile
// (logged at UTC+2, with milliseconds) give stats the same figures and convert the same data file.
TEST_F(CliTest, LiveLogsReadBackLikeTheDataFileOfTheSameReadings)
{
    const QString dmr = file(QStringLiteral("small.dmr"));
    writeFile(dmr, SmallDataFile);
    const struct {
        QByteArray time;
        QByteArray level;
        QByteArray weighting;
    } readings[] = { { "09:05:30.004", "65.3", "A" }, { "09:05:40.250", "70.1", "A" }, { "09:05:50.500", "58.0", "A" },
        { "09:06:00.750", "82.4", "A" }, { "09:06:10.000", "91.7", "C" }, { "09:06:20.999", "88.2", "C" } };
    QByteArray csv = "time,level,weighting,range,response,max_hold\r\n";
    QByteArray jsonl;
    for (const auto& r : readings) {
        csv += "2006-05-12T" + r.time + "+02:00," + r.level + "," + r.weighting + ",30-130,fast,false\r\n";
        jsonl += "{\"time\":\"2006-05-12T" + r.time + "+02:00\",\"level\":" + r.level + ",\"weighting\":\""
            + r.weighting + "\",\"range\":\"30-130\",\"response\":\"fast\",\"max_hold\":false}\n";
    }
    const QString csvLog = file(QStringLiteral("live.csv"));
    const QString jsonLog = file(QStringLiteral("live.jsonl"));
    writeFile(csvLog, csv);
    writeFile(jsonLog, jsonl);

    const Finished fromDataFile = run({ "stats", "--periods", dmr });
    ASSERT_EQ(fromDataFile.exitCode, 0) << fromDataFile.err.toStdString();
    const Finished summary = run({ "stats", dmr });
    const Finished converted = run({ "convert", dmr, file(QStringLiteral("expected.dmr")) });
    ASSERT_EQ(converted.exitCode, 0) << converted.err.toStdString();
    for (const QString& log : { csvLog, jsonLog }) {
        SCOPED_TRACE(log.toStdString());
        const Finished periods = run({ "stats", "--periods", log });
        ASSERT_EQ(periods.exitCode, 0) << periods.err.toStdString();
        EXPECT_EQ(periods.out, QString(fromDataFile.out).replace(dmr, log));
        EXPECT_EQ(run({ "stats", log }).out, QString(summary.out).replace(dmr, log));
        const QString out = file(QStringLiteral("out.dmr"));
        ASSERT_EQ(run({ "convert", log, out }).exitCode, 0);
        EXPECT_EQ(readFile(out), readFile(file(QStringLiteral("expected.dmr"))));
    }

    // A line that is no reading is named with its number and the start of its text.
    const QByteArray garbage(10000, 'x');
    const struct {
        QByteArray line;
        QString quoted;
    } bad[] = {
        { "2006-05-12T09:07:00.000+02:00,loud,A,30-130,fast,false",
            "\"2006-05-12T09:07:00.000+02:00,loud,A,30-130,fast,false\"" },
        { "2006-05-12T09:07:00.000,60.0,A,30-130,fast,false", "\"2006-05-12T09:07:00.000,60.0,A,30-130,fast,false\"" },
        { "2006-05-12T09:07:00.000+02:00,60.0,Z,30-130,fast,false",
            "\"2006-05-12T09:07:00.000+02:00,60.0,Z,30-130,fast,false\"" },
        { garbage, "\"" + QString(60, QLatin1Char('x')) + "...\"" },
    };
    for (const auto& b : bad) {
        writeFile(csvLog, csv + b.line + "\r\n");
        for (const char* command : { "stats", "convert" }) {
            const QStringList arguments = QLatin1String(command) == QLatin1String("stats")
                ? QStringList { "stats", csvLog }
                : QStringList { "convert", csvLog, file(QStringLiteral("bad.csv")) };
            const Finished done = run(arguments);
            EXPECT_EQ(done.exitCode, 1);
            EXPECT_EQ(
                done.err, "decimora-cli: " + csvLog + ", line 8: " + b.quoted + " is not a reading of a live log.\n");
        }
    }
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("bad.csv"))));
}

// A row stats cannot count is told, as the statistics window tells it, not dropped in silence; the
// figures are those of the other rows. So is a file that looks cut short.
TEST_F(CliTest, StatsTellsTheRowsItLeavesOut)
{
    const QString odd = file(QStringLiteral("odd.dmr"));
    writeFile(odd,
        "@Zentrobasis Decimora File\r\nTotal:3\r\n"
        "5/12/2006 ,9:5:30  ,999.9 ,A\r\n"
        "5/12/2006 ,9:5:40  ,70.1  ,A\r\n"
        "5/12/2006 ,9:5:50  ,70.1  ,X\r\n");
    const Finished done = run({ "stats", odd });
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.err,
        "decimora-cli: " + odd + ": rows left out, without a level in tenths of a dB or an A or C weighting: 2\n");
    EXPECT_TRUE(done.out.contains(odd + "\tReadings (A)\t1\t")) << done.out.toStdString();

    // Every row counts, whatever line 2 says; a count above them is told.
    const QString cut = file(QStringLiteral("cut.dmr"));
    writeFile(cut,
        "@Zentrobasis Decimora File\r\nTotal:5\r\n5/12/2006 ,9:5:30  ,60.0  ,A\r\n5/12/2006 ,9:5:40  ,70.1  ,A\r\n");
    const Finished cutShort = run({ "stats", cut });
    EXPECT_EQ(cutShort.exitCode, 0);
    EXPECT_EQ(cutShort.err,
        "decimora-cli: " + cut + ": line 2 counts 5 readings, the file holds 2: it may have been cut short.\n");
    EXPECT_TRUE(cutShort.out.contains(cut + "\tReadings (A)\t2\t")) << cutShort.out.toStdString();
}

TEST_F(CliTest, StatsPrintsThePeriodsHoursAndEventsOfEachFileUnderTheirHeaders)
{
    const QString in = file(QStringLiteral("day.dmr"));
    writeFile(in, DayEveningNightFile());

    const Finished done
        = run({ "stats", "--periods", "--hourly", "--events", "--threshold", "58", "--min-duration", "600", in });

    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(done.err, QString());
    const QStringList tables = done.out.split(QStringLiteral("\n\n"));
    ASSERT_EQ(tables.size(), 3) << done.out.toStdString();
    const QList<QStringList> periods = Rows(tables[0]);
    const QList<QStringList> hours = Rows(tables[1]);
    const QList<QStringList> events = Rows(tables[2]);
    EXPECT_EQ(periods[0], QStringList({ "file", "weighting", "day", "figure", "value", "coverage", "events" }));
    EXPECT_EQ(hours[0], QStringList({ "file", "weighting", "date", "hour", "Leq", "Lmax", "L10", "L90", "coverage" }));
    EXPECT_EQ(
        events[0], QStringList({ "file", "weighting", "start", "end", "duration", "Lmax", "Leq", "SEL", "period" }));
    // The whole run, then the day (12 May: its night runs to 07:00 on the 13th).
    const QStringList expectedPeriods[] = {
        { in, "A", "all", "Lday", "60.0", "100.0", "1" },
        { in, "A", "all", "Levening", "55.0", "100.0", "0" },
        { in, "A", "all", "Lnight", "45.0", "100.0", "0" },
        { in, "A", "all", "Lden", "58.9", "100.0", "1" },
        { in, "A", "all", "Ldn", "58.9", "100.0", "1" },
        { in, "A", "2006-05-12", "Lday", "60.0", "100.0", "1" },
    };
    ASSERT_EQ(periods.size(), 11);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(periods[i + 1], expectedPeriods[i]) << i;
    ASSERT_EQ(hours.size(), 25);
    EXPECT_EQ(hours[1], QStringList({ in, "A", "2006-05-12", "07:00", "60.0", "60.0", "60.0", "60.0", "100.0" }));
    EXPECT_EQ(hours[24], QStringList({ in, "A", "2006-05-13", "06:00", "45.0", "45.0", "45.0", "45.0", "100.0" }));
    // At or above 58 dB for at least ten minutes: the day period, 12 hours.
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[1],
        QStringList(
            { in, "A", "2006-05-12T07:00:00", "2006-05-12T19:00:00", "43200", "60.0", "60.0", "106.4", "day" }));

    // Just one table: only its header and rows.
    const Finished one = run({ "stats", "--events", "--threshold", "70", in });
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_EQ(one.out, "file\tweighting\tstart\tend\tduration\tLmax\tLeq\tSEL\tperiod\n");
}

TEST_F(CliTest, AFileWhoseTimesCannotBeReadIsNamedWithItsLine)
{
    const QString in = file(QStringLiteral("broken.dmr"));
    writeFile(in, DayEveningNightFile("5/12/2006 ,12:75:0  ,60.0  ,A"));

    const Finished periods = run({ "stats", "--periods", in });
    EXPECT_EQ(periods.exitCode, 1);
    EXPECT_EQ(periods.out, QString());
    // The reading at 12:00 is the 301st, on line 303.
    const QString says = in + ": line 303: the date and time \"5/12/2006 12:75:0\" cannot be read.";
    EXPECT_EQ(periods.err, "decimora-cli: " + says + "\n");
    const Finished report = run({ "report", "--output", file(QStringLiteral("broken.pdf")), in });
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_EQ(report.err, "decimora-cli: " + says + "\n");
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("broken.pdf"))));

    // The statistics that need no time are still printed, with the durations not known, and a note.
    const Finished summary = run({ "stats", in });
    ASSERT_EQ(summary.exitCode, 0) << summary.err.toStdString();
    EXPECT_EQ(summary.err, "decimora-cli: " + says + " The durations, SEL and time above the alarm are not known.\n");
    // Each reading counted once: 10·lg((720·10^6 + 240·10^5.5 + 480·10^4.5) / 1440) = 57.5 dB.
    EXPECT_TRUE(summary.out.contains(in + "\tLAeq\t57.5\tdB\n")) << summary.out.toStdString();
    EXPECT_TRUE(summary.out.contains(in + "\tDuration (A)\t\ts\n")) << summary.out.toStdString();
}

// The report read back as a reader sees it: the figures of stats --periods --hourly --events stand in
// it, row by row, and its pages turn into pictures.
TEST_F(CliTest, TheReportHoldsTheFiguresTheStatsCommandPrints)
{
    const QString in = file(QStringLiteral("day.dmr"));
    writeFile(in, DayEveningNightFile());
    const QString pdf = file(QStringLiteral("report.pdf"));
    const QStringList rules { "--threshold", "58", "--min-duration", "600" };

    const Finished report
        = run(QStringList { "report", "--output", pdf, "--title", "Night Noise at Mill Lane", "--place",
                  "12 Mill Lane, garden", "--notes", "Complaint of 3 May", "--company", "Acme Acoustics", in }
            + rules);
    ASSERT_EQ(report.exitCode, 0) << report.err.toStdString();
    EXPECT_EQ(report.out + report.err, QString());
    const PdfDocument document = ReadPdf(pdf);
    ASSERT_TRUE(document.readable);
    const QString text = document.pageTexts.join(QLatin1Char('\n'));
    for (const char* expected :
        { "Night Noise at Mill Lane", "Acme Acoustics", "12 Mill Lane, garden", "Complaint of 3 May", "day.dmr",
            "Time history", "Period levels", "Hourly levels", "Events", "Statistics" })
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected;

    const Finished stats = run(QStringList { "stats", "--periods", "--hourly", "--events", in } + rules);
    ASSERT_EQ(stats.exitCode, 0) << stats.err.toStdString();
    const QStringList tables = stats.out.split(QStringLiteral("\n\n"));
    ASSERT_EQ(tables.size(), 3);
    const auto day = [](const QString& iso) {
        return iso == QLatin1String("all") ? QStringLiteral("Whole run")
                                           : SystemShortDateText(QDate::fromString(iso, Qt::ISODate));
    };
    // weighting, day, figure, value, coverage, events
    for (const QStringList& row : Rows(tables[0]).mid(1))
        EXPECT_TRUE(HasLine(text, { row[1], day(row[2]), row[3], row[4], row[5], row[6] }))
            << row.join(' ').toStdString();
    // weighting, date, hour, Leq, Lmax, L10, L90, coverage
    for (const QStringList& row : Rows(tables[1]).mid(1)) {
        EXPECT_TRUE(HasLine(text, { row[1], day(row[2]), row[3], row[4], row[5], row[6], row[7], row[8] }))
            << row.join(' ').toStdString();
    }
    // weighting, start, end, duration, Lmax, Leq, SEL, period
    for (const QStringList& row : Rows(tables[2]).mid(1)) {
        const QDateTime start = QDateTime::fromString(row[2], Qt::ISODate);
        const QDateTime end = QDateTime::fromString(row[3], Qt::ISODate);
        const auto shown
            = [](const QDateTime& t) { return SystemShortDateText(t.date()) + ' ' + SystemLongTimeText(t.time()); };
        EXPECT_TRUE(HasLine(text,
            { row[1], shown(start), shown(end), DurationText(row[4].toLongLong()), row[5], row[6], row[7], row[8] }))
            << row.join(' ').toStdString() << text.toStdString();
    }

    // Every page turns into a picture of the page's size.
    bool ok = false;
    RunTool(QStringLiteral("pdftoppm"), { "-r", "20", "-png", pdf, file(QStringLiteral("page")) }, &ok);
    EXPECT_TRUE(ok);
    for (int page = 1; page <= document.pageCount; ++page)
        EXPECT_TRUE(QFileInfo::exists(file(QStringLiteral("page-%1.png").arg(page)))) << page;
}

// ---------------------------------------------------------------------------------------------------
// usage and failures

TEST_F(CliTest, BadUsageEndsWithTwoAMessageAndAUsageLine)
{
    const QStringList cases[] = {
        {},
        { "measure" },
        { "live", "--bogus" },
        { "live", "--simulate-meter", "--interval", "0.1" },
        { "live", "--simulate-meter", "--interval", "soon" },
        { "live", "--simulate-meter", "--format", "xml" },
        { "live", "--simulate-meter", "--interval" },
        { "live", "--simulate-meter", "--rotate", "daily" },
        { "live", "--simulate-meter", "--output", "x.csv", "--rotate", "hourly" },
        { "live", "--simulate-meter", "--tag", "site=north" },
        { "live", "--simulate-meter", "--format", "influx", "--tag", "nothing" },
        { "live", "--simulate-meter", "--format", "influx", "--measurement", "#comment" },
        { "live", "--pretend-start=2026-12-10T23:59:58" },
        { "live", "--pretend-rate", "100" },
        { "live", "--simulate-meter", "--pretend-rate", "0" },
        { "live", "--simulate-meter", "--pretend-rate", "fast" },
        { "live", "extra" },
        { "live", "--simulate-meter", "--topic", "noise" },
        { "live", "--simulate-meter", "--ha-discovery" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--ha-prefix", "ha" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--ha-discovery", "--ha-prefix", "ha/#" },
        { "live", "--ha-remove" },
        { "live", "--simulate-meter", "--device", "" },
        { "live", "--simulate-meter", "--device", "dev/hidraw3" },
        { "download", "--simulate-meter", "--device", "ZQ 731" },
        { "devices", "--simulate-serial", "ZQ731" },
        { "live", "--mqtt", "broker", "--ha-remove", "--ha-discovery" },
        { "live", "--mqtt", "broker", "--ha-remove", "--ha-prefix", "ha/+" },
        { "live", "--simulate-meter", "--mqtt", "broker:99999" },
        { "live", "--simulate-meter", "--mqtt", "::1" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--topic", "noise/#" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-queue", "0" },
        { "live", "--simulate-meter", "--mqtt-user", "meter" },
        { "live", "--simulate-meter", "--mqtt", "meter:s3cret@broker" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-password-file", "password" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-cert", "client.pem", "--mqtt-key", "client.key" },
        { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-cafile", "ca.pem", "--mqtt-cert", "client.pem" },
        { "download", "--simulate-meter" },
        { "download", "--simulate-meter", "--output", "readings.txt" },
        { "setup", "--simulate-meter", "--range", "40-90" },
        { "setup", "--simulate-meter", "--fast", "--slow" },
        { "setup", "--simulate-meter", "--weighting", "Z" },
        { "setup", "--simulate-meter", "--max-hold", "yes" },
        { "convert", "in.dmr" },
        { "convert", "in.dmr", "out.pdf" },
        { "stats" },
        { "stats", "--interval", "0", "in.dmr" },
        { "stats", "--periods", "--threshold", "loud", "in.dmr" },
        { "stats", "--periods", "--min-duration", "0", "in.dmr" },
        { "stats", "--events", "--gap", "-1", "in.dmr" },
        { "stats", "--periods", "--bounds", "7,19", "in.dmr" },
        { "stats", "--periods", "--bounds", "19,7,23", "in.dmr" },
        // Beyond any integer an hour is kept in (found by the fuzzer).
        { "stats", "--periods", "--bounds", "31111111111111111111111111,3,7", "in.dmr" },
        { "stats", "--periods", "--penalties", "5", "in.dmr" },
        { "stats", "--periods", "--ldn-night", "5", "in.dmr" },
        { "report", "in.dmr" },
        { "report", "--output", "report.pdf" },
        { "report", "--output", "report.pdf", "--bounds", "6,18", "in.dmr" },
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(arguments);
        EXPECT_TRUE(done.normalExit);
        EXPECT_EQ(done.exitCode, 2);
        EXPECT_EQ(done.out, QString());
        const QStringList lines = done.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << done.err.toStdString();
        EXPECT_TRUE(lines[0].startsWith(QLatin1String("decimora-cli: "))) << done.err.toStdString();
        EXPECT_TRUE(lines[1].startsWith(QLatin1String("Usage: decimora-cli "))) << done.err.toStdString();
        // Short enough that the message above it stays in sight; --help has the whole line.
        EXPECT_LE(lines[1].size(), 120) << done.err.toStdString();
        // The same refusal from the check alone, which runs nothing (the command-line fuzz target's).
        EXPECT_THROW(CheckCommandLine(QStringList { QStringLiteral("decimora-cli") } + arguments), UsageError);
    }
}

// What the check passes, it passes without touching the meter or a file: nothing is written, no
// meter is asked (a real one would be looked for: none here), the memory file is not read.
TEST_F(CliTest, ACommandLineThatIsFinePassesTheCheckWhichWritesNothing)
{
    const QStringList cases[] = {
        { "live", "--simulate-meter=missing.bin", "--output", "noise.csv", "--rotate", "daily", "--duration", "5" },
        { "live", "--format", "influx", "--tag", "site=gate", "--mqtt", "[::1]:1883", "--ha-discovery" },
        { "download", "--output", "run.xlsx", "--raw", "run.bin" },
        { "setup", "--range", "50-100", "--slow", "--weighting", "c", "--max-hold", "on", "--set-clock" },
        { "convert", "missing.dmr", "out.csv" },
        { "stats", "--interval", "1", "missing.dmr" },
        { "devices", "--trace" },
        { "live", "--help" },
    };
    const QString before = QDir::currentPath();
    QDir::setCurrent(folder.path());
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        EXPECT_NO_THROW(CheckCommandLine(QStringList { QStringLiteral("decimora-cli") } + arguments));
    }
    QDir::setCurrent(before);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

// Tags InfluxDB would refuse on every line are refused before the first reading.
TEST_F(CliTest, InfluxNamesThatInfluxDbRefusesAreUsageErrors)
{
    const std::pair<QStringList, const char*> cases[] = {
        { { "--tag", "site=north", "--tag", "site=south" }, "The tag 'site' is given twice." },
        { { "--tag", "time=now" }, "The tag key 'time' is InfluxDB's own: every line would be refused." },
        { { "--tag", "_field=x" }, "The tag key '_field' starts with '_', which InfluxDB keeps for its own names." },
        { { "--tag", "level=loud" }, "The tag 'level' is the reading's own." },
        { { "--measurement", "_internal" },
            "The measurement '_internal' starts with '_', which InfluxDB keeps for its own names." },
    };
    for (const auto& [names, message] : cases) {
        SCOPED_TRACE(names.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(QStringList { "live", "--simulate-meter", "--format", "influx" } + names);
        EXPECT_EQ(done.exitCode, 2);
        EXPECT_TRUE(done.err.startsWith(QStringLiteral("decimora-cli: %1\n").arg(QLatin1String(message))))
            << done.err.toStdString();
    }
}

// The help tells what the tool does: every way to ask for it shows the command's help, and the help
// writes each option the way the tool takes it.
TEST_F(CliTest, HelpShowsWhatTheToolTakes)
{
    const Finished liveHelp = run({ "live", "--help" });
    ASSERT_EQ(liveHelp.exitCode, 0);
    struct Case {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    };
    const Case cases[] = {
        { { "live", "--help-all" }, 0, liveHelp.out, {} },
        { { "help", "live" }, 0, liveHelp.out, {} },
        { { "help", "bogus" }, 2, {},
            "decimora-cli: Unknown command 'bogus'.\n"
            "Usage: decimora-cli COMMAND [OPTIONS]    (decimora-cli COMMAND --help tells more)\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(c.arguments);
        EXPECT_EQ(done.exitCode, c.exitCode);
        EXPECT_EQ(done.out.toStdString(), c.out.toStdString());
        EXPECT_EQ(done.err.toStdString(), c.err.toStdString());
    }
    // A bare --simulate-meter never takes the next argument, so its file goes after "=".
    EXPECT_TRUE(liveHelp.out.contains(QLatin1String("--simulate-meter[=MEMORY.bin]"))) << liveHelp.out.toStdString();
    EXPECT_FALSE(liveHelp.out.contains(QLatin1String("<MEMORY.bin>"))) << liveHelp.out.toStdString();
    EXPECT_FALSE(liveHelp.out.contains(QLatin1String("--help-all"))) << liveHelp.out.toStdString();
    const Finished general = run({ "--help" });
    EXPECT_TRUE(general.out.contains(QLatin1String("--version"))) << general.out.toStdString();
    EXPECT_TRUE(general.out.contains(QLatin1String("help COMMAND"))) << general.out.toStdString();
}

// More rows than an .xls sheet holds: the message is one line that says which file name to give,
// since the tool has no Save dialog.
TEST_F(CliTest, ConvertTellsWhichFormatHoldsEveryRow)
{
    QByteArray rows = "@Zentrobasis Decimora File\r\nTotal:65540\r\n";
    for (int second = 0; second < 65540; ++second)
        rows += QStringLiteral("5/12/2006 ,%1:%2:%3 ,65.3 ,A\r\n")
                    .arg(second / 3600)
                    .arg(second / 60 % 60)
                    .arg(second % 60)
                    .toLatin1();
    writeFile(file(QStringLiteral("long.dmr")), rows);
    const Finished done = run({ "convert", file(QStringLiteral("long.dmr")), file(QStringLiteral("long.xls")) });
    EXPECT_EQ(done.exitCode, 1);
    EXPECT_EQ(done.err.toStdString(),
        "decimora-cli: 65,540 records do not fit in an .xls file: its sheet holds at most 65,536 rows, and these "
        "would take 65,542 with the title and the column titles. Name the output file *.xlsx to export them all.\n");
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("long.xls"))));
}

TEST_F(CliTest, FailuresEndWithOneAndOneMessageLine)
{
    writeFile(file(QStringLiteral("notes.dmr")), "shopping list\r\n");
    writeFile(file(QStringLiteral("loud.dmr")),
        "@Zentrobasis Decimora File\r\nTotal:2\r\n5/12/2006 ,9:5:30  ,65.3  ,A\r\n5/12/2006 ,9:5:31  ,loud  ,A\r\n");
    struct Case {
        QStringList arguments;
        QString message;
    };
    const QString missing = file(QStringLiteral("missing.bin"));
    const Case cases[] = {
        { { "download", "--simulate-meter=" + missing, "--output", file(QStringLiteral("x.dmr")) },
            "Cannot read the meter memory file " + missing + ": No such file or directory" },
        { { "download", "--simulate-meter=" + file(QStringLiteral("notes.dmr")), "--output",
              file(QStringLiteral("x.dmr")) },
            "Cannot read the meter memory file " + file(QStringLiteral("notes.dmr"))
                + ": it is not a dump of a meter's memory, which starts with a run header (0xFD) and ends with the end "
                  "mark (0xFF)" },
        { { "convert", file(QStringLiteral("notes.dmr")), file(QStringLiteral("y.csv")) },
            file(QStringLiteral("notes.dmr")) + " is not a Decimora data file." },
        { { "stats", "--periods", file(QStringLiteral("notes.dmr")) },
            file(QStringLiteral("notes.dmr")) + " is not a Decimora data file." },
        // Read straight from the file, a line is checked as a load into a window checks it.
        { { "stats", file(QStringLiteral("loud.dmr")) },
            file(QStringLiteral("loud.dmr"))
                + ", line 4: \"loud\" is not a sound level in dB (whole decibels, \".\", one tenths digit)" },
        { { "report", "--output", file(QStringLiteral("z.pdf")), file(QStringLiteral("missing.dmr")) },
            "Cannot open " + file(QStringLiteral("missing.dmr")) + ": No such file or directory" },
        // Before the download: the error output holds no progress line.
        { { "download", "--simulate-meter", "--output", file(QStringLiteral("no/such/folder/x.dmr")) },
            "Cannot write " + file(QStringLiteral("no/such/folder/x.dmr")) + ": No such file or directory" },
        { { "download", "--simulate-meter", "--raw", file(QStringLiteral("no/such/folder/x.bin")) },
            "Cannot write " + file(QStringLiteral("no/such/folder/x.bin")) + ": No such file or directory" },
        { { "live", "--simulate-meter", "--output", file(QStringLiteral("no/such/folder/x.csv")) },
            "Cannot open " + file(QStringLiteral("no/such/folder/x.csv")) + ": No such file or directory" },
        { { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-user", "meter", "--mqtt-password-file", missing },
            "Cannot read the MQTT password file " + missing + ": No such file or directory" },
        { { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-cafile", missing },
            "Cannot read the MQTT CA file " + missing + ": No such file or directory" },
        // A device would be read once here and found empty at the next connection.
        { { "live", "--simulate-meter", "--mqtt", "broker", "--mqtt-cafile", "/dev/null" },
            "Cannot read the MQTT CA file /dev/null: not a regular file" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(c.arguments);
        EXPECT_EQ(done.exitCode, 1);
        EXPECT_EQ(done.err, "decimora-cli: " + c.message + "\n");
    }
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("x.dmr"))));
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("y.csv"))));
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("z.pdf"))));
}

// Results that never reach standard output (here a full disk, /dev/full) fail the command with one
// line that says so, whether the command prints with stdio or writes its lines itself.
TEST_F(CliTest, ResultsThatCannotBeWrittenEndWithOne)
{
    writeFile(file(QStringLiteral("run.dmr")), SmallDataFile);
    const QStringList cases[] = {
        { "stats", file(QStringLiteral("run.dmr")) },
        { "devices", "--simulate-meter" },
        { "setup", "--simulate-meter" },
        { "live", "--simulate-meter", "--duration", "2" },
        { "live", "--help" },
        { "--version" },
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        QProcess tool;
        tool.setStandardOutputFile(QStringLiteral("/dev/full"));
        start(tool, arguments);
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 1);
        EXPECT_EQ(tool.readAllStandardError().toStdString(),
            "decimora-cli: Cannot write to the standard output: No space left on device\n");
    }
}

TEST_F(CliTest, DevicesListsTheMeterWithItsAccessAndHelpNeedsNoMeter)
{
    const Finished devices = run({ "devices", "--simulate-meter" });
    ASSERT_EQ(devices.exitCode, 0) << devices.err.toStdString();
    EXPECT_EQ(devices.out, "/dev/hidraw-simulated-meter-1\tsimulated\tread-write\n");
    EXPECT_EQ(devices.err, QString());
    // The machine's own devices: with no meter plugged in (as on the machines the tests run on) the
    // note goes to the error output and standard output stays empty for a script to test.
    const Finished none = run({ "devices" });
    EXPECT_EQ(none.exitCode, 0) << none.err.toStdString();
    if (none.out.isEmpty())
        EXPECT_EQ(none.err, "decimora-cli: No sound level meter is plugged in.\n");
    else
        EXPECT_FALSE(none.out.contains(QLatin1String("No sound level meter"))) << none.out.toStdString();
    for (const char* command : { "devices", "live", "download", "setup", "convert", "stats", "report" }) {
        const Finished help = run({ command, "--help" });
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_TRUE(help.out.startsWith(QLatin1String("Usage: decimora-cli ") + QLatin1String(command)))
            << help.out.toStdString();
    }
}

// --device names the meter by its serial number, its location or its node; a name that fits no meter
// ends the commands that need one with exit code 1 and says which meter is missing.
TEST_F(CliTest, DeviceNamesTheMeterBySerialNumberLocationOrNode)
{
    const QString missing
        = QStringLiteral("decimora-cli: No meter with the serial number or location ZQ-B is plugged in.\n");
    const struct {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    } cases[] = {
        { { "devices", "--simulate-serial", "ZQ-A" }, 0, "/dev/hidraw-simulated-meter-1\tZQ-A\tread-write\n", "" },
        { { "devices", "--simulate-serial", "ZQ-A", "--device", "ZQ-A" }, 0,
            "/dev/hidraw-simulated-meter-1\tZQ-A\tread-write\n", "" },
        { { "devices", "--device", "simulated" }, 0, "/dev/hidraw-simulated-meter-1\tsimulated\tread-write\n", "" },
        { { "devices", "--device", "/dev/hidraw-simulated-meter-1" }, 0,
            "/dev/hidraw-simulated-meter-1\tsimulated\tread-write\n", "" },
        { { "devices", "--simulate-serial", "ZQ-A", "--device", "ZQ-B" }, 1, "", missing },
        // The port names a meter that has a serial number too.
        { { "devices", "--simulate-serial", "ZQ-A", "--device", "simulated" }, 0,
            "/dev/hidraw-simulated-meter-1\tZQ-A\tread-write\n", "" },
        { { "download", "--simulate-serial", "ZQ-A", "--device", "ZQ-B", "--output", "run.dmr" }, 1, "", missing },
        { { "setup", "--device", "/dev/hidraw-elsewhere", "--fast" }, 1, "",
            "decimora-cli: No meter at /dev/hidraw-elsewhere.\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(QStringList { c.arguments.first(), "--simulate-meter" } + c.arguments.mid(1));
        EXPECT_EQ(done.exitCode, c.exitCode) << done.err.toStdString();
        EXPECT_EQ(done.out, c.out);
        EXPECT_EQ(done.err, c.err);
    }
    // live waits for the meter it was given, and says which.
    const Finished waiting = run({ "live", "--simulate-meter", "--simulate-serial", "ZQ-A", "--device", "ZQ-B",
        "--duration", "1", "--format", "jsonl" });
    EXPECT_EQ(waiting.exitCode, 0) << waiting.err.toStdString();
    EXPECT_EQ(waiting.out, "");
    EXPECT_TRUE(waiting.err.contains(QLatin1String("ZQ-B is plugged in. Waiting for it.")))
        << waiting.err.toStdString();
}

// Two meters, two loggers at once: each logs its own meter into its own file, and the one whose
// cable is pulled waits while the other goes on.
TEST_F(CliTest, TwoLiveProcessesLogTwoMetersAtOnce)
{
    const char* serials[] = { "ZQ-A", "ZQ-B" };
    const QString outputs[] = { file(QStringLiteral("a.csv")), file(QStringLiteral("b.csv")) };
    QProcess loggers[2];
    for (int i = 0; i < 2; ++i)
        start(loggers[i],
            { "live", "--simulate-meter", "--simulate-serial", serials[i], "--device", serials[i], "--interval", "0.3",
                "--output", outputs[i] });
    ASSERT_TRUE(WaitFor([&] { return lineCount(outputs[0]) >= 4 && lineCount(outputs[1]) >= 4; }));
    ::kill(static_cast<pid_t>(loggers[0].processId()), SIGUSR1);
    QByteArray said;
    ASSERT_TRUE(WaitFor([&] { return said.append(loggers[0].readAllStandardError()).contains("unplugged; waiting"); }));
    const int aWhileUnplugged = lineCount(outputs[0]);
    const int bAtUnplug = lineCount(outputs[1]);
    ASSERT_TRUE(WaitFor([&] { return lineCount(outputs[1]) >= bAtUnplug + 4; }));
    EXPECT_EQ(lineCount(outputs[0]), aWhileUnplugged);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(serials[i]);
        loggers[i].terminate();
        ASSERT_TRUE(loggers[i].waitForFinished(60000));
        EXPECT_EQ(loggers[i].exitCode(), 0);
        // Each file is a whole log of its meter's readings.
        EXPECT_GE(liveReadings(QStringLiteral("csv"), { outputs[i] }).size(), 3);
    }
}

} // namespace
