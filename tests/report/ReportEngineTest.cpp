// The report engine on its own: definitions read or refused, reports printed to PDF through each
// destination of the output dialog and read back with poppler-utils.

#include "report/ReportEngine.h"
#include "core/SystemTexts.h"
#include "core/WholeFileWriter.h"
#include "stats/FigureTables.h"
#include "store/SqliteReadingStore.h"
#include "support/FakeServices.h"
#include "support/PdfReading.h"
#include "support/ScriptedUserInteraction.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <functional>
#include <tuple>
#include <vector>

namespace {

using testing::HasSubstr;

const QString ShippedDefinition = QStringLiteral(DECIMORA_DATA_SHEET_DEFINITION);
const QStringList ColumnTitles { "No.", "Level (dB)", "Weighting", "Time", "Date" };

// A small definition of our own, so that the page arithmetic does not hang on the shipped one.
QByteArray Definition(const QByteArray& page = R"(<page size="A5" orientation="landscape"/>)",
    const QByteArray& summary = R"(<summary field="MeaValue" title="Summary">
        <line function="count" label="Readings"/><line function="maximum" label="Maximum" unit="dB"/>
        <line function="minimum" label="Minimum" unit="dB"/><line function="average" label="Average" unit="dB"/>
    </summary>)")
{
    return R"(<?xml version="1.0"?>
<report version="1">
    )" + page
        + R"(
    <page-header>
        <title>Test Sheet</title>
        <print-date>Printed {date} {time}</print-date>
        <page-number>Page {page} of {pages}</page-number>
    </page-header>
    <data connection="ReportDataConnection1">
        <column field="RecNo" title="No." width="20mm" align="right"/>
        <column field="MeaValue" title="Level" width="25mm" align="right"/>
        <column field="Weight" title="Weighting" width="25mm" align="center"/>
    </data>
    )" + summary
        + R"(
</report>
)";
}

// The level of row recNo from addRows.
QString Level(int recNo)
{
    return QString::number(40.0 + (recNo % 600) / 10.0, 'f', 1);
}

bool HasRow(const QString& pageText, int recNo)
{
    return HasLine(pageText, { QString::number(recNo), Level(recNo), "A" });
}

class ReportEngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        store = std::make_unique<SqliteReadingStore>(dir.filePath("readings.db"));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("printer.pdf"));
    }

    ReadingTable& table() { return store->loadData(); }

    // Rows count + 1, count + 2, ... after those there are, with the levels Level gives.
    void addRows(int count)
    {
        const auto first = static_cast<int>(table().rowCount()) + 1;
        int i = first;
        QByteArray level;
        table().appendRows([&](RowToAppend& row) {
            if (i == first + count)
                return false;
            level = Level(i).toUtf8();
            row.recNo = i;
            row.text = { level, "A", "14:30:15", "12/9/2026" };
            ++i;
            return true;
        });
    }

    QString definitionFile(const QByteArray& content)
    {
        const QString path = dir.filePath("report.rav");
        writeFile(path, content);
        return path;
    }

    // Opens, binds and writes a PDF through the output dialog.
    PdfDocument printToPdf(const QString& definitionPath)
    {
        const QString pdf = dir.filePath("report.pdf");
        QFile::remove(pdf);
        engine.open(definitionPath);
        engine.bind(ReportDataConnection1, table());
        ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, pdf });
        EXPECT_TRUE(engine.run(printer, nullptr));
        return ReadPdf(pdf);
    }

    QTemporaryDir dir;
    std::unique_ptr<SqliteReadingStore> store;
    ScriptedUserInteraction ui;
    FakeClock clock;
    ReportEngine engine { ui, clock };
    QPrinter printer { QPrinter::HighResolution };
};

