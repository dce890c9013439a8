#pragma once

// The tool's own live logs read back, the logger's main product: the CSV lines of "live" (headed by
// their column line) and its JSON lines. Each reading becomes a row as a download writes it into a data
// file (the meter's clock layout, "12/10/2026", "14:14:42", the level with one decimal), so that the
// commands that read data files read these alike and check them alike. The time is the wall-clock time
// the line was written with, in its own offset from UTC; its milliseconds are dropped, as a data file
// keeps whole seconds. The offset goes with the row, so that the figures of a run across a change of
// the clock know its hours.

#include "core/ReadingTable.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct LiveLogRow {
    QByteArray meaValue;
    QByteArray weight;
    QByteArray time;
    QByteArray date;
    std::int32_t utcOffset = 0;

    ReadingRowText text() const { return { meaValue, weight, time, date }; }
};

struct LiveLogFile {
    std::vector<LiveLogRow> rows;
    // The line of the first reading: 2 in a CSV log, after its column line; 1 in JSON lines.
    qint64 firstLine = 1;
};

// The rows of the live log at path, in the order of its lines; nothing when the file is no live log
// (its first line is neither the CSV column line nor a JSON object). Throws CliError when the file
// cannot be read or a line is not a reading, naming the line.
std::optional<LiveLogFile> ReadLiveLog(const QString& path);
