#include "mqtt/MqttBrokerAddress.h"

#include "core/DecimoraError.h"

namespace {

const QString Expected = QStringLiteral("expected HOST, HOST:PORT or [IPv6 address]:PORT");

[[noreturn]] void Refuse(const QString& text, const QString& why)
{
    throw DecimoraError(QStringLiteral("MQTT broker \"%1\": %2; %3.").arg(text, why, Expected));
}

std::uint16_t PortOf(const QString& text, const QString& digits)
{
    if (digits.isEmpty())
        Refuse(text, QStringLiteral("no port after the colon"));
    // toUInt() would take "+1883" and " 1883"; a port is digits alone.
    for (const QChar c : digits) {
        if (!c.isDigit() || c.unicode() > '9')
            Refuse(text, QStringLiteral("the port \"%1\" is not a number").arg(digits));
    }
    bool ok = false;
    const uint port = digits.toUInt(&ok);
    if (!ok || port < 1 || port > 65535)
        Refuse(text, QStringLiteral("the port %1 is outside 1 to 65535").arg(digits));
    return static_cast<std::uint16_t>(port);
}

void CheckHost(const QString& text, const QString& host)
{
    if (host.isEmpty())
        Refuse(text, QStringLiteral("no host name"));
    for (const QChar c : host) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('@') || c.category() == QChar::Other_Control)
            Refuse(text, QStringLiteral("\"%1\" cannot be part of a host name").arg(c));
    }
}

} // namespace

MqttBrokerAddress ParseMqttBrokerAddress(const QString& text, std::uint16_t defaultPort)
{
    if (text.trimmed().isEmpty())
        throw DecimoraError(QStringLiteral("No MQTT broker given: %1.").arg(Expected));
    if (const qsizetype at = text.lastIndexOf(QLatin1Char('@')); at >= 0)
        throw DecimoraError(
            QStringLiteral("MQTT broker \"...%1\": a login does not go in the address; give the user with "
                           "--mqtt-user and the password in --mqtt-password-file or DECIMORA_MQTT_PASSWORD.")
                .arg(text.mid(at)));
    if (text.contains(QStringLiteral("://")))
        Refuse(text, QStringLiteral("give the host alone, without a scheme such as \"mqtt://\""));
    MqttBrokerAddress address;
    address.port = defaultPort;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            Refuse(text, QStringLiteral("the IPv6 address has no closing \"]\""));
        address.host = text.mid(1, close - 1);
        if (address.host.isEmpty() || !address.host.contains(QLatin1Char(':')))
            Refuse(text, QStringLiteral("brackets hold an IPv6 address"));
        CheckHost(text, address.host);
        const QString rest = text.mid(close + 1);
        if (rest.isEmpty())
            return address;
        if (!rest.startsWith(QLatin1Char(':')))
            Refuse(text, QStringLiteral("only \":PORT\" may follow the \"]\""));
        address.port = PortOf(text, rest.mid(1));
        return address;
    }
    const qsizetype colons = text.count(QLatin1Char(':'));
    if (colons > 1)
        Refuse(text, QStringLiteral("an IPv6 address goes in brackets, as [::1]:1883"));
    if (colons == 0) {
        CheckHost(text, text);
        address.host = text;
        return address;
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    address.host = text.left(colon);
    CheckHost(text, address.host);
    address.port = PortOf(text, text.mid(colon + 1));
    return address;
}

QString MqttBrokerAddressText(const MqttBrokerAddress& address)
{
    const QString host
        = address.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + address.host + QLatin1Char(']') : address.host;
    return host + QLatin1Char(':') + QString::number(address.port);
}
