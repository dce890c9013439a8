#include "shell/SingleInstanceLock.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

using Outcome = SingleInstanceLock::Outcome;

TEST(SingleInstanceLock, TellsANormalEndFromOneWithoutTheClose)
{
    QTemporaryDir folder;
    auto first = std::make_unique<SingleInstanceLock>(folder.path(), "decimora");
    ASSERT_EQ(first->TryAcquire("/data/a/Decimora.mdb"), Outcome::Acquired);
    EXPECT_FALSE(first->PreviousEndedWithoutClose());

    SingleInstanceLock second(folder.path(), "decimora");
    EXPECT_EQ(second.TryAcquire("/data/b/Decimora.mdb"), Outcome::HeldElsewhere);
    // Another title is another program.
    SingleInstanceLock other(folder.path(), "decimora-viewer");
    EXPECT_EQ(other.TryAcquire({}), Outcome::Acquired);

    // Gone without its close: the file stays behind, with the note of where that copy kept its data.
    first.reset();
    SingleInstanceLock afterCrash(folder.path(), "decimora");
    ASSERT_EQ(afterCrash.TryAcquire("/data/b/Decimora.mdb"), Outcome::Acquired);
    EXPECT_TRUE(afterCrash.PreviousEndedWithoutClose());
    EXPECT_EQ(afterCrash.PreviousNote(), "/data/a/Decimora.mdb");

    afterCrash.EndedNormally();
    EXPECT_FALSE(QFile::exists(afterCrash.FilePath()));
    SingleInstanceLock afterClose(folder.path(), "decimora");
    ASSERT_EQ(afterClose.TryAcquire({}), Outcome::Acquired);
    EXPECT_FALSE(afterClose.PreviousEndedWithoutClose());
}

TEST(SingleInstanceLock, AKilledProcessDoesNotBlockTheNextStart)
{
    QTemporaryDir folder;
    SingleInstanceLock lock(folder.path(), "decimora");
    // Another process takes the same lock file with flock(1) and keeps it until it is killed.
    QProcess holder;
    holder.start("/bin/sh", { "-c", "exec 9>>\"$1\"; flock -x 9; echo held; exec sleep 60", "sh", lock.FilePath() });
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readAll().trimmed(), "held");

    EXPECT_EQ(lock.TryAcquire({}), Outcome::HeldElsewhere);

    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(10000));
    ASSERT_EQ(lock.TryAcquire({}), Outcome::Acquired);
    EXPECT_TRUE(lock.PreviousEndedWithoutClose());
}

TEST(SingleInstanceLock, AFolderThatCannotBeMadeCountsAsAnotherCopy)
{
    QTemporaryDir folder;
    QFile blocker(folder.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    SingleInstanceLock lock(folder.filePath("not-a-folder/locks"), "decimora");
    EXPECT_EQ(lock.TryAcquire({}), Outcome::HeldElsewhere);
}

} // namespace
