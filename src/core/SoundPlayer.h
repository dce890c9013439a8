#pragma once

#include <QString>

// Plays a sound file found by its bare name, asynchronously. A request made while one of the program's
// sounds is still playing is dropped; a missing file or a machine without audio output plays nothing
// and says nothing.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString& bareFileName) = 0;
};
