#include "cli/TracingHidPlatform.h"

#include <QByteArray>

QByteArray TraceLine(char direction, const std::uint8_t* data, std::size_t length)
{
    static constexpr char Digits[] = "0123456789abcdef";
    QByteArray line = QByteArrayLiteral("trace: ");
    line.append(direction);
    for (std::size_t i = 0; i < length; ++i) {
        line.append(' ');
        line.append(Digits[data[i] >> 4]);
        line.append(Digits[data[i] & 0x0F]);
    }
    line.append('\n');
    return line;
}

namespace {

class TracingConnection final : public HidConnection {
public:
    TracingConnection(std::unique_ptr<HidConnection> inner, std::FILE* out)
        : inner_(std::move(inner))
        , out_(out)
    {
    }

    bool attributes(HidAttributes& out) override { return inner_->attributes(out); }
    bool reportLengths(HidReportLengths& out) override { return inner_->reportLengths(out); }
    bool write(const std::uint8_t* data, std::size_t length) override
    {
        // Traced before the write: a reply can come back before write() returns.
        trace('>', data, length);
        return inner_->write(data, length);
    }
    int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        const int result = inner_->read(buffer, length, timeoutMs);
        if (result > 0)
            trace('<', buffer, static_cast<std::size_t>(result));
        return result;
    }
    void cancel() override { inner_->cancel(); }

private:
    void trace(char direction, const std::uint8_t* data, std::size_t length)
    {
        const QByteArray line = TraceLine(direction, data, length);
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), out_);
        std::fflush(out_);
    }

    std::unique_ptr<HidConnection> inner_;
    std::FILE* out_;
};

} // namespace

TracingHidPlatform::TracingHidPlatform(HidPlatform& inner, std::FILE* out)
    : inner_(inner)
    , out_(out)
{
}

bool TracingHidPlatform::available() const
{
    return inner_.available();
}

std::vector<HidInterfaceInfo> TracingHidPlatform::scan()
{
    return inner_.scan();
}

std::unique_ptr<HidConnection> TracingHidPlatform::open(const QString& devicePath, HidAccess access)
{
    std::unique_ptr<HidConnection> connection = inner_.open(devicePath, access);
    if (!connection)
        return nullptr;
    return std::make_unique<TracingConnection>(std::move(connection), out_);
}

void TracingHidPlatform::setChangeListener(std::function<void()> listener)
{
    inner_.setChangeListener(std::move(listener));
}