TEST_F(ReportEngineTest, TheShippedDataSheetPrintsTheFiveReadingColumnsThroughReportDataConnection1)
{
    const ReportDefinition definition = ReadReportDefinition(ShippedDefinition);

    QStringList fields;
    for (const ReportColumn& column : definition.columns)
        fields << column.field;
    EXPECT_EQ(fields, QStringList({ "RecNo", "MeaValue", "Weight", "Time", "Date" }));
    EXPECT_EQ(definition.connection, "ReportDataConnection1");
    EXPECT_EQ(definition.summaryField, "MeaValue");
    // The four figures of old first, as they were, then the sound levels of A and of C.
    using F = ReportSummaryFunction;
    std::vector<std::tuple<F, QString, QString>> lines;
    for (const ReportSummaryLine& line : definition.summary) {
        lines.emplace_back(line.function, line.label, line.unit);
        if (IsLevelFunction(line.function)) {
            EXPECT_EQ(line.label.mid(1, 1), QString(QLatin1Char(WeightingLetter(line.weighting))))
                << line.label.toStdString();
        }
    }
    EXPECT_THAT(lines,
        testing::ElementsAre(std::tuple(F::Count, "Readings", ""), std::tuple(F::Maximum, "Maximum", "dB"),
            std::tuple(F::Minimum, "Minimum", "dB"), std::tuple(F::Average, "Average", "dB"),
            std::tuple(F::Leq, "LAeq", "dB"), std::tuple(F::L10, "LA10", "dB"), std::tuple(F::L50, "LA50", "dB"),
            std::tuple(F::L90, "LA90", "dB"), std::tuple(F::Lmax, "LAmax", "dB"), std::tuple(F::Lmin, "LAmin", "dB"),
            std::tuple(F::Leq, "LCeq", "dB"), std::tuple(F::L10, "LC10", "dB"), std::tuple(F::L50, "LC50", "dB"),
            std::tuple(F::L90, "LC90", "dB"), std::tuple(F::Lmax, "LCmax", "dB"), std::tuple(F::Lmin, "LCmin", "dB")));
    // The paper is the one chosen with Printer Setup.
    EXPECT_FALSE(definition.pageSize.has_value());
}

