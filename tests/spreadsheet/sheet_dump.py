#!/usr/bin/env python3
"""Reads a file that rowpress wrote (or that LibreOffice converted from one) with a reader
that owes nothing to rowpress, and prints its cells in one plain form that the C++ tests
compare with the rows they put into the database.

    sheet_dump.py fods FILE          a flat OpenDocument spreadsheet (LibreOffice's .fods)
    sheet_dump.py csv FILE           comma-separated: csv module, no quoting, CR LF lines
    sheet_dump.py tsv FILE           the same with tabs
    sheet_dump.py standard-csv FILE  standard CSV: csv module with its default (excel)
                                     quoting, strict; a UTF-8 byte order mark is skipped
    sheet_dump.py standard-tsv FILE  the same with tabs
    sheet_dump.py html FILE          html.parser; entities decoded
    sheet_dump.py xlsx FILE          an Office Open XML workbook, read with openpyxl
    sheet_dump.py rfc4180 FILE       CSV as RFC 4180 writes it, an unquoted empty field kept
                                     apart as NULL (KIND "null"); a database's own export
    sheet_dump.py mariadb-batch FILE the MariaDB client's --batch output (NULL as "null")

Output, UTF-8, one line each:
    S<TAB>NAME                       a sheet begins (csv, tsv and html have one, named "")
    R<TAB>KIND:TEXT<TAB>KIND:TEXT... a row; in TEXT a backslash, tab, CR and LF are written
                                     as \\, \t, \r and \n
    E<TAB>MESSAGE                    something a reader of this format would not accept
    I<TAB>NAME:VALUE<TAB>...         xlsx only, after a sheet's rows: how the sheet shows
                                     them (freeze, filter, bold, widths)

KIND is the cell's value type for fods ("float", "string", ... or "" for an empty cell, whose
TEXT is then the number for float cells: office:value; for "date", "time" and "boolean" cells
office:date-value, office:time-value or office:boolean-value; a cell holding only the formula
TRUE() or FALSE() is "boolean"), "text" for csv and tsv fields, and
"th" or "td" for HTML cells. For xlsx it is "number" (Python's repr of the value), "text",
"bool" ("TRUE" or "FALSE"), "datetime", "date" or "time" (ISO 8601), or "" for an empty
cell. The exit status is 0 when the file was read without an E line.
"""

import csv
import sys
import zipfile
import xml.etree.ElementTree as ET
from html.parser import HTMLParser

OFFICE = "urn:oasis:names:tc:opendocument:xmlns:office:1.0"
TABLE = "urn:oasis:names:tc:opendocument:xmlns:table:1.0"
TEXT = "urn:oasis:names:tc:opendocument:xmlns:text:1.0"

# Repeated rows or cells beyond these counts are the filler that a spreadsheet writes up to
# the end of its grid, not data.
MAX_REPEATED_ROWS = 100000
MAX_REPEATED_CELLS = 20000


def escape(text):
    return (text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r")
            .replace("\n", "\\n"))


class Printer:
    def __init__(self):
        self.out = sys.stdout.buffer
        self.errors = 0

    def line(self, text):
        self.out.write(text.encode("utf-8") + b"\n")

    def sheet(self, name):
        self.line("S\t" + escape(name))

    def row(self, cells):
        self.line("R" + "".join("\t" + kind + ":" + escape(text) for kind, text in cells))

    def error(self, message):
        self.errors += 1
        self.line("E\t" + escape(message))


def paragraph_text(element):
    """The text of an ODF paragraph: spans followed, <text:s/> as spaces, tabs, line breaks."""
    parts = [element.text or ""]
    for child in element:
        tag = child.tag
        if tag == "{%s}s" % TEXT:
            parts.append(" " * int(child.get("{%s}c" % TEXT, "1")))
        elif tag == "{%s}tab" % TEXT:
            parts.append("\t")
        elif tag == "{%s}line-break" % TEXT:
            parts.append("\n")
        else:
            parts.append(paragraph_text(child))
        parts.append(child.tail or "")
    return "".join(parts)


def cell_of(element):
    kind = element.get("{%s}value-type" % OFFICE, "")
    # A logical value of a workbook arrives as the formula TRUE() or FALSE(); its number
    # format says "boolean" only in some of the cases.
    formula = element.get("{%s}formula" % TABLE, "")
    if formula in ("of:=TRUE()", "of:=FALSE()"):
        return "boolean", "true" if formula == "of:=TRUE()" else "false"
    if kind in ("float", "percentage", "currency"):
        return kind, element.get("{%s}value" % OFFICE, "")
    if kind in ("date", "time", "boolean"):
        return kind, element.get("{%s}%s-value" % (OFFICE, kind), "")
    paragraphs = [paragraph_text(p) for p in element.findall("{%s}p" % TEXT)]
    return kind, "\n".join(paragraphs)


