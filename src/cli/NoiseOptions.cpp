#include "cli/NoiseOptions.h"

#include "cli/CliError.h"
#include "cli/CliOutput.h"
#include "cli/LiveLogFile.h"
#include "datafile/DataFile.h"

#include <cmath>

namespace {

// Lines 1 and 2 of a data file are its header and count; every line after them is a row.
constexpr qint64 FirstReadingLine = 3;

std::int32_t WholeNumber(
    const ParsedCommand& command, const char* option, std::int32_t lowest, std::int32_t highest, const QString& what)
{
    bool ok = false;
    const int value = command.value(option).toInt(&ok);
    if (!ok || value < lowest || value > highest)
        throw UsageError(
            QStringLiteral("--%1 must be %2, not '%3'.").arg(QLatin1String(option), what, command.value(option)));
    return value;
}

// "7,19,23": count whole numbers separated by commas; nothing when it is not.
std::optional<std::vector<double>> Numbers(const QString& text, qsizetype count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<double> numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const double number = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(number))
            return std::nullopt;
        numbers.push_back(number);
    }
    return numbers;
}

} // namespace

std::vector<CliOption> NoiseOptionTable()
{
    return {
        { .name = "threshold",
            .description = "Events are the times the level stays at or above this many dB (default: the --high-alarm "
                           "level).",
            .valueName = "DB" },
        { .name = "min-duration",
            .description = "The shortest event in whole seconds (default 1).",
            .valueName = "S",
            .defaultValue = "1" },
        { .name = "gap",
            .description = "Events less than this many whole seconds apart are one (default 5).",
            .valueName = "S",
            .defaultValue = "5" },
        { .name = "bounds",
            .description = "The hours the day, evening and night start at (default 7,19,23).",
            .valueName = "D,E,N",
            .defaultValue = "7,19,23" },
        { .name = "ldn-night",
            .description = "The hour Ldn's night starts at; its day starts with the day (default 22).",
            .valueName = "H",
            .defaultValue = "22" },
        { .name = "penalties",
            .description = "The dB added to the evening and the night in Lden, the night's also in Ldn "
                           "(default 5,10).",
            .valueName = "E,N",
            .defaultValue = "5,10" },
    };
}

double HighAlarmOf(const ParsedCommand& command)
{
    bool ok = false;
    const double alarm = command.value("high-alarm").toDouble(&ok);
    if (!ok || !(alarm >= 0.0 && alarm <= 200.0))
        throw UsageError(QStringLiteral("--high-alarm must be a level from 0 to 200 dB, not '%1'.")
                             .arg(command.value("high-alarm")));
    return alarm;
}

std::optional<std::int32_t> IntervalOf(const ParsedCommand& command)
{
    if (!command.isSet("interval"))
        return std::nullopt;
    return WholeNumber(command, "interval", 1, 86400, QStringLiteral("whole seconds from 1 to 86400"));
}

NoiseSettings NoiseSettingsOf(const ParsedCommand& command, double highAlarm)
{
    NoiseSettings settings;
    double threshold = highAlarm;
    if (command.isSet("threshold")) {
        bool ok = false;
        threshold = command.value("threshold").toDouble(&ok);
        if (!ok || !(threshold >= 0.0 && threshold <= 200.0))
            throw UsageError(QStringLiteral("--threshold must be a level from 0 to 200 dB, not '%1'.")
                                 .arg(command.value("threshold")));
    }
    settings.events.thresholdTenths = static_cast<std::int32_t>(std::lround(threshold * 10.0));
    settings.events.minimumSeconds
        = WholeNumber(command, "min-duration", 1, 86400, QStringLiteral("whole seconds from 1 to 86400"));
    settings.events.mergeGapSeconds
        = WholeNumber(command, "gap", 0, 86400, QStringLiteral("whole seconds from 0 to 86400"));

    const std::optional<std::vector<double>> bounds = Numbers(command.value("bounds"), 3);
    const std::optional<std::vector<double>> penalties = Numbers(command.value("penalties"), 2);
    // A number far beyond a day's hours is told here: it would not even fit the hour's integer, let
    // alone the check of the periods that tells an hour out of 0 to 23.
    const auto notAnHour = [](double h) { return h != std::floor(h) || std::abs(h) > 1000.0; };
    if (!bounds || std::any_of(bounds->begin(), bounds->end(), notAnHour))
        throw UsageError(QStringLiteral("--bounds must be three whole hours such as 7,19,23, not '%1'.")
                             .arg(command.value("bounds")));
    if (!penalties)
        throw UsageError(QStringLiteral("--penalties must be two levels in dB such as 5,10, not '%1'.")
                             .arg(command.value("penalties")));
    NoisePeriods& periods = settings.periods;
    periods.dayStart = static_cast<std::int32_t>((*bounds)[0]);
    periods.eveningStart = static_cast<std::int32_t>((*bounds)[1]);
    periods.nightStart = static_cast<std::int32_t>((*bounds)[2]);
    periods.eveningPenalty = (*penalties)[0];
    periods.nightPenalty = (*penalties)[1];
    periods.dnNightStart = WholeNumber(command, "ldn-night", 0, 23, QStringLiteral("a whole hour from 0 to 23"));
    if (const std::optional<QString> fault = periods.fault())
        throw UsageError(*fault);
    return settings;
}

std::vector<FileSeries> ReadFileSeries(const QStringList& paths)
{
    // Read straight from the files: the figures need no table in between.
    std::vector<FileSeries> files;
    const TimeTextReader texts;
    for (const QString& path : paths) {
        StampedSeriesReader series(texts);
        qint64 firstLine = FirstReadingLine;
        if (std::optional<DataFileReader> reader = OpenDataFile(path)) {
            qint64 rows = 0;
            ForEachDataLine(*reader, [&](const ReadingRowText& row) {
                series.add(row);
                ++rows;
            });
            // Every row is read whatever the count says, as a load into a window reads them; a count
            // above the rows is the mark of a file cut short, worth a word.
            if (reader->declaredCount() > rows) {
                Say(QStringLiteral("%1: line 2 counts %2 readings, the file holds %3: it may have been cut short.")
                        .arg(path)
                        .arg(reader->declaredCount())
                        .arg(rows));
            }
        } else if (const std::optional<LiveLogFile> log = ReadLiveLog(path)) {
            for (const LiveLogRow& row : log->rows)
                series.add(row.text(), row.utcOffset);
            firstLine = log->firstLine;
        } else {
            throw CliError(QStringLiteral("%1 is not a Decimora data file.").arg(path));
        }
        StampedSeries read = series.finish();
        // As the statistics window tells them: a level the meter cannot give (999.9) is no reading.
        if (read.unreadableRows > 0) {
            Say(QStringLiteral("%1: rows left out, without a level in tenths of a dB or an A or C weighting: %2")
                    .arg(path)
                    .arg(read.unreadableRows));
        }
        files.push_back({ path, std::move(read), firstLine });
    }
    return files;
}

QString TimeErrorText(const FileSeries& file)
{
    const TimeStampError& error = *file.series.timeError;
    return QStringLiteral("%1: line %2: %3.").arg(file.path).arg(error.row() + file.firstLine).arg(error.text());
}

TimedSeries TimedOf(const StampedSeries& series, const std::optional<std::int32_t>& interval)
{
    return interval ? TimedSeriesOf(series, *interval) : TimedSeriesOf(series);
}
