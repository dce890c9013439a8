// The publisher against a real mosquitto broker on loopback, watched through mosquitto_sub.

#include "mqtt/MqttPublisher.h"
#include "support/MosquittoBroker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using namespace std::chrono_literals;

// Reading n: one second after reading n-1, a level of 40.0 + n/10 dB that tells it apart, and status
// bytes that change the JSON's weighting, response and MAX hold.
LiveReading Reading(int n)
{
    return { QDateTime(QDate(2026, 12, 10), QTime(9, 0), Qt::OffsetFromUTC, 3600).addSecs(n), 400 + n,
        (n % 2) ? 0x51 : 0x20 };
}

// The reading numbers the payloads carry, read back from their JSON.
QList<int> ReadingNumbers(const QList<MqttMessage>& messages)
{
    QList<int> numbers;
    for (const MqttMessage& m : messages)
        numbers.append(
            qRound(QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("level")).toDouble() * 10) - 400);
    return numbers;
}

// The readings in the order they first arrived. QoS 1 delivers at least once: a reading the broker had
// taken when its acknowledgement was lost with the connection comes again after the reconnection.
QList<int> FirstArrivals(const QList<int>& numbers)
{
    QList<int> first;
    for (int n : numbers) {
        if (!first.contains(n))
            first.append(n);
    }
    return first;
}

QList<int> Numbers(std::initializer_list<std::pair<int, int>> ranges)
{
    QList<int> numbers;
    for (const auto& [first, last] : ranges) {
        for (int n = first; n <= last; ++n)
            numbers.append(n);
    }
    return numbers;
}

QList<QByteArray> Payloads(const QList<MqttMessage>& messages)
{
    QList<QByteArray> payloads;
    for (const MqttMessage& m : messages)
        payloads.append(m.payload);
    return payloads;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s)
{
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

MqttPublisherOptions OptionsFor(const MosquittoBroker& broker)
{
    MqttPublisherOptions options;
    options.broker = ParseMqttBrokerAddress(broker.address());
    options.topicPrefix = QStringLiteral("meter");
    options.deviceId = QStringLiteral("decimora_test");
    // Short delays keep the outages of these tests short.
    options.reconnectDelay = 20ms;
    options.reconnectDelayMax = 100ms;
    options.connectTimeout = 2s;
    return options;
}

class MqttPublisherTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(broker.start()) << broker.error().toStdString(); }

    // Every message of the publisher's run has arrived once the subscriber has the "offline" of a stop
    // that found the queue empty: it is published after the last reading, on the same connection. Only
    // live copies count: a restarted broker hands the subscriber the retained one again, and a broker that
    // shuts down sends the last will to whoever is still connected.
    void stopAndWaitForOffline(MqttPublisher& publisher, MqttSubscriber& subscriber)
    {
        const auto offlines = [&] {
            qsizetype count = 0;
            for (const MqttMessage& m : subscriber.messages(QStringLiteral("meter/availability")))
                count += (m.payload == "offline" && !m.retained) ? 1 : 0;
            return count;
        };
        const auto before = offlines();
        EXPECT_EQ(publisher.stop(10s), 0u);
        ASSERT_TRUE(WaitUntil([&] { return offlines() > before; })) << subscriber.messages().size();
    }

    MosquittoBroker broker;
};

TEST_F(MqttPublisherTest, ReadingsArriveInOrderAsTheirJsonAndAStopFlushesThem)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    MqttPublisher publisher(OptionsFor(broker));
    ASSERT_TRUE(WaitUntil([&] { return publisher.connected(); }));

    for (int n = 1; n <= 40; ++n)
        publisher.publish(Reading(n));
    // Whatever is still queued goes out before the stop disconnects.
    EXPECT_EQ(publisher.stop(10s), 0u);
    EXPECT_EQ(publisher.delivered(), 40u);

    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 40)) << subscriber.error().toStdString();
    const QList<MqttMessage> state = subscriber.messages(QStringLiteral("meter/state"));
    ASSERT_EQ(state.size(), 40);
    for (int i = 0; i < state.size(); ++i) {
        EXPECT_EQ(state[i].payload, LiveReadingJson(Reading(i + 1))) << i;
        EXPECT_FALSE(state[i].retained) << i;
    }
    EXPECT_EQ(ReadingNumbers(state), Numbers({ { 1, 40 } }));

    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/availability"), 2))
        << subscriber.error().toStdString();
    EXPECT_EQ(Payloads(subscriber.messages(QStringLiteral("meter/availability"))),
        QList<QByteArray>({ "online", "offline" }));

    // A listener that comes afterwards learns at once that the meter is offline.
    MqttSubscriber later(broker, { QStringLiteral("meter/availability") }, QStringLiteral("later"));
    ASSERT_TRUE(later.start()) << later.error().toStdString();
    ASSERT_TRUE(later.waitForMessages(QStringLiteral("meter/availability"), 1)) << later.error().toStdString();
    const MqttMessage availability = later.messages().first();
    EXPECT_EQ(availability.payload, "offline");
    EXPECT_TRUE(availability.retained);
}

