#include "core/ReadingStatistics.h"

#include "core/SystemTexts.h"

QStringList StatisticsFooterLines(const ReadingStatistics& statistics, const QDate& date)
{
    const QString tenBlanks(10, QLatin1Char(' '));
    const QString fiveBlanks(5, QLatin1Char(' '));
    const QString wideGap(28, QLatin1Char(' '));
    return {
        tenBlanks + QStringLiteral("MAX:") + fiveBlanks + SystemOneDecimalText(statistics.maximum()) + wideGap
            + QStringLiteral("MIN:") + fiveBlanks + SystemOneDecimalText(statistics.minimum()) + wideGap
            + QStringLiteral("AVG:") + fiveBlanks + SystemOneDecimalText(statistics.average()),
        tenBlanks + QStringLiteral("Date:") + fiveBlanks + SystemShortDateText(date),
    };
}
