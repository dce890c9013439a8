// The files as real spreadsheet software reads them: xlrd and LibreOffice read the .xls, LibreOffice
// and openpyxl the .xlsx. Each test skips, saying why, when its reader is not installed
// (scripts/setup installs them all).

#include "MemoryDataSet.h"
#include "output/DBGridToExcel.h"
#include "stats/StatisticsRows.h"
#include "store/SqliteReadingStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <csignal>
#include <optional>

#include <unistd.h>

namespace {

using testing::ElementsAre;

// Debian's own Python, where python3-xlrd and python3-openpyxl are installed (the python3 first on
// PATH may be another one).
constexpr char DebianPython[] = "/usr/bin/python3";

struct ReaderRun {
    bool started = false;
    int exitCode = -1;
    QString output;
    QString errors;
};

// Runs a reader in a process group of its own and ends the whole group afterwards, so that nothing
// it started (LibreOffice's soffice.bin behind its launcher) outlives the test.
ReaderRun runReader(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(program, arguments);
    ReaderRun run;
    run.started = process.waitForStarted(10000);
    if (!run.started)
        return run;
    const qint64 group = process.processId();
    if (!process.waitForFinished(timeoutMs)) {
        ::kill(-pid_t(group), SIGKILL);
        process.waitForFinished(5000);
        run.errors = QStringLiteral("%1 did not finish within %2 ms").arg(program).arg(timeoutMs);
        return run;
    }
    ::kill(-pid_t(group), SIGKILL);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    run.errors += QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Why a Python module cannot be used, or nothing when it can.
std::optional<QString> missingPythonModule(const char* module, const char* package)
{
    if (!QFile::exists(QLatin1String(DebianPython)))
        return QStringLiteral("%1 is missing (Debian's python3; scripts/setup installs it)").arg(DebianPython);
    const ReaderRun check
        = runReader(QLatin1String(DebianPython), { "-c", QStringLiteral("import %1").arg(module) }, 30000);
    if (check.exitCode != 0)
        return QStringLiteral("%1 cannot import %2 (Debian package %3; scripts/setup installs it)")
            .arg(DebianPython, module, package);
    return std::nullopt;
}

constexpr char Soffice[] = "/usr/bin/soffice";
constexpr char SofficeMissing[]
    = "LibreOffice is not installed (/usr/bin/soffice from libreoffice-calc-nogui; scripts/setup installs it)";

// LibreOffice converts the files to CSV in outFolder, with a profile of its own that goes with the
// test, never the user's.
ReaderRun convertToCsv(const QStringList& files, const QString& outFolder)
{
    QTemporaryDir profile;
    return runReader(QLatin1String(Soffice),
        QStringList { QStringLiteral("-env:UserInstallation=file://") + profile.path(), "--headless", "--norestore",
            "--convert-to", "csv", "--outdir", outFolder }
            + files,
        180000);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
}

QStringList lines(const QString& text)
{
    QStringList result = text.split(QLatin1Char('\n'));
    while (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

// The measurement table with three readings, as the measurement window leaves it.
class ReadersTest : public testing::Test {
protected:
    void SetUp() override
    {
        ReadingTable& table = store.meaData();
        table.appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
        table.appendRow({ "2", "100.0", "C", "14:30:16", "12/9/2026" });
        table.appendRow({ "3", "0.5", "A", "14:30:17", "12/9/2026" });
    }

    // Exports the table as the Export to Excel command does, in the format of the file's name.
    QString exportTable(const char* name)
    {
        const QString path = dir.filePath(name);
        ExportReadingTable(store.meaData(), path);
        return path;
    }

    QTemporaryDir dir;
    SqliteReadingStore store { dir.filePath("Decimora.mdb") };
};

// Each cell as xlrd types it: E empty, T text, N number, B blank (a formatted empty cell).
const char XlrdCells[] = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True, logfile=open('/dev/null', 'w'))
sheet = book.sheet_by_index(0)
print(sheet.nrows)
tags = {0: 'E', 1: 'T', 2: 'N', 6: 'B'}
for r in range(sheet.nrows):
    cells = []
    for c in sheet.row(r):
        tag = tags.get(c.ctype, '?%d' % c.ctype)
        cells.append(tag + ('' if tag in 'EB' else ':%g' % c.value if tag == 'N' else ':' + c.value))
    print('|'.join(cells))
)";

TEST_F(ReadersTest, XlrdReadsTheXlsCellTypesAndValues)
{
    if (const auto missing = missingPythonModule("xlrd", "python3-xlrd"))
        GTEST_SKIP() << missing->toStdString();

    const ReaderRun run = runReader(QLatin1String(DebianPython), { "-c", XlrdCells, exportTable("run.xls") }, 60000);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    // RecNo a number, the texts as text, the table's Unit column a blank cell in every record row.
    EXPECT_THAT(lines(run.output),
        ElementsAre("5", "E|E|E|T:|E|E", "T:RecNo|T:MeaValue|T:Weight|T:Time|T:Date|E",
            "N:1|T:65.3|T:A|T:14:30:15|T:12/9/2026|B", "N:2|T:100.0|T:C|T:14:30:16|T:12/9/2026|B",
            "N:3|T:0.5|T:A|T:14:30:17|T:12/9/2026|B"));
}

// xlrd stops at row 16,384 in a sheet of this BIFF version (Excel 5's limit); LibreOffice reads all
// 65,536 rows, the most a 16-bit row reaches.
TEST_F(ReadersTest, LibreOfficeReadsTheLongestXlsSheetWithTheTitleRowsIntact)
{
    if (!QFile::exists(QLatin1String(Soffice)))
        GTEST_SKIP() << SofficeMissing;
    std::vector<std::vector<FieldValue>> records;
    for (qint64 i = 1; i <= 65534; ++i)
        records.push_back({ i, QStringLiteral("A") });
    MemoryDataSet dataSet({ { "RecNo", FieldType::Integer }, { "Weight", FieldType::String } }, std::move(records));
    GridDescription grid;
    grid.dataSet = &dataSet;
    grid.columns = { { "RecNo", "RecNo", true, {} }, { "Weight", "Weight", true, {} } };
    TDBGridToExcel writer;
    writer.ShowProgress = false;
    writer.DBGrid = &grid;
    writer.TitleName = QStringLiteral("Longest run");
    writer.FileName = dir.filePath("longest.xls");
    writer.ExportSheet();
    const QString converted = dir.filePath("converted");

    const ReaderRun run = convertToCsv({ writer.FileName }, converted);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QStringList rows = lines(readText(QDir(converted).filePath("longest.csv")));
    ASSERT_EQ(rows.size(), 65536);
    EXPECT_THAT(rows.mid(0, 3), ElementsAre(",,,Longest run", "RecNo,Weight,,", "1,A,,"));
    EXPECT_EQ(rows.last(), "65534,A,,");
}

TEST_F(ReadersTest, OpenpyxlReadsTheXlsxNumbersTextsAndFrozenTitles)
{
    if (const auto missing = missingPythonModule("openpyxl", "python3-openpyxl"))
        GTEST_SKIP() << missing->toStdString();
    const char script[] = R"(
import sys, openpyxl
sheet = openpyxl.load_workbook(sys.argv[1]).active
print(sheet.freeze_panes)
print(sheet.max_row)
for row in sheet.iter_rows(min_row=1, max_row=sheet.max_row, max_col=6, values_only=True):
    print('|'.join('E' if v is None else '%s:%s' % (type(v).__name__, v) for v in row))
)";

    const ReaderRun run = runReader(QLatin1String(DebianPython), { "-c", script, exportTable("run.xlsx") }, 60000);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_THAT(lines(run.output),
        ElementsAre("A3", "5", "E|E|E|E|E|E", "str:RecNo|str:MeaValue|str:Weight|str:Time|str:Date|E",
            "int:1|float:65.3|str:A|str:14:30:15|str:12/9/2026|E", "int:2|int:100|str:C|str:14:30:16|str:12/9/2026|E",
            "int:3|float:0.5|str:A|str:14:30:17|str:12/9/2026|E"));
}

// After the data sheet come the sheets of figures over the exported table, numbers as numbers: the
// rows of StatisticsRows (the figures of tests/stats/expected_levels.py, "A-weighted readings beside
// C" and "C-weighted readings beside A", each reading lasting the second its time stamps show), then
// the periods, hours and events (tests/stats/expected_noise.py, "the workbook's rows"); the data
// sheet stays the first and the active one.
TEST_F(ReadersTest, OpenpyxlReadsTheSheetsOfFiguresOfTheXlsx)
{
    if (const auto missing = missingPythonModule("openpyxl", "python3-openpyxl"))
        GTEST_SKIP() << missing->toStdString();
    ReadingTable& table = store.meaData();
    table.empty();
    table.appendRow({ "1", "60.0", "A", "14:30:15", "12/9/2026" });
    table.appendRow({ "2", "80.0", "C", "14:30:16", "12/9/2026" });
    table.appendRow({ "3", "70.0", "A", "14:30:17", "12/9/2026" });
    table.appendRow({ "4", "80.0", "C", "14:30:18", "12/9/2026" });
    table.appendRow({ "5", "", "A", "14:30:19", "12/9/2026" });
    table.appendRow({ "6", "80.0", "C", "14:30:20", "12/9/2026" });
    const QString path = dir.filePath("figures.xlsx");
    ReadingTableDataSet dataSet(table, ReadingTableDataSet::MeaValueAs::Number);
    const GridDescription grid = ReadingsGridDescription(dataSet);
    TDBGridToExcel writer;
    writer.ShowProgress = false;
    writer.DBGrid = &grid;
    writer.FileName = path;
    writer.Format = SpreadsheetFormat::Xlsx;
    writer.HighAlarmLevel = 65.0;
    writer.ExportSheet();
    const char script[] = R"(
import sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
print(','.join(book.sheetnames), book.active.title, book.active.max_row)
def cell(v):
    if v is None: return 'E'
    if isinstance(v, (int, float)): return 'N:%.1f' % v
    return 'T:' + v
for name in book.sheetnames[1:]:
    sheet = book[name]
    print(name, sheet.freeze_panes, sheet.max_row)
    for row in sheet.iter_rows(min_row=1, max_row=sheet.max_row, values_only=True):
        print(name + ':' + '|'.join(cell(v) for v in row))
)";

