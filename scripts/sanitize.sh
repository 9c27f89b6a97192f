#!/usr/bin/env bash
# Builds everything but the benchmarks with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or the folder given as first argument) and runs the whole test suite there. Any report fails the test
# that caused it: UBSan aborts at the first finding, ASan and LeakSanitizer end the process with an
# error status. Programs the tests start (zide-sandbox, fbexport, zide-cli) are built the same way
# and inherit the options below.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${1:-build-asan}
jobs=${ZIDE_JOBS:-$(nproc)}
# -O1 keeps the instrumented suite quick without losing the line numbers of a report. clang, as
# for the fuzzers: it compiles the instrumented code in half the time gcc takes, and the normal
# build already covers gcc.
CC=clang CXX=clang++ cmake -S . -B "$dir" -DZIDE_SANITIZE=ON -DZIDE_BENCH=OFF -DZIDE_WERROR=ON \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build "$dir" -j"$jobs"

# The system libraries (OpenSSL, Firebird) have no frame pointers: without the slow unwinder a leak's
# stack stops at their first frame and the suppressions below cannot tell whose block it is.
# The leak check also reads the thread-local blocks of loaded modules; after the Firebird engine
# unloads its plugins, glibc 2.36 leaves entries there that crash the check's tracer ("Tracer caught
# signal 11"). Without tracking __tls_get_addr those blocks are scanned as the heap blocks they are.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:intercept_tls_get_addr=0:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Leaks inside system libraries only; each line of the file says why.
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0
# Every allocation unwinds its stack here (above), so a test function may take several times its
# normal time: QtTest's own watchdog (5 minutes a function) gets the same limit as ctest's.
export QTEST_FUNCTION_TIMEOUT=900000
cd "$dir"
# The slow end-to-end journeys (tests marked JOURNEY in their CMakeLists) are neither built nor run
# here: each of their cases takes a whole declaration through the windows or the tools, which under
# the sanitizers alone would take most of CI's time; the logic they drive has its own tests here.
ctest --output-on-failure -j"$jobs" --timeout 900