TEST_F(ReportEngineTest, WhatIsNoDefinitionIsRefusedWithTheFileAndTheFault)
{
    struct Case {
        const char* name;
        std::function<QString()> prepare; // returns the path to open
        const char* fault;
        int line; // 0: not checked
    };
    const auto file = [this](const QByteArray& content) { return [this, content] { return definitionFile(content); }; };
    QByteArray truncated = Definition();
    truncated.truncate(truncated.size() / 2);
    QByteArray misspelt = Definition();
    misspelt.replace("width=\"25mm\" align=\"right\"", "widht=\"25mm\" align=\"right\"");
    const Case cases[] = {
        { "missing", [this] { return dir.filePath("none.rav"); }, "does not exist", 0 },
        { "a folder",
            [this] {
                QDir(dir.path()).mkdir("folder.rav");
                return dir.filePath("folder.rav");
            },
            "is a folder", 0 },
        { "empty", file(""), "the XML is broken", 0 },
        { "binary junk", file(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), "the XML is broken", 0 },
        { "cut off", file(truncated), "the XML is broken", 0 },
        { "another XML document", file("<html><body>Report</body></html>"), "its first element is <html>", 1 },
        { "a later version", file(QByteArray(Definition()).replace("version=\"1\">", "version=\"2\">")),
            "it is of version 2", 0 },
        { "misspelt attribute", file(misspelt), "<column> has no attribute widht", 11 },
        { "unknown field", file(QByteArray(Definition()).replace("field=\"Weight\"", "field=\"Level\"")),
            "field=\"Level\" of <column> is not a field of the table (RecNo, MeaValue, Weight, Time, Date)", 12 },
        { "width without unit", file(QByteArray(Definition()).replace("width=\"20mm\"", "width=\"20\"")),
            "width=\"20\" of <column> is not a length above zero", 10 },
        // Finite as written, beyond any double once in millimetres: the engine would lay out infinity.
        { "a width no paper holds", file(QByteArray(Definition()).replace("width=\"20mm\"", "width=\"1e308in\"")),
            "width=\"1e308in\" of <column> is not a length above zero", 10 },
        { "unknown alignment", file(QByteArray(Definition()).replace("align=\"center\"", "align=\"middle\"")),
            "align=\"middle\" of <column> is not one of left, center, right", 12 },
        { "no data band", file(R"(<report version="1"><page-header><title>T</title></page-header></report>)"),
            "it has no <data> band, <table>, <chart> or <fields>: nothing to print", 0 },
        { "a summary without a data band",
            file(R"(<report version="1"><table source="t"/><summary field="MeaValue"/></report>)"),
            "its <summary> sums up a <data> band it does not have", 0 },
        { "fields without a field", file(R"(<report version="1"><fields title="About"></fields></report>)"),
            "<fields> has no <field>", 1 },
        { "a chart without a source", file(R"(<report version="1"><chart height="50mm"/></report>)"),
            "<chart> needs the attribute source", 1 },
        { "a chart too low", file(R"(<report version="1"><chart source="levels" height="10mm"/></report>)"),
            "height=\"10mm\" of <chart> is not a length above zero", 1 },
        { "a table column without its key",
            file(R"(<report version="1"><table source="t"><column title="x"/></table></report>)"),
            "<column> needs the attribute field", 1 },
        { "data band without columns",
            file(R"(<report version="1"><data connection="ReportDataConnection1"></data></report>)"),
            "the <data> band has no <column>", 1 },
        { "no connection", file(QByteArray(Definition()).replace(" connection=\"ReportDataConnection1\"", "")),
            "<data> needs the attribute connection", 0 },
        { "unknown weighting",
            file(Definition({}, R"(<summary field="MeaValue"><line function="leq" weighting="Z"/></summary>)")),
            "weighting=\"Z\" of <line> is not one of A, C", 0 },
        { "weighting of a figure that takes every row",
            file(Definition({}, R"(<summary field="MeaValue"><line function="average" weighting="C"/></summary>)")),
            "<line> has no attribute weighting", 0 },
        { "a figure a table cannot give",
            file(Definition({}, R"(<summary field="MeaValue"><line function="sel" weighting="A"/></summary>)")),
            "function=\"sel\" of <line> is not one of count, maximum, minimum, average, leq, l10, l50, l90, lmax, "
            "lmin",
            0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const QString path = test.prepare();
        try {
            engine.open(path);
            ADD_FAILURE() << "opened";
        } catch (const ReportError& error) {
            const std::string text = error.text().toStdString();
            EXPECT_THAT(text, HasSubstr(QDir::toNativeSeparators(path).toStdString()));
            EXPECT_THAT(text, HasSubstr(test.fault));
            if (test.line > 0) {
                EXPECT_THAT(text, HasSubstr(QStringLiteral("(line %1,").arg(test.line).toStdString()));
            }
        }
        EXPECT_FALSE(engine.isOpen());
    }
}

TEST_F(ReportEngineTest, OnlyTheDefinitionsOwnConnectionCanBeBoundAndNothingRunsUnbound)
{
    addRows(3);
    EXPECT_THROW(engine.bind(ReportDataConnection1, table()), ReportError) << "nothing open";

    const QString path = definitionFile(Definition());
    engine.open(path);
    EXPECT_THROW(engine.run(printer, nullptr), ReportError) << "nothing bound";
    try {
        engine.bind("ReportDataConnection2", table());
        ADD_FAILURE() << "bound";
    } catch (const ReportError& error) {
        EXPECT_EQ(error.text(),
            QStringLiteral("The report definition \"%1\" has no data connection named \"ReportDataConnection2\".")
                .arg(QDir::toNativeSeparators(path)));
    }
    EXPECT_TRUE(ui.reportOutputDialogs.isEmpty());

    engine.bind(ReportDataConnection1, table());
    engine.close();
    EXPECT_THROW(engine.run(printer, nullptr), ReportError) << "closed";
    EXPECT_TRUE(ui.reportOutputDialogs.isEmpty());
}

// The page count is known before the first page: the summary moves to a page of its own exactly
// when it no longer fits under the last row, and "n of m" counts that page.
TEST_F(ReportEngineTest, PagesAreNumberedNOfMWithTitlesOnEveryPageAndTheSummaryOnceAtTheEnd)
{
    const QString path = definitionFile(Definition());
    addRows(400);
    const PdfDocument probe = printToPdf(path);
    ASSERT_TRUE(probe.readable);
    ASSERT_GE(probe.pageCount, 2);
    int rowsPerPage = 0;
    while (HasRow(probe.pageTexts[0], rowsPerPage + 1))
        ++rowsPerPage;
    ASSERT_GT(rowsPerPage, 5);

    struct Case {
        const char* name;
        int rows;
        int pages;
    };
    const Case cases[] = {
        { "no rows", 0, 1 },
        // The summary takes a gap, its title and four lines.
        { "room for the summary under the last row", rowsPerPage - 7, 1 },
        { "a full page: the summary goes on", rowsPerPage, 2 },
        { "two pages and a row", 2 * rowsPerPage + 1, 3 },
    };
    const QRegularExpression anyRow(
        QStringLiteral(R"(^\s*\d+\s+\d+\.\d\s+A\s*$)"), QRegularExpression::MultilineOption);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        table().empty();
        addRows(test.rows);

        const PdfDocument pdf = printToPdf(path);

        ASSERT_TRUE(pdf.readable);
        EXPECT_EQ(pdf.pageCount, test.pages);
        ASSERT_EQ(pdf.pageTexts.size(), test.pages);
        int rowsInOrder = 0;
        int rowLines = 0;
        for (int page = 1; page <= test.pages; ++page) {
            const QString& text = pdf.pageTexts[page - 1];
            EXPECT_TRUE(HasLine(text, { "Test Sheet" })) << page;
            EXPECT_TRUE(HasLine(text,
                { "Printed", SystemShortDateText(clock.current.date()), SystemLongTimeText(clock.current.time()),
                    QStringLiteral("Page %1 of %2").arg(page).arg(test.pages) }))
                << text.toStdString();
            EXPECT_TRUE(HasLine(text, { "No.", "Level", "Weighting" })) << page;
            EXPECT_EQ(text.contains("Readings"), page == test.pages) << page;
            while (rowsInOrder < test.rows && HasRow(text, rowsInOrder + 1))
                ++rowsInOrder;
            for (auto match = anyRow.globalMatch(text); match.hasNext(); match.next())
                ++rowLines;
        }
        EXPECT_EQ(rowsInOrder, test.rows) << "every row in table order";
        EXPECT_EQ(rowLines, test.rows) << "no row twice";
        EXPECT_TRUE(HasLine(pdf.pageTexts.last(), { "Readings", QString::number(test.rows) }));
    }
}

