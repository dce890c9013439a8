// The end of the program by File > Exit or the frame's close: the one question stays, and readings
// that no data file holds are not lost but rescued at the next start, as after a logout.

#include "ProgramCopy.h"
#include "shell/ReadingsRescue.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

const QString ClosedWithUnsaved
    = QStringLiteral("When Decimora was closed last time, it held readings that had not been saved to a data file.");

// Three readings of a measurement run, stopped.
void measureThree(ProgramCopy& copy)
{
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    for (int i = 0; i < 3; ++i)
        copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
}

TEST(MainWindow, ReadingsNotSavedAtTheEndAreRescuedAtTheNextStartAndTheMessageSaysWhere)
{
    struct Case {
        const char* way;
        bool closeTheFrame; // else File > Exit
        bool saveFirst;
    };
    const Case cases[] = {
        { "File > Exit", false, false },
        { "closing the frame", true, false },
        { "File > Exit after Save", false, true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.way);
        QTemporaryDir data;
        QString saved;
        {
            ProgramCopy copy(data.path());
            ASSERT_TRUE(copy.start());
            copy.frame->show();
            measureThree(copy);
            // A download on show in the import window that its window holds nothing unsaved of
            // (the stand-in's Save is done): it goes, and is not rescued with the measurement.
            copy.frame->ImportData1->trigger();
            copy.module().GetRecorde->appendRow({ "0", "48.0", "C", "9:5:30", "5/12/2006" });
            copy.frame->RealTimeMeasure1->trigger();
            if (test.saveFirst) {
                saved = copy.test.folder.filePath("run.dmr");
                copy.test.ui.saveFileNames.push_back(saved);
                copy.measurementWindow()->SaveButtonClick();
                ASSERT_TRUE(QFile::exists(saved));
            }

            copy.test.ui.answers.push_back(MessageAnswer::Yes);
            if (test.closeTheFrame)
                copy.frame->close();
            else
                copy.frame->Exit1->trigger();

            ASSERT_TRUE(copy.frame->Ended());
            EXPECT_THAT(copy.messageTexts(), ElementsAre("Are You Sure to Exit This Program?"))
                << "the end asks nothing more";
        }

        ProgramCopy next(data.path());
        ASSERT_TRUE(next.start());

        const QString rescued = next.test.folder.filePath("MeaData-2026-12-09.dmr");
        if (test.saveFirst) {
            EXPECT_THAT(next.messageTexts(), IsEmpty());
            EXPECT_FALSE(QFile::exists(rescued));
        } else {
            ASSERT_EQ(next.test.ui.messages.size(), 1U);
            const auto& message = next.test.ui.messages[0];
            EXPECT_EQ(message.caption, "Readings Recovered");
            EXPECT_EQ(message.icon, MessageIcon::Information);
            EXPECT_EQ(message.text, ClosedWithUnsaved + "\rThe readings it still held have been saved to:\r" + rescued);
            const auto file = OpenDataFile(rescued);
            ASSERT_TRUE(file.has_value());
            EXPECT_EQ(file->declaredCount(), 3);
        }
        EXPECT_FALSE(QFile::exists(next.test.folder.filePath("GetRecorde-2026-12-09.dmr")));
        EXPECT_EQ(next.module().MeaData->rowCount(), 0) << "the start empties the tables as always";

        // Rescued once: the start after the next, following a normal end, says nothing.
        next.test.ui.answers.push_back(MessageAnswer::Yes);
        next.frame->Exit1->trigger();
        ASSERT_TRUE(next.frame->Ended());
        ProgramCopy third(data.path());
        ASSERT_TRUE(third.start());
        EXPECT_THAT(third.messageTexts(), IsEmpty());
    }
}

} // namespace
