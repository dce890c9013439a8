#pragma once

// Rows of a table as the texts a data file carries, read straight from SQLite's own buffers.

#include "core/ReadingTable.h"

#include <sqlite3.h>

// The columns rowText reads, in its order, for a SELECT.
inline constexpr char RowTextColumns[] = R"(MeaValue, Weight, "Time", "Date")";

// The texts of the row a statement selecting RowTextColumns stands on, valid until its next step.
inline ReadingRowText rowText(sqlite3_stmt* stmt)
{
    // The bytes as stored: unlike sqlite3_column_text, no copy to add a terminating zero.
    const auto column = [stmt](int index) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, index));
        return QByteArrayView(bytes, bytes ? sqlite3_column_bytes(stmt, index) : 0);
    };
    return { column(0), column(1), column(2), column(3) };
}
