#include "stats/NoiseAssessment.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int32_t HoursPerDay = 24;
constexpr double HighestPenalty = 20.0;

std::size_t IndexOf(Weighting weighting)
{
    return weighting == Weighting::C ? 1 : 0;
}

double EnergyOf(std::int32_t tenths)
{
    return level_grid::Energy[static_cast<std::size_t>(tenths)];
}

// Energy and covered time of one period.
struct Sums {
    double energySeconds = 0.0;
    std::int64_t seconds = 0;

    void add(const Sums& other)
    {
        energySeconds += other.energySeconds;
        seconds += other.seconds;
    }
    std::optional<double> level() const
    {
        if (seconds <= 0)
            return std::nullopt;
        return 10.0 * std::log10(energySeconds / static_cast<double>(seconds));
    }
};

// The offsets from UTC of the first and the last hour of a period that has readings: a clock that
// went back in between made the period longer by the difference, one that went forward shorter.
struct OffsetSpan {
    std::optional<std::int32_t> first;
    std::int32_t last = 0;

    void see(std::int32_t offset)
    {
        if (!first)
            first = offset;
        last = offset;
    }
    std::int64_t lengthening() const { return first ? *first - last : 0; }
};

// The sums of one assessment day: Lden's three periods, then Ldn's day and night; and the seconds by
// which a change of the clock made each of Lden's periods, and the whole day, longer than its hours.
struct DaySums {
    std::array<Sums, 3> den;
    std::array<Sums, 2> dn;
    std::array<std::int64_t, 3> events { 0, 0, 0 };
    std::array<std::int64_t, 3> denLengthening { 0, 0, 0 };
    std::int64_t dayLengthening = 0;

    void add(const DaySums& other)
    {
        for (std::size_t i = 0; i < den.size(); ++i) {
            den[i].add(other.den[i]);
            events[i] += other.events[i];
            denLengthening[i] += other.denLengthening[i];
        }
        for (std::size_t i = 0; i < dn.size(); ++i)
            dn[i].add(other.dn[i]);
        dayLengthening += other.dayLengthening;
    }
};

struct DayOffsets {
    std::array<OffsetSpan, 3> den;
    OffsetSpan day;
};

// 10·lg(Σ hours · 10^((L + penalty)/10) / 24), known only where every part is.
std::optional<double> Composite(const std::vector<std::pair<std::optional<double>, double>>& levelsAndPenalties,
    const std::vector<std::int32_t>& hours)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < hours.size(); ++i) {
        const auto& [level, penalty] = levelsAndPenalties[i];
        if (!level)
            return std::nullopt;
        sum += hours[i] * std::pow(10.0, (*level + penalty) / 10.0);
    }
    return 10.0 * std::log10(sum / HoursPerDay);
}

} // namespace

std::optional<QString> NoisePeriods::fault() const
{
    if (!(0 <= dayStart && dayStart < eveningStart && eveningStart < nightStart && nightStart <= 23))
        return QStringLiteral("The periods must start in the order day, evening, night within one day, at whole "
                              "hours from 0 to 23 (%1, %2, %3).")
            .arg(dayStart)
            .arg(eveningStart)
            .arg(nightStart);
    if (!(dayStart < dnNightStart && dnNightStart <= 23))
        return QStringLiteral("Ldn's night must start after its day (%1) and by 23 (%2).")
            .arg(dayStart)
            .arg(dnNightStart);
    const auto penaltyFits = [](double penalty) { return penalty >= 0.0 && penalty <= HighestPenalty; };
    if (!penaltyFits(eveningPenalty) || !penaltyFits(nightPenalty))
        return QStringLiteral("The penalties must be from 0 to 20 dB.");
    return std::nullopt;
}

QString PeriodFigureName(PeriodFigure figure)
{
    switch (figure) {
    case PeriodFigure::Day:
        return QStringLiteral("Lday");
    case PeriodFigure::Evening:
        return QStringLiteral("Levening");
    case PeriodFigure::Night:
        return QStringLiteral("Lnight");
    case PeriodFigure::DayEveningNight:
        return QStringLiteral("Lden");
    case PeriodFigure::DayNight:
        break;
    }
    return QStringLiteral("Ldn");
}

