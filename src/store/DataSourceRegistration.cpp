#include "store/DataSourceRegistration.h"

#include <QFile>

#include <odbcinst.h>

bool UnixOdbcIniWriter::write(const QString& section, const QString& key, const QString& value)
{
    // A user data source: writes go to the user's file, never to /etc/odbc.ini.
    if (!SQLSetConfigMode(ODBC_USER_DSN))
        return false;
    const QByteArray sectionBytes = QFile::encodeName(section);
    const QByteArray keyBytes = QFile::encodeName(key);
    const QByteArray valueBytes = QFile::encodeName(value);
    const bool written = SQLWritePrivateProfileString(
        sectionBytes.constData(), keyBytes.constData(), valueBytes.constData(), "ODBC.INI");
    SQLSetConfigMode(ODBC_BOTH_DSN);
    return written;
}

std::optional<DataSourceRegistrationMessage> RegisterDataSource(const QString& databasePath, OdbcIniWriter& writer)
{
    const QString name = QString::fromLatin1(DataSourceName);
    const QString driver = QString::fromLatin1(DataSourceDriver);
    if (!writer.write(QStringLiteral("ODBC Data Sources"), name, driver))
        return DataSourceRegistrationMessage {};

    // What the data source says on Windows that still means something to the SQLite driver: the
    // driver, the description and the database file. The Jet engine's settings (buffer sizes,
    // page time-outs, commit modes) and the read-only and exclusive switches (both off, which is
    // the SQLite driver's default) have no counterpart.
    const struct {
        const char* key;
        QString value;
    } values[] = {
        { "Driver", driver },
        { "Description", QString::fromLatin1(DataSourceDescription) },
        { "Database", databasePath },
    };
    for (const auto& value : values) {
        if (!writer.write(name, QString::fromLatin1(value.key), value.value))
            return DataSourceRegistrationMessage {
                QStringLiteral("Register file operation fail\rPlease check up your operation system"),
                QStringLiteral("Error Information"), MessageIcon::Error
            };
    }
    return std::nullopt;
}

std::optional<DataSourceRegistrationMessage> RegisterDataSource(const QString& databasePath)
{
    UnixOdbcIniWriter writer;
    return RegisterDataSource(databasePath, writer);
}
