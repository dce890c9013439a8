#pragma once

// Where the program's own files are: the one place that decides, so that no caller knows whether it
// runs from its build folder or as an installed copy.
//
// A copy run from a writable folder of its own (the build tree) keeps every file beside its
// executable, as it always has. An installed copy's folder belongs to the system (read-only for the
// user, and shared by every user even when root could write it), so there the files the program
// writes go to the user's XDG folders and the files it only reads come from the installed data folder
// (<prefix>/share/decimora, found relative to the executable so that an unpacked copy finds its own).

#include <QString>

class ProgramFolders {
public:
    // Every file in one folder: the build tree, or a test's temporary folder. Not explicit: a single
    // folder is a complete answer, and tests and tools hand the module just that.
    ProgramFolders(const QString& programFolder); // NOLINT(google-explicit-constructor)
    ProgramFolders(QString settings, QString cache, QString data, QString resources, bool installed);

    // The folders for the executable in executableFolder. An installed copy is one with its installed
    // data folder beside it, or one whose folder the user cannot write; its writable folders are
    // $XDG_CONFIG_HOME/decimora, $XDG_CACHE_HOME/decimora and $XDG_DATA_HOME/decimora (with the XDG
    // defaults under $HOME when those are unset).
    static ProgramFolders forExecutable(const QString& executableFolder);

    // The settings file Decimora.INI.
    const QString& settingsFolder() const { return settings_; }
    // The staging file AsciiDBF.TXT.
    const QString& cacheFolder() const { return cache_; }
    // Readings rescued after a copy that ended without its close.
    const QString& dataFolder() const { return data_; }
    // What the program only reads: the report definition, the help file, the alarm sounds.
    const QString& resourceFolder() const { return resources_; }
    bool installed() const { return installed_; }

    // Creates the writable folders that do not exist yet, owner-only as the XDG base directory rules
    // ask. False, with the folder and the system's reason in error, when one cannot be created.
    bool createWritableFolders(QString* error = nullptr) const;

private:
    QString settings_;
    QString cache_;
    QString data_;
    QString resources_;
    bool installed_ = false;
};
