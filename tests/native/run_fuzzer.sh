#!/usr/bin/env bash
# Runs a fuzzer for a bounded time on a fresh copy of the
# seed corpus, so that what it learns never lands in the repository.
# Fails on any finding: a crash, a sanitizer report, a failed check, a leak
# or a slow input; the input that caused it is kept in WORK/findings.
#   run_fuzzer.sh FUZZER SEED_CORPUS DICTIONARY WORK [SECONDS]
# An empty DICTIONARY runs without one.
set -euo pipefail
fuzzer=$1 seeds=$2 dictionary=$3 work=$4 seconds=${5:-60}

rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
cp -R "$seeds/." "$work/corpus/"

status=0
"$fuzzer" "$work/corpus" \
  ${dictionary:+"-dict=$dictionary"} \
  -max_len=4096 \
  -max_total_time="$seconds" \
  -timeout=20 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="$work/findings/" \
  >"$work/fuzzer.log" 2>&1 || status=$?

# The log is long; the end holds the totals and any report.
tail -n 40 "$work/fuzzer.log"
findings=$(find "$work/findings" -type f | wc -l)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  echo "run_fuzzer: exit status $status, $findings finding(s) in $work/findings (full log: $work/fuzzer.log)" >&2
  exit 1
fi
echo "run_fuzzer: no findings in ${seconds}s"
