#include "stats/FigureTables.h"

#include "core/SystemTexts.h"

#include <cmath>

namespace {

QString Unknown()
{
    return QString::fromUtf16(UnknownFigure);
}

// A level as a spreadsheet gets it: the one decimal the window, the readings and the data sheet show,
// rounded as they round it, so that a sum over the sheet adds what the user sees.
double OneDecimal(double level)
{
    return QString::number(level, 'f', 1).toDouble();
}

FigureCell Text(const QString& shown, const QString& plain)
{
    return { shown, plain, std::nullopt };
}

FigureCell Text(const QString& both)
{
    return Text(both, both);
}

FigureCell Level(const std::optional<double>& level)
{
    if (!level)
        return { Unknown(), QString(), std::nullopt };
    return { SystemOneDecimalText(*level), QString::number(*level, 'f', 1), OneDecimal(*level) };
}

FigureCell Percent(double share)
{
    const double percent = 100.0 * share;
    return { SystemOneDecimalText(percent), QString::number(percent, 'f', 1), percent };
}

FigureCell Count(std::int64_t count)
{
    return { QString::number(count), QString::number(count), static_cast<double>(count) };
}

FigureCell Seconds(std::int64_t seconds)
{
    return { DurationText(seconds), QString::number(seconds), static_cast<double>(seconds) };
}

FigureCell WeightingCell(Weighting weighting)
{
    return Text(QString(QLatin1Char(WeightingLetter(weighting))));
}

FigureCell Day(const QDate& date)
{
    return Text(SystemShortDateText(date), date.toString(Qt::ISODate));
}

FigureColumn Column(const char* key, const char* title, bool numeric = false)
{
    return { QString::fromLatin1(key), QString::fromUtf8(title), numeric };
}

} // namespace

int FigureTable::columnOf(const QString& key) const
{
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

QString ShownMoment(ClockSeconds time)
{
    return SystemShortDateText(DateOf(time)) + QLatin1Char(' ') + SystemLongTimeText(TimeOf(time));
}

QString PlainMoment(ClockSeconds time)
{
    return DateOf(time).toString(Qt::ISODate) + QLatin1Char('T') + TimeOf(time).toString(QStringLiteral("HH:mm:ss"));
}

FigureTable PeriodTable(const NoiseFigures& figures)
{
    FigureTable table;
    table.columns = { Column("weighting", "Weighting"), Column("day", "Day"), Column("figure", "Figure"),
        Column("value", "Level (dB)", true), Column("coverage", "Coverage (%)", true),
        Column("events", "Events", true) };
    for (const PeriodLevel& row : figures.periods) {
        table.rows.push_back({ WeightingCell(row.weighting),
            row.day ? Day(*row.day) : Text(QStringLiteral("Whole run"), QStringLiteral("all")),
            Text(PeriodFigureName(row.figure)), Level(row.level), Percent(row.coverage()), Count(row.events) });
    }
    return table;
}

FigureTable HourTable(const NoiseFigures& figures)
{
    FigureTable table;
    table.columns = { Column("weighting", "Weighting"), Column("date", "Date"), Column("hour", "Hour"),
        Column("Leq", "Leq (dB)", true), Column("Lmax", "Lmax (dB)", true), Column("L10", "L10 (dB)", true),
        Column("L90", "L90 (dB)", true), Column("coverage", "Coverage (%)", true) };
    for (const HourLevels& hour : figures.hours) {
        table.rows.push_back({ WeightingCell(hour.weighting), Day(hour.date),
            Text(QStringLiteral("%1:00").arg(hour.hour, 2, 10, QLatin1Char('0'))), Level(hour.leq), Level(hour.lmax),
            Level(hour.l10), Level(hour.l90), Percent(hour.coverage()) });
    }
    return table;
}

FigureTable EventTable(const NoiseFigures& figures)
{
    FigureTable table;
    table.columns = { Column("weighting", "Weighting"), Column("start", "Start"), Column("end", "End"),
        Column("duration", "Duration", true), Column("Lmax", "Lmax (dB)", true), Column("Leq", "Leq (dB)", true),
        Column("SEL", "SEL (dB)", true), Column("period", "Period") };
    for (const ExceedanceEvent& event : figures.events) {
        table.rows.push_back({ WeightingCell(event.weighting), Text(ShownMoment(event.start), PlainMoment(event.start)),
            Text(ShownMoment(event.end), PlainMoment(event.end)), Seconds(event.seconds()), Level(event.lmax),
            Level(event.leq), Level(event.sel), Text(NoisePeriodName(event.period)) });
    }
    return table;
}

FigureTable StatisticsTable(const WeightedLevelStatistics& statistics, double highAlarmLevel)
{
    FigureTable table;
    table.columns = { Column("figure", "Figure"), Column("value", "Value", true), Column("unit", "Unit") };
    for (const StatisticsRow& row : StatisticsRows(statistics, highAlarmLevel)) {
        QString plain;
        if (row.value) {
            plain = row.unit == QLatin1String("dB") ? QString::number(*row.value, 'f', 1)
                                                    : QString::number(std::llround(*row.value));
        }
        // A duration is shown as h:mm:ss, which needs no unit; programs and spreadsheets get seconds.
        const QString shownUnit = row.unit == QLatin1String("s") ? QString() : row.unit;
        const std::optional<double> number
            = row.value && row.unit == QLatin1String("dB") ? std::optional(OneDecimal(*row.value)) : row.value;
        table.rows.push_back({ Text(row.label), { row.text, plain, number }, Text(shownUnit, row.unit) });
    }
    return table;
}
