#include "statswindow/SoundLevelStatisticsWindow.h"

#include "core/DecimoraError.h"
#include "core/ReadingTable.h"
#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"
#include "stats/FigureTables.h"
#include "stats/StatisticsRows.h"
#include "statswindow/NoiseReportPrinting.h"
#include "windowkit/ReadingsWindow.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

namespace {

constexpr int MinimumColumnWidth = 110;
constexpr int SummaryPage = 0;

QTableWidget* FiguresTable(const char* name, QWidget* parent)
{
    auto* table = new QTableWidget(parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A sheet to read: no current cell standing out as if it were one figure that mattered more.
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Rows as high as a line of text: a week's hours or a day's events are long lists to read.
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    return table;
}

// A table of the assessment: its rows are numbered by nothing but their own columns.
QTableWidget* AssessmentTable(const char* name, QWidget* parent)
{
    QTableWidget* table = FiguresTable(name, parent);
    table->verticalHeader()->hide();
    return table;
}

QLabel* Label(const QString& text, QWidget* parent)
{
    return new QLabel(text, parent);
}

} // namespace

SoundLevelStatisticsWindow::SoundLevelStatisticsWindow(TForm6& module, ChosenPrinter& printer, QWidget* parent)
    : QWidget(parent)
    , module_(module)
    , printer_(printer)
{
    setObjectName(QStringLiteral("SoundLevelStatistics"));
    setWindowTitle(QStringLiteral("Sound Level Statistics"));

    sourceLabel_ = new QLabel(this);
    sourceLabel_->setObjectName(QStringLiteral("SourceLabel"));
    sourceLabel_->setWordWrap(true);

    seriesChooser_ = new QComboBox(this);
    seriesChooser_->setObjectName(QStringLiteral("SeriesChooser"));
    seriesChooser_->setToolTip(QStringLiteral("The run or file whose periods, hours and events are shown"));
    seriesChooser_->hide();
    connect(seriesChooser_, &QComboBox::activated, this, [this] { refresh(nullptr); });

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("StatisticsPages"));
    pages_->addTab(makeSummaryPage(), QStringLiteral("Summary"));
    pages_->addTab(makePeriodsPage(), QStringLiteral("Periods"));
    hours_ = AssessmentTable("HoursTable", this);
    pages_->addTab(hours_, QStringLiteral("Hourly"));
    pages_->addTab(makeEventsPage(), QStringLiteral("Events"));
    // The assessment pages are figured only while on show; a page turned to shows its figures at once.
    connect(pages_, &QTabWidget::currentChanged, this, [this] { refresh(nullptr); });

    noteLabel_ = new QLabel(this);
    noteLabel_->setObjectName(QStringLiteral("NoteLabel"));
    noteLabel_->setWordWrap(true);
    noteLabel_->hide();