TEST_F(MqttPublisherTest, DiscoveryConfigsAreRetainedWithWhatHomeAssistantNeeds)
{
    MqttPublisherOptions options = OptionsFor(broker);
    options.homeAssistantDiscovery = true;
    options.expireAfterSeconds = 90;
    MqttPublisher publisher(options);
    publisher.publish(Reading(7));
    // The reading's acknowledgement comes after the configs': all are with the broker now.
    ASSERT_TRUE(WaitUntil([&] { return publisher.delivered() == 1; }));

    // Home Assistant started after the meter: it still finds the sensors, and only those of this version.
    MqttSubscriber homeAssistant(
        broker, { QStringLiteral("homeassistant/#"), QStringLiteral("meter/#") }, QStringLiteral("home-assistant"));
    ASSERT_TRUE(homeAssistant.start()) << homeAssistant.error().toStdString();
    const struct {
        const char* key;
        const char* unit;
        const char* valueField;
        int expireAfter;
    } sensors[] = {
        { "level_a", "dBA", "level", 90 },
        { "level_c", "dB", "level", 90 },
        { "laeq_1min", "dBA", "laeq", 180 },
    };
    ASSERT_TRUE(WaitUntil([&] { return homeAssistant.messages().size() >= 4; })) << homeAssistant.messages().size();
    EXPECT_TRUE(homeAssistant.messages(QStringLiteral("homeassistant/sensor/decimora_test/config")).isEmpty());
    for (const auto& sensor : sensors) {
        SCOPED_TRACE(sensor.key);
        const QString key = QLatin1String(sensor.key);
        const QString topic = QStringLiteral("homeassistant/sensor/decimora_test/%1/config").arg(key);
        ASSERT_TRUE(homeAssistant.waitForMessages(topic, 1)) << homeAssistant.error().toStdString();
        const MqttMessage discovery = homeAssistant.messages(topic).first();
        EXPECT_TRUE(discovery.retained);

        QJsonParseError error {};
        const QJsonObject config = QJsonDocument::fromJson(discovery.payload, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << discovery.payload.toStdString();
        const std::pair<const char*, QString> expected[] = {
            { "device_class", QStringLiteral("sound_pressure") },
            { "unit_of_measurement", QLatin1String(sensor.unit) },
            { "state_class", QStringLiteral("measurement") },
            { "unique_id", QStringLiteral("decimora_test_") + key },
            { "state_topic", QStringLiteral("meter/") + key },
            { "json_attributes_topic", QStringLiteral("meter/") + key },
            { "availability_topic", QStringLiteral("meter/availability") },
            { "payload_available", QStringLiteral("online") },
            { "payload_not_available", QStringLiteral("offline") },
        };
        for (const auto& [field, value] : expected)
            EXPECT_EQ(config.value(QLatin1String(field)).toString(), value) << field;
        EXPECT_FALSE(config.value(QStringLiteral("name")).toString().isEmpty());
        const QJsonObject device = config.value(QStringLiteral("device")).toObject();
        EXPECT_TRUE(device.value(QStringLiteral("identifiers")).toArray().contains(QStringLiteral("decimora_test")));
        EXPECT_TRUE(device.value(QStringLiteral("name")).toString().contains(QStringLiteral("Decimora")));
        EXPECT_EQ(device.value(QStringLiteral("manufacturer")).toString(), QStringLiteral("Decimora"));
        // Who sent the config, and how long a value stands before the sensor counts as unavailable.
        EXPECT_EQ(config.value(QStringLiteral("origin")).toObject().value(QStringLiteral("name")).toString(),
            QStringLiteral("decimora-cli"));
        EXPECT_EQ(config.value(QStringLiteral("expire_after")).toInt(), sensor.expireAfter);
        // The value template picks the sensor's value out of the payloads as they are published.
        const auto field = QRegularExpression(QStringLiteral(R"(^\{\{\s*value_json\.(\w+)\s*\}\}$)"))
                               .match(config.value(QStringLiteral("value_template")).toString());
        ASSERT_TRUE(field.hasMatch()) << config.value(QStringLiteral("value_template")).toString().toStdString();
        EXPECT_EQ(field.captured(1), QLatin1String(sensor.valueField));
    }
    ASSERT_TRUE(homeAssistant.waitForMessages(QStringLiteral("meter/availability"), 1));
    const MqttMessage availability = homeAssistant.messages(QStringLiteral("meter/availability")).first();
    EXPECT_EQ(availability.payload, "online");
    EXPECT_TRUE(availability.retained);
}

// Readings of both weightings across a minute's end: each weighting's sensor gets its own readings
// only, the state topic gets all of them as before, and the closed minute's LAeq is the level of the
// mean energy of its A-weighted readings.
TEST_F(MqttPublisherTest, EachSensorGetsOnlyItsOwnWeightingAndTheMinuteGetsItsLAeq)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    MqttPublisherOptions options = OptionsFor(broker);
    options.homeAssistantDiscovery = true;
    MqttPublisher publisher(options);
    // 09:00:01 to 09:01:10; odd readings are C-weighted.
    for (int n = 1; n <= 70; ++n)
        publisher.publish(Reading(n));
    stopAndWaitForOffline(publisher, subscriber);
    EXPECT_EQ(publisher.delivered(), 70u);

    EXPECT_EQ(ReadingNumbers(subscriber.messages(QStringLiteral("meter/state"))), Numbers({ { 1, 70 } }));
    QList<int> even;
    QList<int> odd;
    for (int n = 1; n <= 70; ++n)
        (n % 2 ? odd : even).append(n);
    const QList<MqttMessage> a = subscriber.messages(QStringLiteral("meter/level_a"));
    const QList<MqttMessage> c = subscriber.messages(QStringLiteral("meter/level_c"));
    EXPECT_EQ(ReadingNumbers(a), even);
    EXPECT_EQ(ReadingNumbers(c), odd);
    for (const auto& [messages, weighting] : { std::pair { a, "A" }, std::pair { c, "C" } }) {
        for (const MqttMessage& m : messages) {
            const QJsonObject reading = QJsonDocument::fromJson(m.payload).object();
            EXPECT_EQ(reading.value(QStringLiteral("weighting")).toString(), QLatin1String(weighting));
            EXPECT_FALSE(reading.value(QStringLiteral("over_range")).toBool()) << m.payload.toStdString();
            EXPECT_FALSE(reading.value(QStringLiteral("under_range")).toBool()) << m.payload.toStdString();
        }
    }

    // The minute 09:00 is closed by the reading of 09:01:00; 09:01 is still open at the end.
    const QList<MqttMessage> minutes = subscriber.messages(QStringLiteral("meter/laeq_1min"));
    ASSERT_EQ(minutes.size(), 1);
    const QJsonObject minute = QJsonDocument::fromJson(minutes.first().payload).object();
    EXPECT_EQ(minute.value(QStringLiteral("time")).toString(), "2026-12-10T09:00:00.000+01:00");
    double energy = 0;
    int count = 0;
    for (int n = 2; n < 60; n += 2, ++count)
        energy += std::pow(10.0, (40.0 + n / 10.0) / 10.0);
    EXPECT_EQ(minute.value(QStringLiteral("readings")).toInt(), count);
    EXPECT_NEAR(minute.value(QStringLiteral("laeq")).toDouble(), 10 * std::log10(energy / count), 0.05);
}

