#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS seconds
# (default 20) from its seed corpus in fuzz/corpus. New inputs go to a scratch
# corpus under build-fuzz/corpus, so the seeds in the repository stay as
# they are. A finding stops its target and leaves crash-* (or timeout-*,
# leak-*) in build-fuzz/; the script then ends with a non-zero status.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parse options log_format output_log_scan windows_quoting)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target, ${seconds} s"
  if ! (cd build-fuzz && ./fuzz/${target}_fuzz -max_total_time="$seconds" -max_len=4096 \
          -timeout=10 -print_final_stats=1 "corpus/$target" "../fuzz/corpus/$target"); then
    status=1
  fi
done
exit $status