def dump_fods(path, printer):
    row_tag = "{%s}table-row" % TABLE
    table_tag = "{%s}table" % TABLE
    cell_tags = ("{%s}table-cell" % TABLE, "{%s}covered-table-cell" % TABLE)
    for event, element in ET.iterparse(path, events=("start", "end")):
        if event == "start" and element.tag == table_tag:
            printer.sheet(element.get("{%s}name" % TABLE, ""))
        elif event == "end" and element.tag == row_tag:
            cells = []
            for cell in element:
                if cell.tag not in cell_tags:
                    continue
                repeat = int(cell.get("{%s}number-columns-repeated" % TABLE, "1"))
                value = cell_of(cell)
                if repeat > MAX_REPEATED_CELLS and value == ("", ""):
                    continue
                cells.extend([value] * repeat)
            repeat = int(element.get("{%s}number-rows-repeated" % TABLE, "1"))
            empty = all(value == ("", "") for value in cells)
            if not (empty and repeat > MAX_REPEATED_ROWS):
                for _ in range(repeat):
                    printer.row(cells)
            element.clear()


def dump_delimited(path, delimiter, printer):
    with open(path, "rb") as raw:
        data = raw.read()
    if data and not data.endswith(b"\r\n"):
        printer.error("the file does not end with CR LF")
    if data.replace(b"\r\n", b"").count(b"\r") or data.replace(b"\r\n", b"").count(b"\n"):
        printer.error("a CR or LF stands outside a CR LF line end")
    printer.sheet("")
    with open(path, newline="", encoding="utf-8") as f:
        reader = csv.reader(f, delimiter=delimiter, quoting=csv.QUOTE_NONE, lineterminator="\r\n",
                            strict=True)
        for fields in reader:
            printer.row([("text", field) for field in fields])


def dump_standard(path, delimiter, printer):
    with open(path, "rb") as raw:
        data = raw.read()
    if data and not data.endswith(b"\r\n"):
        printer.error("the file does not end with CR LF")
    printer.sheet("")
    with open(path, newline="", encoding="utf-8-sig") as f:
        for fields in csv.reader(f, delimiter=delimiter, strict=True):
            printer.row([("text", field) for field in fields])


def rfc4180_fields(data, printer):
    """The records of RFC 4180 text, each field as (quoted, text): an unquoted empty field is
    kept apart from the quoted empty one, which the csv module cannot do."""
    records, fields, at = [], [], 0
    while at < len(data):
        if data.startswith('"', at):
            end, text = at + 1, []
            while True:
                quote = data.find('"', end)
                if quote < 0:
                    printer.error("a quoted field does not end")
                    return records
                text.append(data[end:quote])
                if data.startswith('""', quote):
                    text.append('"')
                    end = quote + 2
                else:
                    at = quote + 1
                    break
            fields.append((True, "".join(text)))
        else:
            ends = [i for i in (data.find(",", at), data.find("\n", at)) if i >= 0]
            stop = min(ends) if ends else len(data)
            text = data[at:stop]
            if text.endswith("\r") and data.startswith("\n", stop):
                text = text[:-1]
            if '"' in text:
                printer.error("a quote inside an unquoted field")
            fields.append((False, text))
            at = stop
        if data.startswith(",", at):
            at += 1
            if at == len(data):
                fields.append((False, ""))
        elif data.startswith("\r\n", at) or data.startswith("\n", at) or at >= len(data):
            at += 2 if data.startswith("\r\n", at) else 1
            records.append(fields)
            fields = []
        else:
            printer.error("text after a quoted field")
            return records
    return records


def dump_rfc4180(path, printer):
    """CSV as a database exports it: an unquoted empty field is NULL ("null:")."""
    with open(path, "rb") as raw:
        data = raw.read().decode("utf-8")
    printer.sheet("")
    for fields in rfc4180_fields(data, printer):
        printer.row([("text", text) if quoted or text else ("null", "")
                     for quoted, text in fields])


def dump_mariadb_batch(path, printer):
    """The tab-separated text of the MariaDB client's --batch mode: NULL as NULL, and \\0,
    \\t, \\n and \\\\ for NUL, tab, LF and backslash."""
    escapes = {"0": "\0", "t": "\t", "n": "\n", "\\": "\\", "r": "\r"}
    with open(path, "rb") as raw:
        lines = raw.read().decode("utf-8").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    printer.sheet("")
    for line in lines:
        cells = []
        for field in line.split("\t"):
            if field == "NULL":
                cells.append(("null", ""))
                continue
            text, at = [], 0
            while at < len(field):
                if field[at] == "\\" and at + 1 < len(field):
                    text.append(escapes.get(field[at + 1], field[at + 1]))
                    at += 2
                else:
                    text.append(field[at])
                    at += 1
            cells.append(("text", "".join(text)))
        printer.row(cells)


