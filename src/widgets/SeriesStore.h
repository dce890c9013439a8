#pragma once

#include <array>
#include <cstddef>
#include <vector>

// The readings of one graph series, with what drawing a long run needs: where the lowest and the
// highest reading of any stretch lie, answered without reading the whole stretch. Beside the
// readings it keeps the extremes of every block of 16, of 256, of 4096 ... readings, updated as
// each reading arrives, so appending stays O(1) (a few comparisons per level) and a stretch of
// n readings is answered from at most about 2 x 15 entries per level instead of n readings.
class SeriesStore {
public:
    struct Extremes {
        std::size_t lowAt = 0; // the first of the lowest readings
        std::size_t highAt = 0; // the first of the highest readings
    };

    void append(double value);
    void clear();

    std::size_t size() const { return m_values.size(); }
    bool empty() const { return m_values.empty(); }
    const std::vector<double>& values() const { return m_values; }
    double lowest() const { return m_lowest; }
    double highest() const { return m_highest; }

    // Where the extremes of the readings from..to-1 lie; from < to <= size().
    Extremes extremes(std::size_t from, std::size_t to) const;

private:
    static constexpr std::size_t BlockShift = 4; // blocks of 16 entries of the level below
    // Blocks of up to 16^7 readings (eight years at one a second); longer runs still work, with
    // more top-level blocks per pixel column.
    static constexpr std::size_t MaxLevels = 7;

    struct Block {
        double low;
        double high;
        std::size_t lowAt;
        std::size_t highAt;
    };

    std::vector<double> m_values;
    std::array<std::vector<Block>, MaxLevels> m_levels;
    double m_lowest = 0.0;
    double m_highest = 0.0;
};
