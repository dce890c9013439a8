#!/usr/bin/python3
"""The expected figures of NoiseAssessmentTest.cpp, worked out from the definitions alone, with
nothing of the program's code: the readings of each case are made here from the same description,
their durations follow from their time stamps by the rule as it is written, and every figure is a
plain sum over the readings. Run it with Debian's Python to see the numbers the test quotes:

    /usr/bin/python3 tests/stats/expected_noise.py

The definitions:
- a step between two readings is regular when it is positive and equals the step before or after it;
  a reading lasts its own regular step, else the last regular step before it, else the first after it,
  else the median of the positive steps; a step of more than 3 durations (or back) is a break;
- Lday, Levening, Lnight: 10 lg(sum of duration x 10^(L/10) / sum of durations) over the readings
  stamped in the period (day 07-19, evening 19-23, night 23-07, the night belonging to the day it
  starts on); Lden = 10 lg((12 x 10^(Ld/10) + 4 x 10^((Le+5)/10) + 8 x 10^((Ln+10)/10)) / 24); Ldn the
  same with a day of 07-22 and a night of 22-07 (+10 dB);
- coverage: the covered seconds over the period's length (over every day from the first to the last);
- events: readings at or above the threshold, in stretches without a break between their readings;
  stretches whose quiet time between them is shorter than the gap join (the quiet readings with them);
  an event lasts at least the minimum duration; SEL the energy of every reading from its start to its
  end, Leq that energy over the time those readings cover, Lmax the loudest.
"""

import datetime
import math
import statistics

START = datetime.datetime(2006, 5, 12)


def series(parts):
    """parts: (first moment, step in seconds, count, level or function of the moment, weighting)."""
    readings = []
    for first, step, count, level, weighting in parts:
        for i in range(count):
            t = first + datetime.timedelta(seconds=i * step)
            readings.append((t, level(t) if callable(level) else level, weighting))
    return readings