TEST_F(ReportEngineTest, TheSummaryCountsEveryRowAndFiguresTheLevels)
{
    for (const ReadingRow& row : { ReadingRow { "1", "65.3", "A", "14:30:15", "12/9/2026" },
             ReadingRow { "2", "100.0", "C", "14:30:16", "12/9/2026" },
             ReadingRow { "3", "0.5", "A", "14:30:17", "12/9/2026" },
             ReadingRow { "4", "", "A", "14:30:18", "12/9/2026" } })
        table().appendRow(row);

    const PdfDocument pdf = printToPdf(definitionFile(Definition()));

    ASSERT_EQ(pdf.pageCount, 1);
    const QString& text = pdf.pageTexts[0];
    EXPECT_TRUE(HasLine(text, { "Summary" }));
    EXPECT_TRUE(HasLine(text, { "Readings", "4" }));
    EXPECT_TRUE(HasLine(text, { "Maximum", SystemOneDecimalText(100.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "Minimum", SystemOneDecimalText(0.5), "dB" }));
    // The row without a level counts as a reading but not in the average.
    EXPECT_TRUE(HasLine(text, { "Average", SystemOneDecimalText((65.3 + 100.0 + 0.5) / 3), "dB" }))
        << text.toStdString();
}

// The shipped data sheet's sound levels, against tests/stats/expected_levels.py ("60 and 70 dB
// equally long", "C-weighted readings beside A"): the C lines only once the table has C readings.
TEST_F(ReportEngineTest, TheShippedDataSheetPrintsTheSoundLevelsOfEachWeightingTheTableHas)
{
    int recNo = 0;
    const auto append = [&](const char* level, const char* weighting, int count) {
        for (int i = 0; i < count; ++i) {
            const QString number = QString::number(++recNo);
            table().appendRow({ number, level, weighting, "14:30:15", "12/9/2026" });
        }
    };
    append("60.0", "A", 50);
    append("70.0", "A", 50);
    const auto dB = [](double level) { return SystemOneDecimalText(level); };
    const auto lastPage = [this] {
        const PdfDocument pdf = printToPdf(ShippedDefinition);
        EXPECT_TRUE(pdf.readable);
        return pdf.pageTexts.isEmpty() ? QString() : pdf.pageTexts.last();
    };

    QString text = lastPage();
    // The summary of old stays as it was, the levels follow it.
    EXPECT_TRUE(HasLine(text, { "Readings", "100" })) << text.toStdString();
    EXPECT_TRUE(HasLine(text, { "Average", dB(65.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LAeq", dB(67.4), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LA10", dB(70.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LA50", dB(60.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LA90", dB(60.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LAmax", dB(70.0), "dB" }));
    EXPECT_TRUE(HasLine(text, { "LAmin", dB(60.0), "dB" }));
    EXPECT_FALSE(text.contains("LC")) << "no C-weighted reading";

    append("80.0", "C", 3);
    text = lastPage();
    EXPECT_TRUE(HasLine(text, { "Readings", "103" })) << text.toStdString();
    EXPECT_TRUE(HasLine(text, { "LAeq", dB(67.4), "dB" })) << "A and C are never mixed";
    EXPECT_TRUE(HasLine(text, { "LA10", dB(70.0), "dB" }));
    for (const char* name : { "LCeq", "LC10", "LC50", "LC90", "LCmax", "LCmin" })
        EXPECT_TRUE(HasLine(text, { name, dB(80.0), "dB" })) << name;
}

// The levels' lines count in the page arithmetic: a summary that grows by its C lines moves to a
// page of its own where it no longer fits, and "n of m" says so from the first page.
TEST_F(ReportEngineTest, TheLevelLinesTakeTheirRoomInThePageCount)
{
    const QByteArray summary = R"x(<summary field="MeaValue">
        <line function="count" label="Readings"/>
        <line function="leq" weighting="A"/><line function="leq" weighting="C"/>
        <line function="l90" weighting="C" label="Background (LC90)" unit="dB(C)"/>
    </summary>)x";
    const QString path = definitionFile(Definition(R"(<page size="A5" orientation="landscape"/>)", summary));
    addRows(400);
    const PdfDocument probe = printToPdf(path);
    ASSERT_TRUE(probe.readable);
    int rowsPerPage = 0;
    while (HasRow(probe.pageTexts[0], rowsPerPage + 1))
        ++rowsPerPage;
    ASSERT_GT(rowsPerPage, 5);

    // A gap and two lines (count, LAeq) fit under rowsPerPage - 3 rows; with the two C lines they
    // do not.
    table().empty();
    addRows(rowsPerPage - 3);
    PdfDocument pdf = printToPdf(path);
    ASSERT_TRUE(pdf.readable);
    EXPECT_EQ(pdf.pageCount, 1);
    EXPECT_TRUE(pdf.pageTexts.last().contains("LAeq"));
    EXPECT_FALSE(pdf.pageTexts.last().contains("Background"));

    table().appendRow({ "9999", "50.0", "C", "14:30:15", "12/9/2026" });
    table().appendRow({ "10000", "60.0", "C", "14:30:15", "12/9/2026" });
    pdf = printToPdf(path);
    ASSERT_TRUE(pdf.readable);
    ASSERT_EQ(pdf.pageCount, 2);
    EXPECT_TRUE(pdf.pageTexts[0].contains("Page 1 of 2"));
    EXPECT_FALSE(pdf.pageTexts[0].contains("LAeq"));
    EXPECT_TRUE(HasLine(pdf.pageTexts[1], { "LCeq", SystemOneDecimalText(57.4), "dB" }))
        << pdf.pageTexts[1].toStdString();
    EXPECT_TRUE(HasLine(pdf.pageTexts[1], { "Background (LC90)", SystemOneDecimalText(50.0), "dB(C)" }));
}

// Every destination of the output dialog prints the same pages on the printer's paper turned as the
// definition says, and leaves the printer as it was.
TEST_F(ReportEngineTest, EachDestinationOfTheOutputDialogGetsThePagesAndThePrinterStaysAsItWas)
{
    const QByteArray upright = R"(<page size="printer" orientation="portrait"/>)";
    const QString path = definitionFile(Definition(upright));
    addRows(3);
    printer.setPageSize(QPageSize(QPageSize::Letter));
    printer.setPageOrientation(QPageLayout::Landscape);
    const QString pdfFile = dir.filePath("chosen.pdf");
    const QString previewFile = dir.filePath("preview.pdf");
    ui.previewPdfPath = previewFile;

    struct Case {
        const char* name;
        ReportOutputChoice choice;
        QString output; // empty: nothing printed
    };
    const Case cases[] = {
        { "printer", { ReportDestination::Printer, {}, {} }, printer.outputFileName() },
        { "preview", { ReportDestination::Preview, {}, {} }, previewFile },
        { "PDF file", { ReportDestination::PdfFile, {}, pdfFile }, pdfFile },
        { "cancelled", {}, {} },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        for (const QString& file : { printer.outputFileName(), pdfFile, previewFile })
            QFile::remove(file);
        engine.open(path);
        engine.bind(ReportDataConnection1, table());
        ui.reportOutputs.push_back(test.choice);

        EXPECT_EQ(engine.run(printer, nullptr), !test.output.isEmpty());

        EXPECT_EQ(ui.reportOutputDialogs.last(), "Test Sheet");
        for (const QString& file : { printer.outputFileName(), pdfFile, previewFile })
            EXPECT_EQ(QFile::exists(file), file == test.output) << file.toStdString();
        if (!test.output.isEmpty()) {
            const PdfDocument pdf = ReadPdf(test.output);
            ASSERT_EQ(pdf.pageCount, 1);
            EXPECT_NEAR(pdf.pageSize.width(), 612, 1);
            EXPECT_NEAR(pdf.pageSize.height(), 792, 1);
            EXPECT_TRUE(HasLine(pdf.pageTexts[0], { "3", "40.3", "A" }));
        }
        EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
        EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::Letter);
    }
    EXPECT_EQ(ui.previewCount, 1);
}

TEST_F(ReportEngineTest, TheDefinitionsOwnPaperWinsOverThePrinters)
{
    printer.setPageSize(QPageSize(QPageSize::Letter));
    addRows(1);

    const PdfDocument pdf = printToPdf(definitionFile(Definition()));

    // A5 landscape: 210 mm x 148 mm.
    EXPECT_NEAR(pdf.pageSize.width(), 595.3, 1);
    EXPECT_NEAR(pdf.pageSize.height(), 419.5, 1);
}

TEST_F(ReportEngineTest, WhereThePagesCannotGoTheErrorSaysSoAndAnEarlierPdfIsKept)
{
    addRows(3);
    const QString pdf = dir.filePath("kept.pdf");
    writeFile(pdf, "the earlier file");
    engine.open(definitionFile(Definition()));
    engine.bind(ReportDataConnection1, table());

    // The table fails while its rows are read.
    table().close();
    ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, pdf });
    EXPECT_THROW(engine.run(printer, nullptr), TableError);
    EXPECT_EQ(readFile(pdf), "the earlier file");

    // The folder does not exist.
    table().open();
    const QString nowhere = dir.filePath("no such folder/report.pdf");
    ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, nowhere });
    try {
        engine.run(printer, nullptr);
        ADD_FAILURE() << "written";
    } catch (const FileWriteError& error) {
        EXPECT_EQ(error.text(), "Cannot write " + nowhere + ": No such file or directory");
    }
    EXPECT_FALSE(QFile::exists(nowhere));

    // A printer that will not start: here one that prints to a file in that folder.
    printer.setOutputFileName(nowhere);
    ui.reportOutputs.push_back({ ReportDestination::Printer, {}, {} });
    try {
        engine.run(printer, nullptr);
        ADD_FAILURE() << "printed";
    } catch (const ReportError& error) {
        EXPECT_EQ(error.text(),
            QStringLiteral("The printer \"%1\" cannot be started.").arg(QDir::toNativeSeparators(nowhere)));
    }
}

// A table of figures of rows "row 1", "row 2", ... with a number each.
FigureTable Numbered(int rows)
{
    FigureTable table;
    table.columns = { { "name", "Name", false }, { "value", "Value (dB)", true } };
    for (int i = 1; i <= rows; ++i) {
        const QString value = QString::number(40.0 + i / 10.0, 'f', 1);
        table.rows.push_back({ { QStringLiteral("row %1").arg(i), {}, {} }, { value, value, 40.0 + i / 10.0 } });
    }
    return table;
}

const QByteArray BlocksDefinition = R"(<?xml version="1.0"?>
<report version="1">
    <page size="A5" orientation="landscape"/>
    <page-header>
        <title>{title}</title>
        <page-number>Page {page} of {pages}</page-number>
    </page-header>
    <fields title="About {title}">
        <field label="Place">{place}</field>
        <field label="Notes">{notes}</field>
        <field label="Typo">{plcae}</field>
    </fields>
    <table source="numbers" title="The numbers"/>
    <table source="nothing" title="Nothing" empty="Nothing here.">
        <column field="value" title="Only the value" width="40mm"/>
    </table>
</report>
)";

