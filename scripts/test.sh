#!/usr/bin/env bash
# Builds Sedimetra (installing what is missing) and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
sedimetra_install_deps
sedimetra_build
cd "$root/build"
ctest --output-on-failure -j2
