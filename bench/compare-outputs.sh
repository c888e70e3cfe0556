#!/usr/bin/env bash
# Compares what two rowpress executables write, byte for byte, for the demo job in every output
# type and with the options that change bytes: the files, the manifests (without their start
# and end times), standard output and standard error (without the run's time and the random
# default names). An .xlsx workbook is compared entry by entry, without docProps/core.xml,
# which holds the time it was made. For a change that must keep every output as it was:
#   bench/compare-outputs.sh OLD_ROWPRESS NEW_ROWPRESS
# Exits 1 and names each case that differs.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
old=${1:?usage: compare-outputs.sh OLD_ROWPRESS NEW_ROWPRESS}
new=${2:?usage: compare-outputs.sh OLD_ROWPRESS NEW_ROWPRESS}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$top/scripts/demo-odbc.sh" "$work/odbc" > /dev/null
export ODBCSYSINI="$work/odbc" ODBCINI="$work/odbc/odbc-user.ini" ROWPRESS_HOME="$work/home"
mkdir -p "$work/home"

# Runs one executable on the demo job with the keys of $work/extra.DIRU and the switches given.
run() { # DIR EXECUTABLE SWITCH...
  local dir=$1 exe=$2
  shift 2
  mkdir -p "$dir"
  "$exe" -silent -noautoopen "-file=$top/demo/demo.DIRU" "-file=$work/extra.DIRU" \
    "-outfile=$dir/out" "$@" > "$dir/stdout" 2> "$dir/stderr" || echo "exit $?" >> "$dir/stdout"
  # The times the lines say (" in 0.4 s", " after 0.1 s") differ from run to run.
  sed -i -E 's/ (in|after) [0-9.]+ s/ \1 X s/; s/row[0-9A-F]{4}\.TMP/rowNNNN.TMP/g; s#'"$dir"'#DIR#g' \
    "$dir/stdout" "$dir/stderr"
  # A file written under a default name (the 2007 workbook's), named by its extension.
  for file in "$work"/home/row*; do
    [ -e "$file" ] && mv "$file" "$dir/default-${file##*.TMP}"
  done
  local made=''
  if [ -f "$dir/out" ] && [ "$(head -c 2 "$dir/out")" = "PK" ]; then
    mkdir "$dir/entries" && (cd "$dir/entries" && unzip -q ../out && rm -f docProps/core.xml)
    rm "$dir/out"
    # The digest and the size cover the time the workbook was made, which it holds compressed.
    made='/"(sha256|bytes)"/d;'
  fi
  [ -f "$dir/out.manifest.json" ] &&
    sed -i -E '/"(started|finished)"/d; '"$made"' s#'"$dir"'#DIR#g' "$dir/out.manifest.json"
  return 0
}

status=0
number=0
# Each case: settings keys, a bar, switches.
while IFS='|' read -r keys switches; do
  number=$((number + 1))
  : > "$work/extra.DIRU"
  for pair in $keys; do echo "${pair%%=*}=\"${pair#*=}\";" >> "$work/extra.DIRU"; done
  read -r -a args <<< "$switches"
  run "$work/$number/old" "$old" "${args[@]}"
  run "$work/$number/new" "$new" "${args[@]}"
  if diff -r "$work/$number/old" "$work/$number/new" > "$work/$number.diff"; then
    echo "same: $keys $switches"
  else
    echo "DIFFERENT: $keys $switches"
    head -20 "$work/$number.diff"
    status=1
  fi
done << 'CASES'
XLSX=0|
2007=1|
CSV=1|
CSV=1 QuoteFields=1 ByteOrderMark=1|
TSV=1 ForceFullLength=1|
ForceFullLength=1|
HTML=1 ForceFullLength=1|
CSV=1 QuoteFields=1 ForceFullLength=1|
HTML=1|
XLSX=1|
CSV=1 QuoteFields=1|-separator=; -decimalcomma
CSV=1 QuoteFields=1|-encoding=windows-1252
TSV=1|-encoding=UTF-16LE
CSV=1|-manifest -strict
XLSX=1|-manifest
HTML=1|-manifest=values
CASES
exit $status
