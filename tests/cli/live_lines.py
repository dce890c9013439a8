#!/usr/bin/python3
"""Reads what "decimora-cli live" wrote, strictly, as another program would, and prints one JSON object
with what it found: {"readings": [{"time_ms": ..., "level": ..., "weighting": ..., "range": ...,
"response": ..., "max_hold": ...}, ...], "tags": [...]}. Anything that does not parse is an error
(exit 1 with the reason), so that a test sees a malformed line as a failure.

    /usr/bin/python3 live_lines.py csv|jsonl|influx FILE...

CSV goes through the csv module, JSON lines through json, and the InfluxDB line protocol through the
parser below, written from the protocol's description: measurement, tag set, field set and timestamp,
with backslash escapes of ",", "=" and " ".
"""

import csv
import datetime
import json
import sys

CSV_HEADER = ["time", "level", "weighting", "range", "response", "max_hold"]


def fail(reason):
    print(reason, file=sys.stderr)
    sys.exit(1)


def iso_ms(text):
    # The offset must be spelled out, never "Z", and the time must carry milliseconds.
    if len(text) != 29 or text[19] != "." or text[23] not in "+-" or text[26] != ":":
        fail("not an ISO time with milliseconds and offset: %r" % text)
    moment = datetime.datetime.fromisoformat(text)
    if moment.tzinfo is None:
        fail("time without offset: %r" % text)
    return int(moment.timestamp() * 1000 + 0.5)


def level(text):
    whole, dot, tenth = text.partition(".")
    if not dot or not whole.isdigit() or len(tenth) != 1 or not tenth.isdigit():
        fail("not a level with one decimal: %r" % text)
    return float(text)


def boolean(text):
    if text not in ("true", "false"):
        fail("not a boolean: %r" % text)
    return text == "true"


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as file:
        data = file.read()
    if data and not data.endswith("\r\n"):
        fail("%s: the last line is not complete" % path)
    rows = list(csv.reader(data.splitlines(keepends=True), strict=True))
    if not rows or rows[0] != CSV_HEADER:
        fail("%s: header %r" % (path, rows[:1]))
    readings = []
    for row in rows[1:]:
        if len(row) != 6:
            fail("%s: row of %d fields: %r" % (path, len(row), row))
        readings.append({"time_ms": iso_ms(row[0]), "level": level(row[1]), "weighting": row[2],
                         "range": row[3], "response": row[4], "max_hold": boolean(row[5])})
    return readings, []


def read_jsonl(path):
    with open(path, encoding="utf-8") as file:
        data = file.read()
    if data and not data.endswith("\n"):
        fail("%s: the last line is not complete" % path)
    readings = []
    for line in data.splitlines():
        item = json.loads(line)
        if sorted(item) != sorted(CSV_HEADER):
            fail("%s: keys %r" % (path, sorted(item)))
        if not isinstance(item["level"], float) or not isinstance(item["max_hold"], bool):
            fail("%s: types in %r" % (path, line))
        readings.append({"time_ms": iso_ms(item["time"]), "level": item["level"], "weighting": item["weighting"],
                         "range": item["range"], "response": item["response"], "max_hold": item["max_hold"]})
    return readings, []


def take_until(text, i, stops, escapable):
    """Reads from i up to an unescaped character of stops; returns the unescaped text and where it
    stopped. A backslash before a character of escapable stands for that character."""
    out = ""
    while i < len(text) and text[i] not in stops:
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in escapable:
            out += text[i + 1]
            i += 2
        else:
            out += text[i]
            i += 1
    return out, i


def parse_head(head):
    """measurement[,key=value]...: the measurement escapes "," and " ", keys and values "," "=" " "."""
    measurement, i = take_until(head, 0, ",", ", ")
    if not measurement:
        fail("empty measurement: %r" % head)
    tags, keys = {}, []
    while i < len(head):
        key, i = take_until(head, i + 1, "=,", ",= ")
        if i >= len(head) or head[i] != "=" or not key:
            fail("tag without key=value: %r" % head)
        value, i = take_until(head, i + 1, ",=", ",= ")
        if not value or (i < len(head) and head[i] == "="):
            fail("bad tag value: %r" % head)
        tags[key] = value
        keys.append(key)
    return measurement, tags, keys


def split_sections(line):
    """Measurement+tags, fields and timestamp: split at unescaped blanks (no string fields here)."""
    sections, start, i = [], 0, 0
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == " ":
            sections.append(line[start:i])
            start = i + 1
        i += 1
    sections.append(line[start:])
    return sections


def read_influx(path):
    with open(path, encoding="utf-8") as file:
        data = file.read()
    if data and not data.endswith("\n"):
        fail("%s: the last line is not complete" % path)
    readings, tag_sets = [], []
    for line in data.splitlines():
        sections = split_sections(line)
        if len(sections) != 3:
            fail("%s: not measurement, fields and timestamp: %r" % (path, line))
        head, fields, stamp = sections
        measurement, tags, keys = parse_head(head)
        if keys != sorted(keys):
            fail("%s: tags not sorted by key: %r" % (path, keys))
        values = {}
        for pair in fields.split(","):
            key, eq, value = pair.partition("=")
            if not eq:
                fail("%s: field %r" % (path, pair))
            values[key] = value
        if sorted(values) != ["level", "max_hold"]:
            fail("%s: fields %r" % (path, sorted(values)))
        if not stamp.isdigit() or len(stamp) != 19 or not stamp.endswith("000000"):
            fail("%s: timestamp %r" % (path, stamp))
        readings.append({"time_ms": int(stamp) // 1000000, "level": level(values["level"]),
                         "weighting": tags.get("weighting"), "range": tags.get("range"),
                         "response": tags.get("response"), "max_hold": boolean(values["max_hold"])})
        tag_sets.append({"measurement": measurement, "tags": tags})
    return readings, tag_sets


def main():
    reader = {"csv": read_csv, "jsonl": read_jsonl, "influx": read_influx}[sys.argv[1]]
    readings, tags = [], []
    for path in sys.argv[2:]:
        more, more_tags = reader(path)
        readings += more
        tags += more_tags
    print(json.dumps({"readings": readings, "tags": tags}))


main()
