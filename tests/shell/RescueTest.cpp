// Readings left in the tables by a copy of the program that did not close, saved at the next start.

#include "ProgramCopy.h"
#include "shell/ReadingsRescue.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

TEST(MainWindow, ReadingsLeftByACopyThatDidNotCloseAreSavedAndTheUserIsToldOnce)
{
    QTemporaryDir data;
    {
        ProgramCopy crashed(data.path());
        ASSERT_TRUE(crashed.start());
        for (int i = 1; i <= 3; ++i)
            crashed.module().MeaData->appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
        crashed.module().GetRecorde->appendRow({ "0", "48.0", "C", "9:5:30", "5/12/2006" });
        // Gone without File > Exit or the frame's close, as in a crash.
    }

    ProgramCopy next(data.path());
    ASSERT_TRUE(next.start());

    const QString meaDataFile = next.test.folder.filePath("MeaData-2026-12-09.dmr");
    const QString getRecordeFile = next.test.folder.filePath("GetRecorde-2026-12-09.dmr");
    ASSERT_EQ(next.test.ui.messages.size(), 1U);
    EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Information);
    EXPECT_THAT(next.messageTexts()[0].toStdString(), testing::HasSubstr(meaDataFile.toStdString()));
    EXPECT_THAT(next.messageTexts()[0].toStdString(), testing::HasSubstr(getRecordeFile.toStdString()));
    const auto meaData = OpenDataFile(meaDataFile);
    const auto getRecorde = OpenDataFile(getRecordeFile);
    ASSERT_TRUE(meaData && getRecorde);
    EXPECT_EQ(meaData->declaredCount(), 3);
    EXPECT_EQ(getRecorde->declaredCount(), 1);
    // The start-up then emptied the tables as always.
    EXPECT_EQ(next.module().MeaData->rowCount(), 0);
    EXPECT_EQ(next.module().GetRecorde->rowCount(), 0);

    // A normal close, then a normal start: nothing new is said or written.
    next.module().MeaData->appendRow({ "1", "70.0", "A", "14:31:00", "12/9/2026" });
    next.test.ui.answers.push_back(MessageAnswer::Yes);
    next.frame->Exit1->trigger();
    ASSERT_TRUE(next.frame->Ended());
    ProgramCopy afterNormalClose(data.path());
    ASSERT_TRUE(afterNormalClose.start());
    EXPECT_THAT(afterNormalClose.messageTexts(), IsEmpty());
    EXPECT_THAT(QDir(afterNormalClose.test.folder.path()).entryList({ "*.dmr" }), IsEmpty());
}

TEST(MainWindow, ReadingsLeftInTheDatabaseOfAnotherWorkingDirectoryAreSavedToo)
{
    QTemporaryDir locks;
    QTemporaryDir firstDirectory;
    QTemporaryDir secondDirectory;
    {
        ProgramCopy crashed(firstDirectory.path(), true, locks.path());
        ASSERT_TRUE(crashed.start());
        crashed.module().MeaData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
    }

    ProgramCopy next(secondDirectory.path(), true, locks.path());
    ASSERT_TRUE(next.start());

    ASSERT_EQ(next.test.ui.messages.size(), 1U);
    const auto rescued = OpenDataFile(next.test.folder.filePath("MeaData-2026-12-09.dmr"));
    ASSERT_TRUE(rescued.has_value());
    EXPECT_EQ(rescued->declaredCount(), 1);
}