class TableReader(HTMLParser):
    """Collects the cells of a bare HTML table; anything else in the page is an error."""

    def __init__(self, printer):
        super().__init__(convert_charrefs=True)
        self.printer = printer
        self.tables = 0
        self.row = None
        self.cell = None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.tables += 1
            if attrs != [("border", "1")]:
                self.printer.error("table attributes %r" % (attrs,))
            self.printer.sheet("")
        elif tag == "tr" and self.row is None and self.tables == 1:
            self.row = []
        elif tag in ("th", "td") and self.row is not None and self.cell is None:
            self.cell = (tag, [])
        else:
            self.printer.error("unexpected start tag <%s>" % tag)

    def handle_endtag(self, tag):
        if tag in ("th", "td") and self.cell is not None and self.cell[0] == tag:
            self.row.append((tag, "".join(self.cell[1])))
            self.cell = None
        elif tag == "tr" and self.row is not None and self.cell is None:
            self.printer.row(self.row)
            self.row = None
        elif tag == "table" and self.row is None:
            pass
        else:
            self.printer.error("unexpected end tag </%s>" % tag)

    def handle_data(self, data):
        if self.cell is not None:
            self.cell[1].append(data)
        elif data.strip():
            self.printer.error("text outside a cell: %r" % data)

    def handle_comment(self, data):
        self.printer.error("comment in the table")

    def handle_decl(self, decl):
        self.printer.error("declaration in the table")


def dump_html(path, printer):
    with open(path, "rb") as raw:
        data = raw.read()
    if not data.endswith(b"</table>\r\n"):
        printer.error("the page does not end with </table> and CR LF")
    reader = TableReader(printer)
    reader.feed(data.decode("utf-8"))
    reader.close()
    if reader.tables != 1:
        printer.error("%d tables" % reader.tables)
    if reader.row is not None or reader.cell is not None:
        printer.error("a row or cell is left open")


def xlsx_cell(cell):
    import datetime
    value = cell.value
    if value is None:
        return "", ""
    if isinstance(value, bool):
        return "bool", "TRUE" if value else "FALSE"
    if isinstance(value, datetime.datetime):
        return "datetime", value.isoformat()
    if isinstance(value, datetime.date):
        return "date", value.isoformat()
    if isinstance(value, datetime.time):
        return "time", value.isoformat()
    if isinstance(value, (int, float)):
        return "number", repr(value)
    return "text", str(value)


def dump_xlsx(path, printer):
    import openpyxl
    from openpyxl.utils import get_column_letter
    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
        printer.sheet(sheet.title)
        for row in sheet.iter_rows():
            printer.row([xlsx_cell(cell) for cell in row])
        header = next(sheet.iter_rows(max_row=1), ())
        bold = "".join("1" if cell.font is not None and cell.font.b else "0" for cell in header)
        widths = ",".join(
            "%g" % (sheet.column_dimensions[get_column_letter(i + 1)].width or 0)
            for i in range(len(header)))
        info = [("freeze", sheet.freeze_panes or ""), ("filter", sheet.auto_filter.ref or ""),
                ("bold", bold), ("widths", widths)]
        printer.line("I" + "".join("\t%s:%s" % (name, escape(value)) for name, value in info))


def main(argv):
    modes = ("fods", "csv", "tsv", "standard-csv", "standard-tsv", "html", "xlsx", "rfc4180",
             "mariadb-batch")
    if len(argv) != 3 or argv[1] not in modes:
        sys.stderr.write(__doc__)
        return 2
    printer = Printer()
    mode, path = argv[1], argv[2]
    try:
        if mode == "fods":
            dump_fods(path, printer)
        elif mode == "csv":
            dump_delimited(path, ",", printer)
        elif mode == "tsv":
            dump_delimited(path, "\t", printer)
        elif mode == "standard-csv":
            dump_standard(path, ",", printer)
        elif mode == "standard-tsv":
            dump_standard(path, "\t", printer)
        elif mode == "xlsx":
            dump_xlsx(path, printer)
        elif mode == "rfc4180":
            dump_rfc4180(path, printer)
        elif mode == "mariadb-batch":
            dump_mariadb_batch(path, printer)
        else:
            dump_html(path, printer)
    except (OSError, UnicodeDecodeError, csv.Error, ET.ParseError, ValueError, KeyError,
            ImportError, zipfile.BadZipFile) as e:
        printer.error("%s: %s" % (type(e).__name__, e))
    sys.stdout.flush()
    return 1 if printer.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