    const ReaderRun run = runReader(QLatin1String(DebianPython), { "-c", script, path }, 60000);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QStringList shown = lines(run.output);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown[0], "Sheet1,Statistics,Periods,Hourly,Events Sheet1 8");
    const QString unknown = QString::fromUtf16(UnknownFigure);
    // Dates and times as ISO 8601, where they sort as they should.
    const QString day = QStringLiteral("2026-12-09");
    const auto moment
        = [](int second) { return QStringLiteral("2026-12-09T14:30:%1").arg(second, 2, 10, QLatin1Char('0')); };
    const QStringList expected[] = {
        // Each figure's header and rows; the row without a level is left out.
        { "Statistics A2 23", "Statistics:T:Figure|T:Value|T:Unit", "Statistics:T:LAeq|N:67.4|T:dB",
            "Statistics:T:LA10|N:70.0|T:dB", "Statistics:T:LAE (SEL)|N:70.4|T:dB", "Statistics:T:Readings (A)|N:2.0|E",
            "Statistics:T:Duration (A)|N:2.0|T:s", "Statistics:T:Readings above 65 dB (A)|N:1.0|E",
            "Statistics:T:Time above 65 dB (A)|N:1.0|T:s", "Statistics:T:LCeq|N:80.0|T:dB",
            "Statistics:T:LCE (SEL)|N:84.8|T:dB", "Statistics:T:Duration (C)|N:3.0|T:s",
            "Statistics:T:Time above 65 dB (C)|N:3.0|T:s" },
        { "Periods A2 21", "Periods:T:Weighting|T:Day|T:Figure|T:Level (dB)|T:Coverage (%)|T:Events",
            "Periods:T:A|T:all|T:Lday|N:67.4|N:0.0|N:1.0",
            QStringLiteral("Periods:T:A|T:all|T:Lden|T:%1|N:0.0|N:1.0").arg(unknown),
            QStringLiteral("Periods:T:A|T:%1|T:Levening|T:%2|N:0.0|N:0.0").arg(day, unknown),
            QStringLiteral("Periods:T:C|T:%1|T:Lday|N:80.0|N:0.0|N:2.0").arg(day) },
        { "Hourly A2 3", "Hourly:T:Weighting|T:Date|T:Hour|T:Leq (dB)|T:Lmax (dB)|T:L10 (dB)|T:L90 (dB)|T:Coverage (%)",
            QStringLiteral("Hourly:T:A|T:%1|T:14:00|N:67.4|N:70.0|N:70.0|N:60.0|N:0.1").arg(day),
            QStringLiteral("Hourly:T:C|T:%1|T:14:00|N:80.0|N:80.0|N:80.0|N:80.0|N:0.1").arg(day) },
        // The C readings at 14:30:18 and 14:30:20 are one event: the row between had no level.
        { "Events A2 4", "Events:T:Weighting|T:Start|T:End|T:Duration|T:Lmax (dB)|T:Leq (dB)|T:SEL (dB)|T:Period",
            QStringLiteral("Events:T:A|T:%1|T:%2|N:1.0|N:70.0|N:70.0|N:70.0|T:day").arg(moment(17), moment(18)),
            QStringLiteral("Events:T:C|T:%1|T:%2|N:1.0|N:80.0|N:80.0|N:80.0|T:day").arg(moment(16), moment(17)),
            QStringLiteral("Events:T:C|T:%1|T:%2|N:3.0|N:80.0|N:80.0|N:83.0|T:day").arg(moment(18), moment(21)) },
    };
    for (const QStringList& sheet : expected) {
        for (const QString& line : sheet)
            EXPECT_TRUE(shown.contains(line)) << line.toStdString() << "\n" << run.output.toStdString();
    }
}

