#pragma once

// What decimora-cli's stats and report commands share of the noise assessment: the options of the
// period bounds and the event rules, and the data files read as series with their times, a reading's
// time that cannot be read named by its file and line.

#include "cli/CliOptions.h"
#include "stats/NoiseAssessment.h"
#include "stats/TimedSeries.h"

#include <QStringList>

#include <optional>
#include <vector>

// --threshold, --min-duration, --gap, --bounds, --ldn-night, --penalties.
std::vector<CliOption> NoiseOptionTable();
// The settings those options give; the threshold is highAlarm where --threshold is not given. Throws
// UsageError for a value out of its range.
NoiseSettings NoiseSettingsOf(const ParsedCommand& command, double highAlarm);
// --high-alarm (default 85) as a level; throws UsageError.
double HighAlarmOf(const ParsedCommand& command);
// --interval as whole seconds; nothing when not given. Throws UsageError.
std::optional<std::int32_t> IntervalOf(const ParsedCommand& command);

// A data file's readings with their times.
struct FileSeries {
    QString path;
    StampedSeries series;
    // The file's line of the series' first reading.
    qint64 firstLine = 0;
};
// Reads data files and the tool's own live logs (CSV or JSON lines). Throws CliError for a file that
// cannot be read or is neither.
std::vector<FileSeries> ReadFileSeries(const QStringList& paths);

// "FILE: line N: the date and time "..." cannot be read."
QString TimeErrorText(const FileSeries& file);

// The series with its durations: from the time stamps, or every reading lasting the interval given.
TimedSeries TimedOf(const StampedSeries& series, const std::optional<std::int32_t>& interval);