    auto* place = new QLineEdit(this);
    place->setObjectName(QStringLiteral("ReportPlace"));
    place->setPlaceholderText(QStringLiteral("where the readings were taken"));
    auto* notes = new QLineEdit(this);
    notes->setObjectName(QStringLiteral("ReportNotes"));
    notes->setPlaceholderText(QStringLiteral("what the report should say besides the figures"));
    printReport_ = new QPushButton(QStringLiteral("Print Report…"), this);
    printReport_->setObjectName(QStringLiteral("PrintReportButton"));
    printReport_->setToolTip(QStringLiteral("The noise report of the run or file shown: to the printer, a preview "
                                            "or a PDF file"));
    connect(printReport_, &QPushButton::clicked, this, &SoundLevelStatisticsWindow::PrintReportButtonClick);
    auto* report = new QHBoxLayout;
    report->addWidget(Label(QStringLiteral("Place:"), this));
    report->addWidget(place, 1);
    report->addWidget(Label(QStringLiteral("Notes:"), this));
    report->addWidget(notes, 2);
    report->addWidget(printReport_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(sourceLabel_);
    layout->addWidget(seriesChooser_);
    layout->addWidget(pages_, 1);
    layout->addWidget(noteLabel_);
    layout->addLayout(report);

    refresh(nullptr);
}

QWidget* SoundLevelStatisticsWindow::makeSummaryPage()
{
    figures_ = FiguresTable("FiguresTable", this);
    // Columns as wide as their figures, so that a figure stays next to its label in a wide window.
    figures_->horizontalHeader()->setMinimumSectionSize(MinimumColumnWidth);
    figures_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return figures_;
}

QSpinBox* SoundLevelStatisticsWindow::hourBox(const char* name, int value)
{
    auto* box = new QSpinBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(0, 23);
    box->setValue(value);
    box->setSuffix(QStringLiteral(":00"));
    connect(box, &QSpinBox::valueChanged, this, &SoundLevelStatisticsWindow::settingsChanged);
    return box;
}

QDoubleSpinBox* SoundLevelStatisticsWindow::decibelBox(const char* name, double value, double maximum)
{
    auto* box = new QDoubleSpinBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(0.0, maximum);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setValue(value);
    box->setSuffix(QStringLiteral(" dB"));
    connect(box, &QDoubleSpinBox::valueChanged, this, &SoundLevelStatisticsWindow::settingsChanged);
    return box;
}

QSpinBox* SoundLevelStatisticsWindow::secondsBox(const char* name, int value, int lowest)
{
    auto* box = new QSpinBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(lowest, 86400);
    box->setValue(value);
    box->setSuffix(QStringLiteral(" s"));
    connect(box, &QSpinBox::valueChanged, this, &SoundLevelStatisticsWindow::settingsChanged);
    return box;
}

QWidget* SoundLevelStatisticsWindow::settingsPage(
    const std::vector<std::pair<const char*, QWidget*>>& settings, QTableWidget* table)
{
    auto* page = new QWidget(this);
    auto* row = new QHBoxLayout;
    for (const auto& [text, box] : settings) {
        row->addWidget(Label(QString::fromUtf8(text), page));
        row->addWidget(box);
    }
    row->addStretch(1);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->addLayout(row);
    layout->addWidget(table, 1);
    return page;
}

QWidget* SoundLevelStatisticsWindow::makePeriodsPage()
{
    const NoisePeriods defaults;
    dayStart_ = hourBox("DayStart", defaults.dayStart);
    eveningStart_ = hourBox("EveningStart", defaults.eveningStart);
    nightStart_ = hourBox("NightStart", defaults.nightStart);
    dnNightStart_ = hourBox("DnNightStart", defaults.dnNightStart);
    eveningPenalty_ = decibelBox("EveningPenalty", defaults.eveningPenalty, 20.0);
    nightPenalty_ = decibelBox("NightPenalty", defaults.nightPenalty, 20.0);
    periods_ = AssessmentTable("PeriodsTable", this);
    return settingsPage(
        { { "Day from", dayStart_ }, { "evening from", eveningStart_ }, { "+", eveningPenalty_ },
            { "night from", nightStart_ }, { "+", nightPenalty_ }, { "Ldn night from", dnNightStart_ } },
        periods_);
}

QWidget* SoundLevelStatisticsWindow::makeEventsPage()
{
    const EventRules defaults;
    threshold_ = decibelBox("Threshold", module_.SystemHighAlarm, 200.0);
    threshold_->setToolTip(QStringLiteral("Events are the times the level stays at or above this (at first the "
                                          "high alarm level)"));
    minimumDuration_ = secondsBox("MinimumDuration", defaults.minimumSeconds, 1);
    mergeGap_ = secondsBox("MergeGap", defaults.mergeGapSeconds, 0);
    events_ = AssessmentTable("EventsTable", this);
    return settingsPage({ { "At or above", threshold_ }, { "for at least", minimumDuration_ },
                            { "joined where apart less than", mergeGap_ } },
        events_);
}

NoiseSettings SoundLevelStatisticsWindow::noiseSettings() const
{
    NoiseSettings settings;
    settings.periods.dayStart = dayStart_->value();
    settings.periods.eveningStart = eveningStart_->value();
    settings.periods.nightStart = nightStart_->value();
    settings.periods.dnNightStart = dnNightStart_->value();
    settings.periods.eveningPenalty = eveningPenalty_->value();
    settings.periods.nightPenalty = nightPenalty_->value();
    settings.events.thresholdTenths = static_cast<std::int32_t>(std::lround(threshold_->value() * 10.0));
    settings.events.minimumSeconds = minimumDuration_->value();
    settings.events.mergeGapSeconds = mergeGap_->value();
    return settings;
}

void SoundLevelStatisticsWindow::settingsChanged()
{
    // Figured afresh under the new settings: every accumulator depends on them.
    assessment_.reset();
    refresh(nullptr);
}

ReadingsWindow* SoundLevelStatisticsWindow::source() const
{
    return source_;
}

void SoundLevelStatisticsWindow::setCell(QTableWidget* table, int row, int column, const QString& text, bool numeric)
{
    // The cells are kept from one refresh to the next, so that a running measurement's figures
    // change in place rather than being rebuilt every second.
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment((numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

void SoundLevelStatisticsWindow::showTable(QTableWidget* table, const FigureTable& figures)
{
    const auto columns = static_cast<int>(figures.columns.size());
    table->setColumnCount(columns);
    table->setRowCount(static_cast<int>(figures.rows.size()));
    for (int c = 0; c < columns; ++c) {
        const QString& title = figures.columns[std::size_t(c)].title;
        QTableWidgetItem* header = table->horizontalHeaderItem(c);
        if (!header || header->text() != title)
            table->setHorizontalHeaderItem(c, new QTableWidgetItem(title));
    }
    for (int r = 0; r < static_cast<int>(figures.rows.size()); ++r) {
        for (int c = 0; c < columns; ++c) {
            setCell(table, r, c, figures.rows[std::size_t(r)][std::size_t(c)].shown,
                figures.columns[std::size_t(c)].numeric);
        }
    }
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
    chooseSeries(series);
    refreshSummary(series, notes);
    refreshAssessment(series, notes);
    noteLabel_->setText(notes.join(QLatin1Char('\n')));
    noteLabel_->setVisible(!notes.isEmpty());
}

void SoundLevelStatisticsWindow::chooseSeries(const std::vector<ReadingSeriesStatistics>& series)
{
    QStringList names;
    for (const ReadingSeriesStatistics& one : series)
        names << one.name;
    QStringList shown;
    for (int i = 0; i < seriesChooser_->count(); ++i)
        shown << seriesChooser_->itemText(i);
    if (names != shown) {
        const QString chosen = seriesChooser_->currentText();
        seriesChooser_->clear();
        seriesChooser_->addItems(names);
        seriesChooser_->setCurrentIndex(std::max<int>(0, static_cast<int>(names.indexOf(chosen))));
    }
    seriesChooser_->setVisible(names.size() > 1);
}

void SoundLevelStatisticsWindow::refreshSummary(const std::vector<ReadingSeriesStatistics>& series, QStringList& notes)
{
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
            setCell(figures_, row, column, columnCells[static_cast<std::size_t>(row)].text, true);
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
}

void SoundLevelStatisticsWindow::refreshAssessment(
    const std::vector<ReadingSeriesStatistics>& series, QStringList& notes)
{
    const int chosen = seriesChooser_->currentIndex();
    ReadingTable* table = source_ ? source_->readingsTable() : nullptr;
    const bool shown = chosen >= 0 && chosen < static_cast<int>(series.size()) && table;
    const QString name = shown ? series[std::size_t(chosen)].name : QString();
    if (!shown || assessedWindow_ != source_ || assessedSeries_ != name)
        assessment_.reset();
    assessedWindow_ = source_;
    assessedSeries_ = name;
    printReport_->setEnabled(shown);
    const std::optional<QString> fault = noiseSettings().periods.fault();
    if (fault) {
        notes << *fault;
        assessment_.reset();
    }
    std::optional<NoiseFigures> figures;
    // Figured while an assessment page is on show only: the summary needs none of it.
    if (shown && !fault && pages_->currentIndex() != SummaryPage) {
        const ReadingSeriesStatistics& one = series[std::size_t(chosen)];
        try {
            if (!assessment_)
                assessment_ = std::make_unique<GrowingSeries>(noiseSettings());
            assessment_->update(*table, one.firstRow, one.endRow < 0 ? table->rowCount() : one.endRow);
            figures = assessment_->figures();
            if (const std::optional<TimeStampError>& error = assessment_->timeError()) {
                notes << QStringLiteral("The periods, hours and events need the time of every reading: reading %1 "
                                        "of %2 has none, %3.")
                             .arg(error->row() - one.firstRow + 1)
                             .arg(one.name, error->text());
            } else if (!figures && assessment_->readings() > 0) {
                notes << QStringLiteral("The periods, hours and events need readings at two different times.");
            }
        } catch (const std::exception& error) {
            assessment_.reset();
            notes << QStringLiteral("The readings could not be read: ") + ErrorText(error);
        }
    }
    const NoiseFigures none;
    showTable(periods_, PeriodTable(figures.value_or(none)));
    showTable(hours_, HourTable(figures.value_or(none)));
    showTable(events_, EventTable(figures.value_or(none)));
}

void SoundLevelStatisticsWindow::PrintReportButtonClick()
{
    const std::vector<ReadingSeriesStatistics> series
        = source_ ? source_->levelStatistics() : std::vector<ReadingSeriesStatistics> {};
    const int chosen = seriesChooser_->currentIndex();
    ReadingTable* table = source_ ? source_->readingsTable() : nullptr;
    if (!table || chosen < 0 || chosen >= static_cast<int>(series.size()))
        return;
    const ReadingSeriesStatistics& one = series[std::size_t(chosen)];
    NoiseReportDetails details;
    details.company = module_.CompanyName;
    details.place = findChild<QLineEdit*>(QStringLiteral("ReportPlace"))->text().trimmed();
    details.notes = findChild<QLineEdit*>(QStringLiteral("ReportNotes"))->text().trimmed();
    details.source = source_->windowTitle().trimmed() + QStringLiteral(": ") + one.name;
    PrintNoiseReport(module_, printer_.printer(), *table, one.firstRow, one.endRow, noiseSettings(), details, this);
}
