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
