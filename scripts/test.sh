#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, the Debian packages, the ASan+UBSan
# build, and a short libFuzzer run of every fuzz target. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Build folders: build, build-asan and build-fuzz, or <prefix>, <prefix>-asan and <prefix>-fuzz.
prefix=${TALLYPORT_BUILD_PREFIX:-build}
# A compiler cache, where the machine has one, makes repeated runs cheap; the result is the same.
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

bash scripts/install-deps.sh

echo "== normal build"
cmake -S . -B "$prefix" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
cmake --build "$prefix" -j "$jobs"
ctest --test-dir "$prefix" --output-on-failure -j "$jobs"

echo "== Debian packages (contents, lintian, apt-get install into a fresh root)"
bash scripts/package-test.sh "$prefix"

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B "$prefix-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALLYPORT_SANITIZE=ON -DTALLYPORT_BENCH=OFF "${launcher[@]}"
cmake --build "$prefix-asan" -j "$jobs"
# Qt and fontconfig keep caches for the life of the process; leaks are checked in the core tests.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir "$prefix-asan" --output-on-failure -j "$jobs"

echo "== fuzz targets (short run each)"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
