// Cold start: from launching the decimora executable to the first paint of its frame.
//
// Each iteration starts the built program in a fresh temporary folder (its working directory, home,
// data and ODBC files, so nothing of the user's is touched) with DECIMORA_BENCH_FIRST_PAINT set. The
// program reads that variable only for this benchmark: it prints "first-paint" once the frame has
// painted for the first time and then ends its event loop. The time measured runs from just before
// the process is started to the moment that line arrives.
//
// Run it with the display you want to measure, e.g.
//   xvfb-run -s "-screen 0 1280x800x24" build/release/bench/bench_startup
// (without a display the program paints offscreen).

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void ColdStartToFirstPaint(benchmark::State& state, const QStringList& arguments)
{
    for (auto _ : state) {
        QTemporaryDir folder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", folder.path());
        environment.insert("XDG_DATA_HOME", folder.filePath("share"));
        environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
        environment.insert("ODBCINI", folder.filePath("odbc.ini"));
        environment.insert("DECIMORA_BENCH_FIRST_PAINT", "1");
        if (!environment.contains("DISPLAY") && !environment.contains("WAYLAND_DISPLAY"))
            environment.insert("QT_QPA_PLATFORM", "offscreen");

        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.path());
        program.setProcessChannelMode(QProcess::SeparateChannels);

        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(DECIMORA_EXECUTABLE), arguments);
        QByteArray output;
        while (!output.contains("first-paint\n")) {
            if (!program.waitForReadyRead(10000)) {
                state.SkipWithError("the program did not paint its frame within 10 s");
                program.kill();
                program.waitForFinished();
                return;
            }
            output += program.readAllStandardOutput();
        }
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        program.waitForFinished(10000);
    }
}

} // namespace

BENCHMARK_CAPTURE(ColdStartToFirstPaint, simulated_meter, QStringList { "--simulate-meter" })
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(ColdStartToFirstPaint, usb_meter, QStringList {})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
