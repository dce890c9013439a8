#include "cli/HomeAssistantRemoval.h"

#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/MqttSink.h"

#include <QEventLoop>
#include <QTimer>

void RemoveHomeAssistantSensors(MqttPublisherOptions options)
{
    options.homeAssistantDiscovery = true;
    options.removeDiscovery = true;
    options.meterPresent = false;
    const QString broker = MqttBrokerAddressText(options.broker);
    MqttPublisher publisher(options);
    // The removal goes out as soon as the broker takes the connection; until then every failed attempt
    // is only remembered, and the last one is the reason given if none succeeds.
    QEventLoop loop;
    QString reason = QStringLiteral("no answer");
    QObject::connect(&publisher, &MqttPublisher::connectionChanged, &loop, [&](bool connected, const QString& why) {
        if (connected)
            loop.quit();
        else
            reason = why;
    });
    QObject::connect(&publisher, &MqttPublisher::loginRefused, &loop, [&](const QString& why) {
        reason = why;
        loop.quit();
    });
    QTimer::singleShot(MqttSink::FlushAtEnd, &loop, &QEventLoop::quit);
    loop.exec();
    publisher.stop(MqttSink::FlushAtEnd);
    if (!publisher.stoppedCleanly())
        throw CliError(QStringLiteral("MQTT: could not remove the Home Assistant sensors (%1); they stay as they were.")
                           .arg(reason));
    Say(QStringLiteral("MQTT: removed the Home Assistant sensors of %1 from %2.").arg(MqttDeviceId(options), broker));
}
