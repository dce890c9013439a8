"""Reads a spreadsheet the way its user's program would and prints its first sheet as JSON:
{"rows": [[cell, ...], ...]}, every row from the first, each cell a text or a number as the reader
found it. A .csv goes through Python's csv module, an
.xlsx through zipfile (every member's checksum) and openpyxl. Exits with 1 and the reader's own
complaint when the file cannot be read whole."""

import csv
import json
import sys
import zipfile


def main(path):
    if path.lower().endswith(".csv"):
        with open(path, newline="", encoding="utf-8") as f:
            rows = [row for row in csv.reader(f, strict=True)]
    else:
        with zipfile.ZipFile(path) as archive:
            broken = archive.testzip()
            if broken is not None:
                sys.exit("member %s of %s is damaged" % (broken, path))
        import openpyxl

        book = openpyxl.load_workbook(path, read_only=True)
        sheet = book.worksheets[0]
        rows = [["" if v is None else v for v in row] for row in sheet.iter_rows(values_only=True)]
    json.dump({"rows": rows}, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
