#include "store/SqliteReadingStore.h"

#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <sqlite3.h>

#include <memory>
#include <stdexcept>

namespace {

using testing::ElementsAre;

ReadingRow reading(int recNo, const char* value, const char* weight = "A")
{
    return { QString::number(recNo), QString::fromLatin1(value), QString::fromLatin1(weight),
        QStringLiteral("14:30:15"), QStringLiteral("12/9/2026") };
}

std::vector<ReadingRow> allRows(const ReadingTable& table)
{
    std::vector<ReadingRow> rows;
    table.forEachRow([&](const ReadingRow& row) { rows.push_back(row); });
    return rows;
}

// Appends the rows in one bulk append, as the staging file's reader hands them on: texts as UTF-8
// bytes, record numbers as numbers (none for an empty text).
void appendInBulk(ReadingTable& table, const std::vector<ReadingRow>& rows)
{
    std::size_t next = 0;
    QByteArray texts[4];
    table.appendRows([&](RowToAppend& row) {
        if (next == rows.size())
            return false;
        const ReadingRow& given = rows[next++];
        texts[0] = given.meaValue.toUtf8();
        texts[1] = given.weight.toUtf8();
        texts[2] = given.time.toUtf8();
        texts[3] = given.date.toUtf8();
        row.recNo = given.recNo.isEmpty() ? std::nullopt : std::optional<qint64>(given.recNo.toLongLong());
        row.text = { texts[0], texts[1], texts[2], texts[3] };
        return true;
    });
}

class ReadingStoreTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString dbPath = dir.filePath(QStringLiteral("Decimora.mdb"));
    std::unique_ptr<SqliteReadingStore> store = std::make_unique<SqliteReadingStore>(dbPath);
};

TEST_F(ReadingStoreTest, RowsComeBackInInsertionOrderWithTheirTextsAndIntegerRecordNumbers)
{
    ReadingTable& table = store->meaData();
    table.appendRow(reading(1, "65.3"));
    table.appendRow(reading(2, "100.0", "C"));
    table.appendRow(reading(3, "0.5"));

    store = std::make_unique<SqliteReadingStore>(dbPath);
    ReadingTable& reopened = store->meaData();
    EXPECT_EQ(reopened.rowCount(), 3);
    EXPECT_THAT(allRows(reopened), ElementsAre(reading(1, "65.3"), reading(2, "100.0", "C"), reading(3, "0.5")));
    EXPECT_EQ(reopened.row(1), reading(2, "100.0", "C"));

    const QVariant recNo = reopened.gridModel()->index(2, 0).data();
    EXPECT_EQ(recNo.typeId(), QMetaType::LongLong);
    EXPECT_EQ(recNo.toLongLong(), 3);
}

TEST_F(ReadingStoreTest, EmptyingKeepsTheTablesAndWorksWhileTheyAreClosed)
{
    for (ReadingTable* table : { &store->meaData(), &store->getRecorde(), &store->loadData() }) {
        table->appendRow(reading(1, "50.0"));
        table->close();
        EXPECT_THROW(table->appendRow(reading(2, "50.0")), TableError) << table->tableName().toStdString();
        table->empty();
        table->open();
        EXPECT_TRUE(table->isEmpty());
        table->appendRow(reading(7, "51.2"));
        EXPECT_THAT(allRows(*table), ElementsAre(reading(7, "51.2")));
    }
}

TEST_F(ReadingStoreTest, RowsAppendedInBulkFollowTheTableRowsAsGiven)
{
    ReadingTable& table = store->loadData();
    table.appendRow(reading(1, "40.2"));
    table.appendRow(reading(2, "41.0"));
    const std::vector<ReadingRow> bulk {
        { "3", "65.3", "A", "9:5:30", "5/12/2006" },
        { "", "100.0", "C", "9:5:31", "2026年12月9日" },
        { "5", "0.5", "A", "", "" },
    };

    appendInBulk(table, bulk);

    store = std::make_unique<SqliteReadingStore>(dbPath);
    ReadingTable& reopened = store->loadData();
    EXPECT_EQ(reopened.rowCount(), 5);
    EXPECT_THAT(allRows(reopened), ElementsAre(reading(1, "40.2"), reading(2, "41.0"), bulk[0], bulk[1], bulk[2]));
    // Record numbers are numbers, and an empty one is no value, not an empty text.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &other), SQLITE_OK);
    const char* const typesInOrder
        = "SELECT group_concat(typeof(RecNo)) FROM (SELECT RecNo FROM LoadData ORDER BY rowid)";
    sqlite3_stmt* types = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(other, typesInOrder, -1, &types, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(types), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(types, 0)), "integer,integer,integer,null,integer");
    sqlite3_finalize(types);
    sqlite3_close(other);
}

