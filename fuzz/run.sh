#!/usr/bin/env bash
# run.sh BUILDDIR NAME SECONDS WORKDIR SEEDDIR...: builds fuzz-NAME in BUILDDIR (the configured
# fuzz/ project) and runs it for SECONDS. New inputs are kept in WORKDIR/corpus (they carry over
# to the next run); a crash input is kept in WORKDIR and the run fails with the command that
# replays it.
set -uo pipefail
build="$1" name="$2" seconds="$3" work="$4"
shift 4
target="$build/fuzz-$name"
cmake --build "$build" --target "fuzz-$name" || { echo "fuzz: fuzz-$name does not build with clang"; exit 1; }
mkdir -p "$work/corpus"
# The targets write their files into a temporary folder for every input: in memory when possible.
# A face file of up to 50 megapixels is a real picture to decode and encode again; under the
# sanitizers that takes over 10 s, so only a minute on one input counts as a hang.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
"$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$@" 2>&1 |
  grep -v -e '^#[0-9]' -e '^Corrupt JPEG data' -e '^Premature end of JPEG' -e '^Invalid SOS parameters'
rc=${PIPESTATUS[0]}
if [ "$rc" -ne 0 ]; then
  for f in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
    [ -e "$f" ] && echo "fuzz: input kept in $f; replay: $target $f"
  done
fi
exit "$rc"
