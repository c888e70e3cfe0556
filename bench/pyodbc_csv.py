"""A peer for the benchmark: the same query through the same DSN with pyodbc, written as
CSV with fetchmany."""
import csv
import sys

import pyodbc

dsn, sql, out = sys.argv[1], sys.argv[2], sys.argv[3]
connection = pyodbc.connect("DSN=" + dsn, autocommit=True)
cursor = connection.cursor()
cursor.execute(sql)
with open(out, "w", newline="", encoding="utf-8") as f:
    writer = csv.writer(f)
    writer.writerow([d[0] for d in cursor.description])
    while True:
        rows = cursor.fetchmany(10000)
        if not rows:
            break
        writer.writerows(rows)
