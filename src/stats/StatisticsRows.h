#pragma once

// The statistics as labelled rows: the one layout that the statistics window, the printed data
// sheet's summary, the spreadsheet's "Statistics" sheet and the command-line tool all put out, so
// that a figure has the same name and the same text wherever it appears.

#include "stats/LevelStatistics.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class ReadingTable;

struct StatisticsRow {
    // "LAeq", "LC90", "LAE (SEL)", "Duration (A)", "Time above 85 dB (C)", ...
    QString label;
    // The figure in its unit, for writers that keep numbers as numbers; absent where not known.
    std::optional<double> value;
    // "dB", "s", or empty for a count.
    QString unit;
    // As shown to the user: levels with one decimal in the system's notation, durations as
    // h:mm:ss, counts as whole numbers, and "—" where the figure is not known.
    QString text;
};

// Shown where a figure is not known.
inline constexpr char16_t UnknownFigure[] = u"\u2014";

// The rows of one weighting's figures, always the same labels in the same order, whether or not
// there are readings.
std::vector<StatisticsRow> FigureRows(const LevelFigures& figures);

// The rows of each weighting that has readings, A before C; none without readings.
std::vector<StatisticsRow> StatisticsRows(const WeightedLevelStatistics& statistics, double highAlarmLevel);

// The statistics of every row of a table, read once, for a window or a writer that was not there as
// the readings arrived. Each reading stands for intervalSeconds (0 when not known). A row whose
// MeaValue is not whole decibels "." one tenths digit, or whose Weight is not "A" or "C", is left
// out and counted as unreadable. Throws TableError when the table cannot be read.
WeightedLevelStatistics StatisticsOfTable(const ReadingTable& table, std::int32_t intervalSeconds);

// A duration as hours:minutes:seconds, "1:00:00"; hours run on past a day.
QString DurationText(std::int64_t seconds);
