#include "report/NoiseReport.h"

#include "core/NullServices.h"
#include "core/SystemTexts.h"
#include "report/ReportEngine.h"
#include "stats/FigureTables.h"

#include <memory>

namespace {

constexpr char MeterName[] = "ZQ731 sound level meter";

QString Hours(std::int32_t from, std::int32_t to)
{
    return QStringLiteral("%1-%2").arg(from, 2, 10, QLatin1Char('0')).arg(to, 2, 10, QLatin1Char('0'));
}

QString BoundsText(const NoisePeriods& p)
{
    return QStringLiteral("day %1, evening %2 (+%3 dB), night %4 (+%5 dB); Ldn: day %6, night %7 (+%5 dB)")
        .arg(Hours(p.dayStart, p.eveningStart), Hours(p.eveningStart, p.nightStart),
            SystemShortestDecimalText(p.eveningPenalty), Hours(p.nightStart, p.dayStart),
            SystemShortestDecimalText(p.nightPenalty), Hours(p.dayStart, p.dnNightStart),
            Hours(p.dnNightStart, p.dayStart));
}

QString RulesText(const EventRules& rules)
{
    return QStringLiteral("at or above %1 dB for at least %2, joined where apart less than %3")
        .arg(SystemShortestDecimalText(rules.thresholdTenths / 10.0), DurationText(rules.minimumSeconds),
            DurationText(rules.mergeGapSeconds));
}

} // namespace

std::optional<QString> NoiseReportRefusal(const TimedSeries& series, qint64 firstRow)
{
    if (series.timeError) {
        return QStringLiteral("The noise report needs the time of every reading, and reading %1 has none: %2.")
            .arg(series.timeError->row() - firstRow + 1)
            .arg(series.timeError->text());
    }
    if (!series.durationsKnown)
        return QStringLiteral("The noise report needs readings at two different times at least.");
    return std::nullopt;
}

void BindNoiseReport(ReportEngine& engine, const TimedSeries& series, const NoiseSettings& settings,
    double highAlarmLevel, const NoiseReportDetails& details)
{
    const NoiseFigures figures = NoiseFiguresOf(series, settings);
    engine.bindTable(QStringLiteral("periods"), PeriodTable(figures));
    engine.bindTable(QStringLiteral("hourly"), HourTable(figures));
    engine.bindTable(QStringLiteral("events"), EventTable(figures));
    engine.bindTable(QStringLiteral("statistics"), StatisticsTable(StatisticsOf(series), highAlarmLevel));

    ReportTimeHistory history;
    history.readings = std::make_shared<const std::vector<TimedReading>>(series.readings);
    history.threshold = settings.events.thresholdTenths / 10.0;
    for (const ExceedanceEvent& event : figures.events)
        history.events.emplace_back(event.start, event.end);
    engine.bindChart(QStringLiteral("levels"), std::move(history));

    bool weighted[2] = { false, false };
    std::int64_t covered = 0;
    for (const TimedReading& reading : series.readings) {
        weighted[reading.weighting == Weighting::C ? 1 : 0] = true;
        covered += reading.seconds;
    }
    QStringList weightings;
    if (weighted[0])
        weightings << QStringLiteral("A");
    if (weighted[1])
        weightings << QStringLiteral("C");
    QMap<QString, QString> fields {
        { QStringLiteral("title"), details.title },
        { QStringLiteral("company"), details.company },
        { QStringLiteral("place"), details.place },
        { QStringLiteral("notes"), details.notes },
        { QStringLiteral("source"), details.source },
        { QStringLiteral("readings"), QString::number(series.readings.size()) },
        { QStringLiteral("covered"), DurationText(covered) },
        { QStringLiteral("meter"), QString::fromLatin1(MeterName) },
        { QStringLiteral("weighting"), weightings.join(QStringLiteral(" and ")) },
        { QStringLiteral("bounds"), BoundsText(settings.periods) },
        { QStringLiteral("rules"), RulesText(settings.events) },
    };
    if (figures.first && figures.last) {
        fields.insert(QStringLiteral("period"),
            QStringLiteral("%1 to %2").arg(ShownMoment(*figures.first), ShownMoment(*figures.last)));
    }
    engine.setFields(fields);
}

void WriteNoiseReportPdf(const QString& definitionPath, const TimedSeries& series, const NoiseSettings& settings,
    double highAlarmLevel, const NoiseReportDetails& details, const QString& pdfPath, Clock& clock)
{
    if (const std::optional<QString> refusal = NoiseReportRefusal(series))
        throw ReportError(*refusal);
    // The command-line tool writes its PDF without a question.
    NullUserInteraction nobody;
    ReportEngine report(nobody, clock);
    report.open(definitionPath);
    BindNoiseReport(report, series, settings, highAlarmLevel, details);
    report.writePdfFile(pdfPath);
}
