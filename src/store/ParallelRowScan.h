#pragma once

// Writing out a large table through several connections at once: SQLite spends most of the time of a
// file save returning rows, and one connection returns them on one core only.

#include "core/ReadingTable.h"

#include <QString>

struct sqlite3;

// Formats the rows with rowids 1..rowCount of the table in stretches read in parallel, each through
// a read-only connection of its own, and hands the blocks to write in row order on the calling
// thread. False, with nothing handed to write, when the table cannot be read that way (a database
// in memory, an open transaction whose rows other connections cannot see, one core only); the caller
// then walks the table itself. Throws TableError when a read fails or the table changed meanwhile.
bool WriteRowsInParallel(
    sqlite3* db, const QString& table, qint64 rowCount, const RowTextFormatter& format, const BlockWriter& write);
