#include "meter/SimulatedMeter.h"

#include "core/MeterMemoryDecoder.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace {
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint8_t HeaderMark = 0xFD;
constexpr std::uint8_t EndMark = 0xFF;
constexpr std::uint16_t OtherVendorId = 0x046D;
constexpr std::uint16_t OtherProductId = 0xC31C;

std::uint8_t Bcd(int value)
{
    return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10));
}
int FromBcd(std::uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0F);
}
} // namespace

std::vector<std::uint8_t> EncodeLoggedMemory(const std::vector<LoggedRun>& runs)
{
    std::vector<std::uint8_t> memory;
    for (const LoggedRun& run : runs) {
        const QDate date = run.start.date();
        const QTime time = run.start.time();
        memory.insert(memory.end(),
            { HeaderMark, run.statusFlags, Bcd(time.second()), Bcd(time.minute()), Bcd(time.hour()), Bcd(date.day()),
                Bcd(date.month()), Bcd(date.year() % 100), run.intervalSeconds });
        for (std::size_t i = 0; i < run.readings.size(); i += 2) {
            const auto first = static_cast<std::uint32_t>(run.readings[i] & 0x7FF);
            const auto second = static_cast<std::uint32_t>(
                (i + 1 < run.readings.size() ? run.readings[i + 1] : run.readings[i]) & 0xFFF);
            const std::uint32_t word = (first << 13) | (second << 1);
            memory.insert(memory.end(),
                { static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 8),
                    static_cast<std::uint8_t>(word) });
        }
    }
    memory.push_back(EndMark);
    return memory;
}

namespace {

// A meter's memory begins with a run's header and a dump of it ends with the download's end mark; an
// empty memory is the end mark alone. Anything else (a data file, a picture) would "download" as
// nonsense readings.
bool HasTheShapeOfLoggedMemory(const QByteArray& bytes)
{
    if (bytes.isEmpty() || std::uint8_t(bytes.back()) != EndMark)
        return false;
    return bytes.size() == 1 || std::uint8_t(bytes.front()) == MeterMemoryDecoder::HeaderMark;
}

} // namespace

std::optional<std::vector<std::uint8_t>> ReadLoggedMemoryFile(const QString& path, QString* error)
{
    // Far beyond any meter's memory: a larger file is something else (a device, a disk image).
    constexpr qint64 LargestMemory = qint64(64) << 20;
    QFile file(path);
    QString reason;
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
    } else {
        const QByteArray bytes = file.read(LargestMemory + 1);
        if (bytes.size() > LargestMemory)
            reason = QStringLiteral("it is larger than a meter's memory can be");
        else if (file.error() != QFileDevice::NoError)
            reason = file.errorString();
        else if (!HasTheShapeOfLoggedMemory(bytes))
            reason = QStringLiteral("it is not a dump of a meter's memory, which starts with a run header (0xFD) "
                                    "and ends with the end mark (0xFF)");
        else
            return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    }
    if (error)
        *error = QStringLiteral("Cannot read the meter memory file %1: %2").arg(path, reason);
    return std::nullopt;
}

namespace {

// How a place sounds over one run: a background the level drifts around (lower towards the middle
// of the run by swing dB, as a night does), and now and then a louder event that dies away.
struct NoiseShape {
    double background;
    double spread;
    double swing;
    double eventChance;
    double eventRise;
};

std::vector<int> NoiseRecord(std::mt19937& random, int count, const NoiseShape& shape)
{
    constexpr double Pi = 3.14159265358979323846;
    std::normal_distribution<double> jitter(0.0, shape.spread);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::vector<int> tenths;
    tenths.reserve(static_cast<std::size_t>(count));
    double level = shape.background;
    double event = 0.0;
    for (int i = 0; i < count; ++i) {
        const double target = shape.background - shape.swing * std::sin(Pi * i / count);
        level += 0.2 * (target - level) + jitter(random);
        event *= 0.7;
        if (chance(random) < shape.eventChance)
            event = shape.eventRise * (0.6 + 0.4 * chance(random));
        tenths.push_back(static_cast<int>(std::lround(std::clamp(level + event, 30.0, 130.0) * 10.0)));
    }
    return tenths;
}

} // namespace

