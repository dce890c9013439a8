#pragma once

// A module on the simulated meter with its database in a temporary folder, as the window benchmarks
// drive it: no dialogs, no sound, the real clock.

#include "core/Clock.h"
#include "core/NullServices.h"
#include "core/systemvar.h"
#include "desktop/ChosenPrinter.h"
#include "meter/SimulatedMeter.h"
#include "store/SqliteReadingStore.h"

#include <QTemporaryDir>

// Interaction answers the dialogs a benchmark meets; most meet none.
template <typename Interaction> struct BenchModuleWith {
    QTemporaryDir folder;
    Interaction ui;
    SystemClock clock;
    SilentSoundPlayer sound;
    SimulatedMeter meter;
    TForm6 module { ModuleServices { ui, clock, sound, meter, folder.path() },
        std::make_unique<SqliteReadingStore>(folder.filePath(QStringLiteral("Decimora.mdb"))) };
    // What the windows' graphs print on.
    ChosenPrinter printer;
};

using BenchModule = BenchModuleWith<NullUserInteraction>;
