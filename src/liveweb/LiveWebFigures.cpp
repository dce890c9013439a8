#include "liveweb/LiveWebFigures.h"

#include "core/MeterProtocol.h"
#include "stats/ReadingTexts.h"

#include <QJsonArray>

#include <cmath>

namespace {

constexpr std::int64_t MinuteMs = 60 * 1000;

// Tenths of a dB off the energy grid are no reading of the meter's; they count as the grid's ends.
double EnergyOf(std::int32_t tenths)
{
    const std::int32_t step = std::clamp<std::int32_t>(tenths, 0, level_grid::Steps - 1);
    return level_grid::Energy[static_cast<std::size_t>(step)];
}

// dB with one decimal, as the page shows them; null where there is no level.
QJsonValue Decibels(std::optional<double> level)
{
    if (!level || !std::isfinite(*level))
        return QJsonValue::Null;
    return std::round(*level * 10.0) / 10.0;
}

double LevelOfEnergy(double energy)
{
    return 10.0 * std::log10(energy);
}

QString WeightingName(Weighting weighting)
{
    return QString(QLatin1Char(WeightingLetter(weighting)));
}

Weighting WeightingOf(std::int32_t flags)
{
    return (flags & MeterStatus::CWeighting) != 0 ? Weighting::C : Weighting::A;
}

QString ClockText(ClockSeconds time)
{
    return TimeOf(time).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

LiveWebFigures::LiveWebFigures(const LiveWebSettings& settings)
    : settings_(settings)
    , assessment_(settings.noise)
{
}

QJsonObject LiveWebFigures::add(const LiveReading& reading, bool wantMessage)
{
    ++seq_;
    latest_ = reading;
    const std::int64_t t = reading.time.toMSecsSinceEpoch();
    const Weighting weighting = WeightingOf(reading.flags);
    hour_.push_back({ t, reading.tenths });
    while (!hour_.empty() && hour_.front().t <= t - HourMs)
        hour_.pop_front();
    const std::optional<MinutePoint> closed = addToMinutes(t, reading.tenths, weighting);
    addToDay(reading.time.date(), reading.tenths, weighting);
    const std::int32_t utcOffset = reading.time.offsetFromUtc();
    const ClockSeconds clock
        = ClockSecondsOf(reading.time.date(), reading.time.time().msecsSinceStartOfDay() / 1000) - utcOffset;
    const bool assessmentMoved = addToAssessment(clock, utcOffset, reading.tenths, weighting);
    if (!wantMessage)
        return {};

    QJsonObject message {
        { QStringLiteral("type"), QStringLiteral("reading") },
        { QStringLiteral("seq"), qint64(seq_) },
        { QStringLiteral("reading"), readingJson(reading) },
        { QStringLiteral("day"), dayJson() },
    };
    if (closed)
        message.insert(QStringLiteral("minute"),
            QJsonArray { qint64(closed->t), Decibels(closed->leq), WeightingName(closed->weighting) });
    if (closed || assessmentMoved)
        message.insert(QStringLiteral("assessment"), assessmentJson());
    return message;
}

QJsonObject LiveWebFigures::snapshot() const
{
    QJsonArray hour;
    for (const HourPoint& point : hour_)
        hour.append(QJsonArray { qint64(point.t), point.tenths / 10.0 });
    QJsonArray minutes;
    for (const MinutePoint& minute : minutes_)
        minutes.append(QJsonArray { qint64(minute.t), Decibels(minute.leq), WeightingName(minute.weighting) });
    return {
        { QStringLiteral("type"), QStringLiteral("history") },
        { QStringLiteral("seq"), qint64(seq_) },
        { QStringLiteral("highAlarm"), settings_.highAlarm },
        { QStringLiteral("intervalMs"), qint64(settings_.intervalMs) },
        { QStringLiteral("latest"), latest_ ? QJsonValue(readingJson(*latest_)) : QJsonValue(QJsonValue::Null) },
        { QStringLiteral("hour"), hour },
        { QStringLiteral("minutes"), minutes },
        { QStringLiteral("day"), dayJson() },
        { QStringLiteral("assessment"), assessmentJson() },
    };
}

QJsonObject LiveWebFigures::readingJson(const LiveReading& reading) const
{
    QJsonObject json {
        { QStringLiteral("t"), reading.time.toMSecsSinceEpoch() },
        { QStringLiteral("offset"), reading.time.offsetFromUtc() },
        { QStringLiteral("time"), IsoTimeText(reading.time) },
        { QStringLiteral("level"), reading.tenths / 10.0 },
        { QStringLiteral("weighting"), WeightingText(reading.flags) },
        { QStringLiteral("range"), RangeText(reading.flags) },
        { QStringLiteral("response"), ResponseText(reading.flags) },
        { QStringLiteral("max_hold"), MaxHoldOn(reading.flags) },
        // As the measurement window sounds its alarm: above the level, not at it.
        { QStringLiteral("alarm"), reading.tenths > settings_.highAlarm * 10.0 },
    };
    if (const std::optional<RangeExcess> excess = RangeExcessOf(reading)) {
        json.insert(QStringLiteral("under"), excess->under);
        json.insert(QStringLiteral("over"), excess->over);
    }
    return json;
}

std::optional<LiveWebFigures::MinutePoint> LiveWebFigures::addToMinutes(
    std::int64_t t, std::int32_t tenths, Weighting weighting)
{
    // Floor, not truncation: a time before 1970 still falls into its own minute.
    const std::int64_t minute = (t >= 0 ? t / MinuteMs : (t - MinuteMs + 1) / MinuteMs) * MinuteMs;
    std::optional<MinutePoint> closed;
    if (openMinute_ && (openMinute_->t != minute || openMinute_->weighting != weighting)) {
        closed = MinutePoint { openMinute_->t, LevelOfEnergy(openMinute_->energy / double(openMinute_->count)),
            openMinute_->weighting };
        minutes_.push_back(*closed);
        openMinute_.reset();
    }
    while (!minutes_.empty() && minutes_.front().t <= t - DayMs)
        minutes_.pop_front();
    if (!openMinute_)
        openMinute_ = OpenMinute { minute, weighting, 0.0, 0 };
    openMinute_->energy += EnergyOf(tenths);
    ++openMinute_->count;
    return closed;
}

void LiveWebFigures::addToDay(const QDate& date, std::int32_t tenths, Weighting weighting)
{
    if (date != day_) {
        for (LevelAccumulator& levels : dayLevels_)
            levels.clear();
        day_ = date;
    }
    // Every reading stands for the same interval, so counting readings is averaging over time.
    dayLevels_[static_cast<std::size_t>(weighting)].addTenths(tenths, 0);
    weighting_ = weighting;
}

bool LiveWebFigures::addToAssessment(
    ClockSeconds time, std::int32_t utcOffset, std::int32_t tenths, Weighting weighting)
{
    assessmentChanged_ = false;
    const QDate day = NoiseAssessment::AssessmentDay(time + utcOffset, settings_.noise.periods.dayStart);
    if (day != assessmentDay_) {
        handOnSeconds();
        assessment_ = NoiseAssessment(settings_.noise);
        assessmentDay_ = day;
        lastHanded_.reset();
        loud_ = false;
        assessmentChanged_ = true;
    }
    // A reading of the other weighting, or one after a pause (the meter was away), does not join
    // the seconds gathered before it.
    if (openSeconds_
        && (openSeconds_->weighting != weighting
            || (time - openSeconds_->start) * 1000
                > openSeconds_->ms + GapSteps * std::max<std::int64_t>(settings_.intervalMs, 1000)))
        handOnSeconds();
    if (!openSeconds_)
        openSeconds_ = OpenSeconds { time, weighting, 0.0, 0, utcOffset };
    openSeconds_->energyMs += EnergyOf(tenths) * double(settings_.intervalMs);
    openSeconds_->ms += settings_.intervalMs;
    if (openSeconds_->ms >= 1000)
        handOnSeconds();
    return assessmentChanged_;
}

void LiveWebFigures::handOnSeconds()
{
    if (!openSeconds_)
        return;
    const OpenSeconds open = *openSeconds_;
    openSeconds_.reset();
    const double energy = open.energyMs / double(open.ms);
    TimedReading reading;
    reading.time = open.start;
    // Whole seconds; what is left of a second goes on with the next readings.
    reading.seconds = static_cast<std::int32_t>(std::max<std::int64_t>(1, open.ms / 1000));
    reading.tenths = static_cast<std::int32_t>(std::llround(100.0 * std::log10(energy)));
    reading.weighting = open.weighting;
    reading.afterBreak = lastHanded_ && IsBreak(open.start - lastHanded_->time, lastHanded_->seconds);
    reading.utcOffset = open.utcOffset;
    assessment_.add(reading);
    lastHanded_ = reading;
    const std::int64_t left = open.ms - std::int64_t(reading.seconds) * 1000;
    if (left > 0)
        openSeconds_
            = OpenSeconds { open.start + reading.seconds, open.weighting, energy * double(left), left, open.utcOffset };
    const bool loud = reading.tenths >= settings_.noise.events.thresholdTenths;
    // An event starts, goes on or ends: the list of events changes.
    if (loud || loud_)
        assessmentChanged_ = true;
    loud_ = loud;
}

QJsonObject LiveWebFigures::dayJson() const
{
    const LevelAccumulator& levels = dayLevels_[static_cast<std::size_t>(weighting_)];
    return {
        { QStringLiteral("date"), day_.isValid() ? QJsonValue(day_.toString(Qt::ISODate)) : QJsonValue::Null },
        { QStringLiteral("weighting"), WeightingName(weighting_) },
        { QStringLiteral("count"), qint64(levels.count()) },
        { QStringLiteral("leq"), Decibels(levels.equivalentLevel()) },
        { QStringLiteral("lmax"), Decibels(levels.maximum()) },
        { QStringLiteral("l90"), Decibels(levels.percentileLevel(90)) },
    };
}

QJsonObject LiveWebFigures::assessmentJson() const
{
    const NoiseFigures figures = assessment_.figures();
    QJsonArray periods;
    for (const PeriodLevel& row : figures.periods) {
        if (row.weighting != weighting_ || row.day != assessmentDay_)
            continue;
        periods.append(QJsonObject {
            { QStringLiteral("name"), PeriodFigureName(row.figure) },
            { QStringLiteral("level"), Decibels(row.level) },
            { QStringLiteral("coverage"), std::round(row.coverage() * 1000.0) / 1000.0 },
        });
    }
    QJsonArray events;
    std::int64_t eventCount = 0;
    for (const ExceedanceEvent& event : figures.events)
        eventCount += event.weighting == weighting_ ? 1 : 0;
    std::int64_t skipped = 0;
    for (const ExceedanceEvent& event : figures.events) {
        if (event.weighting != weighting_ || skipped++ < eventCount - std::int64_t(ListedEvents))
            continue;
        events.append(QJsonObject {
            { QStringLiteral("start"), ClockText(event.wallClockStart()) },
            { QStringLiteral("end"), ClockText(event.wallClockEnd()) },
            { QStringLiteral("seconds"), qint64(event.seconds()) },
            { QStringLiteral("lmax"), Decibels(event.lmax) },
            { QStringLiteral("leq"), Decibels(event.leq) },
            { QStringLiteral("period"), NoisePeriodName(event.period) },
        });
    }
    QJsonValue now = QJsonValue::Null;
    if (latest_)
        now = NoisePeriodName(NoiseAssessment::PeriodOf(latest_->time.time().hour(), settings_.noise.periods));
    return {
        { QStringLiteral("day"),
            assessmentDay_.isValid() ? QJsonValue(assessmentDay_.toString(Qt::ISODate)) : QJsonValue::Null },
        { QStringLiteral("weighting"), WeightingName(weighting_) },
        { QStringLiteral("period"), now },
        { QStringLiteral("threshold"), settings_.noise.events.thresholdTenths / 10.0 },
        { QStringLiteral("periods"), periods },
        { QStringLiteral("eventCount"), qint64(eventCount) },
        { QStringLiteral("events"), events },
    };
}
