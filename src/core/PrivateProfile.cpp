#include "core/PrivateProfile.h"

#include "core/TextFields.h"
#include "core/WholeFileWriter.h"

#include <QByteArrayView>
#include <QFile>
#include <QStringDecoder>

namespace {

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The name of a "[name]" line; nothing for other lines.
std::optional<QByteArrayView> sectionName(QByteArrayView line)
{
    const QByteArrayView text = trimBlanks(line);
    if (!text.startsWith('['))
        return std::nullopt;
    const qsizetype close = text.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimBlanks(text.sliced(1, close - 1));
}

// The key of a "key=value" line; nothing for comments and other lines.
std::optional<QByteArrayView> keyName(QByteArrayView line)
{
    const QByteArrayView text = trimBlanks(line);
    if (text.startsWith(';'))
        return std::nullopt;
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    return trimBlanks(text.first(equals));
}

// The file's bytes as UTF-8 when they are, else as the single-byte text of an older file.
QString decode(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

} // namespace

std::optional<PrivateProfile> PrivateProfile::load(const QString& path, QString* error)
{
    PrivateProfile profile;
    QFile file(path);
    if (!file.exists())
        return profile;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    if (!content.isEmpty() && !content.contains("\r\n") && content.contains('\n'))
        profile.lineEnd_ = "\n";
    QByteArrayView rest(content);
    while (!rest.isEmpty()) {
        const qsizetype newline = rest.indexOf('\n');
        QByteArrayView line = newline < 0 ? rest : rest.first(newline);
        rest = newline < 0 ? QByteArrayView() : rest.sliced(newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        profile.lines_.emplace_back(line.toByteArray());
    }
    return profile;
}

std::optional<std::size_t> PrivateProfile::findSection(const QByteArray& section) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = sectionName(lines_[i]);
        if (name && sameName(*name, section))
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> PrivateProfile::findKey(std::size_t sectionLine, const QByteArray& key) const
{
    for (std::size_t i = sectionLine + 1; i < lines_.size() && !sectionName(lines_[i]); ++i) {
        const auto name = keyName(lines_[i]);
        if (name && sameName(*name, key))
            return i;
    }
    return std::nullopt;
}

std::optional<QByteArray> PrivateProfile::rawValue(const QString& section, const QString& key) const
{
    const auto sectionLine = findSection(section.toUtf8());
    if (!sectionLine)
        return std::nullopt;
    const auto keyLine = findKey(*sectionLine, key.toUtf8());
    if (!keyLine)
        return std::nullopt;
    const QByteArray& line = lines_[*keyLine];
    QByteArrayView value = trimBlanks(QByteArrayView(line).sliced(line.indexOf('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return value.toByteArray();
}

QString PrivateProfile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const auto value = rawValue(section, key);
    return value ? decode(*value) : defaultValue;
}

std::int32_t PrivateProfile::readInt(const QString& section, const QString& key, std::int32_t defaultValue) const
{
    const auto value = rawValue(section, key);
    if (!value)
        return defaultValue;
    return wholeNumber<std::int32_t>(*value).value_or(defaultValue);
}

void PrivateProfile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    const QByteArray line = keyBytes + '=' + value.toUtf8();
    const auto sectionLine = findSection(sectionBytes);
    if (!sectionLine) {
        lines_.push_back('[' + sectionBytes + ']');
        lines_.push_back(line);
        return;
    }
    if (const auto keyLine = findKey(*sectionLine, keyBytes)) {
        // Keep the key as the file spells it.
        const QByteArray& old = lines_[*keyLine];
        lines_[*keyLine] = trimBlanks(QByteArrayView(old).first(old.indexOf('='))).toByteArray() + '=' + value.toUtf8();
        return;
    }
    // After the section's last entry, before the blank lines that separate it from the next one.
    std::size_t insertAt = *sectionLine + 1;
    for (std::size_t i = *sectionLine + 1; i < lines_.size() && !sectionName(lines_[i]); ++i) {
        if (!trimBlanks(lines_[i]).isEmpty())
            insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + std::ptrdiff_t(insertAt), line);
}

bool PrivateProfile::save(const QString& path, QString* error) const
{
    QByteArray content;
    for (const QByteArray& line : lines_)
        content += line + lineEnd_;
    try {
        WholeFileWriter file(path);
        file.writeAll(content);
        file.commit();
        return true;
    } catch (const FileWriteError& failure) {
        if (error)
            *error = failure.text();
        return false;
    }
}
