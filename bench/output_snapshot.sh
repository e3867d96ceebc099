#!/bin/sh
# Writes every deterministic output of the 150 × 300 project (支持点数 150) into DIR,
# so that two builds can be compared part by part:
#   bench/output_snapshot.sh build/bin /tmp/before
#   bench/output_snapshot.sh build/bin /tmp/after /tmp/before/large.mdb
#   diff -r /tmp/before/cmp /tmp/after/cmp
# Give the first run's project to the second: a new project's history carries the
# times it was made at, which the report's record page prints.
# The workbook is compared by its unzipped parts, the drawings as written, the report
# by its text page by page (pdftotext), the JSON figures as written.
set -eu
bin=$(cd "$1" && pwd)
out=$2
rm -rf "$out"
mkdir -p "$out/program" "$out/cmp"
cp "$bin/Sdmx.mdb" "$bin/sedimetra-batch" "$out/program/"
cp -r "$bin/Support" "$out/program/"
sqlite3 "$out/program/Sdmx.mdb" "INSERT OR REPLACE INTO Para1 (Name, Value) VALUES ('支持点数', '150')"
batch="$out/program/sedimetra-batch"
if [ $# -ge 3 ]; then
    cp "$3" "$out/large.mdb"
    cd "$out"
else
    "$bin/../bench/sedimetra-make-large-project" "$out/large.mdb" 150 300 >/dev/null
    cd "$out"
    # Positions on a 10 × 15 grid, 6 m apart, in metres on a local grid.
    awk 'BEGIN { print "点号,X,Y"; for (i = 0; i < 150; ++i) printf "J%d,%.3f,%.3f\n", i + 1, 500 + 6 * (i % 15), 300 + 6 * int(i / 15) }' >positions.csv
    "$batch" coords large.mdb positions.csv --axes en >/dev/null 2>&1
fi
"$batch" table large.mdb --out results.xlsx >/dev/null
mkdir -p cmp/results.xlsx && (cd cmp/results.xlsx && unzip -q -o ../../results.xlsx)
for kind in settlement rate load plan; do
    "$batch" curves large.mdb --kind $kind --out cmp/$kind.dxf >/dev/null
done
"$batch" analyse large.mdb --format json >cmp/analyse.json
"$batch" plan large.mdb --format json >cmp/plan.json
"$batch" report large.mdb --out report.pdf --date 2026-01-01 >/dev/null
pages=$(pdfinfo report.pdf | awk '/^Pages:/ {print $2}')
mkdir -p cmp/report
i=1
while [ "$i" -le "$pages" ]; do
    pdftotext -layout -f "$i" -l "$i" report.pdf "cmp/report/$(printf %04d "$i").txt"
    i=$((i + 1))
done
echo "$out/cmp: workbook parts, 4 drawings, analyse and plan JSON, $pages report pages"
