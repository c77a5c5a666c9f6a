#!/usr/bin/env bash
# Installs what is missing, builds everything, runs the engine's real-thread tests under
# ThreadSanitizer in a second, small build, the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer in a third (clang, no Qt, no benchmarks), the fuzz targets
# of that build for a bounded number of inputs, then every test suite of the main build
# with ctest (last, so its summary closes the output). Each stage's time is printed.
# Before building, scripts/check_layers.sh checks the include rules between the
# libraries, that Qt stays under */ui/ and that the sources are clang-format clean.
# ZELVIK_SKIP_SANITIZERS=1 leaves out the ASan/UBSan build and the fuzzing.
# Exit status: that of the tests (non-zero when any suite, sanitizer run or fuzz target
# failed).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

zelvik_install_packages
stage_start=$SECONDS
stage_done() {
  echo "zelvik: $1 took $(( SECONDS - stage_start )) s (total $SECONDS s)" >&2
  stage_start=$SECONDS
}
# House rules: includes only of lower libraries, Qt only under */ui/, clang-format clean.
rules_status=0
"$ZELVIK_ROOT/scripts/check_layers.sh" || rules_status=$?
[[ $rules_status -ne 0 ]] && echo "zelvik: house rules broken (scripts/check_layers.sh)" >&2

BUILD_DIR="${ZELVIK_BUILD_DIR:-$ZELVIK_ROOT/build}"
zelvik_configure_and_build "$BUILD_DIR"
stage_done "main build"

# ThreadSanitizer: the engine's thread tests and the worker's compute lane, without Qt.
# A data race is reported on stderr and makes the run fail.
TSAN_DIR="${ZELVIK_TSAN_BUILD_DIR:-$ZELVIK_ROOT/build-tsan}"
tsan_status=0
cmake -S "$ZELVIK_ROOT" -B "$TSAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVIK_TSAN=ON \
  -DZELVIK_WITH_QT=OFF >/dev/null || tsan_status=$?
if [[ $tsan_status -eq 0 ]]; then
  cmake --build "$TSAN_DIR" -j "$(nproc)" --target zelvik_shell_test zelvik_engine_test ||
    tsan_status=$?
fi
if [[ $tsan_status -eq 0 ]]; then
  echo "zelvik: engine thread tests under ThreadSanitizer" >&2
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" \
    "$TSAN_DIR/tests/shell/zelvik_shell_test" --gtest_filter='EngineThreads.*:SettingsReloadTest.*:ServiceHealth.*' || tsan_status=$?
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" \
    "$TSAN_DIR/tests/engine/zelvik_engine_test" \
    --gtest_filter='Worker.ChannelsRunBeside*:ComputeLane.*:Supervisor.CatchUp*:ChannelSetChange.*' ||
    tsan_status=$?
fi
if [[ $tsan_status -ne 0 ]]; then
  echo "zelvik: ThreadSanitizer run failed (status $tsan_status)" >&2
fi
stage_done "ThreadSanitizer build and run"

# AddressSanitizer + UndefinedBehaviorSanitizer (float-cast-overflow included): the whole
# suite without Qt, built with clang so the same tree also holds the fuzz targets. Any
# report ends its test with a failure, a leak included. The ODBC drivers' own leaks are
# excused by scripts/sanitizers/lsan.supp, which names only the drivers: the test
# fixture keeps them loaded to the end (DontDLClose), and whole stacks are recorded
# (fast_unwind_on_malloc=0) so that what a driver allocates through a library it loads
# itself is still matched by the driver's own frame below. print_suppressions=0: the
# programs the tests start are judged by their exact stderr.
ASAN_DIR="${ZELVIK_ASAN_BUILD_DIR:-$ZELVIK_ROOT/build-asan}"
asan_status=0
fuzz_status=0
if [[ "${ZELVIK_SKIP_SANITIZERS:-0}" != 1 ]]; then
  cmake -S "$ZELVIK_ROOT" -B "$ASAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZELVIK_ASAN=ON -DZELVIK_FUZZ=ON \
    -DZELVIK_WITH_QT=OFF -DZELVIK_BUILD_BENCH=OFF >/dev/null || asan_status=$?
  if [[ $asan_status -eq 0 ]]; then
    cmake --build "$ASAN_DIR" -j "$(nproc)" || asan_status=$?
  fi
  stage_done "AddressSanitizer build"
  if [[ $asan_status -eq 0 ]]; then
    echo "zelvik: whole suite under AddressSanitizer and UndefinedBehaviorSanitizer" >&2
    (cd "$ASAN_DIR" &&
      ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=1:${ASAN_OPTIONS:-}" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}" \
      LSAN_OPTIONS="suppressions=$ZELVIK_ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}" \
      ctest --output-on-failure -j "$(nproc)" --timeout 900) || asan_status=$?
  fi
  [[ $asan_status -ne 0 ]] && echo "zelvik: sanitizer run failed (status $asan_status)" >&2
  stage_done "AddressSanitizer suite"
  if [[ $asan_status -eq 0 ]] || [[ -x "$ASAN_DIR/fuzz/sac_file_fuzz" ]]; then
    "$ZELVIK_ROOT/scripts/fuzz.sh" "$ASAN_DIR" || fuzz_status=$?
  else
    fuzz_status=1
  fi
  [[ $fuzz_status -ne 0 ]] && echo "zelvik: fuzzing failed" >&2
  stage_done "fuzzing"
fi

status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" "$@") || status=$?
stage_done "main suite"
[[ $status -eq 0 ]] && status=$tsan_status
[[ $status -eq 0 ]] && status=$asan_status
[[ $status -eq 0 ]] && status=$fuzz_status
[[ $status -eq 0 ]] && status=$rules_status
exit "$status"