// The meter pulled out and plugged in again while the broker stays: the retained availability
// follows it, and a listener that comes while it is out learns at once that the sensors are unavailable.
TEST_F(MqttPublisherTest, AvailabilityFollowsTheMeter)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/availability") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    MqttPublisherOptions options = OptionsFor(broker);
    options.meterPresent = false;
    MqttPublisher publisher(options);
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/availability"), 1));
    publisher.setMeterPresent(true);
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/availability"), 2));
    publisher.setMeterPresent(false);
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/availability"), 3));
    EXPECT_EQ(Payloads(subscriber.messages(QStringLiteral("meter/availability"))),
        QList<QByteArray>({ "offline", "online", "offline" }));

    MqttSubscriber later(broker, { QStringLiteral("meter/availability") }, QStringLiteral("later"));
    ASSERT_TRUE(later.start()) << later.error().toStdString();
    ASSERT_TRUE(later.waitForMessages(QStringLiteral("meter/availability"), 1)) << later.error().toStdString();
    EXPECT_EQ(later.messages().first().payload, "offline");
    EXPECT_TRUE(later.messages().first().retained);
    stopAndWaitForOffline(publisher, subscriber);
}

// Without an id of its own, the sensor is named by the host and, for a topic of its own, by the topic
// too: two runs on one machine are two sensors, and the default topic keeps the id it always had.
TEST(MqttDeviceId, TwoTopicsOnOneHostAreTwoSensors)
{
    // The default topic's id: the host's name, whatever this machine is called.
    const QString plain = MqttDeviceId(MqttPublisherOptions {});
    ASSERT_TRUE(plain.startsWith(QLatin1String("decimora_"))) << plain.toStdString();
    const struct {
        const char* topic;
        QString id;
    } cases[] = {
        { "decimora", plain },
        { "garden", plain + "_garden" },
        { "site/north", plain + "_site_north" },
    };
    for (const auto& c : cases) {
        MqttPublisherOptions options;
        options.topicPrefix = QLatin1String(c.topic);
        EXPECT_EQ(MqttDeviceId(options), c.id) << c.topic;
        EXPECT_EQ(MqttDiscoveryTopic(options), "homeassistant/sensor/" + c.id + "/config") << c.topic;
    }
    MqttPublisherOptions named;
    named.topicPrefix = QStringLiteral("garden");
    named.deviceId = QStringLiteral("shed");
    EXPECT_EQ(MqttDeviceId(named), "shed");
}

