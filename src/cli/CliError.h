#pragma once

// How a command of decimora-cli fails: CliError ends it with exit code 1 and its text as the one line
// on the error output; UsageError with exit code 2, the text and a usage line.

#include <QString>

#include <stdexcept>

class CliError : public std::runtime_error {
public:
    explicit CliError(const QString& text)
        : std::runtime_error(text.toStdString())
        , text_(text)
    {
    }
    const QString& text() const { return text_; }

private:
    QString text_;
};

class UsageError : public CliError {
public:
    using CliError::CliError;
};
