#pragma once

// The noise figures as tables: the one layout in which the statistics window's pages, the command-line
// tool, the spreadsheet's sheets and the noise report put out the periods, the hours, the events and
// the statistics, so that a figure has the same name, place and rounding wherever it appears. Each
// cell is written three ways, for the reader each of them has.

#include "stats/NoiseAssessment.h"
#include "stats/StatisticsRows.h"

#include <QString>

#include <optional>
#include <vector>

struct FigureCell {
    // For people: the system's notation, durations as h:mm:ss, "—" where not known.
    QString shown;
    // For programs: ISO 8601 dates and times, "." as the decimal point, whole seconds; empty where not
    // known.
    QString plain;
    // For spreadsheets: levels in dB to the one decimal shown, coverage in %, durations in seconds,
    // counts.
    std::optional<double> number;
};

struct FigureColumn {
    // The column's name for programs (the command-line tool's header): "figure", "Leq", "coverage".
    QString key;
    // Its title for people: "Figure", "Leq (dB)", "Coverage (%)".
    QString title;
    // Figures, set to the right.
    bool numeric = false;
};

struct FigureTable {
    std::vector<FigureColumn> columns;
    std::vector<std::vector<FigureCell>> rows;

    // The column of that key; -1 when there is none.
    int columnOf(const QString& key) const;
};

// Weighting, day ("Whole run" / "all", or the date), figure (Lday ... Ldn), level, coverage, events.
FigureTable PeriodTable(const NoiseFigures& figures);
// Weighting, date, hour ("07:00"), Leq, Lmax, L10, L90, coverage.
FigureTable HourTable(const NoiseFigures& figures);
// Weighting, start, end, duration, Lmax, Leq, SEL, period ("day", "evening", "night").
FigureTable EventTable(const NoiseFigures& figures);
// Figure, value, unit: the rows of StatisticsRows.
FigureTable StatisticsTable(const WeightedLevelStatistics& statistics, double highAlarmLevel);

// A moment for people ("12 May 2006 10:00:10" in the system's notation) and for programs
// ("2006-05-12T10:00:10").
QString ShownMoment(ClockSeconds time);
QString PlainMoment(ClockSeconds time);
