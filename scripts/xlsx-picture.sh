#!/usr/bin/env bash
# Renders docs/xlsx.png: an .xlsx export of the demo database's orders as LibreOffice Calc
# lays it out (LibreOffice prints the workbook to PDF, headless, and pdftoppm of
# poppler-utils turns its first page into a PNG; the no-GUI Calc has no PNG export of its
# own). The export runs unattended on the demo database in a private ODBC configuration.
# Builds rowpress in build/ (or $BUILD_DIR) when needed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target rowpress

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/demo-odbc.sh "$work"
cat > "$work/orders.DIRU" <<'JOB'
Database="rowpress-demo";
SQL="select o.id as order_id, o.ordered, o.shipped, c.credit_limit, o.status from orders o join customers c on c.id = o.customer_id order by o.id limit 24";
XLSX="1";
DoLaunchApplication="0";
JOB

ODBCSYSINI="$work" ODBCINI="$work/odbc-user.ini" ROWPRESS_HOME="$work/home" \
  "$build/rowpress" -silent -file="$work/orders.DIRU" -outfile="$work/orders.xlsx" > /dev/null
mkdir -p "$work/lo-home" docs
HOME="$work/lo-home" soffice --headless --norestore -env:UserInstallation="file://$work/lo-profile" \
  --convert-to pdf --outdir "$work" "$work/orders.xlsx" > /dev/null
# The top of the first page, where the rows are.
pdftoppm -png -r 110 -f 1 -l 1 -x 60 -y 70 -W 800 -H 640 -singlefile "$work/orders.pdf" \
  "$work/orders"
cp "$work/orders.png" docs/xlsx.png
echo "docs/xlsx.png"
