#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one for a fixed number of
# inputs, starting from its seed corpus (tests/fuzz/corpus/<target>/) and the inputs of past
# findings (tests/fuzz/regression/<target>/). Stops at the first finding, which it leaves in
# build-fuzz/fuzz-findings/<target>/.
#
#   scripts/fuzz.sh                        every target, 100000 inputs each, 20000 for three
#                                          that write files, 5000 for fuzz_importacao, 3000
#                                          declaration files for fuzz_odsreader, 400 for the one
#                                          that starts a process per input (what CI runs)
#   scripts/fuzz.sh -r 0                   only replay the seeds and past findings
#   scripts/fuzz.sh -t 3600 fuzz_soap      a longer run: one hour of one target
#   scripts/fuzz.sh -r 500000 -j 2         more inputs, two targets at a time
#
# New inputs found by a run stay in build-fuzz/fuzz-corpus/<target>/ and seed the next run; copy the
# interesting ones into tests/fuzz/corpus/ by hand (libFuzzer's -merge=1 keeps the smallest set).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=100000
runs_given=0
seconds=0
parallel=1
dir=build-fuzz
while getopts "r:t:j:d:" opt; do
  case $opt in
    r) runs=$OPTARG; runs_given=1 ;;
    t) seconds=$OPTARG; runs=-1 ;;
    j) parallel=$OPTARG ;;
    d) dir=$OPTARG ;;
    *) echo "uso: $0 [-r execuções] [-t segundos] [-j paralelos] [-d pasta] [alvo...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

CC=clang CXX=clang++ cmake -S . -B "$dir" -DZIDE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
cmake --build "$dir" --target zide_fuzzers -j"${ZIDE_JOBS:-$(nproc)}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ls "$dir/fuzz")
fi

# Leaks are checked after each input that allocated more than it freed, while the libraries are
# alive; the check at exit would also see what OpenSSL leaves behind in its own clean-up.
export ASAN_OPTIONS=detect_leaks=1:leak_check_at_exit=0:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0

run_one() {
  local t=$1
  local work=$dir/fuzz-corpus/$t findings=$dir/fuzz-findings/$t log=$dir/fuzz-logs/$t.log
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local inputs=("$work")
  for sub in corpus regression; do
    [ -d "tests/fuzz/$sub/$t" ] && inputs+=("tests/fuzz/$sub/$t")
  done
  # Files real engines wrote, unpacked by the build from tests/data.
  [ -d "$dir/tests/fuzz/real/$t" ] && inputs+=("$dir/tests/fuzz/real/$t")
  local limit=() n_runs=$runs
  # Whole declaration files, the real ones up to 3 MiB: libFuzzer would cut them at 1 MiB.
  case $t in fuzz_odsreader) limit+=(-max_len=4194304) ;; esac
  [ "$seconds" -gt 0 ] && limit+=(-max_total_time="$seconds")
  # Each input of these goes through files and a database: fewer of them in the same time.
  # fuzz_importacao imports a whole company file per input (about 50 a second, 7 minutes for
  # 20000): fewer. fuzz_mdbread starts a helper process per input (up to its 2 s limit; about 4 a
  # second): fewer still.
  if [ "$runs_given" = 0 ] && [ "$seconds" -eq 0 ]; then
    case $t in
      fuzz_intake | fuzz_certificado | fuzz_jetwriter) n_runs=20000 ;;
      fuzz_importacao) n_runs=5000 ;;
      fuzz_mdbread) n_runs=400 ;;
    esac
    # Each input is a whole declaration file of about a megabyte.
    case $t in fuzz_odsreader) n_runs=3000 ;; esac
  fi
  local t0 t1
  t0=$(date +%s%N)
  # A fixed seed makes the CI run repeatable; -timeout turns a hang into a finding.
  if "$dir/fuzz/$t" -runs="$n_runs" "${limit[@]}" -seed=1 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1; then
    t1=$(date +%s%N)
    local n ms
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    ms=$(((t1 - t0) / 1000000))
    printf '%-18s ok  %9s execuções em %4d.%d s  %7d exec/s  %s\n' "$t" "${n:-0}" $((ms / 1000)) $((ms % 1000 / 100)) \
      "$(( ${n:-0} * 1000 / (ms > 0 ? ms : 1) ))" "$(grep -o 'cov: [0-9]*' "$log" | tail -1)"
  else
    printf '%-18s ACHADO, veja %s e %s\n' "$t" "$log" "$findings"
    grep -E "ERROR|FUZZ_CHECK|runtime error|SUMMARY" "$log" | head -5
    return 1
  fi
}

failed=0
start=$SECONDS
if [ "$parallel" -gt 1 ]; then
  export -f run_one
  export dir runs runs_given seconds root
  printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one {}' || failed=1
else
  for t in "${targets[@]}"; do run_one "$t" || failed=1; done
fi
echo "fuzz: $((SECONDS - start)) s"
exit $failed
