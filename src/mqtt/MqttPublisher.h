#pragma once

// Live readings to an MQTT broker, for Home Assistant and anything else that listens.
//
// Topics, for a prefix PREFIX (default "decimora"):
//   PREFIX/state         one reading per message, LiveReadingJson, QoS 1, not retained
//   PREFIX/availability  "online" once connected while the meter is present (setMeterPresent), "offline"
//                        while it is not, on a clean stop and, as the last will, when the connection
//                        dies; retained, QoS 1
//   with Home Assistant discovery on, also (see HomeAssistant.h):
//   PREFIX/level_a, PREFIX/level_c
//                        each reading again, on its weighting's topic only, QoS 1, not retained
//   PREFIX/laeq_1min     the LAeq of each minute, once the minute is over, QoS 1, not retained
//   DISCOVERY/sensor/ID/level_a/config, .../level_c/config, .../laeq_1min/config
//                        the sensors' descriptions, retained, QoS 1, sent again on every connection
//                        (DISCOVERY is "homeassistant" unless changed); the one sensor of earlier
//                        versions (DISCOVERY/sensor/ID/config) is removed at the same time
//
// A reading (its messages) stays in the publisher's queue until the broker has acknowledged it (its PUBACK); a lost
// connection sends every unacknowledged reading again, in order, on the next one. A PUBACK lost with
// the connection means that reading arrives twice: at least once, as QoS 1 promises, never lost while
// it is in the queue. The queue is bounded: when it is full the oldest reading not on the wire is
// dropped and counted (the new one, in the rare case that every queued reading is on the wire).
//
// The connection lives on a thread of its own that owns a libmosquitto client: publish() only appends
// to the queue and wakes that thread, so the caller never waits for the network. Each connection gets a
// fresh client, so that what is unacknowledged is only ever in our queue: libmosquitto's own queue of
// in-flight messages would otherwise re-send them behind our backs after a reconnect (duplicates, and
// nothing we could drop when the queue is full).

#include "core/LiveReading.h"
#include "mqtt/MqttBrokerAddress.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

// A broker that wants more than an anonymous plain connection.
struct MqttLogin {
    // Empty: no login.
    QString user;
    // Only with a user; may be empty.
    QString password;
};

struct MqttTls {
    // Empty: no TLS. The PEM file of the authority that signed the broker's certificate; the broker's
    // host name is checked against the certificate too.
    QString caFile;
    // A client certificate and its key (PEM), for a broker that asks for one; both or neither.
    QString certFile;
    QString keyFile;
};

struct MqttPublisherOptions {
    MqttBrokerAddress broker;
    MqttLogin login;
    MqttTls tls;
    QString topicPrefix = QStringLiteral("decimora");
    bool homeAssistantDiscovery = false;
    QString discoveryPrefix = QStringLiteral("homeassistant");
    // The sensor's unique id in Home Assistant and the last level of its discovery topic: letters,
    // digits, "_" and "-". Empty: "decimora_" and this machine's host name, and then, for a topic prefix
    // other than "decimora", "_" and the prefix, so that two runs on one machine with their own topics
    // are two sensors.
    QString deviceId;
    // Home Assistant shows the sensor unavailable when no reading has come for this long; 0: never.
    int expireAfterSeconds = 0;
    // With discovery: instead of the sensors' configs, empty retained payloads on their topics, which
    // remove the sensors from Home Assistant. Readings are not published then.
    bool removeDiscovery = false;
    // Whether the meter is there at the start: the availability announced until setMeterPresent().
    bool meterPresent = true;
    // Empty: libmosquitto makes up a random one, so two copies of the tool never push each other off.
    QString clientId;
    // An hour of readings at one a second.
    std::size_t queueCapacity = 3600;
    // Readings handed to the connection before their acknowledgements come back.
    int inFlightLimit = 16;
    // After a failed attempt or a lost connection the next attempt waits this long, doubling up to the
    // maximum; a connection that reaches the broker starts again from the first delay.
    std::chrono::milliseconds reconnectDelay { 1000 };
    std::chrono::milliseconds reconnectDelayMax { 30000 };
    // How long the TCP connection to the broker may take before the attempt counts as failed.
    std::chrono::milliseconds connectTimeout { 5000 };
    std::chrono::seconds keepAlive { 30 };
};

// Throws DecimoraError when the options name no usable topic prefix, discovery prefix or device id, a
// password without a user, or a half client certificate.
void CheckMqttPublisherOptions(const MqttPublisherOptions& options);

// The topics the readings and the availability go to.
QString MqttStateTopic(const MqttPublisherOptions& options);
QString MqttAvailabilityTopic(const MqttPublisherOptions& options);
// The discovery topic of the one sensor that earlier versions announced (A and C readings in one
// series); its retained config is removed, since the sensors of HomeAssistant.h replace it.
QString MqttDiscoveryTopic(const MqttPublisherOptions& options);
// The device id the options name, or the one made from the host name.
QString MqttDeviceId(const MqttPublisherOptions& options);

class MqttPublisher : public QObject {
    Q_OBJECT
public:
    // Checks the options (CheckMqttPublisherOptions) and starts connecting at once.
    explicit MqttPublisher(MqttPublisherOptions options, QObject* parent = nullptr);
    // Stops at once, without waiting for the queue (stop() with no time to flush).
    ~MqttPublisher() override;

    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Queues one reading (with discovery on, also on its weighting's topic, and the minute's LAeq when
    // the reading starts a new minute); never waits. Does nothing after stop().
    void publish(const LiveReading& reading);
    // The meter was plugged in or pulled out: the availability follows ("online" only while both the
    // broker and the meter are there).
    void setMeterPresent(bool present);

    // Publishes "offline", keeps sending the queue for at most flushFor (connecting again meanwhile if
    // need be), disconnects and returns how many readings are left unsent. Waits for at most flushFor,
    // plus half a second for a DISCONNECT a stalled socket will not take, plus the end of a name look-up
    // in progress (the system's resolver has no way to be interrupted). A second call returns the same
    // count.
    std::size_t stop(std::chrono::milliseconds flushFor);

    bool connected() const;
    // Readings waiting for the broker's acknowledgement, on the wire or not yet sent.
    std::size_t queued() const;
    // Readings the broker has acknowledged.
    std::uint64_t delivered() const;
    // Readings dropped because the queue was full.
    std::uint64_t dropped() const;
    // The broker acknowledged the stop's "offline", and so everything published before it.
    bool stoppedCleanly() const;

    const MqttPublisherOptions& options() const;

signals:
    // The queue was full and the oldest reading went: total is every reading dropped so far. Emitted by
    // publish(), on the caller's thread.
    void readingsDropped(quint64 total);
    // Connected, or the connection was lost or could not be made (with the reason in words). A failed
    // attempt is told once for as long as the reason stays the same. Delivered on the publisher's
    // thread.
    void connectionChanged(bool connected, const QString& reason);
    // The broker refused the login (bad user name or password, or not authorised). Trying again
    // cannot help, so the publisher stops connecting; readings are still queued until stop().
    // Emitted once, instead of connectionChanged; delivered on the publisher's thread.
    void loginRefused(const QString& reason);

private:
    struct Link;
    std::unique_ptr<Link> link_;
};
