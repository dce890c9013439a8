// The statistics window with stand-ins of readings windows: one column per series a window hands
// it (as the analysis window does with one per loaded file), rows per weighting, and what it shows
// when the figures cannot be had. The windows in the frame are tested in tests/shell.

#include "core/ReadingTable.h"
#include "core/SystemTexts.h"
#include "stats/StatisticsRows.h"
#include "statswindow/SoundLevelStatisticsWindow.h"
#include "support/TestModule.h"
#include "windowkit/ReadingsWindow.h"

#include <QLabel>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class StandInReadingsWindow final : public ReadingsWindow {
public:
    explicit StandInReadingsWindow(std::function<std::vector<ReadingSeriesStatistics>()> series)
        : series_(std::move(series))
    {
        setWindowTitle(QStringLiteral("Stand-in Analyzing "));
    }
    ReadingTable* readingsTable() const override { return nullptr; }
    QAbstractItemView* readingsGrid() const override { return nullptr; }
    bool canExportAndPrint() const override { return false; }
    bool canSave() const override { return false; }
    void save() override { }
    bool hasUnsavedReadings() const override { return false; }
    std::vector<ReadingSeriesStatistics> levelStatistics() const override { return series_(); }

private:
    std::function<std::vector<ReadingSeriesStatistics>()> series_;
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
    fixture.module->SystemHighAlarm = 65.0;
    // Only the second file has C-weighted readings; the first's C cells say there are none.
    StandInReadingsWindow analysis([] {
        return std::vector<ReadingSeriesStatistics> {
            { "quiet.dmr", Readings({ { Weighting::A, 400 }, { Weighting::A, 500 } }) },
            { "loud.dmr", Readings({ { Weighting::A, 700 }, { Weighting::C, 800 }, { Weighting::C, 800 } }) },
        };
    });
    SoundLevelStatisticsWindow window(*fixture.module);

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
    SoundLevelStatisticsWindow window(*fixture.module);
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

} // namespace
