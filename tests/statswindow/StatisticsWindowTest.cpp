// The statistics window with stand-ins of readings windows: one column per series a window hands
// it (as the analysis window does with one per loaded file), rows per weighting, and what it shows
// when the figures cannot be had; the periods, hours and events of the series chosen, under the
// bounds and rules set on the pages, and the noise report it prints. The windows in the frame are
// tested in tests/shell.

#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "desktop/ChosenPrinter.h"
#include "stats/FigureTables.h"
#include "stats/StatisticsRows.h"
#include "stats/TimedSeries.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "store/SqliteReadingStore.h"
#include "support/PdfReading.h"
#include "support/TestModule.h"
#include "windowkit/ReadingsWindow.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class StandInReadingsWindow final : public ReadingsWindow {
public:
    explicit StandInReadingsWindow(
        std::function<std::vector<ReadingSeriesStatistics>()> series, ReadingTable* table = nullptr)
        : series_(std::move(series))
        , table_(table)
    {
        setWindowTitle(QStringLiteral("Stand-in Analyzing "));
    }
    ReadingTable* readingsTable() const override { return table_; }
    QAbstractItemView* readingsGrid() const override { return nullptr; }
    bool canExportAndPrint() const override { return false; }
    bool canSave() const override { return false; }
    void save() override { }
    bool hasUnsavedReadings() const override { return false; }
    std::vector<ReadingSeriesStatistics> levelStatistics() const override { return series_(); }

private:
    std::function<std::vector<ReadingSeriesStatistics>()> series_;
    ReadingTable* table_;
};

std::shared_ptr<WeightedLevelStatistics> Readings(std::initializer_list<std::pair<Weighting, int>> tenths)
{
    auto statistics = std::make_shared<WeightedLevelStatistics>();
    for (const auto& [weighting, level] : tenths)
        statistics->add(weighting, level, 1);
    return statistics;
}

struct Shown {
    QStringList columns;
    QStringList rows;
    std::function<QString(const QString& row, const QString& column)> cell;
    QString source;
    QString note;
};

Shown Read(const SoundLevelStatisticsWindow& window)
{
    const auto* table = window.findChild<QTableWidget*>("FiguresTable");
    Shown shown;
    for (int c = 0; c < table->columnCount(); ++c)
        shown.columns << table->horizontalHeaderItem(c)->text();
    for (int r = 0; r < table->rowCount(); ++r)
        shown.rows << table->verticalHeaderItem(r)->text();
    shown.cell = [table, rows = shown.rows, columns = shown.columns](const QString& row, const QString& column) {
        const QTableWidgetItem* item = table->item(int(rows.indexOf(row)), int(columns.indexOf(column)));
        return item ? item->text() : QStringLiteral("<none>");
    };
    shown.source = window.findChild<QLabel*>("SourceLabel")->text();
    const auto* note = window.findChild<QLabel*>("NoteLabel");
    shown.note = note->isVisibleTo(&window) ? note->text() : QString();
    return shown;
}

TEST(StatisticsWindow, ShowsOneColumnPerSeriesWithTheRowsOfEachWeightingAnyOfThemHas)
{
    TestModule fixture;
    ChosenPrinter printer;
    fixture.module->SystemHighAlarm = 65.0;
    // Only the second file has C-weighted readings; the first's C cells say there are none.
    StandInReadingsWindow analysis([] {
        return std::vector<ReadingSeriesStatistics> {
            { "quiet.dmr", Readings({ { Weighting::A, 400 }, { Weighting::A, 500 } }) },
            { "loud.dmr", Readings({ { Weighting::A, 700 }, { Weighting::C, 800 }, { Weighting::C, 800 } }) },
        };
    });
    SoundLevelStatisticsWindow window(*fixture.module, printer);

    window.refresh(&analysis);

    const Shown shown = Read(window);
    EXPECT_EQ(shown.columns, QStringList({ "quiet.dmr", "loud.dmr" }));
    ASSERT_EQ(shown.rows.size(), 22);
    EXPECT_EQ(shown.rows[0], "LAeq");
    EXPECT_EQ(shown.rows[11], "LCeq");
    EXPECT_EQ(shown.source, "Readings of: Stand-in Analyzing");
    const QString unknown = QString::fromUtf16(UnknownFigure);
    struct Cell {
        const char* row;
        const char* column;
        QString text;
    };
    // 40 and 50 dB: Leq 10·log10((1e4 + 1e5) / 2) = 47.4036 dB.
    const Cell cells[] = {
        { "LAeq", "quiet.dmr", SystemOneDecimalText(47.4) },
        { "LAmin", "quiet.dmr", SystemOneDecimalText(40.0) },
        { "Readings (A)", "quiet.dmr", "2" },
        { "LCeq", "quiet.dmr", unknown },
        { "Readings (C)", "quiet.dmr", "0" },
        { "Duration (C)", "quiet.dmr", unknown },
        { "LAeq", "loud.dmr", SystemOneDecimalText(70.0) },
        { "Time above 65 dB (A)", "loud.dmr", "0:00:01" },
        { "LCeq", "loud.dmr", SystemOneDecimalText(80.0) },
        { "Readings above 65 dB (C)", "loud.dmr", "2" },
    };
    for (const Cell& c : cells)
        EXPECT_EQ(shown.cell(c.row, c.column), c.text) << c.row << " / " << c.column;
    EXPECT_TRUE(shown.note.isEmpty());
}

