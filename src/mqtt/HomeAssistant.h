#pragma once

// What Home Assistant finds through MQTT discovery: three sensors of one device, each with a retained
// config and a state topic of its own.
//
//   level_a     the A-weighted readings, in dBA        PREFIX/level_a
//   level_c     the C-weighted readings, in dB         PREFIX/level_c
//   laeq_1min   the LAeq of each clock minute, in dBA  PREFIX/laeq_1min
//
// Home Assistant keeps a long-term statistics series per sensor, so a reading goes only to the sensor
// of its weighting: A and C readings in one series would mix two different quantities. A weighting
// whose sensor gets no readings (the meter is set to the other one) shows as unavailable once its
// expiry has passed. A reading's payload is its JSON line with the over-range and under-range flags
// added, and serves as the sensor's attributes too.

#include "core/LiveReading.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <optional>

struct MqttPublisherOptions;

enum class HomeAssistantSensor { LevelA, LevelC, MinuteLAeq };
inline constexpr std::array<HomeAssistantSensor, 3> HomeAssistantSensors { HomeAssistantSensor::LevelA,
    HomeAssistantSensor::LevelC, HomeAssistantSensor::MinuteLAeq };

// "level_a", "level_c", "laeq_1min": the last level of the sensor's state topic, of its discovery topic
// and of its unique id.
QString HomeAssistantSensorKey(HomeAssistantSensor sensor);
// PREFIX/level_a, ...
QString HomeAssistantStateTopic(const MqttPublisherOptions& options, HomeAssistantSensor sensor);
// DISCOVERY/sensor/DEVICE_ID/level_a/config, ...
QString HomeAssistantConfigTopic(const MqttPublisherOptions& options, HomeAssistantSensor sensor);
// The retained config of one sensor.
QByteArray HomeAssistantConfig(const MqttPublisherOptions& options, HomeAssistantSensor sensor);

// The sensor a reading goes to: its weighting's.
HomeAssistantSensor WeightingSensor(const LiveReading& reading);
// The reading's JSON line (stateLine, LiveReadingJson's, made once for every topic) with "over_range"
// and "under_range": the level above or below the limits of the meter's range (both false for a range
// code that names no range).
QByteArray WeightedReadingJson(const LiveReading& reading, QByteArray stateLine);

// The LAeq of one clock minute: the level of the mean sound energy of its A-weighted readings.
struct MinuteLevel {
    QDateTime start;
    double laeq = 0.0;
    int readings = 0;
};
// {"time":"2026-12-10T09:15:00.000+01:00","laeq":55.3,"readings":60}
QByteArray MinuteLevelJson(const MinuteLevel& minute);

// Gathers the readings of the present minute; the first reading of a later minute closes it. Only
// A-weighted readings count; a minute without any gives nothing.
class MinuteLeq {
public:
    // The minute this reading closed, if any.
    std::optional<MinuteLevel> take(const LiveReading& reading);

private:
    QDateTime start_;
    double energySum_ = 0.0;
    int readings_ = 0;
};
