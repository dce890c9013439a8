#pragma once

// A HID platform that passes everything to another one and writes every report sent to the meter and
// every report received from it, in hex, to the error output: "decimora-cli --trace". With the real
// meter that is what a bug report needs; with the simulated one a test sees the bytes on the wire.

#include "core/HidPlatform.h"

#include <cstdio>

class TracingHidPlatform final : public HidPlatform {
public:
    // Lines go to out, one fprintf per report, so that lines written by the read thread and the main
    // thread never mix.
    TracingHidPlatform(HidPlatform& inner, std::FILE* out);

    bool available() const override;
    std::vector<HidInterfaceInfo> scan() override;
    std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) override;
    void setChangeListener(std::function<void()> listener) override;

private:
    HidPlatform& inner_;
    std::FILE* out_;
};

// "trace: > 00 b3 00 00 00 00 00 00 00": direction ('>' sent, '<' received) and the bytes in hex.
QByteArray TraceLine(char direction, const std::uint8_t* data, std::size_t length);
