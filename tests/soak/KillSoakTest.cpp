// The power goes, or the process is killed: the desktop program (kill_soak_subject, the real frame,
// module, measurement window, tables and rescue on the simulated meter) is ended by SIGKILL at moments
// drawn from a fixed seed, and started again on the same folder.
//
// - During a live run (and now and then during the start that rescues the last run): after every kill
//   the database passes PRAGMA integrity_check; every reading the program had stored before the kill
//   is in exactly one rescued data file, at most the reading being stored at the kill is missing, no
//   rescued file is cut off and no reading is rescued twice.
// - During a Save and during File > Export to Excel (.csv and .xlsx) that replace an earlier file: after
//   every kill the file is the old one whole or the new one whole, never a mix or a torso.

#include "core/SystemTexts.h"
#include "datafile/DataFile.h"
#include "soak/KillSoakRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <sqlite3.h>

namespace {

constexpr std::uint32_t Seed = 20261213;
constexpr int Rounds = 50;

// One run of the subject, its standard output read line by line.
class Subject {
public:
    explicit Subject(const QString& home) { process_.setWorkingDirectory(home); }
    ~Subject()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    void start(const QStringList& arguments)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(KILL_SOAK_SUBJECT), arguments);
        ASSERT_TRUE(process_.waitForStarted());
    }

    // Reads until a line starting with prefix has come (true) or the subject ended or the time is up.
    bool waitForLine(const QString& prefix, int timeoutMs = 60000)
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            takeLines();
            for (std::size_t i = seen_; i < lines_.size(); ++i) {
                if (lines_[i].startsWith(prefix)) {
                    seen_ = i + 1;
                    return true;
                }
            }
            seen_ = lines_.size();
            if (process_.state() == QProcess::NotRunning || waited.elapsed() > timeoutMs)
                return false;
            process_.waitForReadyRead(50);
        }
    }

    // SIGKILL, then everything it had said.
    void kill()
    {
        process_.kill();
        process_.waitForFinished();
        takeLines();
    }

    bool finish()
    {
        const bool finished = process_.waitForFinished(120000);
        takeLines();
        return finished && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

    // Every whole line it printed.
    const std::vector<QString>& lines() const { return lines_; }

private:
    void takeLines()
    {
        buffer_ += process_.readAllStandardOutput();
        for (qsizetype end = buffer_.indexOf('\n'); end >= 0; end = buffer_.indexOf('\n')) {
            lines_.push_back(QString::fromUtf8(buffer_.left(end)));
            buffer_.remove(0, end + 1);
        }
    }

    QProcess process_;
    QByteArray buffer_;
    std::vector<QString> lines_;
    std::size_t seen_ = 0;
};