QString NoisePeriodName(NoisePeriod period)
{
    switch (period) {
    case NoisePeriod::Day:
        return QStringLiteral("day");
    case NoisePeriod::Evening:
        return QStringLiteral("evening");
    case NoisePeriod::Night:
        break;
    }
    return QStringLiteral("night");
}

double PeriodLevel::coverage() const
{
    if (periodSeconds <= 0)
        return 0.0;
    return std::min(1.0, static_cast<double>(coveredSeconds) / static_cast<double>(periodSeconds));
}

double HourLevels::coverage() const
{
    return std::min(1.0, static_cast<double>(coveredSeconds) / static_cast<double>(SecondsPerHour));
}

NoiseAssessment::NoiseAssessment(const NoiseSettings& settings)
    : settings_(settings)
{
}

NoiseAssessment::NoiseAssessment(const NoiseAssessment& other)
    : settings_(other.settings_)
    , hours_(other.hours_)
    , events_(other.events_)
    , lastWeighting_(other.lastWeighting_)
    , first_(other.first_)
    , last_(other.last_)
    , count_(other.count_)
{
}

NoiseAssessment& NoiseAssessment::operator=(const NoiseAssessment& other)
{
    if (this != &other) {
        NoiseAssessment copy(other);
        *this = std::move(copy);
    }
    return *this;
}

QDate NoiseAssessment::AssessmentDay(ClockSeconds time, std::int32_t dayStart)
{
    return DateOf(time - static_cast<ClockSeconds>(dayStart) * SecondsPerHour);
}

NoisePeriod NoiseAssessment::PeriodOf(std::int32_t hour, const NoisePeriods& periods)
{
    if (hour >= periods.dayStart && hour < periods.eveningStart)
        return NoisePeriod::Day;
    if (hour >= periods.eveningStart && hour < periods.nightStart)
        return NoisePeriod::Evening;
    return NoisePeriod::Night;
}

LevelAccumulator& NoiseAssessment::hourOf(const TimedReading& reading)
{
    const std::size_t w = IndexOf(reading.weighting);
    const ClockSeconds key = reading.wallClock() / SecondsPerHour * SecondsPerHour - reading.utcOffset;
    if (current_[w] == nullptr || currentHour_[w] != key) {
        ClockHour& hour = hours_[w][key];
        hour.utcOffset = reading.utcOffset;
        current_[w] = &hour.readings;
        currentHour_[w] = key;
    }
    return *current_[w];
}

void NoiseAssessment::add(const TimedReading& reading)
{
    if (lastWeighting_ && *lastWeighting_ != reading.weighting) {
        for (EventTracker& tracker : events_)
            tracker.interrupt(settings_.events);
    }
    lastWeighting_ = reading.weighting;
    hourOf(reading).addTenths(reading.tenths, reading.seconds);
    events_[IndexOf(reading.weighting)].add(reading, settings_.events);
    if (!first_ || reading.time < first_->first)
        first_ = { reading.time, reading.wallClock() };
    const ClockSeconds end = reading.time + reading.seconds;
    if (!last_ || end > last_->first)
        last_ = { end, end + reading.utcOffset };
    ++count_;
}

void NoiseAssessment::EventTracker::keepIfLongEnough(const Stretch& stretch, const EventRules& rules)
{
    if (stretch.end - stretch.start >= rules.minimumSeconds)
        done_.push_back(stretch);
}

void NoiseAssessment::EventTracker::interrupt(const EventRules& rules)
{
    if (loud_) {
        ended_ = loud_;
        loud_.reset();
    }
    if (ended_) {
        keepIfLongEnough(*ended_, rules);
        ended_.reset();
    }
    quietEnergySeconds_ = 0.0;
    quietSeconds_ = 0;
}

