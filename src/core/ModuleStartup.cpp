// The module's start-up (settings file, tables) and close (settings file written back).

#include "core/PrivateProfile.h"
#include "core/SettingsFile.h"
#include "core/systemvar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr char ReportFileName[] = "decimora_en.rav";
// The spelling the program ships the report definition under.
constexpr char ShippedReportFileName[] = "Decimora_en.rav";

// The report definition in the folder, whatever the case of its name (the name has been spelt both
// ways, and Linux file names are case-sensitive). Empty when there is none.
QString findReportFile(const QString& folder)
{
    const QDir dir(folder);
    QString found;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.compare(QLatin1String(ReportFileName), Qt::CaseInsensitive) != 0)
            continue;
        if (found.isEmpty() || name == QLatin1String(ShippedReportFileName))
            found = dir.filePath(name);
    }
    return found;
}

QString settingsPath(const QString& folder)
{
    return QDir(folder).filePath(QString::fromLatin1(SettingsFileName));
}

// A first start: the shipped default settings become the user's settings file, read by the same
// rules as any other. Nothing happens when the user has a settings file or none is shipped; a copy
// that fails leaves no file, and the keys then take their load defaults.
void InstallDefaultSettings(const ProgramFolders& folders)
{
    const QString settings = settingsPath(folders.settingsFolder());
    const QString shipped = QDir(folders.resourceFolder()).filePath(QString::fromLatin1(DefaultSettingsFileName));
    if (QFileInfo::exists(settings) || !QFileInfo::exists(shipped))
        return;
    if (QFile::copy(shipped, settings)) {
        // The shipped file is read-only where it is installed; the user's own copy is theirs to change.
        QFile::setPermissions(settings, QFile::permissions(settings) | QFileDevice::WriteOwner);
    }
}

} // namespace

void TForm6::FormCreate()
{
    FormsReady = false;
    MeterDevice = nullptr;
    DeviceList.clear();
    MeasureWindowHandle = nullptr;
    ImportWindowHandle = nullptr;
    AnalysisWindowHandle = nullptr;

    const QString reportFile = findReportFile(Folders().resourceFolder());
    if (reportFile.isEmpty()) {
        ShowMessageBox(QStringLiteral("decimora_en.rav Destroied"), QString(), MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    ReportProjectFile = reportFile;

    InstallDefaultSettings(Folders());
    const std::optional<PrivateProfile> settings = PrivateProfile::load(settingsPath(Folders().settingsFolder()));
    if (!settings) {
        ShowMessageBox(QStringLiteral("Decimora.INI  Destroied"), QString(), MessageButtons::Ok, MessageIcon::Error);
        return;
    }
    LoadSettings(*settings, *this);
    SettingsLoaded = true;

    MeasureCommandEnabled = true;
    SetupCommandEnabled = true;
    ImportCommandEnabled = true;
    MeasureSaved = true;

    for (ReadingTable* table : { MeaData, GetRecorde, LoadData }) {
        if (!table)
            continue;
        table->close();
        if (!KeepReadingTables || table == LoadData)
            table->empty();
        table->open();
    }

    FormsReady = true;
}

void TForm6::FormClose()
{
    SetupCommandEnabled = true;
    MeterDevice = nullptr;
    DeviceList.clear();

    // A start-up that stopped before reading the settings holds zeroes, not the user's settings.
    if (!SettingsLoaded)
        return;

    const QString path = settingsPath(Folders().settingsFolder());
    std::optional<PrivateProfile> settings = PrivateProfile::load(path);
    if (settings) {
        StoreSettings(*this, *settings);
        if (settings->save(path))
            return;
    }
    ShowMessageBox(QStringLiteral("The Decimora.INI file  have been damaged"), QStringLiteral("File Error Information"),
        MessageButtons::Ok, MessageIcon::Error);
}
