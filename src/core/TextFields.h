#pragma once

// Fields of the program's own text files (settings file, data files, staging file).

#include <QByteArrayView>

#include <charconv>
#include <optional>

// The field without the blanks and tabs around it. Other white space is part of the field.
inline QByteArrayView trimBlanks(QByteArrayView field)
{
    qsizetype first = 0;
    qsizetype last = field.size();
    while (first < last && (field[first] == ' ' || field[first] == '\t'))
        ++first;
    while (last > first && (field[last - 1] == ' ' || field[last - 1] == '\t'))
        --last;
    return field.sliced(first, last - first);
}

// The whole number of a text of digits with an optional "+" or "-" in front; nothing for anything
// else, an empty text and a number outside Integer included.
template <typename Integer> std::optional<Integer> wholeNumber(QByteArrayView text)
{
    if (text.startsWith('+'))
        text = text.sliced(1);
    Integer value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.isEmpty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}
