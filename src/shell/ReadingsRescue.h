#pragma once

// The start-up empties MeaData and GetRecorde. After a copy of the program that ended without its
// close (a crash, a kill, a power cut) those tables may still hold the only copy of a run's readings,
// so they are written to data files first and the user is told once where they are.

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

    bool empty() const { return files.isEmpty() && failures.isEmpty(); }
};

// Writes each table that holds rows to "<table name>-<yyyy-MM-dd>.dmr" (with "-2", "-3", ... when
// that name is taken) in the first of the folders that takes it. Tables without rows are left out.
ReadingsRescue RescueReadings(const std::vector<const ReadingTable*>& tables, const QStringList& folders, QDate date);

// The one message that tells the user what was rescued; empty when there is nothing to say.
QString ReadingsRescueMessage(const ReadingsRescue& rescue);
inline constexpr char ReadingsRescueCaption[] = "Readings Recovered";