TEST(StatisticsWindow, KeepsToItsWindowUntilAnotherIsActiveAndSaysWhenThereIsNothingToShow)
{
    TestModule fixture;
    ChosenPrinter printer;
    fixture.module->SystemHighAlarm = 85.0;
    bool failing = false;
    auto first = std::make_unique<StandInReadingsWindow>([&failing] {
        if (failing)
            throw TableError(QStringLiteral("database disk image is malformed"));
        return std::vector<ReadingSeriesStatistics> { { "Measurement", Readings({ { Weighting::A, 600 } }) } };
    });
    StandInReadingsWindow empty([] {
        return std::vector<ReadingSeriesStatistics> { { "Download", std::make_shared<WeightedLevelStatistics>() } };
    });
    SoundLevelStatisticsWindow window(*fixture.module, printer);
    EXPECT_TRUE(Read(window).source.startsWith("No readings window is open."));

    window.refresh(first.get());
    window.refresh(nullptr);
    EXPECT_EQ(window.source(), first.get());
    EXPECT_EQ(Read(window).cell("Readings (A)", "Measurement"), "1");

    failing = true;
    window.refresh(nullptr);
    EXPECT_EQ(Read(window).note, "The readings could not be read: database disk image is malformed");
    EXPECT_TRUE(Read(window).rows.isEmpty());

    window.refresh(&empty);
    EXPECT_EQ(Read(window).columns, QStringList({ "Download" }));
    EXPECT_EQ(Read(window).note, "No readings yet.");

    window.refresh(first.get());
    first.reset();
    window.refresh(nullptr);
    EXPECT_EQ(window.source(), nullptr);
    EXPECT_TRUE(Read(window).source.startsWith("No readings window is open."));
    EXPECT_TRUE(Read(window).columns.isEmpty());
}

// The cells of a figure table on a page, by row and column title.
QString Cell(const QTableWidget* table, int row, const QString& column)
{
    for (int c = 0; c < table->columnCount(); ++c) {
        if (table->horizontalHeaderItem(c)->text() == column)
            return table->item(row, c) ? table->item(row, c)->text() : QStringLiteral("<none>");
    }
    return QStringLiteral("<no column %1>").arg(column);
}

class StatisticsWindowAssessment : public testing::Test {
protected:
    void SetUp() override
    {
        table().open();
        table().empty();
        // File 1: a day at 60, an evening at 55, a night at 45 dB from 07:00 on 12 May 2006, a reading
        // a minute (tests/stats/expected_noise.py: Lden 58.8766, Ldn 58.9025); file 2: ten minutes at
        // 80 dB from 10:00 on 13 May with 90 dB from 10:02 to 10:04.
        for (int i = 0; i < 1440; ++i) {
            const QDateTime t = QDateTime(QDate(2006, 5, 12), QTime(7, 0)).addSecs(60 * i);
            const int hour = t.time().hour();
            append(t, hour >= 7 && hour < 19 ? "60.0" : hour >= 19 && hour < 23 ? "55.0" : "45.0");
        }
        for (int i = 0; i < 600; ++i) {
            append(QDateTime(QDate(2006, 5, 13), QTime(10, 0)).addSecs(i), i >= 120 && i < 240 ? "90.0" : "80.0");
        }
    }
    void append(const QDateTime& t, const char* level)
    {
        table().appendRow({ QString::number(table().rowCount() + 1), QString::fromLatin1(level), "A",
            t.time().toString("H:m:s"), t.date().toString("M/d/yyyy") });
    }
    ReadingTable& table() { return *fixture.module->LoadData; }
    std::vector<ReadingSeriesStatistics> files()
    {
        const std::vector<WeightedLevelStatistics> statistics
            = TimedStatisticsOfTableStretches(table(), { 1440, 2040 });
        return { { "day.dmr", std::make_shared<WeightedLevelStatistics>(statistics[0]), 0, 1440 },
            { "loud.dmr", std::make_shared<WeightedLevelStatistics>(statistics[1]), 1440, 2040 } };
    }
    // The rows from the second file's on, where a test adds one that cannot be read.
    static std::vector<ReadingSeriesStatistics> BrokenFile()
    {
        return { { "broken.dmr", std::make_shared<WeightedLevelStatistics>(), 1440, -1 } };
    }
    template <typename T> T* child(const char* name) const { return window.findChild<T*>(QString::fromLatin1(name)); }
    void showPage(int page) { child<QTabWidget>("StatisticsPages")->setCurrentIndex(page); }

