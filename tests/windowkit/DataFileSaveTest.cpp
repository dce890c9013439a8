// A readings window's Save (WriteReadingsFile) into every kind of target: a file is replaced whole, a
// symbolic link is followed and stays a link, a FIFO and a device are written directly and stay what
// they are; a target that cannot be written is told with the system's reason and nothing changes.

#include "windowkit/DataFileSave.h"
#include "datafile/DataFile.h"
#include "store/SqliteReadingStore.h"
#include "support/FifoReader.h"
#include "support/NullDevice.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <sys/stat.h>

namespace {

const QByteArray OldFile = "the file that was there\n";

struct stat Facts(const QString& path)
{
    struct stat facts { };
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &facts), 0) << path.toStdString();
    return facts;
}

void Link(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
}

class DataFileSave : public testing::Test {
protected:
    DataFileSave()
        : test(std::make_unique<SqliteReadingStore>(folder.filePath(QStringLiteral("Decimora.mdb"))))
    {
        for (int i = 1; i <= 3; ++i)
            test.module->MeaData->appendRow({ QString::number(i), "65.3", "A", "14:30:15", "12/9/2026" });
        WriteDataFile(*test.module->MeaData, path("reference.dmr"));
        expected = readFile(path("reference.dmr"));
    }

    QString path(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }

    bool save(const QString& target)
    {
        test.ui.messages.clear();
        return WriteReadingsFile(*test.module, nullptr, QStringLiteral("Error Information"), test.module->MeaData,
            target, &saveButton, &nameBox);
    }

    QTemporaryDir folder;
    TestModule test;
    QByteArray expected;
    QPushButton saveButton;
    QLineEdit nameBox;
};

TEST_F(DataFileSave, EveryKindOfTargetGetsTheFileAndStaysWhatItIs)
{
    struct Case {
        const char* target;
        // Makes the target; returns the name Save is given.
        std::function<QString()> make;
        // Checks what the target is afterwards.
        std::function<void(const QString& name)> check;
    };
    std::unique_ptr<FifoReader> fifo;
    QString device;
    const Case cases[] = {
        { "a new file", [&] { return path("new.dmr"); },
            [&](const QString& name) {
                EXPECT_TRUE(S_ISREG(Facts(name).st_mode));
                EXPECT_EQ(readFile(name), expected);
            } },
        { "a file whose owner reads and writes it alone",
            [&] {
                writeFile(path("private.dmr"), OldFile);
                QFile::setPermissions(path("private.dmr"), QFile::ReadOwner | QFile::WriteOwner);
                return path("private.dmr");
            },
            [&](const QString& name) {
                EXPECT_EQ(Facts(name).st_mode & 07777, 0600U);
                EXPECT_EQ(readFile(name), expected);
            } },
        { "a symbolic link to a file",
            [&] {
                writeFile(path("real.dmr"), OldFile);
                Link(QStringLiteral("real.dmr"), path("link.dmr"));
                return path("link.dmr");
            },
            [&](const QString& name) {
                EXPECT_EQ(QFile::symLinkTarget(name), path("real.dmr"));
                EXPECT_EQ(readFile(path("real.dmr")), expected);
            } },
        { "a symbolic link to a link in another folder, to a file not made yet",
            [&] {
                QDir(folder.path()).mkdir(QStringLiteral("runs"));
                Link(QStringLiteral("later.dmr"), path("runs/inner.dmr"));
                Link(QStringLiteral("runs/inner.dmr"), path("outer.dmr"));
                return path("outer.dmr");
            },
            [&](const QString& name) {
                EXPECT_TRUE(S_ISLNK(Facts(name).st_mode));
                EXPECT_TRUE(S_ISLNK(Facts(path("runs/inner.dmr")).st_mode));
                EXPECT_EQ(readFile(path("runs/later.dmr")), expected);
            } },
        { "a FIFO",
            [&] {
                fifo = std::make_unique<FifoReader>(path("pipe.dmr"));
                EXPECT_TRUE(fifo->made());
                return path("pipe.dmr");
            },
            [&](const QString& name) {
                EXPECT_EQ(fifo->received(), expected);
                EXPECT_TRUE(S_ISFIFO(Facts(name).st_mode));
            } },
        { "a character device",
            [&] {
                device = MakeNullDevice(path("null.dmr"));
                EXPECT_FALSE(device.isEmpty());
                return path("null.dmr");
            },
            [&](const QString& name) {
                EXPECT_TRUE(S_ISCHR(Facts(device).st_mode));
                if (device != name) {
                    EXPECT_TRUE(S_ISLNK(Facts(name).st_mode));
                }
            } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const QString name = c.make();
        EXPECT_TRUE(save(name));
        EXPECT_TRUE(test.ui.messages.empty());
        c.check(name);
        EXPECT_EQ(QDir(folder.path()).entryList({ ".*.dmr.*" }, QDir::Files | QDir::Hidden), QStringList());
    }
}

TEST_F(DataFileSave, ATargetThatCannotBeWrittenIsToldWithTheReasonAndNothingChanges)
{
    struct Case {
        const char* target;
        std::function<QString()> make;
        const char* reason;
    };
    const Case cases[] = {
        { "a folder",
            [&] {
                QDir(folder.path()).mkdir(QStringLiteral("folder.dmr"));
                return path("folder.dmr");
            },
            "Is a directory" },
        { "a loop of symbolic links",
            [&] {
                Link(QStringLiteral("b.dmr"), path("a.dmr"));
                Link(QStringLiteral("a.dmr"), path("b.dmr"));
                return path("a.dmr");
            },
            "Too many levels of symbolic links" },
        { "a link into a folder that does not exist",
            [&] {
                Link(QStringLiteral("gone/run.dmr"), path("gone.dmr"));
                return path("gone.dmr");
            },
            "No such file or directory" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const QStringList before = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        const QString name = c.make();
        const QStringList made = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        nameBox.setText(name);
        EXPECT_FALSE(save(name));
        ASSERT_EQ(test.ui.messages.size(), 1U);
        EXPECT_EQ(test.ui.messages[0].text, "Cannot write " + name + ": " + c.reason);
        EXPECT_EQ(test.ui.messages[0].caption, "Error Information");
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), made);
        EXPECT_TRUE(nameBox.text().isEmpty()) << "the next Save asks where to put the readings";
        EXPECT_NE(before, made);
    }
}

} // namespace
