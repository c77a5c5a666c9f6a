#!/usr/bin/env bash
# Installs what is missing, builds Zelvik and runs it headless on the embedded store.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
zelvik_configure_and_build "$BUILD_DIR"
echo "zelvik: demo not wired yet" >&2
