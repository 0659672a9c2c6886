#!/usr/bin/env bash
# Runs the fuzz targets over their corpora (fuzz/corpus/<target>) with their dictionaries
# (fuzz/dict/<target>.dict), two at a time, and prints executions and coverage per target.
#   scripts/fuzz.sh [--seconds N] [--jobs N] [--merge] [target ...]
# --seconds  time per target (default 60)
# --jobs     targets run side by side (default: the number of processors)
# --merge    afterwards, minimise the committed corpus together with what the run found (the
#            inputs of past findings, fuzz/corpus/<target>/finding-*, always stay)
# Targets: download image cfg parameter_file bitmap jpeg png ini still_decoder manifest
# (default: all).
# Findings go to build-asan/fuzz-findings/<target>/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
jobs=$(nproc)
merge=0
targets=()
while (($#)); do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(download image cfg parameter_file bitmap jpeg png ini still_decoder manifest)

# The longest input worth making per target.
declare -A max_len=([download]=70000 [image]=60000 [cfg]=40000 [parameter_file]=8192
                    [bitmap]=16384 [jpeg]=16384 [png]=16384 [ini]=4096 [still_decoder]=40000
                    [manifest]=16384)

for target in "${targets[@]}"; do
  [[ -x build-asan/fuzz/fuzz_$target ]] || { bash scripts/sanitize.sh --build-only; break; }
done
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1"

work=build-asan/fuzz-runs
findings=build-asan/fuzz-findings
rm -rf "$work"
mkdir -p "$work" "$findings"

run_target() {
  local target=$1 dir="$work/$1"
  mkdir -p "$dir/new" "$findings/$target"
  # New inputs go to a scratch corpus; the committed one is only read.
  build-asan/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 \
    -max_len="${max_len[$target]}" -dict=fuzz/dict/"$target".dict -print_final_stats=1 \
    -artifact_prefix="$findings/$target/" "$dir/new" fuzz/corpus/"$target" >"$dir/log" 2>&1
}

status=0
for target in "${targets[@]}"; do
  ( run_target "$target" && touch "$work/$target/ok" ) &
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
done
wait || true

printf '%-16s %8s %12s %8s %8s  %s\n' target seconds executions cov ft result
for target in "${targets[@]}"; do
  log="$work/$target/log"
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -1)
  cov=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$done_line")
  ft=$(sed -nE 's/.*ft: ([0-9]+).*/\1/p' <<<"$done_line")
  if [[ -e "$work/$target/ok" ]]; then
    result=ok
  else
    result="FINDING (see $findings/$target and $log)"
    status=1
  fi
  printf '%-16s %8s %12s %8s %8s  %s\n' "$target" "$seconds" "${runs:--}" "${cov:--}" "${ft:--}" "$result"
done

if ((status)); then
  for target in "${targets[@]}"; do
    [[ -e "$work/$target/ok" ]] || { echo "== $target"; tail -40 "$work/$target/log"; }
  done
  exit 1
fi

if ((merge)); then
  for target in "${targets[@]}"; do
    merged="$work/$target/merged"
    mkdir -p "$merged"
    build-asan/fuzz/fuzz_"$target" -merge=1 -rss_limit_mb=3072 -max_len="${max_len[$target]}" \
      "$merged" fuzz/corpus/"$target" "$work/$target/new" >"$work/$target/merge.log" 2>&1
    # Inputs of past findings stay under their own names, whatever they add to the coverage.
    cp fuzz/corpus/"$target"/finding-* "$merged"/ 2>/dev/null || true
    rm -rf fuzz/corpus/"$target"
    mv "$merged" fuzz/corpus/"$target"
    echo "merged $target: $(ls fuzz/corpus/"$target" | wc -l) inputs," \
      "$(du -sh --apparent-size fuzz/corpus/"$target" | cut -f1)"
  done
fi
