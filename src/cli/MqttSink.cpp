#include "cli/MqttSink.h"

namespace {

// While the broker stays away and the queue is full, every reading drops one: say so once a minute,
// not once a reading.
constexpr qint64 DropNoteEveryMs = 60 * 1000;

} // namespace

MqttSink::MqttSink(MqttPublisherOptions options, std::function<void(const QString&)> note)
    : publisher_(std::move(options))
    , note_(std::move(note))
{
    const QString broker = MqttBrokerAddressText(publisher_.options().broker);
    // Delivered on the publisher's thread; the context object brings it to this one.
    connect(
        &publisher_, &MqttPublisher::connectionChanged, this, [this, broker](bool connected, const QString& reason) {
            if (connected)
                note_(QStringLiteral("MQTT: connected to %1, readings go to %2.")
                          .arg(broker, MqttStateTopic(publisher_.options())));
            else
                note_(QStringLiteral("MQTT: no connection to %1 (%2); readings wait in a queue of at most %3.")
                          .arg(broker, reason)
                          .arg(publisher_.options().queueCapacity));
        });
    connect(&publisher_, &MqttPublisher::readingsDropped, this, &MqttSink::noteDropped);
    connect(&publisher_, &MqttPublisher::loginRefused, this, [this](const QString& reason) {
        emit loginRefused(QStringLiteral("MQTT: %1. Check --mqtt-user and the password.").arg(reason));
    });
}

MqttSink::~MqttSink()
{
    finish();
}

void MqttSink::take(const LiveReading& reading)
{
    publisher_.publish(reading);
}

void MqttSink::noteDropped(quint64 total)
{
    if (droppedNoted_ != 0 && sinceDropNote_.isValid() && sinceDropNote_.elapsed() < DropNoteEveryMs)
        return;
    note_(QStringLiteral("MQTT: the queue is full; the oldest readings are dropped (%1 so far).").arg(total));
    droppedNoted_ = total;
    sinceDropNote_.start();
}

void MqttSink::finish()
{
    if (finished_)
        return;
    finished_ = true;
    const std::size_t unsent = publisher_.stop(FlushAtEnd);
    const quint64 dropped = publisher_.dropped();
    if (dropped != 0)
        note_(QStringLiteral("MQTT: %1 readings dropped in all because the queue was full.").arg(dropped));
    if (unsent != 0)
        note_(QStringLiteral("MQTT: %1 readings could not be sent before the end.").arg(unsent));
}
