#pragma once

#include "core/systemvar.h"
#include "meter/SimulatedMeter.h"
#include "support/FakeServices.h"
#include "support/ScriptedUserInteraction.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>

// A module with scripted dialogs, a settable clock, recorded sounds, the simulated meter and a
// temporary program folder. The meter outlives the module, as the instrument outlives the program.
struct TestModule {
    explicit TestModule(std::unique_ptr<ReadingStore> store = nullptr);
    ~TestModule();

    TestModule(const TestModule&) = delete;
    TestModule& operator=(const TestModule&) = delete;

    // Runs the event loop until the condition holds or the time limit passes; returns the condition.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
    // Processes events until the first device scan has found the meter (or not).
    bool connect();

    QTemporaryDir folder;
    ScriptedUserInteraction ui;
    FakeClock clock;
    RecordingSoundPlayer sound;
    SimulatedMeter meter;
    std::unique_ptr<TForm6> module;
};
