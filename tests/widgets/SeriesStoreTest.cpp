#include "widgets/SeriesStore.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// The extremes of every stretch must be those a plain scan from the left finds, the first of equal
// values included, for stretches that start and end anywhere relative to the blocks.
TEST(SeriesStore, ExtremesOfAnyStretchMatchAScan)
{
    std::mt19937 random(20270101);
    std::uniform_int_distribution<int> level(0, 40); // few distinct values: many ties
    SeriesStore store;
    std::vector<double> readings;
    for (int i = 0; i < 70'000; ++i) {
        readings.push_back(level(random) * 0.5);
        store.append(readings.back());
    }

    std::vector<std::pair<std::size_t, std::size_t>> stretches = { { 0, 1 }, { 0, 16 }, { 15, 17 }, { 0, 256 },
        { 255, 4097 }, { 0, 65536 }, { 0, 70'000 }, { 69'999, 70'000 }, { 4096, 65536 + 4096 } };
    std::uniform_int_distribution<std::size_t> position(0, readings.size() - 1);
    for (int i = 0; i < 300; ++i) {
        std::size_t a = position(random);
        std::size_t b = position(random);
        if (a > b)
            std::swap(a, b);
        stretches.emplace_back(a, b + 1);
    }

    for (const auto& [from, to] : stretches) {
        std::size_t lowAt = from;
        std::size_t highAt = from;
        for (std::size_t i = from; i < to; ++i) {
            if (readings[i] < readings[lowAt])
                lowAt = i;
            if (readings[i] > readings[highAt])
                highAt = i;
        }
        const SeriesStore::Extremes found = store.extremes(from, to);
        EXPECT_EQ(found.lowAt, lowAt) << from << ".." << to;
        EXPECT_EQ(found.highAt, highAt) << from << ".." << to;
    }
    EXPECT_EQ(store.lowest(), *std::min_element(readings.begin(), readings.end()));
    EXPECT_EQ(store.highest(), *std::max_element(readings.begin(), readings.end()));
}

TEST(SeriesStore, ClearStartsAfresh)
{
    SeriesStore store;
    for (int i = 0; i < 1000; ++i)
        store.append(i);
    store.clear();
    store.append(5.0);
    store.append(3.0);
    EXPECT_EQ(store.size(), 2u);
    EXPECT_EQ(store.lowest(), 3.0);
    EXPECT_EQ(store.highest(), 5.0);
    EXPECT_EQ(store.extremes(0, 2).lowAt, 1u);
    EXPECT_EQ(store.extremes(0, 2).highAt, 0u);
}

} // namespace