void NoiseAssessment::EventTracker::add(const TimedReading& reading, const EventRules& rules)
{
    // An event does not reach across a break in the readings: nobody knows what was in it.
    if (reading.afterBreak)
        interrupt(rules);
    const double energySeconds = EnergyOf(reading.tenths) * reading.seconds;
    const ClockSeconds end = reading.time + reading.seconds;
    if (reading.tenths >= rules.thresholdTenths) {
        if (!loud_) {
            if (ended_ && reading.time - ended_->end < rules.mergeGapSeconds) {
                // Back above the threshold soon enough: the quiet readings between belong to it.
                loud_ = ended_;
                loud_->energySeconds += quietEnergySeconds_;
                loud_->coveredSeconds += quietSeconds_;
            } else {
                if (ended_)
                    keepIfLongEnough(*ended_, rules);
                loud_ = Stretch { reading.time, end, reading.utcOffset, reading.utcOffset, 0.0, 0, reading.tenths };
            }
            ended_.reset();
            quietEnergySeconds_ = 0.0;
            quietSeconds_ = 0;
        }
        if (end > loud_->end) {
            loud_->end = end;
            loud_->endOffset = reading.utcOffset;
        }
        loud_->energySeconds += energySeconds;
        loud_->coveredSeconds += reading.seconds;
        loud_->maxTenths = std::max(loud_->maxTenths, reading.tenths);
        return;
    }
    if (loud_) {
        ended_ = loud_;
        loud_.reset();
        quietEnergySeconds_ = 0.0;
        quietSeconds_ = 0;
    }
    if (!ended_)
        return;
    // The readings come in order, so once a quiet one starts a merge gap after the end, none later
    // can join the event any more.
    if (reading.time - ended_->end >= rules.mergeGapSeconds) {
        keepIfLongEnough(*ended_, rules);
        ended_.reset();
        quietEnergySeconds_ = 0.0;
        quietSeconds_ = 0;
        return;
    }
    quietEnergySeconds_ += energySeconds;
    quietSeconds_ += reading.seconds;
}

std::vector<ExceedanceEvent> NoiseAssessment::EventTracker::events(
    const NoiseSettings& settings, Weighting weighting) const
{
    std::vector<Stretch> stretches = done_;
    for (const std::optional<Stretch>& open : { ended_, loud_ }) {
        if (open && open->end - open->start >= settings.events.minimumSeconds)
            stretches.push_back(*open);
    }
    std::vector<ExceedanceEvent> events;
    events.reserve(stretches.size());
    for (const Stretch& stretch : stretches) {
        ExceedanceEvent event;
        event.weighting = weighting;
        event.start = stretch.start;
        event.end = stretch.end;
        event.startOffset = stretch.startOffset;
        event.endOffset = stretch.endOffset;
        event.lmax = stretch.maxTenths / 10.0;
        event.sel = 10.0 * std::log10(stretch.energySeconds);
        event.leq = event.sel - 10.0 * std::log10(static_cast<double>(stretch.coveredSeconds));
        event.day = AssessmentDay(event.wallClockStart(), settings.periods.dayStart);
        event.period = PeriodOf(
            SecondOfDay(event.wallClockStart()) / static_cast<std::int32_t>(SecondsPerHour), settings.periods);
        events.push_back(event);
    }
    return events;
}

NoiseFigures NoiseAssessment::figures() const
{
    NoiseFigures figures;
    figures.settings = settings_;
    if (first_ && last_) {
        figures.first = first_->second;
        figures.last = last_->second;
    }
    for (const Weighting weighting : { Weighting::A, Weighting::C }) {
        const std::vector<ExceedanceEvent> events = events_[IndexOf(weighting)].events(settings_, weighting);
        periodRows(weighting, figures, events);
        hourRows(weighting, figures);
        figures.events.insert(figures.events.end(), events.begin(), events.end());
    }
    return figures;
}

void NoiseAssessment::hourRows(Weighting weighting, NoiseFigures& figures) const
{
    const auto row = [&](ClockSeconds key, std::int32_t utcOffset, const LevelAccumulator* readings) {
        const ClockSeconds start = key + utcOffset;
        HourLevels levels;
        levels.weighting = weighting;
        levels.date = DateOf(start);
        levels.hour = SecondOfDay(start) / static_cast<std::int32_t>(SecondsPerHour);
        levels.utcOffset = utcOffset;
        if (readings) {
            levels.leq = readings->equivalentLevel();
            levels.lmax = readings->maximum();
            levels.l10 = readings->percentileLevel(10);
            levels.l90 = readings->percentileLevel(90);
            levels.coveredSeconds = readings->durationSeconds().value_or(0);
        }
        figures.hours.push_back(levels);
    };
    std::optional<std::pair<ClockSeconds, std::int32_t>> previous;
    for (const auto& [key, hour] : hours_[IndexOf(weighting)]) {
        if (hour.readings.count() == 0)
            continue;
        if (previous && key - previous->first < SecondsPerDay) {
            for (ClockSeconds skipped = previous->first + SecondsPerHour; skipped + SecondsPerHour <= key;
                 skipped += SecondsPerHour)
                row(skipped, previous->second, nullptr);
        }
        row(key, hour.utcOffset, &hour.readings);
        previous = { key, hour.utcOffset };
    }
}