TEST_F(ReportEngineTest, TablesOfFiguresFlowOverThePagesUnderTheirTitlesWithTheFieldsFilledIn)
{
    engine.open(definitionFile(BlocksDefinition));
    engine.bindTable("numbers", Numbered(120));
    engine.bindTable("nothing", Numbered(0));
    engine.setFields({ { "title", "Gate 3" }, { "place", "Mill Lane" }, { "notes", "" } });
    const QString pdf = dir.filePath("blocks.pdf");
    ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, pdf });
    ASSERT_TRUE(engine.run(printer, nullptr));
    ASSERT_EQ(ui.reportOutputDialogs.size(), 1);
    EXPECT_EQ(ui.reportOutputDialogs.front(), "Gate 3");

    const PdfDocument document = ReadPdf(pdf);
    ASSERT_TRUE(document.readable);
    ASSERT_GE(document.pageCount, 3);
    int next = 1;
    for (int page = 1; page <= document.pageCount; ++page) {
        const QString& text = document.pageTexts[page - 1];
        EXPECT_TRUE(HasLine(text, { "Gate 3" })) << page;
        EXPECT_TRUE(HasLine(text, { QStringLiteral("Page %1 of %2").arg(page).arg(document.pageCount) })) << page;
        const int first = next;
        while (next <= 120
            && HasLine(text, { QStringLiteral("row %1").arg(next), QString::number(40.0 + next / 10.0, 'f', 1) }))
            ++next;
        // The column titles stand over the rows on every page the table reaches.
        if (next > first) {
            EXPECT_TRUE(HasLine(text, { "Name", "Value (dB)" })) << page;
        }
    }
    EXPECT_EQ(next, 121) << "every row once, in order";
    const QString first = document.pageTexts.first();
    EXPECT_TRUE(HasLine(first, { "About Gate 3" }));
    EXPECT_TRUE(HasLine(first, { "Place", "Mill Lane" }));
    EXPECT_FALSE(first.contains("Notes")) << "a field left empty takes no line";
    EXPECT_TRUE(HasLine(first, { "Typo", "{plcae}" })) << "a name nobody binds shows as written";
    EXPECT_TRUE(HasLine(first, { "The numbers" }));
    EXPECT_TRUE(HasLine(document.pageTexts.last(), { "Only the value" }));
    EXPECT_TRUE(HasLine(document.pageTexts.last(), { "Nothing here." }));
}

