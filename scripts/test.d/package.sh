#!/usr/bin/env bash
# The Debian package as a user gets it: built as docs/reference.md says (scripts/package.sh,
# a Release build of the executable alone in build-release/), its file list, control fields
# and changelog checked, unpacked into a temporary root and its executable run there
# (--version, --help and the bundled demo job, unattended, against a private ODBC
# configuration), its man page, desktop entry and metainfo validated, and lintian run on
# it. Any lintian error fails the stage; warnings are printed.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$top"
started=$(date +%s)

fail() {
  echo "package stage: $*" >&2
  exit 1
}
for tool in dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli groff sqlite3 \
  xmllint file; do
  command -v "$tool" > /dev/null || fail "$tool is missing (scripts/packages.d/package.txt)"
done
scripts/odbc-driver.sh libsqlite3odbc.so > /dev/null || fail "no SQLite3 ODBC driver"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(scripts/package.sh 2> "$work/package.log" | tail -n 1) ||
  fail "scripts/package.sh failed: $(cat "$work/package.log")"
[ -f "$deb" ] || fail "scripts/package.sh printed no package path"
built=$(date +%s)
echo "package: $deb"

# The control fields: the version of the build, dependencies computed from the executable's
# libraries, the recommended drivers and spreadsheet programs, the maintainer.
version=$(sed -n 's/^project(rowpress VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = rowpress ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version), expected $version-1"
[ "$(field Maintainer)" = "rowpress developers <rowpress@example.org>" ] ||
  fail "Maintainer: $(field Maintainer)"
[ "$(field Section)" = database ] || fail "Section: $(field Section)"
for library in libc6 libodbc2 libqt6widgets6 libstdc++6 libxlsxwriter4 libzip4; do
  [[ ", $(field Depends)," == *", $library "* ]] || fail "Depends lacks $library: $(field Depends)"
done
# A spreadsheet program of any of the three kinds satisfies it: an installed no-GUI Calc is
# not replaced by (and so removed for) the desktop one.
for recommended in libsqliteodbc odbc-postgresql odbc-mariadb \
  "libreoffice-calc | libreoffice-calc-nogui | gnumeric"; do
  [[ ", $(field Recommends)," == *", $recommended,"* ]] ||
    fail "Recommends lacks $recommended: $(field Recommends)"
done
# The description names every output type, the .xlsx workbook among them.
[[ "$(field Description)" == *"Office Open XML workbook (.xlsx)"* ]] ||
  fail "the description does not name the .xlsx output: $(field Description)"

# The file list: every file with its mode and owner. Directories must be root's and 0755.
dpkg-deb -c "$deb" > "$work/contents"
awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print; bad = 1 } END { exit bad }' \
  "$work/contents" || fail "directories that are not root's 0755, above"
awk '$1 !~ /^d/ { print $1, $2, $6 }' "$work/contents" | sort > "$work/files"
{
  echo "-rwxr-xr-x root/root ./usr/bin/rowpress"
  for file in share/applications/rowpress.desktop share/doc/rowpress/README.md \
    share/doc/rowpress/reference.md share/doc/rowpress/changelog.Debian.gz \
    share/doc/rowpress/copyright \
    share/icons/hicolor/scalable/apps/rowpress.svg share/man/man1/rowpress.1.gz \
    share/metainfo/org.example.rowpress.metainfo.xml share/rowpress/help.html; do
    echo "-rw-r--r-- root/root ./usr/$file"
  done
  for size in 16 24 32 48 64 128 256; do
    echo "-rw-r--r-- root/root ./usr/share/icons/hicolor/${size}x$size/apps/rowpress.png"
  done
} | sort > "$work/expected"
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected list"

root="$work/root"
dpkg -x "$deb" "$root"
usr="$root/usr"

# Stripped, and the changelog names the package's version.
[[ "$(file "$usr/bin/rowpress")" == *", stripped"* ]] || fail "usr/bin/rowpress is not stripped"
changelog_version=$(zcat "$usr/share/doc/rowpress/changelog.Debian.gz" |
  sed -n '1s/^rowpress (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version-1" ] ||
  fail "the changelog's newest entry is $changelog_version, the package $version-1"
for size in 16 24 32 48 64 128 256; do
  [[ "$(file "$usr/share/icons/hicolor/${size}x$size/apps/rowpress.png")" == \
    *"PNG image data, $size x $size,"* ]] || fail "the ${size}x$size icon has another size"
done

# The unpacked executable.
[ "$("$usr/bin/rowpress" --version)" = "rowpress $version" ] ||
  fail "--version printed: $("$usr/bin/rowpress" --version)"
help=$("$usr/bin/rowpress" --help) || fail "--help failed"
[[ "$help" == "Usage: rowpress "* ]] || fail "--help printed: $help"

# The bundled demo job, unattended, from the demo database through the SQLite3 driver, with
# a private ODBC configuration and default directory. The package has no pause points: a run
# told to wait at one, reading /dev/zero, would never end (timeout ends it with 124).
scripts/demo-odbc.sh "$work"
status=0
path=$(ODBCSYSINI="$work" ODBCINI="$work/odbc-user.ini" ROWPRESS_HOME="$work/home" \
  ROWPRESS_TEST_PAUSE=kept=/dev/zero timeout 120 \
  "$usr/bin/rowpress" -silent -noautoopen "-file=$top/demo/demo.DIRU" 2> "$work/stderr") ||
  status=$?
[ "$status" -eq 0 ] || fail "the demo job ended with status $status: $(cat "$work/stderr")"
[[ "$path" == "$work/home/row"*.TMP.xls ]] || fail "the demo job printed: $path"
[ -f "$path" ] || fail "the demo job's output $path does not exist"
[ -f "$work/home/lasttablecolumntypeinfo.csv" ] || fail "no column type report"
xmllint --noout "$path" || fail "the demo workbook is not well-formed XML"
grep -q 'ss:ExpandedColumnCount="14" ss:ExpandedRowCount="7501"' "$path" ||
  fail "the demo workbook does not hold 14 columns and 7,501 rows"
# The header row: the cells of the first <Row>.
header=$(tr -d '\r' < "$path" | awk '
  /^<Row>$/ { row++ }
  row == 1 && sub(/^ *<Cell><Data ss:Type="String">/, "") && sub(/<\/Data><\/Cell>$/, "") {
    printf "%s%s", (n++ ? " " : ""), $0
  }')
[ "$header" = "order_no ordered status customer city country product category quantity unit_price discount amount shipped comment" ] ||
  fail "the demo workbook's header row is: $header"

# The man page reads without a warning; the desktop entry and the metainfo validate.
zcat "$usr/share/man/man1/rowpress.1.gz" | groff -man -ww -z 2> "$work/groff"
[ ! -s "$work/groff" ] || fail "groff warns about the man page: $(cat "$work/groff")"
desktop-file-validate "$usr/share/applications/rowpress.desktop" ||
  fail "desktop-file-validate failed"
appstreamcli validate --no-net "$usr/share/metainfo/org.example.rowpress.metainfo.xml" ||
  fail "appstreamcli validate failed"
grep -q "Office Open XML workbook (.xlsx)" "$usr/share/metainfo/org.example.rowpress.metainfo.xml" ||
  fail "the metainfo does not name the .xlsx output"
# The metainfo with the desktop entry it launches, as a software centre finds them.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree failed"

# lintian: errors fail the stage; the rest is shown. Run as root it says so; that line is
# dropped.
lintian_status=0
lintian --fail-on error "$deb" > "$work/lintian" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"
echo "package stage: build $((built - started)) s, checks $(($(date +%s) - built)) s"
