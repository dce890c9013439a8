#pragma once

#include <cmath>
#include <limits>

// Reals that become integers (drawing coordinates, tick counts, print margins) go to the nearest
// integer, a half to the even neighbour: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2, -2.5 -> -2. Written out
// rather than left to std::nearbyint so that the result never depends on the floating-point
// environment's current rounding mode. NaN gives 0; values beyond int's range saturate.
inline int roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (whole <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(whole);
}
