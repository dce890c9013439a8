#pragma once

// A model of the sound level meter behind the HID platform interface: it answers the meter's five
// commands the way the instrument does, and can be told to misbehave. Tests use it, and
// "decimora --simulate-meter" lets anyone try the program without the instrument.

#include "core/HidPlatform.h"

#include <QDateTime>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

// One logging run in the meter's memory.
struct LoggedRun {
    std::uint8_t statusFlags = 0x40; // status-byte layout; 0x10 means C weighting
    QDateTime start;
    std::uint8_t intervalSeconds = 1;
    std::vector<int> readings; // tenths of a dB, 0 to 2047 (the first of a pair has 11 bits)
};

// The memory image of logging runs as the download delivers it: per run 0xFD, an 8-byte header and
// the readings packed two into three bytes; 0xFF at the end. The meter logs in pairs, so an odd count
// repeats its last reading.
std::vector<std::uint8_t> EncodeLoggedMemory(const std::vector<LoggedRun>& runs);

// What a new simulated meter has logged in the days before now: half an hour of a lesson (A weighting,
// 1 s), two hours of a work site (C weighting, 10 s), a night by a road from 22:00 two days ago (A
// weighting, 60 s); 3,120 readings in all. The same day gives the same runs.
std::vector<LoggedRun> DefaultLoggedRuns(const QDateTime& now);

// The logged memory kept in a file: a raw dump as "decimora-cli download --raw" writes it, the bytes
// exactly as the meter sent them, for setLoggedMemory. Nothing, with the file and the system's reason
// in error, when the file cannot be read or is too large to be a meter's memory.
std::optional<std::vector<std::uint8_t>> ReadLoggedMemoryFile(const QString& path, QString* error);

class SimulatedMeter final : public QObject, public HidPlatform {
    Q_OBJECT

public:
    static constexpr std::uint16_t VendorId = 0x1234;
    static constexpr std::uint16_t ProductId = 0x5678;
    static constexpr std::uint16_t ReportLength = 9; // report id and eight bytes, both ways

    explicit SimulatedMeter(QObject* parent = nullptr);
    ~SimulatedMeter() override;

    // --- HidPlatform ------------------------------------------------------------------------------
    bool available() const override { return true; }
    std::vector<HidInterfaceInfo> scan() override;
    std::unique_ptr<HidConnection> open(const QString& devicePath, HidAccess access) override;
    void setChangeListener(std::function<void()> listener) override;

    // --- The instrument ---------------------------------------------------------------------------
    // The next readings, in tenths of a dB, before the simulated noise takes over again.
    void queueReadings(const std::vector<int>& tenths);
    void setRangeCode(int code);
    void setCWeighting(bool on);
    void setFast(bool on);
    void setMaxHold(bool on);
    // A status byte sent as it is with every reading (bits the meter would not set included).
    void setStatusByte(std::uint8_t status);
    std::uint8_t statusByte() const;
    QDateTime meterClock() const;
    // Replaces the default memory (DefaultLoggedRuns) the meter starts with.
    void setLoggedMemory(std::vector<std::uint8_t> memory);
    void setSeed(std::uint32_t seed);
    // The serial number the meter reports; none at first, as some meters have none.
    void setSerialNumber(const QString& serial);
    // Where the simulated meter is plugged in: its location in scan().
    static constexpr const char* Location = "simulated";

    // --- Faults -------------------------------------------------------------------------------------
    void setReplyLatency(std::chrono::milliseconds latency);
    void setNoReply(bool on);
    // First byte of the reply to the start-download command; DownloadAccepted (0xEF) when agreeing.
    void setDownloadReplyByte(std::uint8_t firstByte);
    // After answering this many blocks of a download the meter hangs: later block requests of every
    // download get no reply. A negative count ends the fault.
    void setSilentAfterBlocks(int blocks);
    // The cable is pulled when the download asks for the block after this many: that write fails and
    // the meter is gone until plug(). Happens once; a negative count withdraws it.
    void setUnpluggedAfterBlocks(int blocks);
    void setWriteFails(bool on);
    // The meter's node refuses read-write access (no udev rule): it can only be identified.
    void setAccessDenied(bool on);
    void unplug();
    void plug();
    void plugOtherDevice();
    void unplugOtherDevice();
    bool pluggedIn() const;

    // --- What the program sent ---------------------------------------------------------------------
    std::vector<std::vector<std::uint8_t>> writtenReports() const;
    void clearWrittenReports();

private:
    class Connection;
    struct Device;

    std::shared_ptr<Device> findDevice(const QString& path) const;
    void plugDevice(std::shared_ptr<Device>& slot, const char* kind, HidAttributes attributes);
    void unplugDevice(std::shared_ptr<Device>& slot);
    void notifyChange();
    // These two are called with the lock held.
    std::vector<std::uint8_t> answer(const std::uint8_t* report, std::size_t length);
    bool cablePulledBefore(const std::uint8_t* report, std::size_t length);
    int nextLevel();
    void deliver(Device& device, std::vector<std::uint8_t> reply);

    mutable std::mutex mutex_;
    std::shared_ptr<Device> meter_;
    std::shared_ptr<Device> other_;
    std::uint32_t nextInstance_ = 1;
    QString serialNumber_;
    std::function<void()> listener_;

    std::deque<int> queuedReadings_;
    std::uint8_t status_ = 0x40;
    bool rawStatus_ = false;
    double level_ = 55.0;
    int maxHeld_ = 0;
    qint64 clockOffsetSeconds_ = 0;
    std::vector<std::uint8_t> memory_;
    std::size_t memoryPos_ = 0;
    std::mt19937 random_ { 20061205 };

    std::chrono::milliseconds latency_ { 0 };
    bool noReply_ = false;
    std::uint8_t downloadReplyByte_ = 0xEF;
    int blocksAnswered_ = 0; // of the current download
    int silentAfterBlocks_ = -1;
    int unpluggedAfterBlocks_ = -1;
    bool writeFails_ = false;
    bool accessDenied_ = false;
    std::vector<std::vector<std::uint8_t>> written_;
};
