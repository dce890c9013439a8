#pragma once

#include "stats/StatisticsRows.h"
#include "stats/TimedSeries.h"

#include <QWidget>

#include <memory>
#include <vector>

class QAbstractItemView;
class ReadingTable;

// One column of the statistics window: the readings of one run, download or file, and where they
// stand in the window's table (rows [firstRow, endRow); an endRow of -1 runs to the table's end).
struct ReadingSeriesStatistics {
    QString name;
    std::shared_ptr<const WeightedLevelStatistics> statistics;
    qint64 firstRow = 0;
    qint64 endRow = -1;
};

// A child window of the frame that shows a table of readings in a grid: the measurement, import and
// analysis windows. The frame finds it with qobject_cast and asks it, rather than telling the
// windows apart by their names, whether its File commands may act and what on. Each window keeps
// its component name ("Form5", "Form4", "Form7") as its object name.
class ReadingsWindow : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The table the window shows, and the grid over it: Export to Excel and Print Data Sheet put
    // out that table with the grid's columns.
    virtual ReadingTable* readingsTable() const = 0;
    virtual QAbstractItemView* readingsGrid() const = 0;
    // Whether Export to Excel and Print Data Sheet may act on the window now.
    virtual bool canExportAndPrint() const = 0;
    // Whether File > Save may act now, and the window's Save itself.
    virtual bool canSave() const = 0;
    virtual void save() = 0;
    // Readings on show that no data file holds yet.
    virtual bool hasUnsavedReadings() const = 0;
    // File > Open: the analysis window loads one more data file; windows that show readings of
    // their own take none.
    virtual void loadDataFile() { }
    // The sound-level statistics of the readings on show, one series per run or file. The statistics
    // window asks once a second while it shows this window's figures, and reads them at once. This
    // default reads the whole table each time, as one series whose readings last as their time stamps
    // say; a window whose readings arrive while it is shown, or that shows several files, feeds an
    // accumulator per series as the readings come and hands those out instead.
    virtual std::vector<ReadingSeriesStatistics> levelStatistics() const
    {
        const ReadingTable* table = readingsTable();
        if (!table)
            return {};
        return { { QStringLiteral("All readings"),
            std::make_shared<const WeightedLevelStatistics>(
                TimedStatisticsOfTableStretches(*table, { table->rowCount() }).front()) } };
    }
};
