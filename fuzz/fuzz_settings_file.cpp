// The settings file as the start-up reads it: the INI reader, then the twelve keys into the module,
// then the close's write-back into the same profile.
#include "FuzzSupport.h"
#include "core/PrivateProfile.h"
#include "core/SettingsFile.h"
#include "core/SoundPlayer.h"
#include "core/UserInteraction.h"
#include "core/systemvar.h"
#include "meter/SimulatedMeter.h"

#include "core/Clock.h"

#include <cstdlib>

namespace {

class SilentSound final : public SoundPlayer {
public:
    void play(const QString&) override { }
};

// Reading and writing the settings asks the user nothing; a question here would be a fault the
// fuzzer must report, not a dialog waiting for an answer that never comes.
class NoQuestions final : public UserInteraction {
public:
    MessageAnswer showMessage(QWidget*, const QString&, const QString&, MessageButtons, MessageIcon) override
    {
        std::abort();
    }
    QString askSaveFileName(QWidget*, const FileDialogRequest&) override { std::abort(); }
    QString askOpenFileName(QWidget*, const FileDialogRequest&) override { std::abort(); }
    bool askPrinterSetup(QWidget*, QPrinter&) override { std::abort(); }
    ReportOutputChoice askReportOutput(QWidget*, const QString&, const QPrinter&) override { std::abort(); }
    void showPrintPreview(QWidget*, QPrinter&, const std::function<void(QPrinter&)>&) override { std::abort(); }
};

TForm6& Module()
{
    static NoQuestions ui;
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