void NoiseAssessment::periodRows(
    Weighting weighting, NoiseFigures& figures, const std::vector<ExceedanceEvent>& events) const
{
    const auto& hours = hours_[IndexOf(weighting)];
    if (hours.empty())
        return;
    const NoisePeriods& p = settings_.periods;
    std::map<qint64, DaySums> days;
    std::map<qint64, DayOffsets> offsets;
    for (const auto& [key, hour] : hours) {
        const ClockSeconds start = hour.wallClockStart(key);
        const std::int32_t hourOfDay = SecondOfDay(start) / static_cast<std::int32_t>(SecondsPerHour);
        const qint64 julianDay = AssessmentDay(start, p.dayStart).toJulianDay();
        DaySums& day = days[julianDay];
        DayOffsets& dayOffsets = offsets[julianDay];
        const Sums sums { hour.readings.energySeconds(), hour.readings.durationSeconds().value_or(0) };
        const auto den = static_cast<std::size_t>(PeriodOf(hourOfDay, p));
        const std::size_t dn = hourOfDay >= p.dayStart && hourOfDay < p.dnNightStart ? 0 : 1;
        day.den[den].add(sums);
        day.dn[dn].add(sums);
        dayOffsets.den[den].see(hour.utcOffset);
        dayOffsets.day.see(hour.utcOffset);
    }
    for (auto& [julianDay, day] : days) {
        const DayOffsets& dayOffsets = offsets[julianDay];
        for (std::size_t i = 0; i < day.den.size(); ++i)
            day.denLengthening[i] = dayOffsets.den[i].lengthening();
        day.dayLengthening = dayOffsets.day.lengthening();
    }
    for (const ExceedanceEvent& event : events)
        ++days[event.day.toJulianDay()].events[static_cast<std::size_t>(event.period)];

    const std::vector<std::int32_t> denHours { p.eveningStart - p.dayStart, p.nightStart - p.eveningStart,
        HoursPerDay - p.nightStart + p.dayStart };
    const std::vector<std::int32_t> dnHours { p.dnNightStart - p.dayStart, HoursPerDay - p.dnNightStart + p.dayStart };

    const auto addRows = [&](const std::optional<QDate>& day, const DaySums& sums, std::int64_t dayCount) {
        const auto row = [&](PeriodFigure figure, std::optional<double> level, std::int64_t covered,
                             std::int32_t periodHours, std::int64_t lengthening, std::int64_t events) {
            figures.periods.push_back({ weighting, day, figure, level, covered,
                dayCount * periodHours * SecondsPerHour + lengthening, events });
        };
        const std::array<PeriodFigure, 3> periodFigures { PeriodFigure::Day, PeriodFigure::Evening,
            PeriodFigure::Night };
        std::int64_t covered = 0;
        std::int64_t events = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            row(periodFigures[i], sums.den[i].level(), sums.den[i].seconds, denHours[i], sums.denLengthening[i],
                sums.events[i]);
            covered += sums.den[i].seconds;
            events += sums.events[i];
        }
        row(PeriodFigure::DayEveningNight,
            Composite({ { sums.den[0].level(), 0.0 }, { sums.den[1].level(), p.eveningPenalty },
                          { sums.den[2].level(), p.nightPenalty } },
                denHours),
            covered, HoursPerDay, sums.dayLengthening, events);
        row(PeriodFigure::DayNight,
            Composite({ { sums.dn[0].level(), 0.0 }, { sums.dn[1].level(), p.nightPenalty } }, dnHours), covered,
            HoursPerDay, sums.dayLengthening, events);
    };

    DaySums whole;
    for (const auto& [julianDay, sums] : days)
        whole.add(sums);
    // Over the whole run each period counts on every day from the first to the last, readings or not.
    const std::int64_t span = days.rbegin()->first - days.begin()->first + 1;
    addRows(std::nullopt, whole, span);
    for (const auto& [julianDay, sums] : days)
        addRows(QDate::fromJulianDay(julianDay), sums, 1);
}
