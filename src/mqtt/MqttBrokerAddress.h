#pragma once

// Where the live readings go: the broker named on the command line as HOST, HOST:PORT or [IPv6]:PORT.

#include <QString>

#include <cstdint>

inline constexpr std::uint16_t DefaultMqttPort = 1883;
inline constexpr std::uint16_t DefaultMqttTlsPort = 8883;

struct MqttBrokerAddress {
    QString host; // a name, an IPv4 address or an IPv6 address without its brackets
    std::uint16_t port = DefaultMqttPort;
};

// Reads "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; without a port, defaultPort. A text that names
// no usable broker throws DecimoraError with a message that quotes the text and says what is expected,
// so the tool can refuse before it takes a single reading. A login in the address ("user:pass@host")
// is refused without quoting what comes before the "@": it may hold a password.
MqttBrokerAddress ParseMqttBrokerAddress(const QString& text, std::uint16_t defaultPort = DefaultMqttPort);

// The address as the user would write it again: "[::1]:1883", "broker.local:1883".
QString MqttBrokerAddressText(const MqttBrokerAddress& address);