    // The events' threshold starts at the high alarm level of the settings.
    static TestModule& WithHighAlarm(TestModule& module)
    {
        module.module->SystemHighAlarm = 85.0;
        return module;
    }

    QTemporaryDir storeFolder;
    TestModule fixture { std::make_unique<SqliteReadingStore>(storeFolder.filePath("Decimora.mdb")) };
    ChosenPrinter printer;
    SoundLevelStatisticsWindow window { *WithHighAlarm(fixture).module, printer };
};

TEST_F(StatisticsWindowAssessment, ThePagesShowThePeriodsHoursAndEventsOfTheFileChosen)
{
    StandInReadingsWindow analysis([this] { return files(); }, &table());
    window.refresh(&analysis);
    EXPECT_EQ(child<QDoubleSpinBox>("Threshold")->value(), 85.0);
    auto* chooser = child<QComboBox>("SeriesChooser");
    EXPECT_TRUE(chooser->isVisibleTo(&window));
    EXPECT_EQ(chooser->count(), 2);

    // The summary knows the durations from the time stamps: a day of readings a minute apart.
    EXPECT_EQ(Read(window).cell("Duration (A)", "day.dmr"), "24:00:00");
    showPage(1);
    const auto* periods = child<QTableWidget>("PeriodsTable");
    ASSERT_EQ(periods->rowCount(), 10);
    const char* figures[] = { "Lday", "Levening", "Lnight", "Lden", "Ldn" };
    const double levels[] = { 60.0, 55.0, 45.0, 58.8766, 58.9025 };
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(Cell(periods, row, "Day"), "Whole run");
        EXPECT_EQ(Cell(periods, row, "Figure"), figures[row]);
        EXPECT_EQ(Cell(periods, row, "Level (dB)"), SystemOneDecimalText(levels[row])) << figures[row];
        EXPECT_EQ(Cell(periods, row, "Coverage (%)"), SystemOneDecimalText(100.0));
    }
    EXPECT_EQ(Cell(periods, 5, "Day"), SystemShortDateText(QDate(2006, 5, 12)));
    showPage(2);
    EXPECT_EQ(child<QTableWidget>("HoursTable")->rowCount(), 24);
    showPage(3);
    EXPECT_EQ(child<QTableWidget>("EventsTable")->rowCount(), 0);

    // The other file: two minutes at 90 dB above the 85 dB threshold, one event.
    chooser->setCurrentIndex(1);
    window.refresh(nullptr);
    const auto* events = child<QTableWidget>("EventsTable");
    ASSERT_EQ(events->rowCount(), 1);
    EXPECT_EQ(Cell(events, 0, "Duration"), "0:02:00");
    EXPECT_EQ(Cell(events, 0, "Lmax (dB)"), SystemOneDecimalText(90.0));
    EXPECT_EQ(Cell(events, 0, "Start"), ShownMoment(ClockSecondsOf(QDate(2006, 5, 13), 10 * 3600 + 120)));

    // Lower the threshold to 80 dB: the whole ten minutes; at least 11 minutes: none.
    child<QDoubleSpinBox>("Threshold")->setValue(80.0);
    ASSERT_EQ(events->rowCount(), 1);
    EXPECT_EQ(Cell(events, 0, "Duration"), "0:10:00");
    child<QSpinBox>("MinimumDuration")->setValue(660);
    EXPECT_EQ(events->rowCount(), 0);
}

