#pragma once

// The time history a report's <chart> draws: the level over clock time, each weighting a line of its
// own that breaks where the readings break, the threshold as a dashed line and the events as shaded
// bands behind it.

#include "stats/ReadingDurations.h"

#include <QRectF>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

struct ReportTimeHistory {
    std::shared_ptr<const std::vector<TimedReading>> readings;
    // The level the events are at or above, in dB.
    std::optional<double> threshold;
    // The events' start and end.
    std::vector<std::pair<ClockSeconds, ClockSeconds>> events;
};

// Draws the chart into area (device units) with text of the given point size. A history without
// readings draws its frame and says so. Thousands of readings to a millimetre are drawn as the
// lowest and loudest of each column, so that a week prints as fast as an hour and loses no peak.
void PaintTimeHistory(
    QPainter& painter, const QRectF& area, const ReportTimeHistory& history, double dotsPerMm, double fontSizePt);
