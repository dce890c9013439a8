// A first start, without a settings file: the program begins from the default settings it ships,
// which the load rules then read like any other settings file.

#include "ProgramCopy.h"
#include "core/SettingsFile.h"
#include "support/TestFiles.h"

namespace {

using testing::IsEmpty;

const QString ShippedDefaults
    = QDir(QStringLiteral(QT_TESTCASE_SOURCEDIR)).filePath("../../resources/Decimora-default.INI");

TEST(MainWindow, AFirstStartCopiesTheShippedSettingsAndItsReadingsSoundNoAlarm)
{
    QTemporaryDir data;
    ProgramCopy copy(data.path());
    const QString settings = copy.test.folder.filePath(SettingsFileName);
    ASSERT_TRUE(QFile::copy(ShippedDefaults, copy.test.folder.filePath(DefaultSettingsFileName)));
    ASSERT_FALSE(QFile::exists(settings));
    ASSERT_TRUE(copy.start());
    TForm6& m = copy.module();

    EXPECT_EQ(readFile(settings), readFile(ShippedDefaults));
    EXPECT_TRUE(QFileInfo(settings).isWritable());
    EXPECT_DOUBLE_EQ(m.SystemLowAlarm, 30.0);
    EXPECT_DOUBLE_EQ(m.SystemHighAlarm, 85.0);
    EXPECT_TRUE(m.AlarmSoundOn);
    EXPECT_EQ(m.SerialPortName, "COM1");
    EXPECT_EQ(m.MachineMode, 4);
    EXPECT_THAT(copy.messageTexts(), IsEmpty());

    // Ordinary readings sound no alarm: 40, 60, 84.9, 55 and 30 dB.
    copy.test.meter.queueReadings({ 400, 600, 849, 550, 300 });
    copy.frame->RealTimeMeasure1->trigger();
    ASSERT_TRUE(copy.test.connect());
    copy.measurementWindow()->StartButtonClick();
    for (int i = 0; i < 5; ++i)
        copy.takeReading();
    copy.measurementWindow()->StopButtonClick();
    EXPECT_THAT(copy.test.sound.played, IsEmpty());
}

// The user's own settings are never replaced by the shipped ones; and the shipped file, once the
// user's, is read by the usual rules (an alarm level under 30 dB reads as 30).
TEST(MainWindow, TheShippedSettingsNeitherReplaceTheUsersNorEscapeTheLoadRules)
{
    struct Case {
        const char* start;
        QByteArray userFile; // empty: none
        QByteArray shippedFile;
        double lowAlarm;
        double highAlarm;
    };
    const QByteArray shipped = readFile(ShippedDefaults);
    const Case cases[] = {
        { "the user's file", "[Caldrix OPTIONS]\r\nSYSTEMLAL=450\r\nSYSTEMHAL=950\r\n", shipped, 45.0, 95.0 },
        { "a shipped file with a level under 30 dB", {}, QByteArray(shipped).replace("SYSTEMLAL=300", "SYSTEMLAL=250"),
            30.0, 85.0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.start);
        QTemporaryDir data;
        ProgramCopy copy(data.path());
        const QString settings = copy.test.folder.filePath(SettingsFileName);
        writeFile(copy.test.folder.filePath(DefaultSettingsFileName), test.shippedFile);
        if (!test.userFile.isEmpty())
            writeFile(settings, test.userFile);
        ASSERT_TRUE(copy.start());

        EXPECT_DOUBLE_EQ(copy.module().SystemLowAlarm, test.lowAlarm);
        EXPECT_DOUBLE_EQ(copy.module().SystemHighAlarm, test.highAlarm);
        EXPECT_EQ(readFile(settings), test.userFile.isEmpty() ? test.shippedFile : test.userFile);
    }
}

} // namespace
