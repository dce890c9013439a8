#include "desktop/QtSoundPlayer.h"

#include <QAudioDevice>
#include <QDir>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

QtSoundPlayer::QtSoundPlayer(QString programFolder, QObject* parent)
    : QObject(parent)
    , programFolder_(std::move(programFolder))
{
}

QtSoundPlayer::~QtSoundPlayer() = default;

QString QtSoundPlayer::FindSoundFile(const QString& bareFileName, const QString& programFolder)
{
    if (bareFileName.isEmpty())
        return {};
    const QFileInfo inWorkingDirectory(QDir::current(), bareFileName);
    if (inWorkingDirectory.isFile())
        return inWorkingDirectory.absoluteFilePath();
    if (!programFolder.isEmpty()) {
        const QFileInfo inProgramFolder(QDir(programFolder), bareFileName);
        if (inProgramFolder.isFile())
            return inProgramFolder.absoluteFilePath();
    }
    return {};
}

bool QtSoundPlayer::ourSoundIsBusy() const
{
    // A sound asked for while its file still loads has not started playing yet, but it will.
    return current_ && (current_->isPlaying() || current_->status() == QSoundEffect::Loading);
}

void QtSoundPlayer::play(const QString& bareFileName)
{
    // Without an output QSoundEffect reports a sound as playing for ever, which would drop every
    // later request; there is nothing to hear anyway.
    if (QMediaDevices::audioOutputs().isEmpty())
        return;
    if (ourSoundIsBusy())
        return;
    const QString path = FindSoundFile(bareFileName, programFolder_);
    if (path.isEmpty())
        return;
    QSoundEffect*& effect = effects_[path];
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl::fromLocalFile(path));
    }
    if (effect->status() == QSoundEffect::Error)
        return;
    current_ = effect;
    effect->play();
}
