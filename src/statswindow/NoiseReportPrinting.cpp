#include "statswindow/NoiseReportPrinting.h"

#include "core/ReadingTable.h"
#include "core/systemvar.h"
#include "report/ReportEngine.h"

#include <QDir>

void PrintNoiseReport(TForm6& module, QPrinter& printer, const ReadingTable& table, qint64 firstRow, qint64 endRow,
    const NoiseSettings& settings, const NoiseReportDetails& details, QWidget* owner)
{
    const QString caption = QString::fromLatin1(NoiseReportErrorCaption);
    ReportEngine report(module.Ui(), module.SystemTime());
    module.RunOrReport(
        caption, owner,
        [&] {
            const qint64 end = endRow < 0 ? table.rowCount() : endRow;
            const std::vector<StampedSeries> stretches
                = StampedSeriesOfTable(table, TimeTextReader(), { firstRow, end });
            const TimedSeries series = TimedSeriesOf(stretches.back());
            if (series.readings.empty()) {
                module.ShowMessageBox(QString::fromLatin1(NoReadingsToReportMessage), caption, MessageButtons::Ok,
                    MessageIcon::Error, owner);
                return;
            }
            if (const std::optional<QString> refusal = NoiseReportRefusal(series, firstRow))
                throw ReportError(*refusal);
            // Read afresh at every print: it may have been edited since the last.
            report.open(
                QDir(module.Folders().resourceFolder()).filePath(QString::fromLatin1(NoiseReportDefinitionName)));
            BindNoiseReport(report, series, settings, module.SystemHighAlarm, details);
            report.run(printer, owner);
            report.close();
        },
        [&] { report.close(); });
}
