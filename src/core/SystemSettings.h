#pragma once

// The settings the module holds and the settings file keeps (see SettingsFile).

#include <QString>

#include <cstdint>

struct SystemSettings {
    QString CompanyName;
    QString SerialPortName;
    std::int16_t MachineMode = 0;
    std::int16_t MeasureMode = 0;
    std::int32_t HalValue = 0;
    std::int32_t LalValue = 0;
    std::int32_t EmsValue = 0;
    std::int32_t SamplePeriod = 0;
    bool UnitCelsius = false;
    bool AlarmSoundOn = false;
    double SystemLowAlarm = 0.0;
    double SystemHighAlarm = 0.0;
    // True once the start-up has read the settings file; the close writes it back only then.
    bool SettingsLoaded = false;
};
