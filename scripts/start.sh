#!/usr/bin/env bash
# Builds Sedimetra (installing what is missing) and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
sedimetra_install_deps
sedimetra_build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Sedimetra is built, but there is no display to show its window on (DISPLAY is not set)." >&2
  echo "Run it from a desktop session, or on a machine without one under a virtual display:" >&2
  echo "  xvfb-run -a $root/scripts/start.sh" >&2
  exit 1
fi
exec "$root/build/bin/sedimetra"
