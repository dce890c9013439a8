// The broker of "decimora-cli live --mqtt HOST[:PORT]", as the tool reads it before it takes a
// single reading. Whatever the text, the reader refuses it with a DecimoraError or gives a host
// without blanks or control characters and a port from 1 to 65535, which it reads back the same
// from the text it writes for the user.
#include "core/DecimoraError.h"
#include "mqtt/MqttBrokerAddress.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    MqttBrokerAddress address;
    try {
        address = ParseMqttBrokerAddress(text);
    } catch (const DecimoraError&) {
        return 0;
    }
    if (address.host.isEmpty() || address.port == 0)
        std::abort();
    for (const QChar c : address.host) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            std::abort();
    }
    const MqttBrokerAddress again = ParseMqttBrokerAddress(MqttBrokerAddressText(address));
    if (again.host != address.host || again.port != address.port)
        std::abort();
    return 0;
}
