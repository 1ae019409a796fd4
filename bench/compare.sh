#!/usr/bin/env bash
# Output check for changes that must not change a byte: builds a base commit
# and the working tree, runs `tavrin -p -l` of both over the same batches and
# compares their scripts, console output, exit codes and log files byte for
# byte (only the elapsed seconds on the console may differ).
#
#   bench/compare.sh [--base REF] [--size 3M] [--seed 1] [--keep] [SHAPE...]
#
# --base is the commit to compare against (default HEAD, the last commit; give
# HEAD~1 to check a commit just made). Batches: every shape of
# tavrin_batchgen at --size (CR LF, and realistic also with LF), the example
# batch, and seeded batches of odd lines from bench/fuzz_batch.py. SHAPE
# names limit the generated shapes. Exits 1 when any output differs.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$PWD

base=HEAD
size=3M
seed=1
keep=0
shapes=()
while [ $# -gt 0 ]; do
  case "$1" in
    --base) base=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compare.sh: unknown option $1" >&2; exit 2 ;;
    *) shapes+=("$1"); shift ;;
  esac
done

commit=$(git rev-parse --verify "$base^{commit}")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-compare.XXXXXX")
if [ "$keep" = 0 ]; then trap 'rm -rf "$scratch"' EXIT; fi

# The base build is kept per commit, so that checking change after change
# against one base builds it once.
base_build=${TMPDIR:-/tmp}/tavrin-compare-base-$commit
if [ ! -x "$base_build/build/tavrin" ]; then
  echo "Building $base ($commit) ..." >&2
  rm -rf "$base_build"
  mkdir -p "$base_build/src"
  git archive "$commit" | tar -x -C "$base_build/src"
  cmake -S "$base_build/src" -B "$base_build/build" -DCMAKE_BUILD_TYPE=Release \
    -DTAVRIN_TESTS=OFF >/dev/null
  cmake --build "$base_build/build" --target tavrin -j 2 >/dev/null
fi
echo "Building the working tree (release preset) ..." >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
old=$base_build/build/tavrin
new=$tree/build-release/tavrin
gen=$tree/build-release/bench/tavrin_batchgen

# The batches: name -> directory.
batches=()
add_batch() { batches+=("$1"); }
if [ ${#shapes[@]} -eq 0 ]; then
  mapfile -t shapes < <("$gen" --help 2>&1 | sed -n 's/^  \([a-z-]*\): .*/\1/p')
fi
for shape in "${shapes[@]}"; do
  "$gen" --shape "$shape" --size "$size" --seed "$seed" "$scratch/in/$shape" >/dev/null
  add_batch "$shape"
  if [ "$shape" = realistic ]; then
    "$gen" --shape "$shape" --size "$size" --seed "$seed" --lf "$scratch/in/$shape-lf" >/dev/null
    add_batch "$shape-lf"
  fi
done
mkdir -p "$scratch/in"
cp -r examples/batch "$scratch/in/example"
add_batch example
for s in 1 2 3 4 5 6; do
  python3 bench/fuzz_batch.py "$((seed * 100 + s))" "$scratch/in/fuzz-$s"
  add_batch "fuzz-$s"
done
python3 bench/fuzz_batch.py "$((seed * 100 + 7))" "$scratch/in/fuzz-bad" 20 --bad-declaration
add_batch fuzz-bad
python3 bench/fuzz_batch.py "$((seed * 100 + 8))" "$scratch/in/fuzz-commits" 20 --commits
add_batch fuzz-commits

# run NAME BINARY BATCH: a parse run with logging in a directory of its own.
# Both builds run in the same place, since messages name the output paths.
run() {
  local dir=$scratch/run/$3
  rm -rf "$dir"
  mkdir -p "$dir/out"
  local status=0
  (cd "$dir" && "$2" -p -l -i "$scratch/in/$3" -o "$dir/out" >stdout 2>stderr) || status=$?
  echo "$status" >"$dir/status"
  sed -i 's/^Time elapsed :[0-9.e+]* secs$/Time elapsed :N secs/' "$dir/stdout"
  # One log file per run; its name holds the time, its bytes must match.
  cat "$dir"/Tavrin_*.log >"$dir/log" 2>/dev/null || true
  rm -f "$dir"/Tavrin_*.log
  mkdir -p "$scratch/$1"
  mv "$dir" "$scratch/$1/$3"
}

failed=0
for batch in "${batches[@]}"; do
  run old "$old" "$batch"
  run new "$new" "$batch"
  if diff -r "$scratch/old/$batch" "$scratch/new/$batch" >"$scratch/diff.txt"; then
    echo "same: $batch ($(ls "$scratch/new/$batch/out" | wc -l) scripts, exit $(cat "$scratch/new/$batch/status"))"
  else
    echo "DIFFERENT: $batch"
    head -n 20 "$scratch/diff.txt"
    failed=1
  fi
done
[ "$keep" = 1 ] && echo "Kept: $scratch" >&2
exit "$failed"
