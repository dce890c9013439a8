#pragma once

// Registers the ODBC data source "Decimora" so that any ODBC client (isql, LibreOffice Base, a
// spreadsheet) reaches the program's tables by that name.

#include "core/UserInteraction.h"

#include <QString>

#include <optional>

inline constexpr char DataSourceName[] = "Decimora";
// The name under which Debian's libsqliteodbc registers its SQLite 3 driver in odbcinst.ini.
inline constexpr char DataSourceDriver[] = "SQLite3";
inline constexpr char DataSourceDescription[] = "Zentrobasis Data Source";

// Where the registration is written: one key of one section of the user's odbc.ini.
class OdbcIniWriter {
public:
    virtual ~OdbcIniWriter() = default;
    virtual bool write(const QString& section, const QString& key, const QString& value) = 0;
};

// The user's odbc.ini through unixODBC's installer library (~/.odbc.ini, or the file named by ODBCINI).
class UnixOdbcIniWriter final : public OdbcIniWriter {
public:
    bool write(const QString& section, const QString& key, const QString& value) override;
};

// The message box to show when the registration failed: text, caption, icon, an OK button, no owner.
struct DataSourceRegistrationMessage {
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
};

// Writes the user data source "Decimora" for the database file: its entry in "ODBC Data Sources",
// then its section with Driver, Description and Database. Returns nothing when written, else the
// message to show; the first failure ends the registration.
std::optional<DataSourceRegistrationMessage> RegisterDataSource(const QString& databasePath, OdbcIniWriter& writer);
std::optional<DataSourceRegistrationMessage> RegisterDataSource(const QString& databasePath);