// Cells of a CSV line, without the empty ones at its end (a blank cell widens the .xls sheet).
QStringList csvCells(const QString& line)
{
    QStringList cells = line.trimmed().split(QLatin1Char(','));
    while (!cells.isEmpty() && cells.last().isEmpty())
        cells.removeLast();
    return cells;
}

// A value as a spreadsheet holds it: "100.0" as text in the .xls and 100 as a number in the .xlsx
// are the same reading.
QString normalised(const QString& cell)
{
    bool isNumber = false;
    const double value = cell.toDouble(&isNumber);
    return isNumber ? QString::number(value) : cell;
}

TEST_F(ReadersTest, LibreOfficeReadsTheXlsAndTheXlsxAlike)
{
    if (!QFile::exists(QLatin1String(Soffice)))
        GTEST_SKIP() << SofficeMissing;
    const QString converted = dir.filePath("converted");

    const ReaderRun run = convertToCsv({ exportTable("sheet-xls.xls"), exportTable("sheet-xlsx.xlsx") }, converted);

    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString() << run.output.toStdString();
    const QStringList xlsLines = lines(readText(QDir(converted).filePath("sheet-xls.csv")));
    const QStringList xlsxLines = lines(readText(QDir(converted).filePath("sheet-xlsx.csv")));
    const QStringList expected[] = {
        {},
        { "RecNo", "MeaValue", "Weight", "Time", "Date" },
        { "1", "65.3", "A", "14:30:15", "12/9/2026" },
        { "2", "100", "C", "14:30:16", "12/9/2026" },
        { "3", "0.5", "A", "14:30:17", "12/9/2026" },
    };
    ASSERT_EQ(xlsLines.size(), 5) << xlsLines.join('\n').toStdString();
    ASSERT_EQ(xlsxLines.size(), 5) << xlsxLines.join('\n').toStdString();
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(row);
        QStringList fromXlsCells;
        QStringList fromXlsxCells;
        for (const QString& cell : csvCells(xlsLines[row]))
            fromXlsCells << normalised(cell);
        for (const QString& cell : csvCells(xlsxLines[row]))
            fromXlsxCells << normalised(cell);
        EXPECT_EQ(fromXlsCells, expected[row]);
        EXPECT_EQ(fromXlsxCells, expected[row]);
    }
}

} // namespace
