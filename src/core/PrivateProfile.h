#pragma once

// An INI file read and written the way Windows' private profile functions do it: section and key
// names compare without regard to letter case, a key that is missing or holds no whole number reads
// as its default, and writing a key leaves every other line of the file as it stood. Lines keep the
// file's own line ends (CR LF for a new file).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class PrivateProfile {
public:
    // An empty profile, as for a file that does not exist yet.
    PrivateProfile() = default;

    // The file's content; an empty profile when there is no such file. Nothing when the file exists
    // but cannot be read (error then holds the system's reason).
    static std::optional<PrivateProfile> load(const QString& path, QString* error = nullptr);

    // The value with blanks around it removed, and one pair of enclosing quotes.
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    // A decimal whole number that fits in 32 bits, optionally signed; anything else gives the default.
    std::int32_t readInt(const QString& section, const QString& key, std::int32_t defaultValue) const;

    // Replaces the key's value where it stands, or adds the key at the end of its section, or adds
    // the section at the end of the file.
    void writeString(const QString& section, const QString& key, const QString& value);

    // Writes the whole file through WholeFileWriter, so a crash or a full disk never leaves half a
    // file. False with the reason in error.
    bool save(const QString& path, QString* error = nullptr) const;

private:
    // Index of the section's header line; nothing when missing.
    std::optional<std::size_t> findSection(const QByteArray& section) const;
    // Index of the key's line inside the section starting at sectionLine.
    std::optional<std::size_t> findKey(std::size_t sectionLine, const QByteArray& key) const;
    std::optional<QByteArray> rawValue(const QString& section, const QString& key) const;

    std::vector<QByteArray> lines_;
    QByteArray lineEnd_ = "\r\n";
};
