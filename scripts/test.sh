#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite.
# Exit status: that of the tests.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
zelvik_configure_and_build "$BUILD_DIR"

cd "$BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
