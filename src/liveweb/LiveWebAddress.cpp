#include "liveweb/LiveWebAddress.h"

#include "core/DecimoraError.h"

namespace {

quint16 PortOf(const QString& text, const QString& whole)
{
    bool number = false;
    const uint port = text.toUInt(&number);
    if (!number || port < 1 || port > 65535)
        throw DecimoraError(QStringLiteral("--serve needs a port from 1 to 65535, not '%1'.").arg(whole));
    return static_cast<quint16>(port);
}

QHostAddress HostOf(const QString& text, const QString& whole)
{
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    QHostAddress host;
    if (text.isEmpty() || !host.setAddress(text))
        throw DecimoraError(
            QStringLiteral("--serve needs [ADDR:]PORT with ADDR an IP address (IPv6 in brackets), not '%1'.")
                .arg(whole));
    return host;
}

} // namespace

LiveWebAddress ParseLiveWebAddress(const QString& text)
{
    LiveWebAddress address;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            throw DecimoraError(
                QStringLiteral("--serve needs [ADDR:]PORT with ADDR an IP address (IPv6 in brackets), not '%1'.")
                    .arg(text));
        address.host = HostOf(text.mid(1, close - 1), text);
        if (address.host.protocol() != QAbstractSocket::IPv6Protocol)
            throw DecimoraError(QStringLiteral("--serve takes only an IPv6 address in brackets, not '%1'.").arg(text));
        address.port = PortOf(text.mid(close + 2), text);
        return address;
    }
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        address.port = PortOf(text, text);
        return address;
    }
    if (text.indexOf(QLatin1Char(':')) != colon)
        throw DecimoraError(
            QStringLiteral("--serve needs an IPv6 address in brackets, [ADDR]:PORT, not '%1'.").arg(text));
    address.host = HostOf(text.left(colon), text);
    address.port = PortOf(text.mid(colon + 1), text);
    return address;
}

QString LiveWebUrl(const LiveWebAddress& address)
{
    QHostAddress shown = address.host;
    // A browser cannot go to "every address": the page is then at this machine's own.
    if (shown == QHostAddress::AnyIPv4)
        shown = QHostAddress(QHostAddress::LocalHost);
    else if (shown == QHostAddress::AnyIPv6 || shown == QHostAddress::Any)
        shown = QHostAddress(QHostAddress::LocalHostIPv6);
    const QString host = shown.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(shown.toString())
        : shown.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(address.port);
}

bool ReachableFromNetwork(const LiveWebAddress& address)
{
    return !address.host.isLoopback();
}
