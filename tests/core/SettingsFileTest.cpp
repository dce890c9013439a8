#include "support/ScopedFileSizeLimit.h"
#include "support/TestFiles.h"
#include "support/TestModule.h"

#include <QDir>
#include <QFile>
#include <gmock/gmock.h>

#include <functional>
#include <map>

namespace {

using testing::HasSubstr;

class ModuleStartupTest : public testing::Test {
protected:
    TestModule test;
    TForm6& module = *test.module;

    QString inFolder(const char* name) const { return test.folder.filePath(QString::fromLatin1(name)); }
    QString settingsPath() const { return inFolder("Decimora.INI"); }
    void SetUp() override { writeFile(inFolder("Decimora_en.rav"), "report"); }
};

// How each setting reads back from the module, for the table below.
const std::map<QString, std::function<QString(const TForm6&)>> loaded {
    { "COMPANY_NAME", [](const TForm6& m) { return m.CompanyName; } },
    { "SEARIAL_PORT", [](const TForm6& m) { return m.SerialPortName; } },
    { "MACHINE_MODE", [](const TForm6& m) { return QString::number(m.MachineMode); } },
    { "MEASURE_MODE", [](const TForm6& m) { return QString::number(m.MeasureMode); } },
    { "HAL_VALUE", [](const TForm6& m) { return QString::number(m.HalValue); } },
    { "LAL_VALUE", [](const TForm6& m) { return QString::number(m.LalValue); } },
    { "EMS", [](const TForm6& m) { return QString::number(m.EmsValue); } },
    { "SAMPLE_PERIOD", [](const TForm6& m) { return QString::number(m.SamplePeriod); } },
    { "UNIT_CF", [](const TForm6& m) { return QString(m.UnitCelsius ? "true" : "false"); } },
    { "SYSTEMLAL", [](const TForm6& m) { return QString::number(m.SystemLowAlarm); } },
    { "SYSTEMHAL", [](const TForm6& m) { return QString::number(m.SystemHighAlarm); } },
    { "ALARMONOFF", [](const TForm6& m) { return QString(m.AlarmSoundOn ? "true" : "false"); } },
};

TEST(SettingsFile, EachKeyLoadsByItsRuleAndIsWrittenBackInItsForm)
{
    const struct {
        const char* key;
        const char* stored;
        const char* loaded;
        const char* written;
    } cases[] = {
        { "COMPANY_NAME", "Acme Noise Ltd", "Acme Noise Ltd", "Acme Noise Ltd" },
        { "SEARIAL_PORT", "COM3", "COM3", "COM3" },
        { "MACHINE_MODE", "5", "0", "0" },
        { "MACHINE_MODE", "-3", "-3", "-3" },
        { "MACHINE_MODE", "65539", "3", "3" },
        { "MEASURE_MODE", "12", "7", "7" },
        { "MEASURE_MODE", "65535", "-1", "-1" },
        { "HAL_VALUE", "65535", "0", "0" },
        { "HAL_VALUE", "65281", "-254", "-254" },
        { "HAL_VALUE", "65280", "65280", "65280" },
        { "LAL_VALUE", "65281", "-254", "-254" },
        { "EMS", "loud", "95", "95" },
        { "EMS", "12abc", "95", "95" },
        { "SAMPLE_PERIOD", "12000", "9999", "9999" },
        { "SAMPLE_PERIOD", "-4", "-4", "-4" },
        { "UNIT_CF", "1", "true", "1" },
        { "UNIT_CF", "2", "false", "0" },
        { "SYSTEMLAL", "250", "30", "300" },
        { "SYSTEMHAL", "905", "90.5", "905" },
        { "SYSTEMHAL", " 1203 ", "120.3", "1203" },
        { "ALARMONOFF", "7", "false", "0" },
        { "ALARMONOFF", "1", "true", "1" },
    };
    for (const auto& c : cases) {
        TestModule test;
        writeFile(test.folder.filePath("Decimora_en.rav"), "report");
        const QString settings = test.folder.filePath("Decimora.INI");
        writeFile(settings, QByteArray("[Caldrix OPTIONS]\r\n") + c.key + "=" + c.stored + "\r\n");

        test.module->FormCreate();
        EXPECT_EQ(loaded.at(c.key)(*test.module), c.loaded) << c.key << "=" << c.stored;
        test.module->FormClose();

        EXPECT_THAT(readFile(settings).toStdString(), HasSubstr(std::string("\r\n") + c.key + "=" + c.written + "\r\n"))
            << c.key << "=" << c.stored;
        EXPECT_TRUE(test.ui.messages.empty());
    }
}

TEST_F(ModuleStartupTest, AFileWithoutTheSectionLoadsTheDefaultsAndTheCloseAddsAllTwelveKeys)
{
    writeFile(settingsPath(), "[Other]\r\nKEY=1\r\n");

    module.FormCreate();
    std::map<QString, QString> values;
    for (const auto& [key, read] : loaded)
        values[key] = read(module);
    module.FormClose();

    EXPECT_EQ(values,
        (std::map<QString, QString> { { "COMPANY_NAME", "" }, { "SEARIAL_PORT", "COM1" }, { "MACHINE_MODE", "4" },
            { "MEASURE_MODE", "0" }, { "HAL_VALUE", "365" }, { "LAL_VALUE", "300" }, { "EMS", "95" },
            { "SAMPLE_PERIOD", "5" }, { "UNIT_CF", "true" }, { "SYSTEMLAL", "30" }, { "SYSTEMHAL", "30" },
            { "ALARMONOFF", "true" } }));
    EXPECT_EQ(readFile(settingsPath()),
        "[Other]\r\nKEY=1\r\n"
        "[Caldrix OPTIONS]\r\n"
        "COMPANY_NAME=\r\nSEARIAL_PORT=COM1\r\nMACHINE_MODE=4\r\nMEASURE_MODE=0\r\nHAL_VALUE=365\r\nLAL_VALUE=300\r\n"
        "SYSTEMLAL=300\r\nSYSTEMHAL=300\r\nUNIT_CF=1\r\nALARMONOFF=1\r\nEMS=95\r\nSAMPLE_PERIOD=5\r\n");
}

TEST_F(ModuleStartupTest, NamesMatchInAnyCaseAndEverythingElseInTheFileStaysAsItWas)
{
    writeFile(settingsPath(),
        "; written by hand\n"
        "[caldrix options]\n"
        "company_name = Acme\n"
        "Ems=80\n"
        "LAST_USER=ann\n"
        "\n"
        "[Printer]\n"
        "EMS=3\n");

    module.FormCreate();
    EXPECT_EQ(module.CompanyName, "Acme");
    EXPECT_EQ(module.EmsValue, 80);
    module.CompanyName = "Acme Acoustics";
    module.FormClose();

    EXPECT_EQ(readFile(settingsPath()),
        "; written by hand\n"
        "[caldrix options]\n"
        "company_name=Acme Acoustics\n"
        "Ems=80\n"
        "LAST_USER=ann\n"
        "SEARIAL_PORT=COM1\nMACHINE_MODE=4\nMEASURE_MODE=0\nHAL_VALUE=365\nLAL_VALUE=300\nSYSTEMLAL=300\n"
        "SYSTEMHAL=300\nUNIT_CF=1\nALARMONOFF=1\nSAMPLE_PERIOD=5\n"
        "\n"
        "[Printer]\n"
        "EMS=3\n");
}

TEST_F(ModuleStartupTest, ACompleteStartUpEnablesTheCommandsAndFindsTheReportInAnyCase)
{
    QFile::remove(inFolder("Decimora_en.rav"));
    writeFile(inFolder("DECIMORA_EN.RAV"), "report");

    module.FormCreate();

    EXPECT_TRUE(module.FormsReady);
    EXPECT_TRUE(module.MeasureCommandEnabled && module.SetupCommandEnabled && module.ImportCommandEnabled);
    EXPECT_TRUE(module.MeasureSaved);
    EXPECT_EQ(module.ReportProjectFile, inFolder("DECIMORA_EN.RAV"));
    EXPECT_TRUE(test.ui.messages.empty());
}

TEST(ModuleStartup, AStartUpThatStopsEarlyKeepsTheZeroedStateAndTheCloseLeavesTheFileAlone)
{
    const struct {
        const char* name;
        std::function<void(QDir)> breakIt;
        const char* message;
        bool reportSet;
    } cases[] = {
        { "no report definition", [](QDir folder) { folder.remove("Decimora_en.rav"); }, "decimora_en.rav Destroied",
            false },
        { "settings file unreadable",
            [](QDir folder) {
                folder.rename("Decimora.INI", "kept.INI");
                folder.mkdir("Decimora.INI");
            },
            "Decimora.INI  Destroied", true },
    };
    const QByteArray userSettings = "[Caldrix OPTIONS]\r\nCOMPANY_NAME=Acme\r\nSYSTEMHAL=905\r\n";
    for (const auto& c : cases) {
        TestModule test;
        const QDir folder(test.folder.path());
        writeFile(folder.filePath("Decimora_en.rav"), "report");
        writeFile(folder.filePath("Decimora.INI"), userSettings);
        c.breakIt(folder);

        test.module->FormCreate();

        ASSERT_EQ(test.ui.messages.size(), 1u) << c.name;
        EXPECT_EQ(test.ui.messages[0].text, c.message);
        EXPECT_EQ(test.ui.messages[0].caption, "");
        EXPECT_EQ(test.ui.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(test.module->LastErrorText, c.message);
        EXPECT_FALSE(test.module->FormsReady);
        EXPECT_FALSE(test.module->MeasureCommandEnabled || test.module->SetupCommandEnabled);
        EXPECT_EQ(test.module->CompanyName, "");
        EXPECT_EQ(test.module->SystemHighAlarm, 0.0);
        EXPECT_EQ(!test.module->ReportProjectFile.isEmpty(), c.reportSet) << c.name;

        test.module->FormClose();
        EXPECT_TRUE(test.module->SetupCommandEnabled);
        EXPECT_EQ(test.ui.messages.size(), 1u) << c.name;
        const QString kept = folder.exists("kept.INI") ? folder.filePath("kept.INI") : folder.filePath("Decimora.INI");
        EXPECT_EQ(readFile(kept), userSettings) << c.name;
    }
}

TEST_F(ModuleStartupTest, ACloseThatCannotWriteTheFileSaysSoAndLeavesTheOldFileWhole)
{
    const QByteArray userSettings = "[Caldrix OPTIONS]\r\nCOMPANY_NAME=Acme\r\n";
    writeFile(settingsPath(), userSettings);
    module.FormCreate();
    module.CompanyName = "A company name long enough to make the file outgrow the limit below";

    // A disk that is full after the first hundred bytes.
    {
        const ScopedFileSizeLimit fullDisk(100);
        module.FormClose();
    }

    ASSERT_EQ(test.ui.messages.size(), 1u);
    EXPECT_EQ(test.ui.messages[0].text, "The Decimora.INI file  have been damaged");
    EXPECT_EQ(test.ui.messages[0].caption, "File Error Information");
    EXPECT_EQ(test.ui.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(module.LastErrorCaption, "File Error Information");
    EXPECT_EQ(readFile(settingsPath()), userSettings);
    EXPECT_EQ(QDir(test.folder.path()).entryList({ "Decimora.INI*" }, QDir::Files), QStringList({ "Decimora.INI" }));
}

} // namespace
