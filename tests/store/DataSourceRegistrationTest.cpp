#include "store/DataSourceRegistration.h"
#include "store/SqliteReadingStore.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <cstdio>

namespace {

// The ODBC configuration of this test process: a home folder, a user odbc.ini and a system folder
// of its own, all temporary, so the real user's and the machine's data sources are never touched.
// The system folder gets the machine's registration of the SQLite3 driver, as Debian installs it.
// Set once per process: unixODBC remembers the system folder after its first use.
class OdbcSandbox {
public:
    static OdbcSandbox& instance()
    {
        static OdbcSandbox sandbox;
        return sandbox;
    }

    QString userIni() const { return dir_.filePath(QStringLiteral("home/.odbc.ini")); }
    QString folder() const { return dir_.path(); }
    bool driverRegistered() const { return driverRegistered_; }

private:
    OdbcSandbox()
    {
        QDir(dir_.path()).mkpath(QStringLiteral("home"));
        QDir(dir_.path()).mkpath(QStringLiteral("system"));
        // popen rather than QProcess: QProcess starts its child through clone(), which the thread
        // sanitizer's runtime cannot follow (it aborts on a failed check of its own), and these tests
        // run under it too.
        QByteArray driver;
        int status = -1;
        if (FILE* query = popen((QByteArray("odbcinst -q -d -n ") + DataSourceDriver).constData(), "r")) {
            char buffer[512];
            std::size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof buffer, query)) > 0)
                driver.append(buffer, static_cast<qsizetype>(got));
            status = pclose(query);
        }
        driverRegistered_ = status == 0 && driver.contains("Driver=");
        QFile odbcinst(dir_.filePath(QStringLiteral("system/odbcinst.ini")));
        if (odbcinst.open(QIODevice::WriteOnly))
            odbcinst.write(driver);
        qputenv("HOME", dir_.filePath(QStringLiteral("home")).toLocal8Bit());
        qputenv("ODBCINI", userIni().toLocal8Bit());
        qputenv("ODBCSYSINI", dir_.filePath(QStringLiteral("system")).toLocal8Bit());
    }

    QTemporaryDir dir_;
    bool driverRegistered_ = false;
};

TEST(DataSourceRegistration, AnOdbcClientReadsTheProgramsTablesThroughTheNameDecimora)
{
    OdbcSandbox& sandbox = OdbcSandbox::instance();
    ASSERT_TRUE(sandbox.driverRegistered()) << "the SQLite3 ODBC driver (libsqliteodbc) is not registered";
    QTemporaryDir workDir;
    const QString dbPath = workDir.filePath(QStringLiteral("Decimora.mdb"));

    EXPECT_EQ(RegisterDataSource(dbPath), std::nullopt);
    SqliteReadingStore store(dbPath);
    store.meaData().appendRow({ "1", "65.3", "A", "14:30:15", "12/9/2026" });

    {
        QSqlDatabase client = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("odbc-client"));
        client.setDatabaseName(QString::fromLatin1(DataSourceName));
        ASSERT_TRUE(client.open()) << client.lastError().text().toStdString();
        {
            QSqlQuery query(client);
            ASSERT_TRUE(query.exec(QStringLiteral("SELECT RecNo, MeaValue, Weight FROM MeaData")))
                << query.lastError().text().toStdString();
            ASSERT_TRUE(query.next());
            EXPECT_EQ(query.value(0).toInt(), 1);
            EXPECT_EQ(query.value(1).toString(), "65.3");
            EXPECT_EQ(query.value(2).toString(), "A");
            EXPECT_FALSE(query.next());
        }
        client.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("odbc-client"));

    QFile ini(sandbox.userIni());
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString written = QString::fromLocal8Bit(ini.readAll());
    EXPECT_THAT(written.toStdString(), testing::HasSubstr("Zentrobasis Data Source"));
}

// Fails every write to one section.
class RefusingIniWriter final : public OdbcIniWriter {
public:
    explicit RefusingIniWriter(QString refusedSection)
        : refused_(std::move(refusedSection))
    {
    }
    bool write(const QString& section, const QString& key, const QString&) override
    {
        written << section + QLatin1Char('/') + key;
        return section != refused_;
    }
    QStringList written;

private:
    QString refused_;
};

TEST(DataSourceRegistration, AFailedWriteEndsTheRegistrationWithItsMessage)
{
    const struct {
        const char* refusedSection;
        const char* text;
        const char* caption;
        MessageIcon icon;
        int writesTried;
    } cases[] = {
        { "ODBC Data Sources", "", "", MessageIcon::None, 1 },
        { "Decimora", "Register file operation fail\rPlease check up your operation system", "Error Information",
            MessageIcon::Error, 2 },
    };
    for (const auto& c : cases) {
        RefusingIniWriter writer { QString::fromLatin1(c.refusedSection) };
        const auto message = RegisterDataSource(QStringLiteral("/work/Decimora.mdb"), writer);
        ASSERT_TRUE(message.has_value()) << c.refusedSection;
        EXPECT_EQ(message->text, c.text);
        EXPECT_EQ(message->caption, c.caption);
        EXPECT_EQ(message->icon, c.icon);
        EXPECT_EQ(writer.written.size(), c.writesTried);
    }
}

} // namespace
