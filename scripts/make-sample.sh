#!/usr/bin/env bash
# Makes docs/示例工程.mdb, the project the user guide follows, from the files
# in docs/示例数据/ with sedimetra-batch alone: eight points, ten epochs read
# from the crew's workbooks, the results-table header, the building's
# height, structure, soil and alarm values, and the points' coordinates.
# usage: scripts/make-sample.sh [BIN_DIR] [OUT.mdb]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="${1:-$root/build/bin}"
out="${2:-$root/docs/示例工程.mdb}"
data="$root/docs/示例数据"
B="$bin/sedimetra-batch"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
project="$work/示例工程.mdb"

# The history names who wrote each value: the sample's surveyor.
export USER=测量员 LOGNAME=测量员

"$B" new "$project" >/dev/null
"$B" points "$project" add J1 J2 J3 J4 J5 J6 J7 J8 >/dev/null
"$B" header "$project" 工程名称=示例住宅楼1号楼 委托单位=示例置业有限公司 测量单位=示例测绘院 \
    结构形式=框架剪力墙 建筑层次=18层 仪器型号=DiNi03 起算点号=BM1 起算高程=10.000 \
    建筑高度=54m 地基土=中压缩性土 累计沉降预警值=50 沉降速率预警值=0.2 >/dev/null
n=0
while read -r date name floors book; do
  "$B" epoch "$project" add --date "$date" --name "$name" --layers "$floors" >/dev/null
  "$B" import "$project" --epoch "$n" "$data/$book" >/dev/null
  n=$((n + 1))
done < "$data/观测期次.txt"
"$B" coords "$project" "$data/测点坐标.csv" >/dev/null 2>&1
"$B" verify "$project" >/dev/null
mv "$project" "$out"
echo "$out"