TEST_F(ReportEngineTest, ASourceTheDefinitionPrintsMustBeBoundAndAColumnMustBeOneItHas)
{
    const QString path = definitionFile(BlocksDefinition);
    engine.open(path);
    engine.bindTable("numbers", Numbered(3));
    try {
        engine.run(printer, nullptr);
        ADD_FAILURE() << "ran";
    } catch (const ReportError& error) {
        EXPECT_EQ(error.text(),
            QStringLiteral("The report definition \"%1\" prints the table \"nothing\", which this "
                           "report has not.")
                .arg(QDir::toNativeSeparators(path)));
    }
    EXPECT_TRUE(ui.reportOutputDialogs.isEmpty());

    FigureTable other;
    other.columns = { { "name", "Name", false } };
    engine.bindTable("nothing", other);
    ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, dir.filePath("wrong.pdf") });
    try {
        engine.run(printer, nullptr);
        ADD_FAILURE() << "ran";
    } catch (const ReportError& error) {
        EXPECT_EQ(error.text(), "The table \"nothing\" of the report has no column \"value\" (it has name).");
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("wrong.pdf")));
}

TEST_F(ReportEngineTest, AChartDrawsTheLevelsOverClockTimeWithItsLegend)
{
    engine.open(definitionFile(R"(<report version="1"><page size="A4"/>
        <chart source="levels" title="Time history" height="60mm"/>
        <chart source="quiet" title="Nothing yet" height="40mm"/></report>)"));
    auto readings = std::make_shared<std::vector<TimedReading>>();
    const ClockSeconds start = ClockSecondsOf(QDate(2006, 5, 12), 9 * 3600);
    for (int i = 0; i < 7200; ++i)
        readings->push_back(
            { start + i, 1, 500 + (i / 600 == 3 ? 400 : 0), i % 2 ? Weighting::C : Weighting::A, false });
    engine.bindChart("levels", { readings, 85.0, { { start + 1800, start + 2400 } } });
    engine.bindChart("quiet", {});
    const QString pdf = dir.filePath("chart.pdf");
    ui.reportOutputs.push_back({ ReportDestination::PdfFile, {}, pdf });
    ASSERT_TRUE(engine.run(printer, nullptr));

    const PdfDocument document = ReadPdf(pdf);
    ASSERT_TRUE(document.readable);
    ASSERT_EQ(document.pageCount, 1);
    const QString& text = document.pageTexts[0];
    EXPECT_TRUE(HasLine(text, { "Time history" }));
    EXPECT_TRUE(HasLine(text, { "LA (dB)", "LC (dB)", "Threshold 85 dB", "Events" })) << text.toStdString();
    // The hours on the time axis, the date under the first.
    for (const char* hour : { "09:00", "10:00", "11:00" })
        EXPECT_TRUE(text.contains(hour)) << hour;
    EXPECT_TRUE(text.contains(SystemShortDateText(QDate(2006, 5, 12))));
    EXPECT_TRUE(HasLine(text, { "No readings" }));
}

} // namespace