def durations(readings):
    times = [t for t, _, _ in readings]
    steps = [(times[i + 1] - times[i]).total_seconds() for i in range(len(times) - 1)]

    def regular(i):
        if i < 0 or i >= len(steps) or not 0 < steps[i] <= 86400:
            return False
        return (i > 0 and steps[i - 1] == steps[i]) or (i + 1 < len(steps) and steps[i + 1] == steps[i])

    result = []
    for i in range(len(readings)):
        if regular(i):
            result.append(steps[i])
            continue
        before = [steps[j] for j in range(i - 1, -1, -1) if regular(j)]
        after = [steps[j] for j in range(i + 1, len(steps)) if regular(j)]
        if before:
            result.append(before[0])
        elif after:
            result.append(after[0])
        else:
            positive = sorted(s for s in steps if 0 < s <= 86400)
            result.append(positive[len(positive) // 2])
    breaks = [False] + [steps[i] < 0 or steps[i] > 3 * result[i] for i in range(len(steps))]
    return result, breaks


def level_of(pairs):
    """pairs: (level, seconds)."""
    total = sum(s for _, s in pairs)
    if total == 0:
        return None
    return 10 * math.log10(sum(s * 10 ** (level / 10) for level, s in pairs) / total)


def assessment_day(t):
    return (t - datetime.timedelta(hours=7)).date()


def den_period(hour):
    return "day" if 7 <= hour < 19 else "evening" if 19 <= hour < 23 else "night"


def dn_period(hour):
    return "day" if 7 <= hour < 22 else "night"


def composite(parts):
    if any(level is None for level, _, _ in parts):
        return None
    return 10 * math.log10(sum(hours * 10 ** ((level + penalty) / 10) for level, penalty, hours in parts) / 24)


def periods(timed, days):
    """timed: (moment, level, seconds) of one weighting; days: the assessment days they span."""

    def pick(period_of, name):
        return [(level, s) for t, level, s in timed if assessment_day(t) in days and period_of(t.hour) == name]

    rows = {}
    for name, hours in (("day", 12), ("evening", 4), ("night", 8)):
        chosen = pick(den_period, name)
        rows["L" + name] = (level_of(chosen), sum(s for _, s in chosen) / (hours * 3600 * len(days)))
    covered = sum(s for t, _, s in timed if assessment_day(t) in days) / (86400 * len(days))
    rows["Lden"] = (
        composite([(rows["Lday"][0], 0, 12), (rows["Levening"][0], 5, 4), (rows["Lnight"][0], 10, 8)]),
        covered,
    )
    rows["Ldn"] = (
        composite([(level_of(pick(dn_period, "day")), 0, 15), (level_of(pick(dn_period, "night")), 10, 9)]),
        covered,
    )
    return rows


def events(timed_with_breaks, threshold, minimum, gap):
    stretches = []
    current = None
    for t, level, s, broken in timed_with_breaks:
        if broken and current:
            stretches.append(current)
            current = None
        if broken and stretches:
            stretches[-1]["closed"] = True
        if level >= threshold:
            if current is None:
                current = {"start": t, "end": t, "closed": False}
            current["end"] = t + datetime.timedelta(seconds=s)
        elif current:
            stretches.append(current)
            current = None
    if current:
        stretches.append(current)
    merged = []
    for stretch in stretches:
        if merged and not merged[-1]["closed"] and (stretch["start"] - merged[-1]["end"]).total_seconds() < gap:
            merged[-1]["end"] = stretch["end"]
            merged[-1]["closed"] = stretch["closed"]
        else:
            merged.append(dict(stretch))
    result = []
    for event in merged:
        length = (event["end"] - event["start"]).total_seconds()
        if length < minimum:
            continue
        inside = [(level, s) for t, level, s, _ in timed_with_breaks if event["start"] <= t < event["end"]]
        energy = sum(s * 10 ** (level / 10) for level, s in inside)
        result.append(
            (event["start"].time(), length, max(level for level, _ in inside), level_of(inside), 10 * math.log10(energy))
        )
    return result


def at(hours, minutes=0, seconds=0, days=0):
    return START + datetime.timedelta(days=days, hours=hours, minutes=minutes, seconds=seconds)


def by_period(t):
    return 60.0 if 7 <= t.hour < 19 else 55.0 if 19 <= t.hour < 23 else 45.0


CASES = {
    "a day at 60, an evening at 55, a night at 45 dB": series([(at(7), 60, 1440, by_period, "A")]),
    "two hours of a day period": series([(at(8), 10, 720, 50.0, "A")]),
    "across two midnights, 40 dB + the hour": series([(at(22), 60, 2100, lambda t: 40.0 + t.hour, "A")]),
    "A and C apart": series([(at(10), 1, 100, 60.0, "A"), (at(10, 1, 40), 1, 100, 80.0, "C"),
                             (at(10, 3, 20), 1, 100, 70.0, "A")]),
    "a gap in the time stamps": series([(at(10), 1, 595, 60.0, "A"), (at(10, 9, 55), 1, 5, 90.0, "A"),
                                        (at(10, 30), 1, 600, 90.0, "A")]),
}

EDGES = [70.0] * 10 + [85.0] * 5 + [70.0] * 10 + [90.0] * 4 + [70.0] * 10 + [88.0] * 3 + [70.0] * 2 + [88.0] * 3
EDGES += [70.0] * 10 + [86.0] * 5 + [70.0] * 3 + [86.0] * 5 + [70.0] * 10 + [84.9] * 6 + [70.0] * 5
CASES["events at the edges"] = [(at(10, seconds=i), level, "A") for i, level in enumerate(EDGES)]

# ReadersTest.cpp's workbook: a reading a second from 14:30:15 on 9 December 2026, A and C in turn; the
# row at 14:30:19 has no level and is left out.
WORKBOOK = [(60.0, "A"), (80.0, "C"), (70.0, "A"), (80.0, "C"), (None, "A"), (80.0, "C")]
CASES["the workbook's rows"] = [
    (datetime.datetime(2026, 12, 9, 14, 30, 15 + i), level, w) for i, (level, w) in enumerate(WORKBOOK) if level
]

EVENT_RULES = {
    "the workbook's rows": (65.0, 1, 5),
    "events at the edges": (85.0, 5, 3),
    "A and C apart": (75.0, 1, 5),
    "a gap in the time stamps": (85.0, 1, 3600),
}

if __name__ == "__main__":
    for name, readings in CASES.items():
        print(f"== {name}")
        seconds, breaks = durations(readings)
        for weighting in "AC":
            timed = [(t, level, s) for (t, level, w), s in zip(readings, seconds) if w == weighting]
            if not timed:
                continue
            days = sorted({assessment_day(t) for t, _, _ in timed})
            span = [days[0] + datetime.timedelta(days=i) for i in range((days[-1] - days[0]).days + 1)]
            for label, chosen in [("whole run", span)] + [(str(day), [day]) for day in days]:
                shown = ", ".join(
                    f"{figure} {'-' if level is None else f'{level:.4f}'} ({100 * share:.2f} %)"
                    for figure, (level, share) in periods(timed, chosen).items()
                )
                print(f"  {weighting} {label}: {shown}")
            hours = {}
            for t, level, s in timed:
                hours.setdefault(t.replace(minute=0, second=0), []).append((level, s))
            for hour, pairs in sorted(hours.items()):
                print(f"  {weighting} hour {hour}: Leq {level_of(pairs):.4f}, covered {sum(s for _, s in pairs):.0f} s")
            if name in EVENT_RULES:
                with_breaks = [(t, level, s, b) for (t, level, w), s, b in zip(readings, seconds, breaks) if w == weighting]
                # A reading of the other weighting in between is a break too.
                marks = [w for _, _, w in readings]
                positions = [i for i, w in enumerate(marks) if w == weighting]
                with_breaks = [
                    (t, level, s, b or (k > 0 and positions[k] != positions[k - 1] + 1))
                    for k, (t, level, s, b) in enumerate(with_breaks)
                ]
                for event in events(with_breaks, *EVENT_RULES[name]):
                    start, length, lmax, leq, sel = event
                    print(f"  {weighting} event {start} {length:.0f} s: Lmax {lmax}, Leq {leq:.4f}, SEL {sel:.4f}")
    print("== durations")
    for label, stamps in {
        "wobbling 1 s": [0, 1, 2, 2, 4, 5, 6],
        "1 s then 60 s after a pause": [0, 1, 2, 3, 10, 70, 130, 190],
        "two readings 60 s apart": [0, 60],
        "no regular step": [0, 5, 7, 20],
    }.items():
        readings = [(START + datetime.timedelta(seconds=s), 50.0, "A") for s in stamps]
        seconds, breaks = durations(readings)
        print(f"  {label}: {[int(s) for s in seconds]}, breaks {[i for i, b in enumerate(breaks) if b]}")
