#pragma once

#include <utility>

// The range of one graph axis. While `automatic` is set the axis shows whatever range the data
// cover; the first range set by hand clears the flag for good, so the axis then stays where the
// buttons put it however the data grow.
struct AxisRange {
    // Keeps a set range drawable: an axis of zero width has no scale.
    static constexpr double MinimumWidth = 1e-10;

    double minimum = 0.0;
    double maximum = 0.0;
    bool automatic = true;

    void set(double newMinimum, double newMaximum)
    {
        automatic = false;
        if (newMinimum > newMaximum)
            std::swap(newMinimum, newMaximum);
        minimum = newMinimum;
        maximum = newMaximum;
        if (maximum - minimum < MinimumWidth)
            maximum = minimum + MinimumWidth;
    }

    double width() const { return maximum - minimum; }
};
