#include "core/SystemTexts.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

TEST(SystemTexts, TimeZoneFieldLeavesTheFormatWithItsSeparators)
{
    struct Case {
        const char* format;
        const char* expected;
    };
    const Case cases[] = {
        { "HH:mm:ss t", "HH:mm:ss" },
        { "h:mm:ss AP, t", "h:mm:ss AP" },
        { "HH:mm:ss (t)", "HH:mm:ss" },
        { "APh:mm:ss [t]", "APh:mm:ss" },
        { "t HH:mm:ss", "HH:mm:ss" },
        { "t APh:mm:ss", "APh:mm:ss" },
        { "H:mm:ss 'ch'. t", "H:mm:ss 'ch'." },
        { "HH:mm:ss tttt", "HH:mm:ss" },
        // Quoted text is not a field, even when it holds a "t".
        { "'at' HH:mm:ss", "'at' HH:mm:ss" },
        { "'it''s' HH:mm t", "'it''s' HH:mm" },
        // Between two fields one blank stays.
        { "HH:mm t ss", "HH:mm ss" },
        { "HH:mm:ss", "HH:mm:ss" },
        { "", "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithoutTimeZone(QString::fromUtf8(c.format)), QString::fromUtf8(c.expected)) << c.format;
}

// Whatever the user's language, a stored time shows the clock and nothing of the zone.
TEST(SystemTexts, NoLocaleLongTimeNamesTheZone)
{
    const QTime time(14, 30, 15);
    const QString zoneName = QDateTime(QDate(2026, 12, 9), time).timeZoneAbbreviation();
    ASSERT_FALSE(zoneName.isEmpty());
    const QRegularExpression untidy(QStringLiteral(R"(^[\s,]|[\s,]$|\(\s*\)|\[\s*\])"));
    for (const QLocale& locale :
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
        const QString withZone = locale.toString(time, locale.timeFormat(QLocale::LongFormat));
        const QString text = LongTimeText(locale, time);
        EXPECT_FALSE(text.contains(zoneName)) << qPrintable(locale.name()) << " " << qPrintable(text);
        EXPECT_FALSE(untidy.match(text).hasMatch()) << qPrintable(locale.name()) << " [" << qPrintable(text) << "]";
        // The clock part is the locale's own: the text with the zone is this text plus the zone.
        EXPECT_LT(text.size(), withZone.size()) << qPrintable(locale.name());
        EXPECT_TRUE(text.contains(locale.toString(30).rightJustified(2, locale.zeroDigit().front())))
            << qPrintable(locale.name()) << " " << qPrintable(text);
    }
}

TEST(SystemTexts, OneDecimalUsesTheLocaleSeparatorWithoutGroups)
{
    struct Case {
        QLocale locale;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        { QLocale(QLocale::English, QLocale::UnitedStates), 65.3, "65.3" },
        { QLocale(QLocale::German, QLocale::Germany), 65.3, "65,3" },
        { QLocale(QLocale::German, QLocale::Germany), 1234.56, "1234,6" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 0.0, "0.0" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 140.0, "140.0" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 45.66666, "45.7" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(OneDecimalText(c.locale, c.value), QString::fromUtf8(c.expected)) << c.expected;
}

TEST(SystemTexts, ShortestDecimalGivesTheValueBackWithTheFewestDigits)
{
    struct Case {
        QLocale locale;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        { QLocale(QLocale::English, QLocale::UnitedStates), 65.3, "65.3" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 70.0, "70" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 0.5, "0.5" },
        { QLocale(QLocale::English, QLocale::UnitedStates), 204.7, "204.7" },
        { QLocale(QLocale::German, QLocale::Germany), 65.3, "65,3" },
        { QLocale(QLocale::German, QLocale::Germany), 1234.5, "1234,5" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShortestDecimalText(c.locale, c.value), QString::fromUtf8(c.expected)) << c.expected;
}

TEST(SystemTexts, ShortDateIsTheLocaleShortFormat)
{
    const QDate date(2026, 12, 9);
    EXPECT_EQ(ShortDateText(QLocale(QLocale::English, QLocale::UnitedStates), date), QStringLiteral("12/9/26"));
    EXPECT_EQ(ShortDateText(QLocale(QLocale::German, QLocale::Germany), date), QStringLiteral("09.12.26"));
}

} // namespace