TEST_F(MqttPublisherTest, ReadingsTakenWhileTheBrokerIsDownArriveAfterItReturns)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    MqttPublisher publisher(OptionsFor(broker));
    QSignalSpy changes(&publisher, &MqttPublisher::connectionChanged);
    for (int n = 1; n <= 5; ++n)
        publisher.publish(Reading(n));
    ASSERT_TRUE(WaitUntil([&] { return publisher.delivered() == 5; }));

    broker.stop();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.connected(); }));
    for (int n = 6; n <= 10; ++n)
        publisher.publish(Reading(n));
    EXPECT_EQ(publisher.queued(), 5u);
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    for (int n = 11; n <= 12; ++n)
        publisher.publish(Reading(n));
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 12)) << subscriber.error().toStdString();
    stopAndWaitForOffline(publisher, subscriber);
    EXPECT_EQ(
        FirstArrivals(ReadingNumbers(subscriber.messages(QStringLiteral("meter/state")))), Numbers({ { 1, 12 } }));
    EXPECT_EQ(publisher.dropped(), 0u);

    // Connected, lost with the reason, connected again. While the broker is down a failed attempt may
    // be told as well when its reason differs from the loss's.
    QList<bool> states;
    for (const QList<QVariant>& change : changes) {
        if (states.isEmpty() || states.last() != change.at(0).toBool())
            states.append(change.at(0).toBool());
    }
    EXPECT_EQ(states.mid(0, 3), QList<bool>({ true, false, true }));
    ASSERT_GE(changes.size(), 2);
    const QString reason = changes.at(1).at(1).toString();
    EXPECT_TRUE(reason.contains(QStringLiteral("MQTT broker ") + broker.address())) << reason.toStdString();
}

TEST_F(MqttPublisherTest, AFullQueueDropsTheOldestAndCountsEveryOne)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    MqttPublisherOptions options = OptionsFor(broker);
    options.queueCapacity = 4;
    MqttPublisher publisher(options);
    QSignalSpy drops(&publisher, &MqttPublisher::readingsDropped);
    for (int n = 1; n <= 3; ++n)
        publisher.publish(Reading(n));
    ASSERT_TRUE(WaitUntil([&] { return publisher.delivered() == 3; }));

    broker.stop();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.connected(); }));
    // Ten readings into a queue of four: 4 to 9 make room for the newer ones.
    for (int n = 4; n <= 13; ++n)
        publisher.publish(Reading(n));
    EXPECT_EQ(publisher.dropped(), 6u);
    EXPECT_EQ(publisher.queued(), 4u);
    ASSERT_EQ(drops.size(), 6);
    for (int i = 0; i < drops.size(); ++i)
        EXPECT_EQ(drops.at(i).at(0).toULongLong(), static_cast<quint64>(i + 1));

    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 7)) << subscriber.error().toStdString();
    stopAndWaitForOffline(publisher, subscriber);
    EXPECT_EQ(ReadingNumbers(subscriber.messages(QStringLiteral("meter/state"))), Numbers({ { 1, 3 }, { 10, 13 } }));
}

