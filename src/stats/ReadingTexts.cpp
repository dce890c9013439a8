#include "stats/ReadingTexts.h"

#include "core/SystemTexts.h"

#include <array>

namespace {

QByteArrayView Trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a number of minDigits to maxDigits digits at position; nothing when there is none.
std::optional<std::int32_t> Number(QByteArrayView text, qsizetype& position, int minDigits, int maxDigits)
{
    std::int32_t value = 0;
    int digits = 0;
    while (position < text.size() && digits < maxDigits && IsDigit(text[position])) {
        value = value * 10 + (text[position] - '0');
        ++position;
        ++digits;
    }
    if (digits < minDigits)
        return std::nullopt;
    return value;
}

bool Expect(QByteArrayView text, qsizetype& position, char c)
{
    if (position >= text.size() || text[position] != c)
        return false;
    ++position;
    return true;
}

// The blanks a system writes between the parts of a time: spaces, tabs, and in UTF-8 the no-break
// space and the narrow no-break space that newer locale data puts before AM and PM.
qsizetype BlankLength(QByteArrayView text, qsizetype position)
{
    const QByteArrayView rest = text.sliced(position);
    if (!rest.isEmpty() && (rest.front() == ' ' || rest.front() == '\t'))
        return 1;
    if (rest.startsWith("\xC2\xA0"))
        return 2;
    if (rest.startsWith("\xE2\x80\xAF"))
        return 3;
    return 0;
}

bool StartsWithIgnoringCase(QByteArrayView text, qsizetype position, QByteArrayView word)
{
    if (word.isEmpty() || text.size() - position < word.size())
        return false;
    return text.sliced(position, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

bool IsAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

} // namespace

std::optional<std::int32_t> TenthsOfLevelText(QByteArrayView text)
{
    text = Trimmed(text);
    // Five whole digits are already far off the grid; more would only risk overflow.
    if (text.size() < 3 || text.size() > 7 || text[text.size() - 2] != '.' || !IsDigit(text.back()))
        return std::nullopt;
    std::int32_t tenths = 0;
    for (const char c : text.first(text.size() - 2)) {
        if (!IsDigit(c))
            return std::nullopt;
        tenths = tenths * 10 + (c - '0');
    }
    return tenths * 10 + (text.back() - '0');
}

std::optional<Weighting> WeightingOfText(QByteArrayView text)
{
    text = Trimmed(text);
    if (text == "A")
        return Weighting::A;
    if (text == "C")
        return Weighting::C;
    return std::nullopt;
}

TimeTextReader::TimeTextReader(const QLocale& locale)
    : locale_(locale)
    , dateFormat_(locale.dateFormat(QLocale::ShortFormat))
    , timeFormat_(WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)))
{
    // Qt reads "yy" as a year of the 1900s; this program's readings are all of this century.
    twoDigitYears_ = dateFormat_.contains(QLatin1String("yy")) && !dateFormat_.contains(QLatin1String("yyyy"));

    const QString am = locale.amText();
    const QString pm = locale.pmText();
    if (!IsAscii(timeFormat_) || !IsAscii(am) || !IsAscii(pm))
        return;
    am_ = am.toLatin1();
    pm_ = pm.toLatin1();
    const QString& f = timeFormat_;
    const bool twelveHours = f.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    std::vector<TimePart> parts;
    for (qsizetype i = 0; i < f.size();) {
        const char c = f[i].toLatin1();
        qsizetype run = 1;
        while (i + run < f.size() && f[i + run] == f[i])
            ++run;
        using Kind = TimePart::Kind;
        if (c == '\'' && run >= 2) {
            // Two quotes outside a quoted text stand for one.
            parts.push_back({ Kind::Literal, "'" });
            i += 2;
            continue;
        }
        if (c == '\'') {
            // A quoted literal runs to the next lone quote; two quotes inside it stand for one.
            QByteArray literal;
            qsizetype j = i + 1;
            for (; j < f.size(); ++j) {
                if (f[j] == QLatin1Char('\'')) {
                    if (j + 1 < f.size() && f[j + 1] == QLatin1Char('\'')) {
                        literal += '\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                literal += f[j].toLatin1();
            }
            parts.push_back({ Kind::Literal, literal });
            i = j + 1;
            continue;
        }
        if (c == 'h') {
            parts.push_back({ twelveHours ? Kind::Hour12 : Kind::Hour24, {} });
        } else if (c == 'H') {
            parts.push_back({ Kind::Hour24, {} });
        } else if (c == 'm') {
            parts.push_back({ Kind::Minute, {} });
        } else if (c == 's') {
            parts.push_back({ Kind::Second, {} });
        } else if (c == 'z') {
            parts.push_back({ Kind::Milliseconds, {} });
        } else if (c == 'A' || c == 'a') {
            // "AP", "ap", "A" and "a" are all the AM/PM mark.
            if (run == 1 && i + 1 < f.size() && (f[i + 1] == QLatin1Char('P') || f[i + 1] == QLatin1Char('p')))
                run = 2;
            parts.push_back({ Kind::AmPm, {} });
        } else if (f[i].isSpace()) {
            parts.push_back({ Kind::Blank, {} });
        } else {
            parts.push_back({ Kind::Literal, QByteArray(run, c) });
        }
        i += run;
    }
    timeParts_ = std::move(parts);
}

std::optional<QDate> TimeTextReader::date(QByteArrayView text, TimeTextLayout layout) const
{
    text = Trimmed(text);
    if (layout == TimeTextLayout::Download) {
        qsizetype at = 0;
        const auto month = Number(text, at, 1, 2);
        if (!month || !Expect(text, at, '/'))
            return std::nullopt;
        const auto day = Number(text, at, 1, 2);
        if (!day || !Expect(text, at, '/'))
            return std::nullopt;
        const auto year = Number(text, at, 4, 4);
        if (!year || at != text.size())
            return std::nullopt;
        const QDate date(*year, *month, *day);
        return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
    }
    QDate date = locale_.toDate(QString::fromUtf8(text), dateFormat_);
    if (!date.isValid())
        return std::nullopt;
    if (twoDigitYears_ && date.year() >= 1900 && date.year() < 2000)
        date = date.addYears(100);
    return date;
}

std::optional<std::int32_t> TimeTextReader::secondOfDay(QByteArrayView text, TimeTextLayout layout) const
{
    text = Trimmed(text);
    if (layout == TimeTextLayout::System)
        return systemSecondOfDay(text);
    qsizetype at = 0;
    const auto hour = Number(text, at, 1, 2);
    if (!hour || !Expect(text, at, ':'))
        return std::nullopt;
    const auto minute = Number(text, at, 1, 2);
    if (!minute || !Expect(text, at, ':'))
        return std::nullopt;
    const auto second = Number(text, at, 1, 2);
    if (!second || at != text.size() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    return *hour * 3600 + *minute * 60 + *second;
}

bool TimeTextReader::hasUnpaddedMinuteOrSecond(QByteArrayView text)
{
    text = Trimmed(text);
    const qsizetype first = text.indexOf(':');
    if (first < 0)
        return false;
    const qsizetype second = text.indexOf(':', first + 1);
    if (second < 0)
        return false;
    return second - first - 1 == 1 || text.size() - second - 1 == 1;
}

std::optional<std::int32_t> TimeTextReader::systemSecondOfDay(QByteArrayView text) const
{
    if (timeParts_.empty()) {
        const QTime time = locale_.toTime(QString::fromUtf8(text), timeFormat_);
        if (!time.isValid())
            return std::nullopt;
        return time.msecsSinceStartOfDay() / 1000;
    }
    std::int32_t hour = -1;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::optional<bool> afternoon;
    bool twelveHours = false;
    qsizetype at = 0;
    using Kind = TimePart::Kind;
    for (const TimePart& part : timeParts_) {
        std::optional<std::int32_t> number;
        switch (part.kind) {
        case Kind::Hour12:
        case Kind::Hour24:
            number = Number(text, at, 1, 2);
            if (!number)
                return std::nullopt;
            hour = *number;
            twelveHours = part.kind == Kind::Hour12;
            break;
        case Kind::Minute:
            number = Number(text, at, 1, 2);
            if (!number)
                return std::nullopt;
            minute = *number;
            break;
        case Kind::Second:
            number = Number(text, at, 1, 2);
            if (!number)
                return std::nullopt;
            second = *number;
            break;
        case Kind::Milliseconds:
            if (!Number(text, at, 1, 3))
                return std::nullopt;
            break;
        case Kind::AmPm:
            if (StartsWithIgnoringCase(text, at, am_)) {
                afternoon = false;
                at += am_.size();
            } else if (StartsWithIgnoringCase(text, at, pm_)) {
                afternoon = true;
                at += pm_.size();
            } else {
                return std::nullopt;
            }
            break;
        case Kind::Blank: {
            const qsizetype length = BlankLength(text, at);
            if (length == 0)
                return std::nullopt;
            at += length;
            while (const qsizetype more = BlankLength(text, at))
                at += more;
            break;
        }
        case Kind::Literal:
            if (text.size() - at < part.literal.size() || text.sliced(at, part.literal.size()) != part.literal)
                return std::nullopt;
            at += part.literal.size();
            break;
        }
    }
    if (at != text.size() || hour < 0 || minute > 59 || second > 59)
        return std::nullopt;
    if (twelveHours) {
        if (!afternoon || hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (*afternoon ? 12 : 0);
    } else if (hour > 23) {
        return std::nullopt;
    }
    return hour * 3600 + minute * 60 + second;
}
