#include "mqtt/HomeAssistant.h"

#include "core/MeterProtocol.h"
#include "mqtt/MqttPublisher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// A minute's sensor stands for three minutes without a new value before it counts as unavailable.
constexpr int MinuteExpirySeconds = 3 * 60;

QJsonObject DeviceBlock(const QString& id)
{
    return {
        { QStringLiteral("identifiers"), QJsonArray { id } },
        { QStringLiteral("name"), QStringLiteral("Decimora sound level meter") },
        { QStringLiteral("manufacturer"), QStringLiteral("Decimora") },
        { QStringLiteral("model"), QStringLiteral("USB sound level meter") },
        { QStringLiteral("sw_version"), QStringLiteral(DECIMORA_VERSION) },
    };
}

// Who publishes the config, for Home Assistant's log and its MQTT device page.
QJsonObject OriginBlock()
{
    return {
        { QStringLiteral("name"), QStringLiteral("decimora-cli") },
        { QStringLiteral("sw_version"), QStringLiteral(DECIMORA_VERSION) },
    };
}

} // namespace

QString HomeAssistantSensorKey(HomeAssistantSensor sensor)
{
    switch (sensor) {
    case HomeAssistantSensor::LevelA:
        return QStringLiteral("level_a");
    case HomeAssistantSensor::LevelC:
        return QStringLiteral("level_c");
    case HomeAssistantSensor::MinuteLAeq:
        break;
    }
    return QStringLiteral("laeq_1min");
}

QString HomeAssistantStateTopic(const MqttPublisherOptions& options, HomeAssistantSensor sensor)
{
    return options.topicPrefix + QLatin1Char('/') + HomeAssistantSensorKey(sensor);
}

QString HomeAssistantConfigTopic(const MqttPublisherOptions& options, HomeAssistantSensor sensor)
{
    return options.discoveryPrefix + QStringLiteral("/sensor/") + MqttDeviceId(options) + QLatin1Char('/')
        + HomeAssistantSensorKey(sensor) + QStringLiteral("/config");
}

QByteArray HomeAssistantConfig(const MqttPublisherOptions& options, HomeAssistantSensor sensor)
{
    const QString id = MqttDeviceId(options);
    const QString stateTopic = HomeAssistantStateTopic(options, sensor);
    const bool minute = sensor == HomeAssistantSensor::MinuteLAeq;
    const char* name = sensor == HomeAssistantSensor::LevelA ? "Sound level A"
        : sensor == HomeAssistantSensor::LevelC              ? "Sound level C"
                                                             : "LAeq 1 min";
    // Home Assistant knows dBA; a C-weighted level has no unit of its own there, so it is plain dB.
    const char* unit = sensor == HomeAssistantSensor::LevelC ? "dB" : "dBA";
    QJsonObject config {
        { QStringLiteral("name"), QLatin1String(name) },
        { QStringLiteral("unique_id"), id + QLatin1Char('_') + HomeAssistantSensorKey(sensor) },
        { QStringLiteral("device_class"), QStringLiteral("sound_pressure") },
        { QStringLiteral("state_class"), QStringLiteral("measurement") },
        { QStringLiteral("unit_of_measurement"), QLatin1String(unit) },
        { QStringLiteral("state_topic"), stateTopic },
        { QStringLiteral("value_template"),
            minute ? QStringLiteral("{{ value_json.laeq }}") : QStringLiteral("{{ value_json.level }}") },
        // The rest of the payload (time, range, response, MAX hold, over- and under-range; a minute's
        // reading count) as the sensor's attributes.
        { QStringLiteral("json_attributes_topic"), stateTopic },
        { QStringLiteral("availability_topic"), MqttAvailabilityTopic(options) },
        { QStringLiteral("payload_available"), QStringLiteral("online") },
        { QStringLiteral("payload_not_available"), QStringLiteral("offline") },
        { QStringLiteral("qos"), 1 },
        { QStringLiteral("device"), DeviceBlock(id) },
        { QStringLiteral("origin"), OriginBlock() },
    };
    if (options.expireAfterSeconds > 0)
        config.insert(QStringLiteral("expire_after"),
            minute ? std::max(MinuteExpirySeconds, options.expireAfterSeconds) : options.expireAfterSeconds);
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

HomeAssistantSensor WeightingSensor(const LiveReading& reading)
{
    return WeightingText(reading.flags) == QLatin1String("C") ? HomeAssistantSensor::LevelC
                                                              : HomeAssistantSensor::LevelA;
}

QByteArray WeightedReadingJson(const LiveReading& reading, QByteArray stateLine)
{
    const RangeExcess excess = RangeExcessOf(reading).value_or(RangeExcess {});
    stateLine.chop(1);
    return stateLine + ",\"over_range\":" + (excess.over ? "true" : "false")
        + ",\"under_range\":" + (excess.under ? "true" : "false") + '}';
}

QByteArray MinuteLevelJson(const MinuteLevel& minute)
{
    return "{\"time\":\"" + IsoTimeText(minute.start).toLatin1() + "\",\"laeq\":"
        + QByteArray::number(minute.laeq, 'f', 1) + ",\"readings\":" + QByteArray::number(minute.readings) + '}';
}

std::optional<MinuteLevel> MinuteLeq::take(const LiveReading& reading)
{
    QDateTime start = reading.time;
    start.setTime(QTime(start.time().hour(), start.time().minute()));
    std::optional<MinuteLevel> closed;
    if (start != start_) {
        if (readings_ > 0)
            closed = MinuteLevel { start_, 10.0 * std::log10(energySum_ / readings_), readings_ };
        start_ = start;
        energySum_ = 0.0;
        readings_ = 0;
    }
    if (WeightingSensor(reading) == HomeAssistantSensor::LevelA) {
        energySum_ += std::pow(10.0, reading.tenths / 100.0);
        ++readings_;
    }
    return closed;
}