TEST_F(ReadingStoreTest, ABulkAppendAbandonedHalfWayAddsNothing)
{
    ReadingTable& table = store->getRecorde();
    table.appendRow(reading(1, "50.0"));
    QSignalSpy inserted(table.gridModel(), &QAbstractItemModel::rowsInserted);
    const QByteArray value = "65.3";
    int given = 0;
    const RowSource failOnThird = [&](RowToAppend& row) {
        if (++given == 3)
            throw std::runtime_error("line 3 cannot be read");
        row.recNo = given + 1;
        row.text = { value, "A", "9:5:30", "5/12/2006" };
        return true;
    };

    EXPECT_THROW(table.appendRows(failOnThird), std::runtime_error);

    EXPECT_EQ(table.rowCount(), 1);
    EXPECT_EQ(inserted.size(), 0);
    table.appendRow(reading(2, "51.0"));
    store = std::make_unique<SqliteReadingStore>(dbPath);
    EXPECT_THAT(allRows(store->getRecorde()), ElementsAre(reading(1, "50.0"), reading(2, "51.0")));
}

// A download takes the place of the rows before it only once all its rows are in.
TEST_F(ReadingStoreTest, ReplacingTheRowsIsAllOrNothing)
{
    ReadingTable& table = store->getRecorde();
    table.appendRow(reading(1, "50.0"));
    table.appendRow(reading(2, "51.0"));
    QSignalSpy resets(table.gridModel(), &QAbstractItemModel::modelReset);
    const QByteArray value = "65.3";
    const auto rowsFailingAt = [&](int failAt) {
        return [&value, failAt, given = 0](RowToAppend& row) mutable {
            if (++given == failAt)
                throw std::runtime_error("line cannot be read");
            if (given > 3)
                return false;
            row.recNo = given - 1;
            row.text = { value, "C", "9:5:30", "5/12/2006" };
            return true;
        };
    };

    EXPECT_THROW(table.replaceRows(rowsFailingAt(3)), std::runtime_error);
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(resets.size(), 0);
    EXPECT_THAT(allRows(table), ElementsAre(reading(1, "50.0"), reading(2, "51.0")));

    table.replaceRows(rowsFailingAt(0));
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(resets.size(), 1);
    // Positions start again from the first row: the new rows are rows 0 to 2.
    EXPECT_EQ(table.row(0).recNo, "0");
    EXPECT_EQ(table.row(2).recNo, "2");
    store = std::make_unique<SqliteReadingStore>(dbPath);
    EXPECT_EQ(store->getRecorde().rowCount(), 3);
    EXPECT_EQ(store->getRecorde().row(0).weight, "C");
}

TEST_F(ReadingStoreTest, PositionsFollowInsertionOrderAfterAnotherProgramDeletedARow)
{
    ReadingTable& table = store->meaData();
    for (int i = 1; i <= 4; ++i)
        table.appendRow(reading(i, "60.0"));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "DELETE FROM MeaData WHERE RecNo = 2", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);

    table.close();
    table.open();
    table.appendRow(reading(5, "61.0"));

    EXPECT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.row(1).recNo, "3");
    EXPECT_EQ(table.row(3).recNo, "5");
}

TEST_F(ReadingStoreTest, ARecordNumberThatIsNoWholeNumberIsRefused)
{
    ReadingTable& table = store->meaData();
    EXPECT_THROW(table.appendRow(ReadingRow { "1a", "60.0", "A", "", "" }), TableError);
    table.appendRow(ReadingRow { "", "60.0", "A", "", "" });
    EXPECT_EQ(table.row(0).recNo, "");
}

TEST(ReadingStore, ADatabaseThatCannotBeOpenedIsReported)
{
    QTemporaryDir dir;
    EXPECT_THROW(SqliteReadingStore(dir.filePath(QStringLiteral("no/such/folder/Decimora.mdb"))), TableError);
}

