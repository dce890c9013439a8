#include "core/SettingsFile.h"

#include "core/PrivateProfile.h"
#include "core/SystemSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// One key of the section as one load rule (with its default) reads it.
class KeyReader {
public:
    KeyReader(const PrivateProfile& profile, const char* key)
        : profile_(profile)
        , key_(QString::fromLatin1(key))
    {
    }
    QString text(const char* defaultValue) const
    {
        return profile_.readString(section(), key_, QString::fromLatin1(defaultValue));
    }
    std::int32_t integer(std::int32_t defaultValue) const { return profile_.readInt(section(), key_, defaultValue); }

private:
    static QString section() { return QString::fromLatin1(SettingsSection); }
    const PrivateProfile& profile_;
    QString key_;
};

// Values above 65280 are the meter's unsigned 16-bit form of a negative level.
std::int32_t signedLevel(std::int32_t value)
{
    return value > 65280 ? value - 65535 : value;
}

// Tenths of a dB in the file; the program holds no alarm level below 30.0 dB.
double alarmLevel(std::int32_t tenths)
{
    return std::max(tenths / 10.0, 30.0);
}

QString alarmText(double level)
{
    // The start-up reads the tenths back as a 32-bit number. A level typed far beyond that keeps the
    // nearest one the file can hold, rather than a conversion the language leaves undefined.
    const double tenths = std::clamp(std::trunc(level * 10.0), double(std::numeric_limits<std::int32_t>::min()),
        double(std::numeric_limits<std::int32_t>::max()));
    return QString::number(static_cast<std::int32_t>(tenths));
}

struct SettingRule {
    const char* key;
    void (*load)(const KeyReader& value, SystemSettings& settings);
    QString (*written)(const SystemSettings& settings);
};

// In the order the start-up reads them.
const SettingRule Rules[] = {
    { "COMPANY_NAME", [](const KeyReader& v, SystemSettings& m) { m.CompanyName = v.text(""); },
        [](const SystemSettings& m) { return m.CompanyName; } },
    { "SEARIAL_PORT", [](const KeyReader& v, SystemSettings& m) { m.SerialPortName = v.text("COM1"); },
        [](const SystemSettings& m) { return m.SerialPortName; } },
    { "MACHINE_MODE",
        [](const KeyReader& v, SystemSettings& m) {
            m.MachineMode = static_cast<std::int16_t>(v.integer(4));
            if (m.MachineMode > 4)
                m.MachineMode = 0;
        },
        [](const SystemSettings& m) { return QString::number(m.MachineMode); } },
    { "MEASURE_MODE",
        [](const KeyReader& v, SystemSettings& m) {
            m.MeasureMode = static_cast<std::int16_t>(v.integer(0));
            if (m.MeasureMode > 7)
                m.MeasureMode = 7;
        },
        [](const SystemSettings& m) { return QString::number(m.MeasureMode); } },
    { "HAL_VALUE", [](const KeyReader& v, SystemSettings& m) { m.HalValue = signedLevel(v.integer(365)); },
        [](const SystemSettings& m) { return QString::number(m.HalValue); } },
    { "LAL_VALUE", [](const KeyReader& v, SystemSettings& m) { m.LalValue = signedLevel(v.integer(300)); },
        [](const SystemSettings& m) { return QString::number(m.LalValue); } },
    { "EMS", [](const KeyReader& v, SystemSettings& m) { m.EmsValue = v.integer(95); },
        [](const SystemSettings& m) { return QString::number(m.EmsValue); } },
    { "SAMPLE_PERIOD", [](const KeyReader& v, SystemSettings& m) { m.SamplePeriod = std::min(v.integer(5), 9999); },
        [](const SystemSettings& m) { return QString::number(m.SamplePeriod); } },
    { "UNIT_CF", [](const KeyReader& v, SystemSettings& m) { m.UnitCelsius = v.integer(1) == 1; },
        [](const SystemSettings& m) { return QString::number(m.UnitCelsius ? 1 : 0); } },
    { "SYSTEMLAL", [](const KeyReader& v, SystemSettings& m) { m.SystemLowAlarm = alarmLevel(v.integer(0)); },
        [](const SystemSettings& m) { return alarmText(m.SystemLowAlarm); } },
    { "SYSTEMHAL", [](const KeyReader& v, SystemSettings& m) { m.SystemHighAlarm = alarmLevel(v.integer(0)); },
        [](const SystemSettings& m) { return alarmText(m.SystemHighAlarm); } },
    { "ALARMONOFF", [](const KeyReader& v, SystemSettings& m) { m.AlarmSoundOn = v.integer(1) == 1; },
        [](const SystemSettings& m) { return QString::number(m.AlarmSoundOn ? 1 : 0); } },
};

const char* const WriteOrder[] = { "COMPANY_NAME", "SEARIAL_PORT", "MACHINE_MODE", "MEASURE_MODE", "HAL_VALUE",
    "LAL_VALUE", "SYSTEMLAL", "SYSTEMHAL", "UNIT_CF", "ALARMONOFF", "EMS", "SAMPLE_PERIOD" };

const SettingRule& rule(const char* key)
{
    for (const SettingRule& r : Rules) {
        if (qstrcmp(r.key, key) == 0)
            return r;
    }
    Q_UNREACHABLE();
}

} // namespace

void LoadSettings(const PrivateProfile& profile, SystemSettings& settings)
{
    for (const SettingRule& r : Rules)
        r.load(KeyReader(profile, r.key), settings);
}

void StoreSettings(const SystemSettings& settings, PrivateProfile& profile)
{
    for (const char* key : WriteOrder)
        profile.writeString(
            QString::fromLatin1(SettingsSection), QString::fromLatin1(key), rule(key).written(settings));
}
