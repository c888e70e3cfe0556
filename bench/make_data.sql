-- 1,000,000 rows by 8 columns of mixed types for the benchmark; ROWS is replaced by the
-- row count before the script runs.
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE bench (
  id INTEGER,
  amount REAL,
  price NUMERIC(10,2),
  code VARCHAR(12),
  label VARCHAR(40),
  note TEXT,
  day DATE,
  flag INTEGER
);
WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < ROWS)
INSERT INTO bench
SELECT i,
       (i * 7919 % 1000003) / 97.0,
       round((i * 31 % 100000) / 100.0, 2),
       'C' || (i % 99991),
       'item ' || i || ', "' || (i % 17) || '"',
       CASE WHEN i % 10 = 0 THEN NULL
            ELSE 'A longer note about row ' || i || ': with commas, "quotes" and ümlauts' END,
       date('2000-01-01', '+' || (i % 9000) || ' days'),
       CASE WHEN i % 7 = 0 THEN NULL ELSE i % 2 END
FROM c;
-- The same number of rows, heavy in numbers and dates: what a driver converts from binary
-- values (integers, doubles, decimals) and dates is most of each row.
CREATE TABLE figures (
  id INTEGER,
  quantity INTEGER,
  amount REAL,
  price NUMERIC(12,2),
  ratio REAL,
  day DATE,
  stamp TIMESTAMP,
  total INTEGER
);
WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < ROWS)
INSERT INTO figures
SELECT i,
       i % 1000 - 500,
       (i * 7919 % 1000003) / 97.0,
       round((i * 31 % 10000000) / 100.0, 2),
       (i % 9973) / 9973.0,
       date('2000-01-01', '+' || (i % 9000) || ' days'),
       datetime('2000-01-01 00:00:00', '+' || (i * 37 % 800000000) || ' seconds'),
       i * 104729
FROM c;
