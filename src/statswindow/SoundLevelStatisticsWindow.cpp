#include "statswindow/SoundLevelStatisticsWindow.h"

#include "core/DecimoraError.h"
#include "core/systemvar.h"
#include "stats/StatisticsRows.h"
#include "windowkit/ReadingsWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <vector>

namespace {

constexpr int MinimumColumnWidth = 110;

} // namespace

SoundLevelStatisticsWindow::SoundLevelStatisticsWindow(TForm6& module, QWidget* parent)
    : QWidget(parent)
    , module_(module)
{
    setObjectName(QStringLiteral("SoundLevelStatistics"));
    setWindowTitle(QStringLiteral("Sound Level Statistics"));

    sourceLabel_ = new QLabel(this);
    sourceLabel_->setObjectName(QStringLiteral("SourceLabel"));
    sourceLabel_->setWordWrap(true);

    figures_ = new QTableWidget(this);
    figures_->setObjectName(QStringLiteral("FiguresTable"));
    figures_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A sheet to read: no current cell standing out as if it were one figure that mattered more.
    figures_->setSelectionMode(QAbstractItemView::NoSelection);
    figures_->setFocusPolicy(Qt::NoFocus);
    figures_->setAlternatingRowColors(true);
    figures_->setWordWrap(false);
    // Columns as wide as their figures, so that a figure stays next to its label in a wide window.
    figures_->horizontalHeader()->setMinimumSectionSize(MinimumColumnWidth);
    figures_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    figures_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    figures_->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    noteLabel_ = new QLabel(this);
    noteLabel_->setObjectName(QStringLiteral("NoteLabel"));
    noteLabel_->setWordWrap(true);
    noteLabel_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(sourceLabel_);
    layout->addWidget(figures_, 1);
    layout->addWidget(noteLabel_);

    refresh(nullptr);
}

ReadingsWindow* SoundLevelStatisticsWindow::source() const
{
    return source_;
}

void SoundLevelStatisticsWindow::setCell(int row, int column, const QString& text)
{
    // The cells are kept from one refresh to the next, so that a running measurement's figures
    // change in place rather than being rebuilt every second.
    QTableWidgetItem* item = figures_->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        figures_->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

void SoundLevelStatisticsWindow::refresh(ReadingsWindow* active)
{
    if (active)
        source_ = active;

    std::vector<ReadingSeriesStatistics> series;
    QStringList notes;
    if (source_) {
        sourceLabel_->setText(QStringLiteral("Readings of: ") + source_->windowTitle().trimmed());
        try {
            series = source_->levelStatistics();
        } catch (const std::exception& error) {
            notes << QStringLiteral("The readings could not be read: ") + ErrorText(error);
        }
    } else {
        sourceLabel_->setText(QStringLiteral("No readings window is open. The figures of the active measurement, "
                                             "import or analysis window are shown here."));
    }

    // A weighting gets its rows when any column has readings of it; a column without any shows "—".
    const double highAlarm = module_.SystemHighAlarm;
    const auto columns = static_cast<int>(series.size());
    std::vector<std::vector<StatisticsRow>> cells(series.size());
    QStringList labels;
    bool intervalsUnknown = false;
    std::int64_t unreadable = 0;
    for (const ReadingSeriesStatistics& one : series) {
        if (one.statistics)
            unreadable += one.statistics->unreadableRows();
    }
    for (const Weighting weighting : { Weighting::A, Weighting::C }) {
        bool present = false;
        for (const ReadingSeriesStatistics& one : series)
            present = present || (one.statistics && one.statistics->of(weighting).count() > 0);
        if (!present)
            continue;
        for (int column = 0; column < columns; ++column) {
            const ReadingSeriesStatistics& one = series[static_cast<std::size_t>(column)];
            LevelFigures figures;
            figures.weighting = weighting;
            figures.highAlarmLevel = highAlarm;
            if (one.statistics)
                figures = one.statistics->of(weighting).figures(weighting, highAlarm);
            intervalsUnknown = intervalsUnknown || (figures.count > 0 && !figures.durationSeconds);
            const std::vector<StatisticsRow> rows = FigureRows(figures);
            auto& columnCells = cells[static_cast<std::size_t>(column)];
            columnCells.insert(columnCells.end(), rows.begin(), rows.end());
            if (column == 0) {
                for (const StatisticsRow& row : rows)
                    labels << row.label;
            }
        }
    }

    figures_->setColumnCount(columns);
    figures_->setRowCount(static_cast<int>(labels.size()));
    QStringList names;
    for (const ReadingSeriesStatistics& one : series)
        names << one.name;
    // Set only when they change: new header items every second would repaint the headers for nothing.
    if (names != columnNames_) {
        figures_->setHorizontalHeaderLabels(names);
        columnNames_ = names;
    }
    if (labels != rowLabels_) {
        figures_->setVerticalHeaderLabels(labels);
        rowLabels_ = labels;
    }
    for (int column = 0; column < columns; ++column) {
        const auto& columnCells = cells[static_cast<std::size_t>(column)];
        for (int row = 0; row < static_cast<int>(columnCells.size()); ++row)
            setCell(row, column, columnCells[static_cast<std::size_t>(row)].text);
    }

    if (source_ && columns > 0 && labels.isEmpty())
        notes << QStringLiteral("No readings yet.");
    if (intervalsUnknown)
        notes << QString::fromUtf16(UnknownFigure)
                + QStringLiteral(" not known: SEL, the durations and the time above the alarm level need the interval "
                                 "between readings, and a data file keeps none.");
    if (unreadable > 0)
        notes << QStringLiteral("Rows left out, without a level in tenths of a dB or an A or C weighting: %1")
                     .arg(unreadable);
    noteLabel_->setText(notes.join(QLatin1Char('\n')));
    noteLabel_->setVisible(!notes.isEmpty());
}