TEST_F(MqttPublisherTest, QueuesUntilABrokerAppearsOnItsPort)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    // The subscriber's session waits in the broker's saved state; nothing listens on the port.
    broker.stop();

    MqttPublisher publisher(OptionsFor(broker));
    QSignalSpy changes(&publisher, &MqttPublisher::connectionChanged);
    for (int n = 1; n <= 5; ++n)
        publisher.publish(Reading(n));
    ASSERT_TRUE(WaitUntil([&] { return !changes.isEmpty(); }));
    EXPECT_FALSE(changes.first().at(0).toBool());
    const QString reason = changes.first().at(1).toString();
    EXPECT_TRUE(reason.contains(QStringLiteral("cannot reach the MQTT broker ") + broker.address()))
        << reason.toStdString();
    EXPECT_FALSE(publisher.connected());
    EXPECT_EQ(publisher.queued(), 5u);

    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    for (int n = 6; n <= 7; ++n)
        publisher.publish(Reading(n));
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 7)) << subscriber.error().toStdString();
    stopAndWaitForOffline(publisher, subscriber);
    EXPECT_EQ(ReadingNumbers(subscriber.messages(QStringLiteral("meter/state"))), Numbers({ { 1, 7 } }));
}

TEST_F(MqttPublisherTest, AReadingLeavesTheQueueOnlyWhenTheBrokerAcknowledgesIt)
{
    MqttPublisher publisher(OptionsFor(broker));
    publisher.publish(Reading(1));
    ASSERT_TRUE(WaitUntil([&] { return publisher.delivered() == 1; }));

    // The connection stays up and takes the readings, but no acknowledgement comes back: written to
    // the socket is not delivered.
    broker.freeze();
    for (int n = 2; n <= 4; ++n)
        publisher.publish(Reading(n));
    EXPECT_EQ(publisher.stop(300ms), 3u);
    EXPECT_EQ(publisher.queued(), 3u);
    EXPECT_EQ(publisher.delivered(), 1u);
}

TEST_F(MqttPublisherTest, ReadingsOnTheWireWhenTheConnectionDiesAreSentAgain)
{
    MqttSubscriber subscriber(broker, { QStringLiteral("meter/#") });
    ASSERT_TRUE(subscriber.start()) << subscriber.error().toStdString();
    // A clean stop saves the subscriber's session, which the crash below cannot.
    broker.stop();
    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    MqttPublisher publisher(OptionsFor(broker));
    publisher.publish(Reading(1));
    ASSERT_TRUE(WaitUntil([&] { return publisher.delivered() == 1; }));
    // Not only with the broker, which will lose what it holds, but with the subscriber.
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 1)) << subscriber.error().toStdString();

    // Written to the connection, never read by the broker, lost when it dies.
    broker.freeze();
    for (int n = 2; n <= 4; ++n)
        publisher.publish(Reading(n));
    const qint64 written = 3 * LiveReadingJson(Reading(2)).size();
    ASSERT_TRUE(WaitUntil([&] { return broker.unreadBytes() >= written; })) << broker.unreadBytes();
    broker.crash();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.connected(); }));
    EXPECT_EQ(publisher.queued(), 3u);

    ASSERT_TRUE(broker.start()) << broker.error().toStdString();
    ASSERT_TRUE(subscriber.waitForMessages(QStringLiteral("meter/state"), 4)) << subscriber.error().toStdString();
    stopAndWaitForOffline(publisher, subscriber);
    EXPECT_EQ(ReadingNumbers(subscriber.messages(QStringLiteral("meter/state"))), Numbers({ { 1, 4 } }));
}

TEST(MqttPublisher, StopWithoutABrokerCountsWhatIsLeftUnsent)
{
    MosquittoBroker nobody; // never started
    MqttPublisher publisher(OptionsFor(nobody));
    for (int n = 1; n <= 3; ++n)
        publisher.publish(Reading(n));
    EXPECT_EQ(publisher.stop(200ms), 3u);
    // A reading after the stop goes nowhere, and a second stop tells the same.
    publisher.publish(Reading(4));
    EXPECT_EQ(publisher.stop(200ms), 3u);
    EXPECT_EQ(publisher.delivered(), 0u);
}

TEST(MqttPublisher, AHostThatDoesNotExistIsToldByName)
{
    MqttPublisherOptions options;
    // ".invalid" never resolves (RFC 6761).
    options.broker = ParseMqttBrokerAddress(QStringLiteral("no-such-broker.invalid:1883"));
    options.reconnectDelay = 50ms;
    MqttPublisher publisher(options);
    QSignalSpy changes(&publisher, &MqttPublisher::connectionChanged);
    publisher.publish(Reading(1));
    ASSERT_TRUE(WaitUntil([&] { return !changes.isEmpty(); }, 60s));
    EXPECT_FALSE(changes.first().at(0).toBool());
    const QString reason = changes.first().at(1).toString();
    EXPECT_TRUE(reason.startsWith(QStringLiteral("cannot find the MQTT broker no-such-broker.invalid:1883: ")))
        << reason.toStdString();
    EXPECT_EQ(publisher.stop(0ms), 1u);
}

} // namespace
