#include "core/ProgramFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifndef DECIMORA_INSTALLED_DATA_FOLDER
#error "DECIMORA_INSTALLED_DATA_FOLDER: the installed data folder relative to the executable's folder"
#endif

namespace {

constexpr char FolderName[] = "decimora";

// The XDG base directory for variable, or its default under the home folder when the variable is unset
// or relative (the XDG rules say a relative path is to be ignored).
QString userFolder(const char* variable, const char* defaultUnderHome)
{
    QString base = qEnvironmentVariable(variable);
    if (!QDir::isAbsolutePath(base))
        base = QDir(QDir::homePath()).filePath(QString::fromLatin1(defaultUnderHome));
    return QDir(QDir::cleanPath(base)).filePath(QString::fromLatin1(FolderName));
}

// mkdir -p, each new level owner-only: the settings and the readings are the user's business.
bool makeFolder(const QString& path, QString* error)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString prefix;
    for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix += QLatin1Char('/') + part;
        if (QFileInfo(prefix).isDir())
            continue;
        if (::mkdir(QFile::encodeName(prefix).constData(), S_IRWXU) != 0 && errno != EEXIST) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(prefix, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

} // namespace

ProgramFolders::ProgramFolders(const QString& programFolder)
    : settings_(programFolder)
    , cache_(programFolder)
    , data_(programFolder)
    , resources_(programFolder)
{
}

ProgramFolders::ProgramFolders(QString settings, QString cache, QString data, QString resources, bool installed)
    : settings_(std::move(settings))
    , cache_(std::move(cache))
    , data_(std::move(data))
    , resources_(std::move(resources))
    , installed_(installed)
{
}

ProgramFolders ProgramFolders::forExecutable(const QString& executableFolder)
{
    const QString installedData
        = QDir::cleanPath(QDir(executableFolder).filePath(QStringLiteral(DECIMORA_INSTALLED_DATA_FOLDER)));
    const bool hasInstalledData = QFileInfo(installedData).isDir();
    // Root can write /usr/bin, so writability alone does not tell an installed copy from a build tree.
    if (!hasInstalledData && QFileInfo(executableFolder).isWritable())
        return ProgramFolders(executableFolder);
    return ProgramFolders(userFolder("XDG_CONFIG_HOME", ".config"), userFolder("XDG_CACHE_HOME", ".cache"),
        userFolder("XDG_DATA_HOME", ".local/share"), hasInstalledData ? installedData : executableFolder, true);
}

bool ProgramFolders::createWritableFolders(QString* error) const
{
    for (const QString* folder : { &settings_, &cache_, &data_ }) {
        if (!makeFolder(*folder, error))
            return false;
    }
    return true;
}
