#include "desktop/QtSoundPlayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF");
}

// Restores the working directory the test changed.
struct WorkingDirectory {
    QString before = QDir::currentPath();
    explicit WorkingDirectory(const QString& path) { QDir::setCurrent(path); }
    ~WorkingDirectory() { QDir::setCurrent(before); }
};

TEST(QtSoundPlayer, BareNamesAreFoundInTheWorkingDirectoryThenTheProgramFolder)
{
    QTemporaryDir working;
    QTemporaryDir program;
    touch(working.filePath(QStringLiteral("both.wav")));
    touch(program.filePath(QStringLiteral("both.wav")));
    touch(working.filePath(QStringLiteral("working.wav")));
    touch(program.filePath(QStringLiteral("program.wav")));
    QDir(working.path()).mkdir(QStringLiteral("folder.wav"));
    const WorkingDirectory cd(working.path());

    struct Case {
        const char* name;
        QString expected;
    };
    const Case cases[] = {
        { "both.wav", QDir(working.path()).absoluteFilePath(QStringLiteral("both.wav")) },
        { "working.wav", QDir(working.path()).absoluteFilePath(QStringLiteral("working.wav")) },
        { "program.wav", QDir(program.path()).absoluteFilePath(QStringLiteral("program.wav")) },
        { "missing.wav", QString() },
        // A folder of that name is no sound.
        { "folder.wav", QString() },
        { "", QString() },
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtSoundPlayer::FindSoundFile(QString::fromUtf8(c.name), program.path()), c.expected) << c.name;
}

} // namespace
