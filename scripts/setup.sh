#!/usr/bin/env bash
# Installs every Debian package Zelvik needs to build, test and run, but only when
# something is missing, so a second run costs a second. Sourced by test.sh and demo.sh.
set -euo pipefail

ZELVIK_PACKAGES=(
  cmake g++ make pkg-config
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql-15
  qt6-base-dev libmseed-dev libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libasound2-dev libkissfft-dev libpugixml-dev libcurl4-openssl-dev
  python3 python3-aiosmtpd python3-numpy python3-scipy sqlite3 xvfb xauth time
  clang libclang-rt-14-dev clang-format
  libsystemd-dev prometheus-node-exporter qt6-translations-l10n openbox
)

zelvik_missing_packages() {
  local missing=()
  for p in "${ZELVIK_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  echo "${missing[@]:-}"
}

zelvik_install_packages() {
  local missing
  missing="$(zelvik_missing_packages)"
  if [[ -z "${missing// /}" ]]; then
    return 0
  fi
  echo "zelvik: installing missing packages: $missing" >&2
  local sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  # shellcheck disable=SC2086
  $sudo apt-get install -y -q --no-install-recommends $missing
}

zelvik_configure_and_build() {
  local build_dir="$1"; shift
  cmake -S "$ZELVIK_ROOT" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$build_dir" -j "$(nproc)"
}

ZELVIK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export ZELVIK_ROOT