TEST_F(ReadingStoreTest, ALargeTableIsHandedOnInRowOrderAndAFailingWriterStopsTheWalk)
{
    ReadingTable& table = store->meaData();
    constexpr int Rows = 100'000;
    std::vector<ReadingRow> rows;
    rows.reserve(Rows);
    for (int i = 0; i < Rows; ++i)
        rows.push_back({ QString::number(i + 1), QString::number(300 + i % 900) + QStringLiteral(".5"),
            QStringLiteral("A"), QStringLiteral("14:30:15"), QStringLiteral("12/9/2026") });
    appendInBulk(table, rows);

    const RowTextFormatter format = [](const ReadingRowText& row, QByteArray& block) {
        block.append(row.meaValue).append(',').append(row.date).append('\n');
    };
    QByteArray written;
    int blocks = 0;
    table.writeRowsInOrder(format, [&](QByteArrayView block) {
        written += block;
        ++blocks;
    });
    QByteArray walked;
    table.ReadingTable::writeRowsInOrder(format, [&](QByteArrayView block) { walked += block; });

    EXPECT_EQ(written.count('\n'), Rows);
    EXPECT_TRUE(written == walked) << "the blocks differ from a walk of the table from its first row";
    EXPECT_GT(blocks, 1);

    int calls = 0;
    const BlockWriter failOnSecond = [&](QByteArrayView) {
        if (++calls == 2)
            throw std::runtime_error("disk full");
    };
    EXPECT_THROW(table.writeRowsInOrder(format, failOnSecond), std::runtime_error);
    EXPECT_EQ(calls, 2);
    table.appendRow(reading(Rows + 1, "40.0"));
    EXPECT_EQ(table.rowCount(), Rows + 1);
}

// --- Grid model --------------------------------------------------------------------------------------

class GridModelTest : public ReadingStoreTest {
protected:
    ReadingTable& table = store->meaData();
    QAbstractTableModel* model = table.gridModel();
    QAbstractItemModelTester tester { model, QAbstractItemModelTester::FailureReportingMode::Fatal };

    void stage(int rows, int firstRecNo)
    {
        std::vector<ReadingRow> staged;
        for (int i = 0; i < rows; ++i)
            staged.push_back({ QString::number(firstRecNo + i), "65.3", "A", "9:5:30", "5/12/2006" });
        appendInBulk(table, staged);
    }
};

TEST_F(GridModelTest, ShowsTheColumnsByName)
{
    QStringList headers;
    for (int column = 0; column < model->columnCount(); ++column)
        headers << model->headerData(column, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({ "RecNo", "MeaValue", "Weight", "Time", "Date" }));
}

TEST_F(GridModelTest, AnAppendedRowIsOneInsertedRow)
{
    table.appendRow(reading(1, "65.3"));
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);

    table.appendRow(reading(2, "66.1"));

    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 1);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(1, 1).data().toString(), "66.1");
    EXPECT_EQ(model->index(1, 3).data().toString(), "14:30:15");
}

TEST_F(GridModelTest, ALargeTableIsFetchedPageByPage)
{
    stage(3 * 512 + 10, 1);
    table.close();
    table.open();

    EXPECT_EQ(model->rowCount(), 512);
    ASSERT_TRUE(model->canFetchMore(QModelIndex()));
    model->fetchMore(QModelIndex());
    EXPECT_EQ(model->rowCount(), 1024);
    EXPECT_EQ(model->index(511, 0).data().toLongLong(), 512);
    EXPECT_EQ(model->index(512, 0).data().toLongLong(), 513);

    // New rows of a table not yet fetched to its end wait to be fetched.
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    table.appendRow(reading(2000, "70.0"));
    EXPECT_EQ(inserted.size(), 0);
    while (model->canFetchMore(QModelIndex()))
        model->fetchMore(QModelIndex());
    EXPECT_EQ(model->rowCount(), 3 * 512 + 11);
    EXPECT_EQ(model->index(3 * 512 + 10, 0).data().toLongLong(), 2000);
}

TEST_F(GridModelTest, SuspendedUpdatesAreAnnouncedOnceOnResume)
{
    table.appendRow(reading(1, "60.0"));
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);

    table.suspendUpdates();
    table.appendRow(reading(2, "60.1"));
    stage(3, 3);
    EXPECT_EQ(inserted.size(), 0);
    EXPECT_EQ(model->rowCount(), 1);
    table.resumeUpdates();

    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 4);
    EXPECT_EQ(model->index(4, 0).data().toLongLong(), 5);
}

TEST_F(GridModelTest, EmptyingAndClosingTheTableResetTheModel)
{
    stage(5, 1);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);
    table.close();
    EXPECT_EQ(model->rowCount(), 0);
    table.empty();
    table.open();
    EXPECT_EQ(model->rowCount(), 0);
    table.appendRow(reading(1, "60.0"));
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_GE(reset.size(), 2);
}

} // namespace
