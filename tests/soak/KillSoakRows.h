#pragma once

// The readings the kill soak's saves and exports write, the same in the program that is killed and
// in the test that checks what it left: row i (from 1) of a table of any length is always the same
// reading, so that a file of n rows can be checked line by line against the first n.

#include "core/ReadingTable.h"

#include <QString>

inline ReadingRow KillSoakRow(qint64 i)
{
    const qint64 second = i % 86400;
    const int tenths = 300 + static_cast<int>((i * 37) % 900);
    return ReadingRow { QString::number(i), QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10),
        i % 5 == 0 ? QStringLiteral("C") : QStringLiteral("A"),
        QStringLiteral("%1:%2:%3").arg(second / 3600).arg(second / 60 % 60).arg(second % 60),
        QStringLiteral("1/%1/2026").arg(1 + i / 86400 % 28) };
}
