#pragma once

// "decimora-cli live --mqtt HOST --ha-remove": removes the Home Assistant sensors that --ha-discovery
// announced, without the meter.

#include "mqtt/MqttPublisher.h"

// Connects, publishes empty retained payloads on the sensors' discovery topics (Home Assistant then
// removes them), and leaves. Throws CliError when the broker cannot be reached within
// MqttSink::FlushAtEnd or refuses the login; the sensors stay then.
void RemoveHomeAssistantSensors(MqttPublisherOptions options);