TEST(MainWindow, ReadingsThatCannotBeSavedAreKeptAndTheNextFolderIsTriedInTurn)
{
    struct Case {
        const char* what;
        int writableFolder; // index of the one folder that takes files, -1 for none
    };
    const Case cases[] = { { "every folder unwritable", -1 }, { "only the last (temporary) folder", 3 } };
    for (const Case& c : cases) {
        QTemporaryDir data;
        {
            ProgramCopy crashed(data.path());
            ASSERT_TRUE(crashed.start());
            crashed.module().MeaData->appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });
            crashed.module().MeaData->appendRow({ "2", "65.4", "A", "14:30:16", "12/9/2026" });
            crashed.module().GetRecorde->appendRow({ "0", "48.0", "C", "9:5:30", "5/12/2006" });
        }
        // In place of the program folder, the database's folder, the XDG data folder and the temporary
        // folder: regular files, in which nobody, root included, can create a file.
        QTemporaryDir places;
        QStringList folders;
        for (const char* name : { "program", "database", "xdg-data", "temp" }) {
            QFile blocker(places.filePath(name));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
            folders << blocker.fileName();
        }
        QTemporaryDir writable;
        if (c.writableFolder >= 0)
            folders[c.writableFolder] = writable.path();

        ProgramCopy next(
            data.path(), true, {}, ProgramCopy::ImportWindow::StandIn, ProgramCopy::AnalysisWindow::StandIn, folders);
        ASSERT_TRUE(next.start()) << c.what;
        ASSERT_EQ(next.test.ui.messages.size(), 1U) << c.what;
        const std::string text = next.messageTexts()[0].toStdString();
        const QStringList written = QDir(writable.path()).entryList({ "*.dmr" });
        if (c.writableFolder < 0) {
            EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Error) << c.what;
            EXPECT_THAT(text, testing::HasSubstr("could not be saved")) << c.what;
            EXPECT_THAT(text, testing::HasSubstr("opening Real Time Measure or Import Data will replace them"))
                << c.what;
            for (const QString& folder : folders)
                EXPECT_THAT(text, testing::HasSubstr(folder.toStdString())) << c.what;
            // The only copy stays where it is.
            EXPECT_EQ(next.module().MeaData->rowCount(), 2) << c.what;
            EXPECT_EQ(next.module().GetRecorde->rowCount(), 1) << c.what;
            EXPECT_THAT(written, IsEmpty()) << c.what;
        } else {
            EXPECT_EQ(next.test.ui.messages[0].icon, MessageIcon::Information) << c.what;
            EXPECT_THAT(written, ElementsAre("GetRecorde-2026-12-09.dmr", "MeaData-2026-12-09.dmr")) << c.what;
            EXPECT_EQ(next.module().MeaData->rowCount(), 0) << c.what << ": saved, so emptied as always";
            EXPECT_EQ(next.module().GetRecorde->rowCount(), 0) << c.what;
        }
        EXPECT_THAT(QDir(data.path()).entryList({ "*.dmr" }), IsEmpty()) << c.what;
    }
}

TEST(ReadingsRescue, DefaultFoldersAreTheProgramTheDatabaseTheXdgDataAndTheTemporaryFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(QDir(home.path()).mkpath("tmp")) << "Qt takes only an existing folder as the temporary one";
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("share").toLocal8Bit());
    qputenv("TMPDIR", QDir(home.path()).filePath("tmp").toLocal8Bit());
    const QStringList folders = DefaultRescueFolders(home.filePath("program"), home.filePath("db/Decimora.mdb"));
    const QStringList sameFolder
        = DefaultRescueFolders(home.filePath("program"), home.filePath("program/Decimora.mdb"));
    qputenv("XDG_DATA_HOME", savedDataHome);
    qputenv("TMPDIR", savedTemp);
    EXPECT_EQ(folders,
        QStringList(
            { home.filePath("program"), home.filePath("db"), home.filePath("share/decimora"), home.filePath("tmp") }));
    EXPECT_EQ(sameFolder.size(), 3) << "a folder named twice is tried once";
}

TEST(MainWindow, ACrashWithEmptyTablesLeavesNothingToSay)
{
    QTemporaryDir data;
    {
        ProgramCopy crashed(data.path());
        ASSERT_TRUE(crashed.start());
    }
    ProgramCopy next(data.path());
    ASSERT_TRUE(next.start());
    EXPECT_THAT(next.messageTexts(), IsEmpty());
    EXPECT_THAT(QDir(next.test.folder.path()).entryList({ "*.dmr" }), IsEmpty());
}

} // namespace
