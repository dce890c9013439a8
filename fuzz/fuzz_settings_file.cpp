// The settings file as the start-up reads it: the INI reader, then the twelve keys into the module,
// then the close's write-back into the same profile.
#include "FuzzSupport.h"
#include "PrivateProfile.h"
#include "SettingsFile.h"
#include "SimulatedMeter.h"
#include "SoundPlayer.h"
#include "UserInteraction.h"
#include "systemvar.h"

#include "Clock.h"

namespace {

class SilentSound final : public SoundPlayer {
public:
    void play(const QString&) override { }
};

TForm6& Module()
{
    static QtUserInteraction ui;
    static SystemClock clock;
    static SilentSound sound;
    static SimulatedMeter meter;
    static TForm6 module(ModuleServices { ui, clock, sound, meter, FuzzScratchFolder() }, nullptr);
    return module;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    EnsureFuzzApplication();
    const QString path = WriteScratchFile("Decimora.INI", data, size);
    std::optional<PrivateProfile> profile = PrivateProfile::load(path);
    if (!profile)
        return 0;
    TForm6& module = Module();
    LoadSettings(*profile, module);
    StoreSettings(module, *profile);
    return 0;
}
