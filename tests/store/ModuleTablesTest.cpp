#include "store/SqliteReadingStore.h"
#include "support/TestModule.h"

#include <QFile>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

std::vector<ReadingTable*> tablesOf(TForm6& module)
{
    return { module.MeaData, module.GetRecorde, module.LoadData };
}

TEST(ModuleTables, TheStartUpEmptiesTheThreeTablesAndLeavesThemOpenUnlessItStoppedEarly)
{
    for (const bool reportPresent : { true, false }) {
        QTemporaryDir workDir;
        TestModule test(std::make_unique<SqliteReadingStore>(workDir.filePath("Decimora.mdb")));
        if (reportPresent) {
            QFile report(test.folder.filePath("Decimora_en.rav"));
            ASSERT_TRUE(report.open(QIODevice::WriteOnly));
        }
        for (ReadingTable* table : tablesOf(*test.module))
            table->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });

        test.module->FormCreate();

        for (ReadingTable* table : tablesOf(*test.module)) {
            EXPECT_TRUE(table->isOpen()) << table->tableName().toStdString();
            EXPECT_EQ(table->rowCount(), reportPresent ? 0 : 1) << table->tableName().toStdString();
            table->appendRow({ "1", "70.0", "C", "14:30:16", "12/9/2026" });
        }
    }
}

} // namespace
