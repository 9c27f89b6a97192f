#!/usr/bin/env bash
# What CI runs (.ci/run): installs what is missing, then
#   0. every #include against the layers' direction         (scripts/check-layers.sh)
#      and the layout of every C++ file against .clang-format (scripts/format.sh --check)
#   1. the normal build and the whole test suite            (build/)
#   2. the same suite, less the slow journeys, with ASan+UBSan (build-asan/, clang, scripts/sanitize.sh)
#   3. every fuzz target for a fixed number of inputs, one per core (build-fuzz/, scripts/fuzz.sh)
# and says how long each step took. ZIDE_CI_STEPS picks steps (default "0 1 2 3").
# Root rights are used only to install missing packages (through sudo when called by an ordinary user);
# the builds and the tests run as the caller, the same for root and for anyone else.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

steps=${ZIDE_CI_STEPS:-0 1 2 3}
times=()
step() {
  local name=$1 t=$SECONDS
  shift
  echo "== $name"
  "$@"
  times+=("$name: $((SECONDS - t)) s")
}
normal() {
  scripts/build.sh build -DZIDE_WERROR=ON
  (cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600 2>&1 | tee ctest.log)
}
start=$SECONDS
for s in $steps; do
  case $s in
    0) step "camadas" scripts/check-layers.sh ;;&
    0) step "formatação" scripts/format.sh --check ;;
    1) step "compilação e testes" normal ;;
    2) step "sanitizadores (ASan+UBSan)" scripts/sanitize.sh ;;
    3) step "fuzzers" scripts/fuzz.sh -j "$(nproc)" ;;
  esac
done
printf '%s\n' "${times[@]}" "total: $((SECONDS - start)) s"
# The suite's count, last, so a reader of the closing line sees what ran.
if [ -f build/ctest.log ] && [[ " $steps " == *" 1 "* ]]; then
  n=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' build/ctest.log | tail -n 1)
  f=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' build/ctest.log | tail -n 1)
  if [ -n "$n" ]; then echo "testes: $((n - f)) passed, $f failed"; fi
fi
