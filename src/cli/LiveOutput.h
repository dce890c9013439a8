#pragma once

// Where the live readings of "decimora-cli live" go. The logger hands every reading to one
// LiveReadingSink and knows nothing of files or formats; each destination (a format on standard
// output, a file, a file a day, a broker) is one implementation.

#include "core/LiveReading.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class LiveReadingSink {
public:
    virtual ~LiveReadingSink() = default;
    // Takes one reading. Throws CliError when it cannot be passed on; the logger then ends.
    virtual void take(const LiveReading& reading) = 0;
    // The logger ends: whatever is kept must be complete now. Every line is complete at every moment
    // anyway, so this only closes what is open.
    virtual void finish() { }
};

enum class LineFormat { Csv, JsonLines, Influx };

// The names an InfluxDB line carries besides the reading's own: the measurement and extra tags
// ("--tag site=north gate"), escaped as the line protocol says when the line is made.
struct InfluxNames {
    QString measurement = QStringLiteral("sound_level");
    std::vector<std::pair<QString, QString>> tags;
};

// "csv", "jsonl", "influx"; nothing for another word.
std::optional<LineFormat> LineFormatNamed(const QString& name);

// The first line of a file in this format (the CSV column names), or nothing.
QByteArray FormatHeader(LineFormat format);
// One reading as one line of the format, line end included.
//   csv:    2026-12-10T09:15:02.250+01:00,65.3,A,30-130,fast,false
//   jsonl:  LiveReadingJson and "\n"
//   influx: sound_level,range=30-130,response=fast,weighting=A level=65.3,max_hold=false 1765354502250000000
QByteArray FormatLine(LineFormat format, const LiveReading& reading, const InfluxNames& names = {});

// The line protocol's escapes: a measurement escapes "," and " "; tag keys, tag values and field keys
// escape ",", "=" and " ". Each gets a backslash in front.
QByteArray InfluxMeasurementText(const QString& name);
QByteArray InfluxKeyText(const QString& key);
// Why a measurement, tag key or tag value cannot be written in the line protocol (empty, a line
// break, or a measurement that would read as a comment), or an empty text when it can.
QString InfluxNameProblem(const QString& what, const QString& name, bool measurement);

// The file a day's readings go to with --rotate daily: the day inserted before the last extension,
// "/var/log/noise.csv" -> "/var/log/noise-2026-12-10.csv", "noise" -> "noise-2026-12-10".
QString DailyFilePath(const QString& path, const QDate& day);

// Lines of one format to standard output, to one file, or to one file per local day. Files are
// opened for appending (a logger restarted the same day goes on in the same file) and the CSV header
// is written only to an empty file. Every line reaches the system in one write as soon as it is made,
// so a reader following the file sees each reading at once and a signal never cuts a line; a line
// that a power cut or a full disk did cut is dropped when the file is opened again (CutOffLine.h),
// and note says so.
class LineOutput final : public LiveReadingSink {
public:
    enum class Target { StandardOutput, File, DailyFiles };

    LineOutput(LineFormat format, InfluxNames names, Target target, QString path = {},
        std::function<void(const QString&)> note = {});
    ~LineOutput() override;

    void take(const LiveReading& reading) override;
    void finish() override;

    // The file being written; empty for standard output and before the first reading of daily files.
    const QString& currentPath() const { return currentPath_; }

private:
    void openFile(const QString& path);
    void closeFile();
    void writeAll(const QByteArray& bytes);

    LineFormat format_;
    InfluxNames names_;
    Target target_;
    QString path_;
    QString currentPath_;
    QDate currentDay_;
    std::function<void(const QString&)> note_;
    int fd_ = -1;
    bool ownsFd_ = false;
};
