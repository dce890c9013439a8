#pragma once

// The settings file "Decimora.INI" in the settings folder (see ProgramFolders): twelve keys of the section
// "Caldrix OPTIONS", loaded into the module's SystemSettings at start-up and written back at close.

class PrivateProfile;
struct SystemSettings;

inline constexpr char SettingsFileName[] = "Decimora.INI";
inline constexpr char SettingsSection[] = "Caldrix OPTIONS";
// The settings a first start begins with, shipped beside the report definition: without a settings
// file every key would take its load default, and both alarm levels would be 30 dB with the sound on.
inline constexpr char DefaultSettingsFileName[] = "Decimora-default.INI";

// Reads the twelve keys in the start-up's order, each with its default and load rule.
void LoadSettings(const PrivateProfile& profile, SystemSettings& settings);
// Writes the twelve keys in the close's order, each in its written form, changed or not.
void StoreSettings(const SystemSettings& settings, PrivateProfile& profile);
