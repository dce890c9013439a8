// Where the program's files go: the build tree keeps them beside the executable, an installed copy
// uses the user's XDG folders and its installed data folder. The environment is pointed at
// temporary folders, so no test touches the user's home.

#include "core/ProgramFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

// Sets environment variables (unsets them for nullopt) and puts the old values back.
class Environment {
public:
    explicit Environment(const std::map<QByteArray, std::optional<QString>>& values)
    {
        for (const auto& [name, value] : values) {
            before_[name] = qEnvironmentVariableIsSet(name.constData())
                ? std::optional<QByteArray>(qgetenv(name.constData()))
                : std::nullopt;
            if (value)
                qputenv(name.constData(), QFile::encodeName(*value));
            else
                qunsetenv(name.constData());
        }
    }
    ~Environment()
    {
        for (const auto& [name, value] : before_) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

private:
    std::map<QByteArray, std::optional<QByteArray>> before_;
};

TEST(ProgramFolders, TheBuildTreeKeepsEverythingBesideTheExecutableAnInstalledCopyUsesXdgAndItsDataFolder)
{
    QTemporaryDir root;
    const QString home = root.filePath("home");
    const QString buildTree = root.filePath("build/src/shell");
    const QString installedBin = root.filePath("usr/bin");
    const QString installedData = QDir::cleanPath(QDir(installedBin).filePath(DECIMORA_INSTALLED_DATA_FOLDER));
    for (const QString& folder : { home, buildTree, installedBin, installedData })
        ASSERT_TRUE(QDir().mkpath(folder));

    struct Case {
        const char* copy;
        QString executableFolder;
        // XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_DATA_HOME; unset when empty.
        QString configHome, cacheHome, dataHome;
        bool installed;
        QString settings, cache, data, resources;
    };
    const Case cases[] = {
        { "build tree", buildTree, root.filePath("cfg"), root.filePath("cch"), root.filePath("dat"), false, buildTree,
            buildTree, buildTree, buildTree },
        // Writable here as /usr/bin is for root: the data folder beside it makes it an installed copy.
        { "installed, XDG variables set", installedBin, root.filePath("cfg"), root.filePath("cch"),
            root.filePath("dat"), true, root.filePath("cfg/decimora"), root.filePath("cch/decimora"),
            root.filePath("dat/decimora"), installedData },
        { "installed, XDG variables unset", installedBin, {}, {}, {}, true, home + "/.config/decimora",
            home + "/.cache/decimora", home + "/.local/share/decimora", installedData },
        // The XDG rules say a relative path is to be ignored.
        { "installed, XDG variables relative", installedBin, "cfg", "cch", "dat", true, home + "/.config/decimora",
            home + "/.cache/decimora", home + "/.local/share/decimora", installedData },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copy);
        auto orUnset = [](const QString& value) { return value.isEmpty() ? std::nullopt : std::optional(value); };
        const Environment environment({ { "HOME", home }, { "XDG_CONFIG_HOME", orUnset(c.configHome) },
            { "XDG_CACHE_HOME", orUnset(c.cacheHome) }, { "XDG_DATA_HOME", orUnset(c.dataHome) } });

        const ProgramFolders folders = ProgramFolders::forExecutable(c.executableFolder);

        EXPECT_EQ(folders.installed(), c.installed);
        EXPECT_EQ(folders.settingsFolder(), c.settings);
        EXPECT_EQ(folders.cacheFolder(), c.cache);
        EXPECT_EQ(folders.dataFolder(), c.data);
        EXPECT_EQ(folders.resourceFolder(), c.resources);
    }
}

TEST(ProgramFolders, MissingWritableFoldersAreCreatedOwnerOnlyAndAFileInTheWayIsReported)
{
    QTemporaryDir root;
    const ProgramFolders folders(root.filePath("config/decimora"), root.filePath("cache/deeper/decimora"),
        root.filePath("share/decimora"), root.filePath("resources"), true);

    QString error;
    ASSERT_TRUE(folders.createWritableFolders(&error)) << error.toStdString();
    for (const char* created :
        { "config", "config/decimora", "cache", "cache/deeper", "cache/deeper/decimora", "share/decimora" }) {
        const QFileInfo folder(root.filePath(created));
        EXPECT_TRUE(folder.isDir()) << created;
        EXPECT_EQ(folder.permissions()
                & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
                    | QFile::ExeOther),
            QFile::Permissions())
            << created;
    }
    // What the program only reads is not its to create.
    EXPECT_FALSE(QFileInfo::exists(root.filePath("resources")));
    // Folders that exist already are left as they are.
    EXPECT_TRUE(folders.createWritableFolders(&error)) << error.toStdString();

    QFile blocker(root.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const ProgramFolders blocked(root.filePath("blocked/decimora"), root.filePath("cache/deeper/decimora"),
        root.filePath("share/decimora"), root.filePath("resources"), true);
    EXPECT_FALSE(blocked.createWritableFolders(&error));
    EXPECT_TRUE(error.startsWith(root.filePath("blocked/decimora") + ": ")) << error.toStdString();
}

} // namespace
