#pragma once

// A data set held in memory, for tests of the writers: fields of any type, records of any values.

#include "output/ExportDataSet.h"

#include <vector>

class MemoryDataSet final : public ExportDataSet {
public:
    MemoryDataSet(
        std::initializer_list<std::pair<const char*, FieldType>> fields, std::vector<std::vector<FieldValue>> records)
        : records_(std::move(records))
    {
        for (const auto& [name, type] : fields)
            addField(QString::fromLatin1(name), type);
    }

    bool active() const override { return open; }
    qint64 recordCount() const override { return claimedCount > 0 ? claimedCount : qint64(records_.size()); }
    void forEachRecord(const std::function<void(std::span<const FieldValue>)>& visit) const override
    {
        for (const auto& record : records_)
            visit(record);
    }
    void suspendUpdates() override { ++suspended; }
    void resumeUpdates() override { --suspended; }

    bool open = true;
    int suspended = 0;
    // A count other than the records held, as of a table that changes while it is walked.
    qint64 claimedCount = 0;

private:
    std::vector<std::vector<FieldValue>> records_;
};
