#!/usr/bin/env bash
# Installs what is missing, builds everything, runs the engine's real-thread tests under
# ThreadSanitizer in a second, small build, then runs every test suite with ctest (last,
# so its summary closes the output).
# Exit status: that of the tests (non-zero when any suite or the sanitizer run failed).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
zelvik_configure_and_build "$BUILD_DIR"

# ThreadSanitizer: only the engine test target, without Qt. A data race is reported
# on stderr and makes the run fail.
TSAN_DIR="${ZELVIK_TSAN_BUILD_DIR:-$ZELVIK_ROOT/build-tsan}"
tsan_status=0
cmake -S "$ZELVIK_ROOT" -B "$TSAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIK_TSAN=ON \
  -DZELVIK_WITH_QT=OFF >/dev/null || tsan_status=$?
if [[ $tsan_status -eq 0 ]]; then
  cmake --build "$TSAN_DIR" -j "$(nproc)" --target zelvik_shell_test || tsan_status=$?
fi
if [[ $tsan_status -eq 0 ]]; then
  echo "zelvik: engine thread tests under ThreadSanitizer" >&2
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" \
    "$TSAN_DIR/tests/shell/zelvik_shell_test" --gtest_filter='EngineThreads.*' || tsan_status=$?
fi
if [[ $tsan_status -ne 0 ]]; then
  echo "zelvik: ThreadSanitizer run failed (status $tsan_status)" >&2
fi

status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" "$@") || status=$?
[[ $status -eq 0 ]] && status=$tsan_status
exit "$status"
