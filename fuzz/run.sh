#!/usr/bin/env bash
# run.sh TARGET SECONDS WORKDIR SEEDDIR...: one bounded libFuzzer run. New inputs are kept in
# WORKDIR/corpus (they carry over to the next run); a crash input is kept in WORKDIR and the run
# fails with the command that replays it.
set -uo pipefail
target="$1" seconds="$2" work="$3"
shift 3
mkdir -p "$work/corpus"
# The targets write their files into a temporary folder for every input: in memory when possible.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$@" 2>&1 |
  grep -v -e '^#[0-9]' -e '^Corrupt JPEG data' -e '^Premature end of JPEG' -e '^Invalid SOS parameters'
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
  for f in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
    [ -e "$f" ] && echo "fuzz: input kept in $f; replay: $target $f"
  done
fi
exit "$rc"
