#!/usr/bin/env bash
# Builds the libFuzzer targets of the logic (tools/fuzz) with clang++ and runs each for a while.
# Each target works on its own corpus in build-fuzz/corpus/<target>/, started from the committed
# seeds and kept between runs, so a long run can be split over sessions; the executions of
# every session are added up in build-fuzz/runs-<target>.txt. Crashing inputs are copied to
# build-fuzz/findings/<target>/ and listed at the end; the exit code is 1 if any.
#
# Usage: tools/fuzz.sh [--fast] [--merge] [seconds per target, default 60] [target ...]
#   --fast   the targets without sanitizers (for long runs; the default has ASan and UBSan)
#   --merge  afterwards, add to tools/fuzz/corpus/<target>/ only those inputs of the work
#            corpus that add coverage, the smallest that do (libFuzzer's -merge=1)
# Targets: ini, pipeline, datetime (all by default). The runs are niced.
set -euo pipefail
cd "$(dirname "$0")/.."
suffix=""
merge=0
while [ $# -gt 0 ]; do
  case $1 in
    --fast) suffix=_fast ;;
    --merge) merge=1 ;;
    *) break ;;
  esac
  shift
done
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ini pipeline datetime)

# The fuzzing tool chain is needed here only, not by the normal build and tests.
fuzz_packages=(clang libclang-rt-14-dev)
missing=()
for package in "${fuzz_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEL_FUZZ=ON -DTARVEL_BUILD_TESTS=OFF >/dev/null
executables=()
for target in "${targets[@]}"; do executables+=("fuzz_$target$suffix"); done
nice -n 10 cmake --build "$build" -j2 --target "${executables[@]}"

# The longest input each target gets: an INI file, a stream of receptions and steps (long
# lines come from the repeat step), one date or time text.
max_len() {
  case $1 in
    ini) echo 4096 ;;
    pipeline) echo 8192 ;;
    *) echo 1024 ;;
  esac
}

findings=()
summary=()
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  cp -n tools/fuzz/corpus/"$target"/* "$corpus/"
  dict=()
  [ -f tools/fuzz/"$target".dict ] && dict=(-dict=tools/fuzz/"$target".dict)
  echo "== $target: $seconds s =="
  status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 10 "$build/tools/fuzz/fuzz_$target$suffix" "$corpus" "${dict[@]}" \
    -max_total_time="$seconds" \
    -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/" >"$work/log" 2>&1 || status=$?
  tail -n 25 "$work/log"
  last=$(grep -E '^#[0-9]+' "$work/log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  size=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$last")
  echo "$(date -u +%FT%TZ) fuzz_$target$suffix ${runs:-0} runs ${rate:-?} exec/s exit $status" \
    >>"$build/runs-$target.txt"
  total=$(awk '{ sum += $3 } END { print sum + 0 }' "$build/runs-$target.txt")
  summary+=("$target$suffix: ${runs:-?} runs, ${rate:-?} exec/s, cov ${cov:-?}, ft ${ft:-?}, corpus ${size:-?}, exit $status; $total runs in all sessions")
  if [ "$merge" = 1 ]; then
    nice -n 10 "$build/tools/fuzz/fuzz_$target$suffix" -merge=1 -max_len="$(max_len "$target")" \
      tools/fuzz/corpus/"$target" "$corpus" >"$work/merge.log" 2>&1 || true
    grep -E 'MERGE-OUTER: [0-9]+ new files' "$work/merge.log" || true
  fi
  shopt -s nullglob
  artifacts=("$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* "$work"/slow-unit-*)
  shopt -u nullglob
  if [ ${#artifacts[@]} -gt 0 ] || [ "$status" -ne 0 ]; then
    mkdir -p "$build/findings/$target"
    cp "$work/log" "$build/findings/$target/log"
    for artifact in "${artifacts[@]}"; do
      cp "$artifact" "$build/findings/$target/"
      findings+=("$target: $build/findings/$target/$(basename "$artifact")")
    done
    [ ${#artifacts[@]} -gt 0 ] || findings+=("$target: exit $status, see $build/findings/$target/log")
  fi
  rm -rf "$work"
done

echo "== summary =="
printf '%s\n' "${summary[@]}"
if [ ${#findings[@]} -gt 0 ]; then
  echo "== findings =="
  printf '%s\n' "${findings[@]}"
  exit 1
fi
echo "no findings"
