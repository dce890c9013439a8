#pragma once

// The start-up empties MeaData and GetRecorde. After a copy of the program that ended without its
// close (a crash, a kill, a power cut) those tables may still hold the only copy of a run's readings,
// so they are written to data files first and the user is told once where they are. Readings that
// could be written nowhere are never emptied away by that start.

#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

class ReadingTable;

struct ReadingsRescue {
    // The data files written, in table order.
    QStringList files;
    // One line per table that could not be written, with the system's reason.
    QStringList failures;
    // The folders tried, in order.
    QStringList folders;

    bool empty() const { return files.isEmpty() && failures.isEmpty(); }
};

// Where rescued readings go, in turn: the program folder, the database's folder, the XDG data folder
// of the program (~/.local/share/decimora) and the temporary folder. A folder named twice is tried once.
QStringList DefaultRescueFolders(const QString& programFolder, const QString& databasePath);

// Writes each table that holds rows to "<table name>-<yyyy-MM-dd>.dmr" (with "-2", "-3", ... when
// that name is taken) in the first of the folders that takes it, creating a missing folder. Tables
// without rows are left out. When that folder already holds a file of the table with the very same
// bytes (the rescue of a start that was killed before it emptied the tables), that file is named and
// no second copy is kept.
ReadingsRescue RescueReadings(const std::vector<const ReadingTable*>& tables, const QStringList& folders, QDate date);

// Why the previous copy left readings in its tables.
enum class RescueCause {
    // It crashed, was killed or lost its power.
    EndedWithoutClose,
    // It was closed (File > Exit, its window's close, a logout) while a window showed readings that
    // no data file held.
    ClosedWithUnsavedReadings,
};

// The one message that tells the user what was rescued; empty when there is nothing to say.
QString ReadingsRescueMessage(const ReadingsRescue& rescue, RescueCause cause = RescueCause::EndedWithoutClose);
inline constexpr char ReadingsRescueCaption[] = "Readings Recovered";
