#pragma once

// The login and TLS options of "decimora-cli live --mqtt": the user, the password (from a file or the
// environment, never from the command line, where every user of the machine could read it in ps), the
// CA file that turns TLS on, and a client certificate.

#include "cli/CliOptions.h"
#include "mqtt/MqttPublisher.h"

#include <cstdint>

// The environment variable a password may come from when no --mqtt-password-file is given.
inline constexpr char MqttPasswordVariable[] = "DECIMORA_MQTT_PASSWORD";

// True when any of them is on the command line.
bool AnyMqttLoginOption(const ParsedCommand& command);

// The port the broker listens on when --mqtt names none: 8883 with TLS, 1883 without.
std::uint16_t DefaultMqttPortFor(const ParsedCommand& command);

// Fills the login and TLS of options. Throws UsageError for options that do not go together and
// CliError for a file that cannot be read.
void ReadMqttLogin(const ParsedCommand& command, MqttPublisherOptions& options);
