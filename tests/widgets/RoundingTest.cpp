#include "widgets/Rounding.h"

#include <gtest/gtest.h>
#include <limits>

TEST(RoundHalfEven, RoundsToNearestAndHalvesToEven)
{
    struct Case {
        double value;
        int expected;
    };
    const Case cases[] = {
        { 0.0, 0 },
        { 0.4999, 0 },
        { 0.5, 0 },
        { 0.5001, 1 },
        { 1.5, 2 },
        { 2.5, 2 },
        { 3.5, 4 },
        { 128.5, 128 },
        { 29.7, 30 },
        { -0.5, 0 },
        { -1.5, -2 },
        { -2.5, -2 },
        { -2.6, -3 },
        { 420.75, 421 },
        { 1e12, std::numeric_limits<int>::max() },
        { -1e12, std::numeric_limits<int>::min() },
        { std::numeric_limits<double>::quiet_NaN(), 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(roundHalfEven(c.value), c.expected) << "value " << c.value;
}
