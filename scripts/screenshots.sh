#!/usr/bin/env bash
# The user guide's pictures, docs/images/*.png, taken of the program itself:
# builds (installing what is missing), drives the window through the
# guide's tasks on a copy of the sample project docs/示例工程.mdb, on the
# offscreen platform (no picture needs a window manager), and renders four
# pages of the sample's report. The sample is made with sedimetra-batch by
# scripts/make-sample.sh when it is missing, or with --new-sample.
# usage: scripts/screenshots.sh [--new-sample]
# The web view's pictures come from the sample pushed to a throwaway
# PostgreSQL cluster, served, and seen by a client in headless Chromium.
# Run it again whenever the window, the report or the web view changes, and
# commit the pictures with the change.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
sedimetra_install_deps
sedimetra_build

images="$root/docs/images"
mkdir -p "$images"
# The committed sample, so that the pictures show the file a reader has;
# made anew when it is missing or asked for (after its data or script change).
if [ ! -f "$root/docs/示例工程.mdb" ] || [ "${1:-}" = "--new-sample" ]; then
  "$root/scripts/make-sample.sh" "$root/build/bin" "$root/docs/示例工程.mdb" >/dev/null
fi
QT_QPA_PLATFORM="offscreen:configfile=$root/tests/offscreen-screen.json" \
  "$root/build/tests/sedimetra-screenshots" "$root/docs/示例工程.mdb" "$root/docs/示例数据/水准示例.gsi" "$images" \
  2> >(grep -v "This plugin does not support\|XDG_RUNTIME_DIR" >&2)

# The report as the client gets it: its cover, a page of the results table,
# a curve sheet and the stability analysis.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$root/docs/示例工程.mdb" "$work/"
"$root/build/bin/sedimetra-batch" report "$work/示例工程.mdb" --out "$work/report.pdf" >/dev/null
for page in "1 report-cover" "4 report-results" "10 report-curves" "15 report-stability"; do
  set -- $page
  pdftoppm -png -r 80 -f "$1" -l "$1" -singlefile "$work/report.pdf" "$images/$2"
  echo "$images/$2.png"
done

/usr/bin/python3 "$root/tests/web_pictures.py" "$root/build/bin" "$root/docs/示例工程.mdb" "$images"
