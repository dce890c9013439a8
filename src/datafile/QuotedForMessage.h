#pragma once

// A piece of a file quoted in a message about it.

#include <QByteArrayView>
#include <QString>

// The text in double quotes: whole when it is short, otherwise its start and its length, so that a
// line of megabytes (a file that is not what its name says) does not make a message of megabytes.
inline QString QuotedForMessage(QByteArrayView text)
{
    constexpr qsizetype Longest = 60;
    if (text.size() <= Longest)
        return QLatin1Char('"') + QString::fromUtf8(text) + QLatin1Char('"');
    return QStringLiteral("\"%1...\" (%2 bytes)").arg(QString::fromUtf8(text.first(Longest))).arg(text.size());
}