TEST_F(StatisticsWindowAssessment, BoundsMoveThePeriodsAndWrongBoundsOrTimesAreSaid)
{
    StandInReadingsWindow analysis([this] { return files(); }, &table());
    window.refresh(&analysis);
    showPage(1);
    const auto* periods = child<QTableWidget>("PeriodsTable");
    // Day 06-18, evening 18-22, night 22-06: 07-18 at 60 on 12 May and 06-07 at 45 on 13 May make
    // the days (the second a day of its own, from 06:00), 18-19 at 60 and 19-22 at 55 the evening.
    child<QSpinBox>("DayStart")->setValue(6);
    child<QSpinBox>("EveningStart")->setValue(18);
    child<QSpinBox>("NightStart")->setValue(22);
    const double day = 10 * std::log10((11 * std::pow(10.0, 6.0) + std::pow(10.0, 4.5)) / 12);
    const double evening = 10 * std::log10((std::pow(10.0, 6.0) + 3 * std::pow(10.0, 5.5)) / 4);
    ASSERT_EQ(periods->rowCount(), 15);
    EXPECT_EQ(Cell(periods, 0, "Level (dB)"), SystemOneDecimalText(day));
    EXPECT_EQ(Cell(periods, 0, "Coverage (%)"), SystemOneDecimalText(50.0));
    EXPECT_EQ(Cell(periods, 1, "Level (dB)"), SystemOneDecimalText(evening));
    EXPECT_EQ(Cell(periods, 10, "Day"), SystemShortDateText(QDate(2006, 5, 13)));

    child<QSpinBox>("EveningStart")->setValue(5);
    EXPECT_EQ(periods->rowCount(), 0);
    EXPECT_TRUE(child<QLabel>("NoteLabel")->text().contains("The periods must start in the order day, evening, night"))
        << child<QLabel>("NoteLabel")->text().toStdString();
    child<QSpinBox>("EveningStart")->setValue(18);
    EXPECT_EQ(periods->rowCount(), 15);

    // A row whose time cannot be read: named by its place in the file.
    table().appendRow({ "2041", "50.0", "A", "9:75:00", "5/13/2006" });
    StandInReadingsWindow broken(BrokenFile, &table());
    window.refresh(&broken);
    EXPECT_EQ(periods->rowCount(), 0);
    EXPECT_TRUE(
        child<QLabel>("NoteLabel")
            ->text()
            .contains("reading 601 of broken.dmr has none, the date and time \"5/13/2006 9:75:00\" cannot be read"))
        << child<QLabel>("NoteLabel")->text().toStdString();
    EXPECT_FALSE(child<QComboBox>("SeriesChooser")->isVisibleTo(&window));
}

TEST_F(StatisticsWindowAssessment, PrintReportWritesTheNoiseReportOfTheFileOnShow)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(DECIMORA_NOISE_REPORT_DEFINITION),
        QDir(fixture.module->Folders().resourceFolder()).filePath("Decimora_noise_en.rav")));
    fixture.module->CompanyName = QStringLiteral("Acme Acoustics");
    StandInReadingsWindow analysis([this] { return files(); }, &table());
    window.refresh(&analysis);
    child<QLineEdit>("ReportPlace")->setText("12 Mill Lane, garden");
    child<QLineEdit>("ReportNotes")->setText("Complaint of 3 May");
    const QString pdf = fixture.folder.filePath("noise.pdf");
    fixture.ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, pdf });

    child<QPushButton>("PrintReportButton")->click();

    EXPECT_TRUE(fixture.ui.messages.empty()) << fixture.ui.messages.front().text.toStdString();
    const PdfDocument document = ReadPdf(pdf);
    ASSERT_TRUE(document.readable);
    const QString text = document.pageTexts.join('\n');
    for (const QString& expected :
        { QStringLiteral("Noise Assessment"), QStringLiteral("Acme Acoustics"), QStringLiteral("12 Mill Lane, garden"),
            QStringLiteral("Complaint of 3 May"), QStringLiteral("day.dmr"), QStringLiteral("Time history") })
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
    EXPECT_TRUE(
        HasLine(text, { "A", "Whole run", "Lden", SystemOneDecimalText(58.9), SystemOneDecimalText(100.0), "0" }))
        << text.toStdString();

    // Readings without times are refused with the reason, and nothing is printed.
    table().appendRow({ "2041", "50.0", "A", "noon", "5/13/2006" });
    StandInReadingsWindow broken(BrokenFile, &table());
    window.refresh(&broken);
    child<QPushButton>("PrintReportButton")->click();
    ASSERT_EQ(fixture.ui.messages.size(), 1U);
    EXPECT_EQ(fixture.ui.messages.front().caption, "Print Error");
    EXPECT_EQ(fixture.ui.messages.front().text,
        "The noise report needs the time of every reading, and reading 601 has none: the date and time "
        "\"5/13/2006 noon\" cannot be read.");
}

} // namespace
