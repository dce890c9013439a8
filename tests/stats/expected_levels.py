#!/usr/bin/python3
"""The expected figures of LevelStatisticsTest.cpp, worked out from the definitions alone: plain sums
over the readings and a search over the 0.1 dB grid, with no histogram and nothing of the program's
code. Run it with Debian's Python to see the numbers the test quotes:

    /usr/bin/python3 tests/stats/expected_levels.py

Each reading is (level in dB, interval in seconds or None when not known). Where every interval is
known a reading weighs its interval, else each reading weighs one.
"""

import math


def figures(readings, alarm):
    known = all(interval is not None for _, interval in readings)
    weights = [interval if known else 1 for _, interval in readings]
    total = sum(weights)
    energy = sum(w * 10 ** (level / 10) for (level, _), w in zip(readings, weights))
    leq = 10 * math.log10(energy / total)

    def percentile(n):
        # The lowest grid level with at most n % of the weight above it.
        top = round(max(level for level, _ in readings) * 10)
        for tenths in range(0, top + 1):
            x = tenths / 10
            above = sum(w for (level, _), w in zip(readings, weights) if level > x)
            if above <= n / 100 * total:
                return x
        raise AssertionError("no level found")

    louder = [(level, interval) for level, interval in readings if round(level * 10) > alarm * 10]
    duration = total if known else None
    return {
        "Leq": leq,
        "L10": percentile(10),
        "L50": percentile(50),
        "L90": percentile(90),
        "Lmax": max(level for level, _ in readings),
        "Lmin": min(level for level, _ in readings),
        "duration": duration,
        "SEL": leq + 10 * math.log10(duration) if known else None,
        "above": len(louder),
        "seconds above": sum(interval for _, interval in louder) if known else None,
    }


CASES = {
    "constant 73.4 dB, 5 readings": [(73.4, 1)] * 5,
    "60 and 70 dB equally long": [(60.0, 1)] * 50 + [(70.0, 1)] * 50,
    "1, 2, ..., 100 dB": [(float(i), 1) for i in range(1, 101)],
    "a single reading": [(42.0, 1)],
    "3,600 readings at 60 dB, 1 s apart": [(60.0, 1)] * 3600,
    "two runs, 1 s and 60 s apart": [(90.0, 1)] * 10 + [(50.0, 60)] * 10,
    "the same readings, intervals not known": [(90.0, None)] * 10 + [(50.0, None)] * 10,
    "at and around the alarm level": [(84.9, 1), (85.0, 1), (85.1, 1), (90.0, 1)],
    "A-weighted readings beside C": [(60.0, 1), (70.0, 1)],
    "C-weighted readings beside A": [(80.0, 1)] * 3,
}

if __name__ == "__main__":
    for name, readings in CASES.items():
        result = figures(readings, alarm=85.0)
        shown = ", ".join(
            f"{key} {value:.4f}" if isinstance(value, float) else f"{key} {value}" for key, value in result.items()
        )
        print(f"{name}: {shown}")