// Sleeps while the subject runs on.
void Wait(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

QString IntegrityCheck(const QString& database)
{
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        result = QStringLiteral("cannot open: ") + QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW)
            result += QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

// The reading rows of a data file, or a failure when it is not whole: a header, a count line equal
// to the lines that follow, every line a reading, the last one ended by CR LF.
testing::AssertionResult ReadWholeDataFile(const QString& path, std::vector<ReadingRow>& rows)
{
    QFile raw(path);
    if (!raw.open(QIODevice::ReadOnly))
        return testing::AssertionFailure() << "cannot open " << path.toStdString();
    if (!raw.readAll().endsWith("\r\n"))
        return testing::AssertionFailure() << path.toStdString() << " does not end with a whole line";
    try {
        std::optional<DataFileReader> reader = OpenDataFile(path);
        if (!reader)
            return testing::AssertionFailure() << path.toStdString() << " has no data file header";
        QByteArrayView line;
        QByteArray staging;
        while (reader->nextLine(line)) {
            const QList<QByteArray> fields = line.toByteArray().split(',');
            DecodeDataLine(line, 0, staging);
            rows.push_back(ReadingRow { {}, QString::fromLatin1(fields.value(2).trimmed()),
                QString::fromLatin1(fields.value(3).trimmed()), QString::fromLatin1(fields.value(1).trimmed()),
                QString::fromLatin1(fields.value(0).trimmed()) });
        }
        if (reader->declaredCount() != qint64(rows.size()))
            return testing::AssertionFailure() << path.toStdString() << " says Total:" << reader->declaredCount()
                                               << " over " << rows.size() << " lines";
    } catch (const DecimoraError& error) {
        return testing::AssertionFailure() << error.text().toStdString();
    }
    return testing::AssertionSuccess();
}

// The date and time texts of reading i of a round, as the measurement window stores them: the
// subject's clock starts the round's day at midnight and moves on a second a reading.
std::pair<QString, QString> KeyOf(int round, qint64 i)
{
    return { SystemShortDateText(QDate(2026, 1, 1).addDays(round)),
        SystemLongTimeText(QTime(0, 0).addSecs(static_cast<int>(i))) };
}

// The level the subject's meter gives reading i of a round.
QString LiveValueText(int round, qint64 i)
{
    const int tenths = 300 + static_cast<int>((i * 7 + round * 31) % 900);
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

// Runs a Python program (Debian's) and returns its standard output, or an empty text and the failure.
QByteArray Python(const QStringList& arguments, QString& failure)
{
    QProcess program;
    program.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!program.waitForFinished(120000) || program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0) {
        failure = QString::fromLocal8Bit(program.readAllStandardError());
        return {};
    }
    return program.readAllStandardOutput();
}

// The text of a spreadsheet cell as the table holds it: a number as the shortest text that gives it
// back with at least one decimal where the reading had one ("65.3", "70.0"; record numbers "12").
QString CellText(const QJsonValue& cell, bool level)
{
    if (!cell.isDouble())
        return cell.toString();
    return level ? QString::number(cell.toDouble(), 'f', 1) : QString::number(qint64(cell.toDouble()));
}

// The rows of the file the subject writes, as its reader finds them (a spreadsheet's rows after its
// header row), or a failure when it is not whole.
testing::AssertionResult ReadWholeFile(const QString& path, std::vector<ReadingRow>& rows)
{
    if (path.endsWith(QLatin1String(".dmr")))
        return ReadWholeDataFile(path, rows);
    QString failure;
    const QByteArray json = Python({ QStringLiteral(KILL_SOAK_READ_EXPORT), path }, failure);
    if (json.isEmpty())
        return testing::AssertionFailure() << path.toStdString() << " cannot be read: " << failure.toStdString();
    const QJsonArray sheet = QJsonDocument::fromJson(json).object().value(QLatin1String("rows")).toArray();
    bool headerSeen = false;
    for (qsizetype i = 0; i < sheet.size(); ++i) {
        const QJsonArray cells = sheet.at(i).toArray();
        if (!headerSeen) {
            headerSeen = cells.size() == 5 && cells.at(0).toString() == QLatin1String("RecNo");
            continue;
        }
        if (cells.size() != 5)
            return testing::AssertionFailure()
                << path.toStdString() << " row " << i << " has " << cells.size() << " cells";
        rows.push_back(ReadingRow { CellText(cells.at(0), false), CellText(cells.at(1), true),
            CellText(cells.at(2), false), CellText(cells.at(3), false), CellText(cells.at(4), false) });
    }
    if (!headerSeen)
        return testing::AssertionFailure() << path.toStdString() << " has no header row";
    return testing::AssertionSuccess();
}

// Which generation the file is: its rows are exactly the first baseRows + g of KillSoakRow. A data
// file carries no record numbers, so those are compared only where the file has them.
testing::AssertionResult GenerationOf(const QString& path, qint64 baseRows, qint64& generation)
{
    std::vector<ReadingRow> rows;
    if (auto whole = ReadWholeFile(path, rows); !whole)
        return whole;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ReadingRow expected = KillSoakRow(qint64(i) + 1);
        if (rows[i].recNo.isEmpty())
            expected.recNo.clear();
        if (rows[i] != expected)
            return testing::AssertionFailure()
                << path.toStdString() << " row " << i + 1 << " is " << rows[i].meaValue.toStdString() << " "
                << rows[i].time.toStdString() << ", not the row written there";
    }
    generation = qint64(rows.size()) - baseRows;
    return testing::AssertionSuccess();
}

// The last generation the subject said it had written, and whether it was writing when it was killed.
std::pair<qint64, bool> LastWritten(const std::vector<QString>& lines, qint64 before)
{
    qint64 written = before;
    bool writing = false;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("writing ")))
            writing = true;
        if (line.startsWith(QLatin1String("written "))) {
            written = line.mid(8).toLongLong();
            writing = false;
        }
    }
    return { written, writing };
}

struct WriteSoak {
    const char* mode; // save or export
    std::vector<const char*> files; // used in turn, round by round
    // Readings in the table before the soak's first extra row: enough that writing them takes a while,
    // so that most kills land in the middle of a write; few enough that some writes complete.
    qint64 baseRows;
    int killWithinMs;
};

