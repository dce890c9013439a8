#pragma once

// Dates, times and numbers as the user's system writes them, for texts that are stored or shown.

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// A time format without its time-zone field ("t", "tt", … outside quoted text) and without the
// blanks, commas or brackets that only served to set the zone apart: "HH:mm:ss t" gives
// "HH:mm:ss", "HH:mm:ss (t)" gives "HH:mm:ss", "t HH:mm:ss" gives "HH:mm:ss". Qt's long time formats
// name the zone; the times this program stores and shows never did.
QString WithoutTimeZone(const QString& timeFormat);

QString ShortDateText(const QLocale& locale, const QDate& date);
// The locale's long time format without the time zone.
QString LongTimeText(const QLocale& locale, const QTime& time);
// The pattern "0.0": one decimal, the locale's decimal separator and digits, no group separators.
QString OneDecimalText(const QLocale& locale, double value);

// The fewest digits that give the value back ("65.3", "70"), the locale's decimal separator, no
// group separators.
QString ShortestDecimalText(const QLocale& locale, double value);

// The same with the system's locale.
QString SystemShortDateText(const QDate& date);
QString SystemLongTimeText(const QTime& time);
QString SystemOneDecimalText(double value);
QString SystemShortestDecimalText(double value);
