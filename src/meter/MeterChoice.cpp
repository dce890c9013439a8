#include "meter/MeterChoice.h"

#include "hid/HidPlatformLinux.h"
#include "meter/SimulatedMeter.h"

MeterPlatform MakeMeterPlatform(const MeterChoice& choice)
{
    if (!choice.simulate)
        return { std::make_unique<LinuxHidPlatform>(), nullptr };
    auto meter = std::make_unique<SimulatedMeter>();
    if (choice.loggedMemory)
        meter->setLoggedMemory(*choice.loggedMemory);
    meter->setSerialNumber(choice.serialNumber);
    SimulatedMeter* simulated = meter.get();
    return { std::move(meter), simulated };
}

QStringList WithMeterFileAfterEqualsOnly(QStringList arguments)
{
    for (QString& argument : arguments) {
        if (argument == QLatin1String("--simulate-meter"))
            argument += QLatin1Char('=');
    }
    return arguments;
}
