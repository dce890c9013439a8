#include "core/LiveReading.h"

#include "core/MeterProtocol.h"

#include <cstdlib>

QString LevelText(std::int32_t tenths)
{
    return QString::number(tenths / 10) + QLatin1Char('.') + QString::number(std::abs(tenths % 10));
}

QString WeightingText(std::int32_t flags)
{
    return (flags & MeterStatus::CWeighting) ? QStringLiteral("C") : QStringLiteral("A");
}

QString RangeText(std::int32_t flags)
{
    const auto code = static_cast<std::size_t>(flags & MeterStatus::RangeMask);
    if (code >= RangeLimits.size())
        return QStringLiteral("unknown");
    return QString::number(RangeLimits[code].low) + QLatin1Char('-') + QString::number(RangeLimits[code].high);
}

std::optional<RangeExcess> RangeExcessOf(const LiveReading& reading)
{
    const auto code = static_cast<std::size_t>(reading.flags & MeterStatus::RangeMask);
    if (code >= RangeLimits.size())
        return std::nullopt;
    const RangeLimit& range = RangeLimits[code];
    RangeExcess excess;
    excess.under = reading.tenths < range.low * 10;
    excess.over = reading.tenths > range.high * 10;
    return excess;
}

QString ResponseText(std::int32_t flags)
{
    return (flags & MeterStatus::Fast) ? QStringLiteral("fast") : QStringLiteral("slow");
}

bool MaxHoldOn(std::int32_t flags)
{
    return (flags & MeterStatus::MaxHold) != 0;
}

QString IsoTimeText(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        + QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray LiveReadingJson(const LiveReading& reading)
{
    // Every value is a fixed word or a number: nothing needs escaping.
    return "{\"time\":\"" + IsoTimeText(reading.time).toLatin1()
        + "\",\"level\":" + LevelText(reading.tenths).toLatin1() + ",\"weighting\":\""
        + WeightingText(reading.flags).toLatin1() + "\",\"range\":\"" + RangeText(reading.flags).toLatin1()
        + "\",\"response\":\"" + ResponseText(reading.flags).toLatin1()
        + "\",\"max_hold\":" + (MaxHoldOn(reading.flags) ? "true" : "false") + '}';
}
