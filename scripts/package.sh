#!/usr/bin/env bash
# Builds the Debian package of Sedimetra (installing what is missing) in a
# build folder of its own, without tests: build-package/sedimetra_*.deb.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
sedimetra_install_deps
out="$root/build-package"
cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release -DSEDIMETRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$out" -j"$(nproc)"
(cd "$out" && cpack -G DEB)
ls "$out"/sedimetra_*.deb
