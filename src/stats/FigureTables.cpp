#include "stats/FigureTables.h"

#include "core/SystemTexts.h"

#include <cmath>
#include <cstdlib>

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

// "02:00", or "02:00+01:00" for an hour that the clock going back repeats: each of the two says which
// it is.
QString HourText(const HourLevels& hour, bool repeated)
{
    QString text = QStringLiteral("%1:00").arg(hour.hour, 2, 10, QLatin1Char('0'));
    if (repeated) {
        const std::int32_t minutes = std::abs(hour.utcOffset) / 60;
        text += QStringLiteral("%1%2:%3")
                    .arg(hour.utcOffset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                    .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

FigureTable HourTable(const NoiseFigures& figures)
{
    FigureTable table;
    table.columns = { Column("weighting", "Weighting"), Column("date", "Date"), Column("hour", "Hour"),
        Column("Leq", "Leq (dB)", true), Column("Lmax", "Lmax (dB)", true), Column("L10", "L10 (dB)", true),
        Column("L90", "L90 (dB)", true), Column("coverage", "Coverage (%)", true) };
    const auto sameHour = [&](std::size_t i, std::size_t j) {
        const HourLevels& a = figures.hours[i];
        const HourLevels& b = figures.hours[j];
        return a.weighting == b.weighting && a.date == b.date && a.hour == b.hour;
    };
    for (std::size_t i = 0; i < figures.hours.size(); ++i) {
        const HourLevels& hour = figures.hours[i];
        const bool repeated = (i > 0 && sameHour(i - 1, i)) || (i + 1 < figures.hours.size() && sameHour(i, i + 1));
        table.rows.push_back({ WeightingCell(hour.weighting), Day(hour.date), Text(HourText(hour, repeated)),
            Level(hour.leq), Level(hour.lmax), Level(hour.l10), Level(hour.l90), Percent(hour.coverage()) });
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
        const ClockSeconds start = event.wallClockStart();
        const ClockSeconds end = event.wallClockEnd();
        table.rows.push_back({ WeightingCell(event.weighting), Text(ShownMoment(start), PlainMoment(start)),
            Text(ShownMoment(end), PlainMoment(end)), Seconds(event.seconds()), Level(event.lmax), Level(event.leq),
            Level(event.sel), Text(NoisePeriodName(event.period)) });
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
