#include "core/SystemTexts.h"

#include <algorithm>
#include <vector>

namespace {

struct FormatToken {
    enum class Kind { Quoted, Zone, Other };
    Kind kind;
    QString text;
};

// Splits a date-time format into quoted literals, time-zone fields and single other characters.
std::vector<FormatToken> tokenize(const QString& format)
{
    std::vector<FormatToken> tokens;
    const qsizetype size = format.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            // A quoted literal runs to the next lone quote; two quotes inside it stand for one.
            qsizetype end = i + 1;
            while (end < size) {
                if (format[end] == QLatin1Char('\'')) {
                    if (end + 1 < size && format[end + 1] == QLatin1Char('\'')) {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            const qsizetype next = end < size ? end + 1 : size;
            tokens.push_back({ FormatToken::Kind::Quoted, format.mid(i, next - i) });
            i = next;
        } else if (c == QLatin1Char('t')) {
            qsizetype end = i;
            while (end < size && format[end] == QLatin1Char('t'))
                ++end;
            tokens.push_back({ FormatToken::Kind::Zone, format.mid(i, end - i) });
            i = end;
        } else {
            tokens.push_back({ FormatToken::Kind::Other, QString(c) });
            ++i;
        }
    }
    return tokens;
}

bool isSeparator(const FormatToken& token)
{
    if (token.kind != FormatToken::Kind::Other)
        return false;
    const QChar c = token.text.front();
    return c.isSpace() || c == QLatin1Char(',') || c == QChar(0x060C); // Arabic comma
}

bool isOther(const FormatToken& token, QLatin1Char c)
{
    return token.kind == FormatToken::Kind::Other && token.text.front() == c;
}

} // namespace

QString WithoutTimeZone(const QString& timeFormat)
{
    std::vector<FormatToken> tokens = tokenize(timeFormat);
    for (;;) {
        auto zone = std::find_if(
            tokens.begin(), tokens.end(), [](const FormatToken& t) { return t.kind == FormatToken::Kind::Zone; });
        if (zone == tokens.end())
            break;
        auto first = zone;
        auto last = zone + 1;
        // "(t)" and "[t]" go with their brackets.
        auto open = first;
        while (open != tokens.begin() && isSeparator(*(open - 1)))
            --open;
        auto close = last;
        while (close != tokens.end() && isSeparator(*close))
            ++close;
        if (open != tokens.begin() && close != tokens.end()
            && ((isOther(*(open - 1), QLatin1Char('(')) && isOther(*close, QLatin1Char(')')))
                || (isOther(*(open - 1), QLatin1Char('[')) && isOther(*close, QLatin1Char(']'))))) {
            first = open - 1;
            last = close + 1;
        }
        // The blanks and commas that set the zone apart from its neighbours go too; between two
        // fields those on its left stay to keep them apart.
        auto left = first;
        while (left != tokens.begin() && isSeparator(*(left - 1)))
            --left;
        auto right = last;
        while (right != tokens.end() && isSeparator(*right))
            ++right;
        if (right == tokens.end() || left == tokens.begin())
            tokens.erase(left, right);
        else
            tokens.erase(first, right);
    }
    QString result;
    for (const FormatToken& token : tokens)
        result += token.text;
    return result;
}

QString ShortDateText(const QLocale& locale, const QDate& date)
{
    return locale.toString(date, QLocale::ShortFormat);
}

QString LongTimeText(const QLocale& locale, const QTime& time)
{
    return locale.toString(time, WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString OneDecimalText(const QLocale& locale, double value)
{
    QLocale withoutGroups = locale;
    withoutGroups.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return withoutGroups.toString(value, 'f', 1);
}

QString ShortestDecimalText(const QLocale& locale, double value)
{
    QLocale withoutGroups = locale;
    withoutGroups.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return withoutGroups.toString(value, 'g', QLocale::FloatingPointShortest);
}

QString SystemShortDateText(const QDate& date)
{
    return ShortDateText(QLocale::system(), date);
}

QString SystemLongTimeText(const QTime& time)
{
    return LongTimeText(QLocale::system(), time);
}

QString SystemOneDecimalText(double value)
{
    return OneDecimalText(QLocale::system(), value);
}

QString SystemShortestDecimalText(double value)
{
    return ShortestDecimalText(QLocale::system(), value);
}
