// decimora-cli live --serve as a user runs it: a process without a display, on the simulated meter,
// its clock run fast so that a minute of readings takes seconds. Its bad usages, the ports and
// addresses it cannot serve, what it says about who can reach the page, and fifty pages at once, each
// getting every reading in order while the readings also go to a file.

#include "cli/CliCommands.h"
#include "cli/CliError.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Finished {
    int exitCode = -1;
    QString err;
    QString out;
};

class LiveServeTest : public testing::Test {
protected:
    void start(QProcess& tool, const QStringList& arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), folder.path());
        tool.setProcessEnvironment(environment);
        tool.setWorkingDirectory(folder.path());
        tool.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE), arguments);
        ASSERT_TRUE(tool.waitForStarted());
    }

    Finished run(const QStringList& arguments) const
    {
        QProcess tool;
        start(tool, arguments);
        EXPECT_TRUE(tool.waitForFinished(120000));
        return { tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardError()),
            QString::fromLocal8Bit(tool.readAllStandardOutput()) };
    }

    // A port nobody listens on now (the system's choice, given back at once).
    static quint16 freePort()
    {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        return probe.serverPort();
    }

    QTemporaryDir folder;
};

} // namespace

TEST_F(LiveServeTest, BadServeUsageEndsWithTwoAMessageAndAUsageLine)
{
    const QStringList cases[] = {
        { "live", "--simulate-meter", "--serve", "0" },
        { "live", "--simulate-meter", "--serve", "99999" },
        { "live", "--simulate-meter", "--serve", "gate.local:8080" },
        { "live", "--simulate-meter", "--serve", "::1:8080" },
        { "live", "--simulate-meter", "--serve", "" },
        { "live", "--simulate-meter", "--serve" },
        { "live", "--simulate-meter", "--serve", "8080", "--high-alarm", "loud" },
        { "live", "--simulate-meter", "--serve", "8080", "--bounds", "19,7,23" },
        { "live", "--simulate-meter", "--high-alarm", "70" },
        { "live", "--simulate-meter", "--bounds", "6,18,22" },
        { "live", "--simulate-meter", "--threshold", "80" },
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const Finished done = run(arguments);
        EXPECT_EQ(done.exitCode, 2);
        const QStringList lines = done.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << done.err.toStdString();
        EXPECT_TRUE(lines[0].startsWith(QLatin1String("decimora-cli: "))) << done.err.toStdString();
        EXPECT_TRUE(lines[1].startsWith(QLatin1String("Usage: decimora-cli live"))) << done.err.toStdString();
        EXPECT_THROW(CheckCommandLine(QStringList { QStringLiteral("decimora-cli") } + arguments), UsageError);
    }
    EXPECT_NO_THROW(CheckCommandLine({ "decimora-cli", "live", "--serve", "0.0.0.0:8080", "--high-alarm", "70",
        "--bounds", "6,18,22", "--output", "noise.csv" }));
}

// A port in use or an address this machine does not have ends the tool at once with one line, before
// any file is made; what the tool says about the page tells who can reach it.
TEST_F(LiveServeTest, ThePagesAddressIsToldOrItsFailureEndsTheTool)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const QString busy = QString::number(taken.serverPort());
    const QString csv = QDir(folder.path()).filePath(QStringLiteral("noise.csv"));
    struct Case {
        QString serve;
        int exitCode;
        QString err;
    };
    const QString port = QString::number(freePort());
    const Case cases[] = {
        { busy, 1,
            "decimora-cli: Cannot serve the live page at http://127.0.0.1:" + busy
                + "/: The bound address is already in use.\n" },
        { "192.0.2.1:" + port, 1,
            "decimora-cli: Cannot serve the live page at http://192.0.2.1:" + port
                + "/: The address is not available.\n" },
        { port, 0, "decimora-cli: The live page is at http://127.0.0.1:" + port + "/ (this machine only).\n" },
        { "0.0.0.0:" + port, 0,
            "decimora-cli: The live page is at http://127.0.0.1:" + port
                + "/ and can be reached from the network: anyone who reaches this machine on port " + port
                + " can watch the readings.\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serve.toStdString());
        const Finished done = run({ "live", "--simulate-meter", "--serve", c.serve, "--output", csv, "--duration", "2",
            "--pretend-rate", "10" });
        EXPECT_EQ(done.exitCode, c.exitCode);
        EXPECT_EQ(done.err, c.err);
        EXPECT_EQ(QFileInfo::exists(csv), c.exitCode == 0);
        QFile::remove(csv);
    }
    // The page alone writes no lines; asked for a format, it writes them too.
    const QStringList alone { "live", "--simulate-meter", "--serve", port, "--duration", "3", "--pretend-rate", "10" };
    Finished done = run(alone);
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.out, QString());
    done = run(alone + QStringList { "--format", "jsonl" });
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_GE(done.out.count(QLatin1String("\"level\":")), 2) << done.out.toStdString();
}

// Fifty pages open on one tool that logs a minute of readings (at twenty times the pace) to a file as
// well: each page gets the snapshot when it connects and then every reading after it, in order, up to
// the last one the file has.
TEST_F(LiveServeTest, FiftyPagesGetEveryReadingInOrder)
{
    const quint16 port = freePort();
    const QString csv = QDir(folder.path()).filePath(QStringLiteral("noise.csv"));
    QProcess tool;
    start(tool,
        { "live", "--simulate-meter", "--serve", QString::number(port), "--output", csv, "--interval", "1",
            "--duration", "60", "--pretend-rate", "20" });
    ASSERT_TRUE(TestModule::waitUntil(
        [&] {
            return tool.readAllStandardError().contains("The live page is at") || tool.state() != QProcess::Running;
        },
        30000));
    struct Page {
        QWebSocket socket;
        qint64 historySeq = -1;
        qint64 hourReadings = -1;
        std::vector<qint64> seqs;
        bool closed = false;
    };
    std::vector<std::unique_ptr<Page>> pages;
    for (int i = 0; i < 50; ++i) {
        auto page = std::make_unique<Page>();
        Page* p = page.get();
        QObject::connect(&p->socket, &QWebSocket::textMessageReceived, [p](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value(QLatin1String("type")).toString() == QLatin1String("history")) {
                p->historySeq = message.value(QLatin1String("seq")).toInteger();
                p->hourReadings = message.value(QLatin1String("hour")).toArray().size();
            } else {
                p->seqs.push_back(message.value(QLatin1String("seq")).toInteger());
            }
        });
        QObject::connect(&p->socket, &QWebSocket::disconnected, [p] { p->closed = true; });
        p->socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
        pages.push_back(std::move(page));
    }
    ASSERT_TRUE(TestModule::waitUntil([&] { return tool.state() == QProcess::NotRunning; }, 120000));
    EXPECT_EQ(tool.exitCode(), 0);
    ASSERT_TRUE(TestModule::waitUntil(
        [&] { return std::all_of(pages.begin(), pages.end(), [](const auto& page) { return page->closed; }); }));
    // The file's lines, less its header, are the readings taken.
    const qint64 readings = readFile(csv).count('\n') - 1;
    EXPECT_GE(readings, 50);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i);
        const Page& page = *pages[i];
        ASSERT_GE(page.historySeq, 0);
        // The snapshot holds every reading so far (all within the hour), then each one follows.
        EXPECT_EQ(page.hourReadings, page.historySeq);
        std::vector<qint64> expected;
        for (qint64 seq = page.historySeq + 1; seq <= readings; ++seq)
            expected.push_back(seq);
        EXPECT_EQ(page.seqs, expected);
    }
}