std::vector<LoggedRun> DefaultLoggedRuns(const QDateTime& now)
{
    // The header keeps two digits of the year; a clock outside the meter's century gets a fixed day.
    QDate night = now.date().addDays(-2);
    if (night.year() < 2001 || night.year() > 2099)
        night = QDate(2024, 6, 12);

    std::mt19937 random(20061205);
    LoggedRun lesson;
    lesson.statusFlags = 0x40; // 30-130 dB, fast, A weighting
    lesson.start = QDateTime(night.addDays(-2), QTime(10, 15));
    lesson.intervalSeconds = 1;
    lesson.readings = NoiseRecord(random, 1800, { 58.0, 1.5, 0.0, 0.10, 12.0 });

    LoggedRun workSite;
    workSite.statusFlags = 0x14; // 80-130 dB, slow, C weighting
    workSite.start = QDateTime(night.addDays(-1), QTime(7, 30));
    workSite.intervalSeconds = 10;
    workSite.readings = NoiseRecord(random, 720, { 90.0, 1.5, 0.0, 0.06, 9.0 });

    LoggedRun road;
    road.statusFlags = 0x01; // 30-80 dB, slow, A weighting
    road.start = QDateTime(night, QTime(22, 0));
    road.intervalSeconds = 60;
    road.readings = NoiseRecord(random, 600, { 44.0, 0.8, 7.0, 0.04, 16.0 });

    return { lesson, workSite, road };
}

// ---------------------------------------------------------------------------------------------------

struct ReadQueue {
    struct Pending {
        SteadyClock::time_point due;
        std::vector<std::uint8_t> bytes;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending> reports;
    bool closed = false;

    void close()
    {
        {
            std::lock_guard lock(mutex);
            closed = true;
        }
        changed.notify_all();
    }
};

struct SimulatedMeter::Device {
    QString path;
    std::uint32_t instance = 0;
    HidAttributes attributes;
    QString serialNumber;
    bool pluggedIn = true;
    std::vector<std::weak_ptr<ReadQueue>> readers;
};

class SimulatedMeter::Connection final : public HidConnection {
public:
    Connection(SimulatedMeter& meter, std::shared_ptr<Device> device, HidAccess access)
        : meter_(meter)
        , device_(std::move(device))
        , access_(access)
        , queue_(std::make_shared<ReadQueue>())
    {
        if (access_ == HidAccess::Read || access_ == HidAccess::ReadWrite)
            device_->readers.push_back(queue_);
    }
    ~Connection() override { queue_->close(); }

    bool attributes(HidAttributes& out) override
    {
        out = device_->attributes;
        return true;
    }
    bool reportLengths(HidReportLengths& out) override
    {
        out = { ReportLength, ReportLength };
        return true;
    }
    bool write(const std::uint8_t* data, std::size_t length) override
    {
        if (access_ != HidAccess::ReadWrite && access_ != HidAccess::Write)
            return false;
        {
            std::lock_guard lock(meter_.mutex_);
            if (!device_->pluggedIn || meter_.writeFails_ || length == 0)
                return false;
            if (device_ != meter_.meter_ || !meter_.cablePulledBefore(data, length)) {
                meter_.written_.emplace_back(data, data + length);
                if (device_ == meter_.meter_) {
                    std::vector<std::uint8_t> reply = meter_.answer(data, length);
                    if (!reply.empty() && !meter_.noReply_)
                        meter_.deliver(*device_, std::move(reply));
                }
                return true;
            }
        }
        // Outside the lock: unplugging takes it and tells the listener.
        meter_.unplug();
        return false;
    }
    int read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock lock(queue_->mutex);
        for (;;) {
            if (queue_->closed)
                return -1;
            const auto now = SteadyClock::now();
            if (!queue_->reports.empty() && queue_->reports.front().due <= now) {
                const std::vector<std::uint8_t> bytes = std::move(queue_->reports.front().bytes);
                queue_->reports.pop_front();
                const std::size_t count = std::min(length, bytes.size());
                std::copy_n(bytes.begin(), count, buffer);
                return static_cast<int>(count);
            }
            if (now >= deadline)
                return 0;
            auto wakeAt = deadline;
            if (!queue_->reports.empty())
                wakeAt = std::min(wakeAt, queue_->reports.front().due);
            queue_->changed.wait_until(lock, wakeAt);
        }
    }
    void cancel() override { queue_->close(); }

private:
    SimulatedMeter& meter_;
    std::shared_ptr<Device> device_;
    HidAccess access_;
    std::shared_ptr<ReadQueue> queue_;
};

// ---------------------------------------------------------------------------------------------------

SimulatedMeter::SimulatedMeter(QObject* parent)
    : QObject(parent)
    , memory_(EncodeLoggedMemory(DefaultLoggedRuns(QDateTime::currentDateTime())))
{
    plug();
}

SimulatedMeter::~SimulatedMeter() = default;

std::vector<HidInterfaceInfo> SimulatedMeter::scan()
{
    std::lock_guard lock(mutex_);
    std::vector<HidInterfaceInfo> found;
    for (const auto& device : { other_, meter_ })
        if (device && device->pluggedIn)
            found.push_back({ device->path, device->instance, device->serialNumber,
                device == meter_ ? QLatin1String(Location) : QString() });
    return found;
}