void KillWhileWriting(const WriteSoak& soak)
{
    QTemporaryDir folder;
    const QDir targets(QDir(folder.path()).filePath(QStringLiteral("targets")));
    ASSERT_TRUE(targets.mkpath(QStringLiteral(".")));
    std::mt19937 random(Seed + 1);
    std::uniform_int_distribution<int> killAfterMs(0, soak.killWithinMs);
    std::map<QString, qint64> generation; // of each file, as the last check found it
    int whileWriting = 0;
    int oldKept = 0;
    int newKept = 0;
    int leftBehind = 0;
    qint64 writes = 0;
    for (int round = 1; round <= Rounds; ++round) {
        const QString file = targets.filePath(QLatin1String(soak.files[std::size_t(round) % soak.files.size()]));
        const qint64 before = generation.count(file) ? generation[file] : 0;
        // A fresh database each round: only the file written is carried from round to round.
        const QString tables = QDir(folder.path()).filePath(QStringLiteral("round-%1").arg(round));
        Subject subject(folder.path());
        ASSERT_NO_FATAL_FAILURE(subject.start(
            { QLatin1String(soak.mode), tables, file, QString::number(soak.baseRows), QString::number(before) }));
        ASSERT_TRUE(subject.waitForLine(QStringLiteral("ready"))) << "round " << round;
        Wait(killAfterMs(random));
        subject.kill();
        for (const QString& line : subject.lines())
            ASSERT_FALSE(line.startsWith(QLatin1String("failed"))) << "round " << round << ": " << line.toStdString();
        const auto [written, writing] = LastWritten(subject.lines(), before);
        whileWriting += writing ? 1 : 0;
        writes += written - before;

        // The old file whole, or the new one whole.
        if (written == 0 && !QFileInfo::exists(file)) {
            ++oldKept;
        } else {
            qint64 found = -1;
            ASSERT_TRUE(GenerationOf(file, soak.baseRows, found)) << "round " << round;
            EXPECT_TRUE(found == written || (writing && found == written + 1))
                << "round " << round << ": the file holds generation " << found << ", the subject had written "
                << written << (writing ? " and was writing the next" : "");
            ++(found == written ? oldKept : newKept);
            generation[file] = found;
        }
        // What a killed write may leave beside the file is its unfinished temporary file.
        for (const QString& name : targets.entryList(QDir::Files | QDir::Hidden)) {
            if (generation.count(targets.filePath(name)))
                continue;
            ++leftBehind;
            EXPECT_TRUE(writing) << "round " << round << ": " << name.toStdString() << " left by a finished write";
            QFile::remove(targets.filePath(name));
        }
        QDir(tables).removeRecursively();
    }
    std::cout << "kill soak, " << soak.mode << ": " << Rounds << " rounds, " << writes << " writes completed, "
              << whileWriting << " kills in the middle of a write; after the kill the old file was whole " << oldKept
              << " times, the new one " << newKept << " times, a mix or a torso never (" << leftBehind
              << " kills left an unfinished temporary file beside it)" << std::endl;
    EXPECT_GT(whileWriting, Rounds / 2);
    EXPECT_GT(newKept + writes, 0);
}

} // namespace

