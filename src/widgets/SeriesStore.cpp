#include "widgets/SeriesStore.h"

void SeriesStore::append(double value)
{
    const std::size_t index = m_values.size();
    m_values.push_back(value);
    if (index == 0) {
        m_lowest = m_highest = value;
    } else {
        if (value < m_lowest)
            m_lowest = value;
        if (value > m_highest)
            m_highest = value;
    }

    // Level L holds one block per 16^(L+1) readings; the newest block of each level is still open.
    for (std::size_t level = 0; level < MaxLevels; ++level) {
        std::vector<Block>& blocks = m_levels[level];
        const std::size_t shift = BlockShift * (level + 1);
        if ((index & ((std::size_t { 1 } << shift) - 1)) == 0) {
            blocks.push_back({ value, value, index, index });
        } else {
            Block& open = blocks.back();
            // Strict comparisons keep the first of equal extremes, as a scan from the left would.
            if (value < open.low) {
                open.low = value;
                open.lowAt = index;
            }
            if (value > open.high) {
                open.high = value;
                open.highAt = index;
            }
        }
    }
}

void SeriesStore::clear()
{
    m_values.clear();
    m_values.shrink_to_fit();
    for (std::vector<Block>& blocks : m_levels) {
        blocks.clear();
        blocks.shrink_to_fit();
    }
    m_lowest = m_highest = 0.0;
}

SeriesStore::Extremes SeriesStore::extremes(std::size_t from, std::size_t to) const
{
    Extremes found { from, from };
    double low = m_values[from];
    double high = low;
    const auto take = [&](double blockLow, std::size_t lowAt, double blockHigh, std::size_t highAt) {
        if (blockLow < low) {
            low = blockLow;
            found.lowAt = lowAt;
        }
        if (blockHigh > high) {
            high = blockHigh;
            found.highAt = highAt;
        }
    };

    std::size_t i = from + 1;
    while (i < to) {
        // The largest whole block that starts here and ends before `to`.
        std::size_t level = MaxLevels;
        while (level > 0) {
            const std::size_t span = std::size_t { 1 } << (BlockShift * level);
            if ((i & (span - 1)) == 0 && i + span <= to)
                break;
            --level;
        }
        if (level == 0) {
            take(m_values[i], i, m_values[i], i);
            ++i;
        } else {
            const Block& block = m_levels[level - 1][i >> (BlockShift * level)];
            take(block.low, block.lowAt, block.high, block.highAt);
            i += std::size_t { 1 } << (BlockShift * level);
        }
    }
    return found;
}
