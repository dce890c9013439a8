#pragma once

// The noise report: what a person documenting noise hands over (a title block, the time history, the
// period levels, the hours, the events and the statistics) printed through the report engine from
// its own definition, "Decimora_noise_en.rav" beside the data sheet's. Reached from the statistics
// window's "Print Report…" (NoiseReportPrinting.h) and, as a PDF file, from decimora-cli report.
//
// The definition reads these sources and fields (resources/README, "The noise report"):
//   tables  periods, hourly, events, statistics (FigureTables.h)
//   chart   levels: the readings over clock time, the threshold and the events
//   fields  {title} {company} {place} {notes} {source} {period} {covered} {readings} {meter}
//           {weighting} {bounds} {rules}

#include "stats/NoiseAssessment.h"
#include "stats/TimedSeries.h"

#include <QString>

class Clock;
class ReportEngine;

inline constexpr char NoiseReportDefinitionName[] = "Decimora_noise_en.rav";
inline constexpr char DefaultNoiseReportTitle[] = "Noise Assessment";

struct NoiseReportDetails {
    QString title = QString::fromLatin1(DefaultNoiseReportTitle);
    // The company name of the settings.
    QString company;
    QString place;
    QString notes;
    // What the readings are: the data files, or the window's run or file.
    QString source;
};

// Binds the noise report's sources and fields to an engine whose definition is open. The series must
// have known durations.
void BindNoiseReport(ReportEngine& engine, const TimedSeries& series, const NoiseSettings& settings,
    double highAlarmLevel, const NoiseReportDetails& details);

// Why a series cannot be reported, or nothing: its times cannot be read (naming the reading by its
// number from 1, its rows starting at firstRow), or they tell no duration.
std::optional<QString> NoiseReportRefusal(const TimedSeries& series, qint64 firstRow = 0);

// The noise report of the series as a PDF file, without asking: the command-line tool's. Throws
// ReportError.
void WriteNoiseReportPdf(const QString& definitionPath, const TimedSeries& series, const NoiseSettings& settings,
    double highAlarmLevel, const NoiseReportDetails& details, const QString& pdfPath, Clock& clock);
