#pragma once

#include "core/SoundPlayer.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>

class QSoundEffect;

// Plays the program's sound files with Qt Multimedia. A bare file name is looked up in the working
// directory, then in the given folder (main() hands it the resource folder of ProgramFolders).
// Playback is asynchronous; a request made while one of our sounds is still playing (or still
// loading to play) is dropped without interrupting it; a missing file plays nothing in its place; a
// machine without an audio output plays nothing and says nothing.
class QtSoundPlayer final : public QObject, public SoundPlayer {
    Q_OBJECT

public:
    explicit QtSoundPlayer(QString programFolder, QObject* parent = nullptr);
    ~QtSoundPlayer() override;

    void play(const QString& bareFileName) override;

    // The file a bare name stands for: in the working directory, else in the program folder; empty
    // when it is in neither.
    static QString FindSoundFile(const QString& bareFileName, const QString& programFolder);

private:
    bool ourSoundIsBusy() const;

    QString programFolder_;
    // One effect per file, kept so that a sound is decoded only once.
    std::map<QString, QSoundEffect*> effects_;
    QPointer<QSoundEffect> current_;
};
