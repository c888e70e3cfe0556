#!/usr/bin/env python3
"""Checks many workbooks, HTML tables and standard CSV and TSV files in one run against the
cells they should hold.

    check_outputs.py MANIFEST

Each manifest line is KIND<TAB>FILE<TAB>EXPECTED, KIND "workbook", "html", "csv" or "tsv"
(standard CSV, read by the csv module with its default quoting; "csv-bom" and "tsv-bom"
must start with a UTF-8 byte order mark). EXPECTED holds
one line per row (the header row first): its cells separated by tabs, each KIND:TEXT with
backslash, tab, CR and LF written as \\, \t, \r and \n. A cell kind ending in "?" checks the
kind only. Workbook kinds are the ss:Type of the cell's Data ("Number", "String"); HTML kinds
are "th" and "td"; CSV and TSV fields are "text". Files may hold any bytes: they are decoded as UTF-8 with surrogate escapes
so that bytes which are not UTF-8 compare as themselves.

Prints FAIL<TAB>FILE<TAB>REASON for each file that does not hold what it should, and then
CHECKED<TAB>N. The exit status is 1 when a file failed.
"""

import csv
import io
import re
import sys
import xml.etree.ElementTree as ET
from html.parser import HTMLParser

SS = "urn:schemas-microsoft-com:office:spreadsheet"


ESCAPE = re.compile(r"\\(.)", re.S)
UNESCAPED = {"t": "\t", "r": "\r", "n": "\n"}


def unescape(text):
    return ESCAPE.sub(lambda m: UNESCAPED.get(m.group(1), m.group(1)), text)


def read_expected(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "surrogateescape")
    rows = []
    for line in text.split("\n")[:-1]:
        cells = []
        for field in line.split("\t") if line else []:
            kind, _, value = field.partition(":")
            cells.append((kind, unescape(value)))
        rows.append(cells)
    return rows


def compare(rows, expected):
    if len(rows) != len(expected):
        return "%d rows, expected %d" % (len(rows), len(expected))
    for r, (row, want) in enumerate(zip(rows, expected)):
        if len(row) != len(want):
            return "row %d has %d cells, expected %d" % (r + 1, len(row), len(want))
        for c, ((kind, text), (want_kind, want_text)) in enumerate(zip(row, want)):
            loose = want_kind.endswith("?")
            if kind != want_kind.rstrip("?") or (not loose and text != want_text):
                return "row %d cell %d is %s %r, expected %s %r" % (
                    r + 1, c + 1, kind, text[:60], want_kind, want_text[:60])
    return None


def workbook_rows(path):
    root = ET.parse(path).getroot()
    tables = root.findall("{%s}Worksheet/{%s}Table" % (SS, SS))
    if len(tables) != 1:
        raise ValueError("%d tables" % len(tables))
    table = tables[0]
    rows = []
    for row in table.findall("{%s}Row" % SS):
        cells = []
        for cell in row.findall("{%s}Cell" % SS):
            data = cell.findall("{%s}Data" % SS)
            if len(data) != 1:
                raise ValueError("a cell with %d Data elements" % len(data))
            cells.append((data[0].get("{%s}Type" % SS, ""), data[0].text or ""))
        rows.append(cells)
    if len(table) != len(rows):
        raise ValueError("the table holds other elements than rows")
    declared = (table.get("{%s}ExpandedColumnCount" % SS), table.get("{%s}ExpandedRowCount" % SS))
    columns = max([len(r) for r in rows] + [0])
    if declared != (str(columns), str(len(rows))):
        raise ValueError("the table declares %s columns and %s rows, it holds %d and %d" %
                         (declared[0], declared[1], columns, len(rows)))
    return rows


class CellReader(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows = []
        self.cell = None
        self.problems = []
        self.tables = 0

    def handle_starttag(self, tag, attrs):
        if tag == "table" and self.tables == 0:
            self.tables += 1
        elif tag == "tr" and self.cell is None:
            self.rows.append([])
        elif tag in ("th", "td") and self.rows and self.cell is None:
            self.cell = (tag, [])
        else:
            self.problems.append("unexpected <%s>" % tag)

    def handle_endtag(self, tag):
        if self.cell is not None and tag == self.cell[0]:
            self.rows[-1].append((tag, "".join(self.cell[1])))
            self.cell = None
        elif tag not in ("tr", "table") or self.cell is not None:
            self.problems.append("unexpected </%s>" % tag)

    def handle_data(self, data):
        if self.cell is not None:
            self.cell[1].append(data)
        elif data.strip():
            self.problems.append("text outside a cell")

    def handle_comment(self, data):
        self.problems.append("a comment")


def html_rows(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", "surrogateescape")
    reader = CellReader()
    reader.feed(text)
    reader.close()
    if reader.problems:
        raise ValueError(", ".join(reader.problems[:3]))
    if not text.startswith('<table border="1">\r\n<tr>\r\n') or not text.endswith("</table>\r\n"):
        raise ValueError("the table does not start or end as it should")
    return reader.rows


def standard_rows(path, kind):
    with open(path, "rb") as f:
        data = f.read()
    if kind.endswith("-bom"):
        if not data.startswith(b"\xef\xbb\xbf"):
            raise ValueError("no byte order mark")
        data = data[3:]
    if not data.endswith(b"\r\n"):
        raise ValueError("the file does not end with CR LF")
    text = data.decode("utf-8", "surrogateescape")
    delimiter = "," if kind.startswith("csv") else "\t"
    rows = []
    for fields in csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, strict=True):
        # The csv module reads an empty line, a row of one empty field, as no fields at all.
        rows.append([("text", field) for field in fields or [""]])
    return rows


def rows_of(kind, path):
    if kind == "workbook":
        return workbook_rows(path)
    if kind == "html":
        return html_rows(path)
    return standard_rows(path, kind)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    failed = 0
    checked = 0
    with open(argv[1], encoding="utf-8", errors="surrogateescape") as manifest:
        for line in manifest:
            kind, path, expected_path = line.rstrip("\n").split("\t")
            try:
                rows = rows_of(kind, path)
                problem = compare(rows, read_expected(expected_path))
            except (ET.ParseError, ValueError, OSError, csv.Error) as e:
                problem = "%s: %s" % (type(e).__name__, e)
            checked += 1
            if problem:
                failed += 1
                sys.stdout.write("FAIL\t%s\t%s\n" % (path, problem.encode("unicode_escape")
                                                     .decode("ascii")))
    sys.stdout.write("CHECKED\t%d\n" % checked)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
