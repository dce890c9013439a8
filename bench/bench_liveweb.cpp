// decimora-cli live --serve with pages watching: the tool runs as a process of its own on the simulated
// meter, its clock 100 times as fast as the real one (a reading every 10 ms), and this program opens
// the pages' WebSockets, reads every message they get, and watches the tool's CPU time and memory in
// /proc while the readings flow. The tool's cost is all of its own process: the meter link, the
// figures, the JSON and a write to every page.
//
// - cpu_us_per_reading: the tool's CPU time (user + system, every thread) per reading, between the
//   first reading every page has and the last (target < 200 µs with 50 pages);
// - rss_mb: the tool's resident memory at the end (target < 40 MB); rss_peak_mb its high-water mark.
//
// BM_LiveServe's argument is the number of pages; -1 runs the tool without --serve, for the cost of the
// rest. The lines go to a file in every run, which counts the readings.

#include "liveweb/LiveWebFigures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

constexpr int Readings = 3000;

// utime + stime of a process, in seconds.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    // The fields after the command's name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

double StatusMegabytes(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0.0;
}

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Runs the event loop (the pages read their messages) until done, which is asked every 100 ms only: the
// asking reads the lines file, and should not take a core from the tool.
void Wait(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer ask;
    ask.start(100);
    while (!done() && timer.elapsed() < timeoutMs) {
        const qint64 asked = timer.elapsed();
        while (timer.elapsed() - asked < 100)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

qint64 LinesIn(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
}

bool Serving(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(100);
}

void BM_LiveServe(benchmark::State& state)
{
    const int pageCount = static_cast<int>(state.range(0));
    const quint16 port = FreePort();
    QTemporaryDir folder;
    const QString lines = folder.filePath(QStringLiteral("live.csv"));
    for (auto _ : state) {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The lines go to a file in every run: they count the readings, and the runs differ only in
        // the page.
        QStringList arguments { "live", "--simulate-meter", "--interval", "1", "--pretend-rate", "100", "--output",
            lines };
        if (pageCount >= 0)
            arguments << "--serve" << QString::number(port);
        tool.start(QStringLiteral(DECIMORA_CLI_EXECUTABLE), arguments);
        tool.waitForStarted();
        const qint64 pid = tool.processId();
        std::vector<std::unique_ptr<QWebSocket>> pages;
        std::vector<qint64> lastSeq(std::size_t(std::max(pageCount, 0)), 0);
        if (pageCount >= 0)
            Wait([&] { return Serving(port); }, 30000);
        for (int i = 0; i < pageCount; ++i) {
            auto page = std::make_unique<QWebSocket>();
            QObject::connect(page.get(), &QWebSocket::textMessageReceived, [&lastSeq, i](const QString& text) {
                const qsizetype at = text.indexOf(QLatin1String("\"seq\":"));
                lastSeq[std::size_t(i)] = text.mid(at + 6, 20).section(QLatin1Char(','), 0, 0).toLongLong();
            });
            page->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
            pages.push_back(std::move(page));
        }
        const auto slowest = [&] { return lastSeq.empty() ? 0 : *std::min_element(lastSeq.begin(), lastSeq.end()); };
        // Every page open and reading before the count starts.
        Wait([&] { return LinesIn(lines) > 100 && (pageCount <= 0 || slowest() > 0); }, 30000);
        const qint64 firstLines = LinesIn(lines);
        const double cpuStart = CpuSeconds(pid);
        Wait([&] { return LinesIn(lines) >= firstLines + Readings; }, 120000);
        const double cpu = CpuSeconds(pid) - cpuStart;
        const qint64 readings = LinesIn(lines) - firstLines;
        state.counters["cpu_us_per_reading"] = cpu * 1e6 / double(std::max<qint64>(readings, 1));
        state.counters["rss_mb"] = StatusMegabytes(pid, "VmRSS:");
        state.counters["rss_peak_mb"] = StatusMegabytes(pid, "VmHWM:");
        state.counters["readings"] = double(readings);
        tool.terminate();
        tool.waitForFinished(30000);
        // Every page got the readings up to the end, none fell behind.
        Wait([&] { return slowest() >= LinesIn(lines) - 1; }, 10000);
        state.counters["pages_behind"] = double(
            std::count_if(lastSeq.begin(), lastSeq.end(), [&](qint64 seq) { return seq < LinesIn(lines) - 1; }));
        QFile::remove(lines);
    }
}
BENCHMARK(BM_LiveServe)->Arg(-1)->Arg(0)->Arg(1)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The page's figures alone, in-process, over a loud day at a reading a second: half a minute at 90 dB
// after every minute at 55 dB, so that 960 events come and go and every loud reading (a third of them)
// sends the assessment with its events again. µs per reading, the message serialised as it is sent.
void BM_FiguresOfALoudDay(benchmark::State& state)
{
    for (auto _ : state) {
        LiveWebFigures figures({});
        QDateTime time(QDate(2026, 12, 10), QTime(7, 0), Qt::OffsetFromUTC, 3600);
        qint64 bytes = 0;
        for (int second = 0; second < 24 * 3600; ++second) {
            const std::int32_t tenths = second % 90 < 60 ? 550 : 900;
            bytes += QJsonDocument(figures.add({ time, tenths, 0x40 })).toJson(QJsonDocument::Compact).size();
            time = time.addSecs(1);
        }
        state.counters["message_bytes"] = double(bytes) / (24 * 3600);
    }
    state.SetItemsProcessed(state.iterations() * 24 * 3600);
}
BENCHMARK(BM_FiguresOfALoudDay)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
