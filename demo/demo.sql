-- The demo database of rowpress: a small shop with customers, products, orders and their
-- lines. Numbers, dates, NULLs, and text with commas, quotes and non-ASCII letters.
PRAGMA journal_mode = OFF;
BEGIN;

CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL,
  city VARCHAR(40),
  country VARCHAR(40),
  email VARCHAR(80),
  credit_limit NUMERIC(10,2),
  joined DATE
);

CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL,
  category VARCHAR(30),
  unit_price NUMERIC(10,2) NOT NULL,
  weight_kg REAL,
  notes TEXT
);

CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers(id),
  ordered DATE NOT NULL,
  shipped TIMESTAMP,
  status VARCHAR(12) NOT NULL,
  comment TEXT
);

CREATE TABLE order_items (
  order_id INTEGER NOT NULL REFERENCES orders(id),
  line INTEGER NOT NULL,
  product_id INTEGER NOT NULL REFERENCES products(id),
  quantity INTEGER NOT NULL,
  discount DOUBLE,
  PRIMARY KEY (order_id, line)
);

CREATE TABLE first_names (n INTEGER PRIMARY KEY, name VARCHAR(20));
INSERT INTO first_names (name) VALUES
  ('Anna'), ('Björn'), ('Chloé'), ('Dmitri'), ('Eleanor'), ('François'), ('Grete'),
  ('Håkon'), ('Ines'), ('José'), ('Kasia'), ('Łukasz'), ('Mónica'), ('Niamh'), ('Oğuz'),
  ('Petra'), ('Quentin'), ('Renée'), ('Søren'), ('Tomás');
CREATE TABLE last_names (n INTEGER PRIMARY KEY, name VARCHAR(20));
INSERT INTO last_names (name) VALUES
  ('O''Brien'), ('Müller'), ('García'), ('Nowak'), ('Dubois'), ('Rossi'), ('Andersson'),
  ('Smith, Jr.'), ('Kowalczyk'), ('Ferreira'), ('Ødegaard'), ('Yılmaz'), ('Novák'), ('Brown');
CREATE TABLE places (n INTEGER PRIMARY KEY, city VARCHAR(40), country VARCHAR(40));
INSERT INTO places (city, country) VALUES
  ('Zürich', 'Switzerland'), ('São Paulo', 'Brazil'), ('Kraków', 'Poland'),
  ('Malmö', 'Sweden'), ('Reykjavík', 'Iceland'), ('Montréal', 'Canada'),
  ('Washington, D.C.', 'United States'), ('Köln', 'Germany'), ('Dublin', 'Ireland'),
  ('Lyon', 'France'), (NULL, 'Unknown');

-- 1,200 customers.
WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 1200)
INSERT INTO customers (id, name, city, country, email, credit_limit, joined)
SELECT i,
       (SELECT name FROM first_names WHERE n = 1 + (i * 7) % 20) || ' ' ||
       (SELECT name FROM last_names WHERE n = 1 + (i * 11) % 14),
       (SELECT city FROM places WHERE n = 1 + (i * 5) % 11),
       (SELECT country FROM places WHERE n = 1 + (i * 5) % 11),
       CASE WHEN i % 9 = 0 THEN NULL ELSE 'customer' || i || '@example.com' END,
       CASE WHEN i % 13 = 0 THEN NULL ELSE ((i * 37) % 500) * 100 + 0.5 * (i % 2) END,
       date('2015-01-01', '+' || ((i * 17) % 3650) || ' days')
FROM c;

-- 150 products.
WITH RECURSIVE p(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM p WHERE i < 150)
INSERT INTO products (id, name, category, unit_price, weight_kg, notes)
SELECT i,
       CASE i % 6
         WHEN 0 THEN 'Bolt M' || (i % 12 + 3) || ', zinc-plated'
         WHEN 1 THEN 'Cable "Flex" ' || (i % 5 + 1) || ' m'
         WHEN 2 THEN 'Crème cleaner ' || i
         WHEN 3 THEN 'Drill bit ø' || (i % 10 + 2) || ' mm'
         WHEN 4 THEN 'Glove size ' || (i % 4 + 7)
         ELSE 'Lamp <LED> ' || i || ' W'
       END,
       CASE i % 5 WHEN 0 THEN 'Hardware' WHEN 1 THEN 'Electrical' WHEN 2 THEN 'Cleaning'
                  WHEN 3 THEN 'Tools' ELSE 'Safety & Care' END,
       round(((i * 733) % 20000) / 100.0 + 0.99, 2),
       CASE WHEN i % 10 = 0 THEN NULL ELSE round(((i * 97) % 5000) / 1000.0, 3) END,
       CASE WHEN i % 4 = 0 THEN 'Fragile; keep dry, "this side up"'
            WHEN i % 4 = 1 THEN NULL ELSE 'Stocked in hall ' || (i % 3 + 1) END
FROM p;

-- 3,000 orders.
WITH RECURSIVE o(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM o WHERE i < 3000)
INSERT INTO orders (id, customer_id, ordered, shipped, status, comment)
SELECT i,
       1 + (i * 31) % 1200,
       date('2023-01-01', '+' || ((i * 7) % 700) || ' days'),
       CASE WHEN i % 8 = 0 THEN NULL
            ELSE datetime('2023-01-01 08:00:00', '+' || ((i * 7) % 700 + 1 + i % 4) || ' days',
                          '+' || ((i * 53) % 600) || ' minutes') END,
       CASE WHEN i % 8 = 0 THEN 'open' WHEN i % 17 = 0 THEN 'returned' ELSE 'shipped' END,
       CASE WHEN i % 11 = 0 THEN 'Customer asked: "deliver before noon, please"'
            WHEN i % 23 = 0 THEN 'Lieferung an Nachbarn, Tür 2'
            ELSE NULL END
FROM o;

-- About 7,500 order lines.
WITH RECURSIVE l(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM l WHERE i < 7500)
INSERT INTO order_items (order_id, line, product_id, quantity, discount)
SELECT 1 + (i - 1) / 5 * 2 + ((i - 1) % 5) / 3, 1 + (i - 1) % 5 % 3,
       1 + (i * 43) % 150, 1 + (i * 7) % 24,
       CASE WHEN i % 6 = 0 THEN 0.1 WHEN i % 15 = 0 THEN 0.25 ELSE NULL END
FROM l WHERE 1 + (i - 1) / 5 * 2 + ((i - 1) % 5) / 3 <= 3000;

DROP TABLE first_names;
DROP TABLE last_names;
DROP TABLE places;

CREATE VIEW "Order Summary" AS
SELECT o.id AS order_id, c.name AS customer, o.ordered, o.status,
       count(*) AS lines, round(sum(i.quantity * p.unit_price * (1 - coalesce(i.discount, 0))), 2)
         AS total
FROM orders o JOIN customers c ON c.id = o.customer_id
JOIN order_items i ON i.order_id = o.id JOIN products p ON p.id = i.product_id
GROUP BY o.id;

COMMIT;