std::shared_ptr<SimulatedMeter::Device> SimulatedMeter::findDevice(const QString& path) const
{
    for (const auto& device : { meter_, other_ })
        if (device && device->pluggedIn && device->path == path)
            return device;
    return nullptr;
}

std::unique_ptr<HidConnection> SimulatedMeter::open(const QString& devicePath, HidAccess access)
{
    std::lock_guard lock(mutex_);
    std::shared_ptr<Device> device = findDevice(devicePath);
    if (!device)
        return nullptr;
    if (device == meter_ && accessDenied_ && access != HidAccess::None)
        return nullptr;
    return std::make_unique<Connection>(*this, device, access);
}

void SimulatedMeter::setChangeListener(std::function<void()> listener)
{
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void SimulatedMeter::notifyChange()
{
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    if (listener)
        listener();
}

void SimulatedMeter::deliver(Device& device, std::vector<std::uint8_t> reply)
{
    // Like the hidraw driver, every open handle gets its own copy of each input report, and a handle
    // nobody reads (the one the program writes through) keeps only the latest 64, as the driver's
    // buffer per open file does; keeping them all grew the memory with every reading of a long run.
    constexpr std::size_t KeptUnreadReports = 64;
    reply.resize(ReportLength, 0);
    const auto due = SteadyClock::now() + latency_;
    for (const auto& weak : device.readers) {
        if (const auto queue = weak.lock()) {
            {
                std::lock_guard lock(queue->mutex);
                if (queue->reports.size() >= KeptUnreadReports)
                    queue->reports.pop_front();
                queue->reports.push_back({ due, reply });
            }
            queue->changed.notify_all();
        }
    }
    std::erase_if(device.readers, [](const auto& weak) { return weak.expired(); });
}

int SimulatedMeter::nextLevel()
{
    if (!queuedReadings_.empty()) {
        const int next = queuedReadings_.front();
        queuedReadings_.pop_front();
        return next;
    }
    // Room noise drifting around 55 dB with now and then a louder event.
    std::normal_distribution<double> jitter(0.0, 1.2);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    level_ += 0.15 * (55.0 - level_) + jitter(random_);
    if (chance(random_) < 0.03)
        level_ += 12.0 + 10.0 * chance(random_);
    level_ = std::clamp(level_, 32.0, 118.0);
    const double weighted = level_ + ((status_ & 0x10) ? 2.5 : 0.0);
    return static_cast<int>(std::lround(weighted * 10.0));
}

std::vector<std::uint8_t> SimulatedMeter::answer(const std::uint8_t* report, std::size_t length)
{
    if (length < 2)
        return {};
    switch (report[1]) {
    case 0xB3: {
        int level = std::clamp(nextLevel(), 0, 0xFFFF);
        if (!rawStatus_ && (status_ & 0x20)) {
            maxHeld_ = std::max(maxHeld_, level);
            level = maxHeld_;
        }
        return { 0, static_cast<std::uint8_t>(level >> 8), static_cast<std::uint8_t>(level & 0xFF), status_ };
    }
    case 0xB5:
        memoryPos_ = 0;
        blocksAnswered_ = 0;
        return { 0, downloadReplyByte_ };
    case 0xC4: {
        if (silentAfterBlocks_ >= 0 && blocksAnswered_ >= silentAfterBlocks_)
            return {};
        ++blocksAnswered_;
        std::vector<std::uint8_t> reply { 0 };
        for (int i = 0; i < 8; ++i, ++memoryPos_)
            reply.push_back(memoryPos_ < memory_.size() ? memory_[memoryPos_] : EndMark);
        return reply;
    }
    case 0x7C:
        if (length >= 8) {
            const QDateTime set(QDate(2000 + FromBcd(report[7]), FromBcd(report[6]), FromBcd(report[5])),
                QTime(FromBcd(report[4]), FromBcd(report[3]), FromBcd(report[2])));
            if (set.isValid())
                clockOffsetSeconds_ = QDateTime::currentDateTime().secsTo(set);
        }
        return {};
    case 0x56:
        if (length >= 3) {
            status_ = report[2] & 0x7F;
            rawStatus_ = false;
            maxHeld_ = 0;
        }
        return {};
    default:
        return {};
    }
}

bool SimulatedMeter::cablePulledBefore(const std::uint8_t* report, std::size_t length)
{
    if (length < 2 || report[1] != 0xC4 || unpluggedAfterBlocks_ < 0 || blocksAnswered_ < unpluggedAfterBlocks_)
        return false;
    unpluggedAfterBlocks_ = -1;
    return true;
}

void SimulatedMeter::queueReadings(const std::vector<int>& tenths)
{
    std::lock_guard lock(mutex_);
    queuedReadings_.insert(queuedReadings_.end(), tenths.begin(), tenths.end());
}

void SimulatedMeter::setRangeCode(int code)
{
    std::lock_guard lock(mutex_);
    status_ = static_cast<std::uint8_t>((status_ & 0xF0) | (code & 0x0F));
    rawStatus_ = false;
}

namespace {
std::uint8_t WithBit(std::uint8_t status, std::uint8_t bit, bool on)
{
    return static_cast<std::uint8_t>(on ? (status | bit) : (status & ~bit));
}
} // namespace

void SimulatedMeter::setCWeighting(bool on)
{
    std::lock_guard lock(mutex_);
    status_ = WithBit(status_, 0x10, on);
}

void SimulatedMeter::setFast(bool on)
{
    std::lock_guard lock(mutex_);
    status_ = WithBit(status_, 0x40, on);
}

void SimulatedMeter::setMaxHold(bool on)
{
    std::lock_guard lock(mutex_);
    status_ = WithBit(status_, 0x20, on);
    maxHeld_ = 0;
}

void SimulatedMeter::setStatusByte(std::uint8_t status)
{
    std::lock_guard lock(mutex_);
    status_ = status;
    rawStatus_ = true;
}

std::uint8_t SimulatedMeter::statusByte() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

QDateTime SimulatedMeter::meterClock() const
{
    std::lock_guard lock(mutex_);
    return QDateTime::currentDateTime().addSecs(clockOffsetSeconds_);
}

void SimulatedMeter::setLoggedMemory(std::vector<std::uint8_t> memory)
{
    std::lock_guard lock(mutex_);
    memory_ = std::move(memory);
    memoryPos_ = 0;
}

void SimulatedMeter::setSeed(std::uint32_t seed)
{
    std::lock_guard lock(mutex_);
    random_.seed(seed);
}

void SimulatedMeter::setReplyLatency(std::chrono::milliseconds latency)
{
    std::lock_guard lock(mutex_);
    latency_ = latency;
}

void SimulatedMeter::setNoReply(bool on)
{
    std::lock_guard lock(mutex_);
    noReply_ = on;
}

void SimulatedMeter::setDownloadReplyByte(std::uint8_t firstByte)
{
    std::lock_guard lock(mutex_);
    downloadReplyByte_ = firstByte;
}

void SimulatedMeter::setSilentAfterBlocks(int blocks)
{
    std::lock_guard lock(mutex_);
    silentAfterBlocks_ = blocks;
}

void SimulatedMeter::setUnpluggedAfterBlocks(int blocks)
{
    std::lock_guard lock(mutex_);
    unpluggedAfterBlocks_ = blocks;
}

void SimulatedMeter::setWriteFails(bool on)
{
    std::lock_guard lock(mutex_);
    writeFails_ = on;
}

void SimulatedMeter::setAccessDenied(bool on)
{
    std::lock_guard lock(mutex_);
    accessDenied_ = on;
}

void SimulatedMeter::plugDevice(std::shared_ptr<Device>& slot, const char* kind, HidAttributes attributes)
{
    {
        std::lock_guard lock(mutex_);
        if (slot)
            return;
        slot = std::make_shared<Device>();
        slot->instance = nextInstance_++;
        slot->path = QStringLiteral("/dev/hidraw-simulated-%1-%2").arg(QLatin1String(kind)).arg(slot->instance);
        slot->attributes = attributes;
        if (&slot == &meter_)
            slot->serialNumber = serialNumber_;
    }
    notifyChange();
}

void SimulatedMeter::unplugDevice(std::shared_ptr<Device>& slot)
{
    {
        std::lock_guard lock(mutex_);
        if (!slot)
            return;
        slot->pluggedIn = false;
        for (const auto& weak : slot->readers)
            if (const auto queue = weak.lock())
                queue->close();
        slot.reset();
    }
    notifyChange();
}

void SimulatedMeter::setSerialNumber(const QString& serial)
{
    std::lock_guard lock(mutex_);
    serialNumber_ = serial;
    if (meter_)
        meter_->serialNumber = serial;
}

void SimulatedMeter::plug()
{
    plugDevice(meter_, "meter", { VendorId, ProductId, 0x0100 });
}
void SimulatedMeter::unplug()
{
    unplugDevice(meter_);
}
void SimulatedMeter::plugOtherDevice()
{
    plugDevice(other_, "keyboard", { OtherVendorId, OtherProductId, 0x0110 });
}
void SimulatedMeter::unplugOtherDevice()
{
    unplugDevice(other_);
}

bool SimulatedMeter::pluggedIn() const
{
    std::lock_guard lock(mutex_);
    return meter_ != nullptr;
}

std::vector<std::vector<std::uint8_t>> SimulatedMeter::writtenReports() const
{
    std::lock_guard lock(mutex_);
    return written_;
}

void SimulatedMeter::clearWrittenReports()
{
    std::lock_guard lock(mutex_);
    written_.clear();
}