TEST(KillSoak, ALiveRunKilledAtRandomKeepsEveryStoredReadingForTheNextStartsRescue)
{
    QTemporaryDir folder;
    const QString database = QDir(folder.path()).filePath(QStringLiteral("Decimora.mdb"));
    std::mt19937 random(Seed);
    std::bernoulli_distribution duringStart(0.5);
    std::uniform_int_distribution<int> runMs(0, 800);

    // Each reading by its date and time, which the soak's clock makes unique.
    std::map<std::pair<QString, QString>, QString> stored;
    std::map<int, qint64> lastStored; // per round, the last record number the subject reported
    int startUpMs = 0; // from the start to the run, as the last round that got there took
    int killedDuringStart = 0;
    for (int round = 1; round <= Rounds; ++round) {
        Subject subject(folder.path());
        QElapsedTimer started;
        started.start();
        ASSERT_NO_FATAL_FAILURE(subject.start({ "live", folder.path(), QString::number(round) }));
        if (round > 1 && duringStart(random)) {
            // The later half of the start holds the lock, the rescue and the emptying of the tables.
            Wait(std::uniform_int_distribution<int>(startUpMs / 2, startUpMs)(random));
        } else {
            ASSERT_TRUE(subject.waitForLine(QStringLiteral("started"))) << "round " << round;
            startUpMs = int(started.elapsed());
            Wait(runMs(random));
        }
        subject.kill();
        const bool sawStart = std::count(subject.lines().begin(), subject.lines().end(), QStringLiteral("started")) > 0;
        killedDuringStart += sawStart ? 0 : 1;
        for (const QString& line : subject.lines()) {
            ASSERT_FALSE(line.startsWith(QLatin1String("failed"))) << "round " << round << ": " << line.toStdString();
            if (!line.startsWith(QLatin1String("reading\t")))
                continue;
            const QStringList fields = line.split(QLatin1Char('\t'));
            ASSERT_EQ(fields.size(), 5) << line.toStdString();
            const qint64 recNo = fields[1].toLongLong();
            // The run's readings in order, each with the level the meter sent and the clock's time.
            ASSERT_EQ(recNo, lastStored[round] + 1) << line.toStdString();
            ASSERT_EQ(fields[2], LiveValueText(round, recNo)) << line.toStdString();
            const auto key = std::make_pair(fields[4], fields[3]);
            ASSERT_EQ(key, KeyOf(round, recNo)) << line.toStdString();
            ASSERT_TRUE(stored.emplace(key, fields[2]).second) << line.toStdString();
            lastStored[round] = recNo;
        }
        ASSERT_EQ(IntegrityCheck(database), "ok") << "round " << round;
    }
    // The next start rescues what the last kill left, and this one ends normally.
    Subject last(folder.path());
    ASSERT_NO_FATAL_FAILURE(last.start({ "close", folder.path() }));
    ASSERT_TRUE(last.finish());

    // Every rescued file is whole, and every reading is in one of them once. The only readings the
    // subject had not reported are ones it was storing when it was killed: the next of its round.
    std::map<std::pair<QString, QString>, QString> storedAtTheKill;
    for (int round = 1; round <= Rounds; ++round) {
        const qint64 next = lastStored[round] + 1;
        storedAtTheKill[KeyOf(round, next)] = LiveValueText(round, next);
    }
    const QDir rescued(QDir(folder.path()).filePath(QStringLiteral("rescued")));
    std::map<std::pair<QString, QString>, int> found;
    int unreported = 0;
    for (const QString& name : rescued.entryList({ QStringLiteral("*.dmr") }, QDir::Files)) {
        std::vector<ReadingRow> rows;
        ASSERT_TRUE(ReadWholeDataFile(rescued.filePath(name), rows));
        for (const ReadingRow& row : rows) {
            const auto key = std::make_pair(row.date, row.time);
            ++found[key];
            if (const auto reported = stored.find(key); reported != stored.end()) {
                EXPECT_EQ(row.meaValue, reported->second) << name.toStdString();
            } else if (const auto atKill = storedAtTheKill.find(key); atKill != storedAtTheKill.end()) {
                EXPECT_EQ(row.meaValue, atKill->second) << name.toStdString();
                ++unreported;
            } else {
                ADD_FAILURE() << name.toStdString() << " holds " << row.date.toStdString() << " "
                              << row.time.toStdString() << ", a reading the subject never stored";
            }
        }
    }
    int lost = 0;
    for (const auto& [key, value] : stored)
        lost += found.count(key) ? 0 : 1;
    int doubled = 0;
    for (const auto& [key, count] : found)
        doubled += count > 1 ? 1 : 0;
    const int rescuedReadings = int(found.size());
    std::cout << "kill soak, live run: " << Rounds << " rounds (" << killedDuringStart << " killed during the start), "
              << stored.size() << " readings stored, " << rescuedReadings << " rescued (" << unreported
              << " of them stored at the kill's moment), lost " << lost << ", doubled " << doubled << std::endl;
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(doubled, 0);
    EXPECT_GT(stored.size(), std::size_t(Rounds));
}

TEST(KillSoak, ASaveKilledAtRandomLeavesTheOldDataFileWholeOrTheNewOne)
{
    KillWhileWriting({ "save", { "run.dmr" }, 5000, 500 });
}

TEST(KillSoak, AnExportKilledAtRandomLeavesTheOldSpreadsheetWholeOrTheNewOne)
{
    KillWhileWriting({ "export", { "run.csv", "run.xlsx" }, 1000, 600 });
}
