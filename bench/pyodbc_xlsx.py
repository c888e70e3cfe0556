"""A peer for the benchmark: the same query through the same DSN with pyodbc, written as an
.xlsx workbook with XlsxWriter in its constant-memory mode: typed cells as pyodbc delivers
them (numbers, dates), a bold header row."""
import sys

import pyodbc
import xlsxwriter

dsn, sql, out = sys.argv[1], sys.argv[2], sys.argv[3]
connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
cursor = connection.cursor()
cursor.execute(sql)
workbook = xlsxwriter.Workbook(out, {"constant_memory": True,
                                     "default_date_format": "yyyy-mm-dd"})
sheet = workbook.add_worksheet()
sheet.write_row(0, 0, [d[0] for d in cursor.description], workbook.add_format({"bold": True}))
row = 1
while True:
    rows = cursor.fetchmany(10000)
    if not rows:
        break
    for values in rows:
        sheet.write_row(row, 0, values)
        row += 1
workbook.close()
