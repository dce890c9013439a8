#pragma once

#include <QString>

#include <stdexcept>

// A failure the user is told about: the database, a data file, the meter's device. The text is the
// message as the box shows it, kept as a QString so that file names and the system's own words
// reach the user unchanged, whatever the locale.
class DecimoraError : public std::runtime_error {
public:
    explicit DecimoraError(const QString& text)
        : std::runtime_error(text.toStdString())
        , text_(text)
    {
    }

    const QString& text() const { return text_; }

private:
    QString text_;
};

// The text of any exception for a message box: ours carry their QString, the standard library's
// carry UTF-8.
inline QString ErrorText(const std::exception& error)
{
    if (const auto* ours = dynamic_cast<const DecimoraError*>(&error))
        return ours->text();
    return QString::fromUtf8(error.what());
}
