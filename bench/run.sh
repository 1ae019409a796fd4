#!/usr/bin/env bash
# Benchmark of a parse run. For each batch shape: generate a batch of about
# --size bytes in a scratch directory, time `cat` of its files into one file
# (the floor: the same bytes read once and written once), time
# `tavrin -p -i IN -o OUT`, and print both with their ratio and tavrin's peak
# memory. Not a test: nothing here fails on a slow machine.
#
#   bench/run.sh [--size 200M] [--seed 1] [--repeat 3] [--timeout 1800]
#                [--scratch DIR] [--keep] [SHAPE...]
#
# --keep leaves the scratch directory with every batch and script in place
# (about 1.3 GB per shape at the default size); otherwise it is removed.
#
# Shapes (default all): realistic many-groups merge-chain no-transactions
# big-identity txn-backlog. Each time is the fastest of --repeat runs; a run
# longer than --timeout seconds is stopped and reported as such.
set -euo pipefail
cd "$(dirname "$0")/.."

size=200M
seed=1
repeat=3
limit=1800
scratch_parent=${TMPDIR:-/tmp}
keep=0
shapes=()
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --scratch) scratch_parent=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) shapes+=("$1"); shift ;;
  esac
done
[ ${#shapes[@]} -gt 0 ] ||
  shapes=(realistic many-groups merge-chain no-transactions big-identity txn-backlog)

if [ ! -x /usr/bin/time ]; then
  echo "run.sh: /usr/bin/time is missing; installing the Debian package time" >&2
  apt-get install -y time >/dev/null || { apt-get update >/dev/null && apt-get install -y time >/dev/null; }
fi

echo "Building the release preset ..." >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
tavrin=$PWD/build-release/tavrin
gen=$PWD/build-release/bench/tavrin_batchgen

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
scratch=$(mktemp -d "$scratch_parent/tavrin-bench.XXXXXX")
if [ "$keep" = 0 ]; then trap 'rm -rf "$scratch"' EXIT; fi
echo "Scratch directory: $scratch" >&2

# Microseconds since the epoch, whatever the locale's decimal point.
now_us() { local t=$EPOCHREALTIME; echo "${t//[!0-9]/}"; }

# timed OUTFILE COMMAND...: runs COMMAND with standard output to OUTFILE and
# sets wall_us, rss_kb (peak resident set) and status.
timed() {
  local out=$1; shift
  local start end
  sync
  start=$(now_us)
  status=0
  /usr/bin/time -v -o "$scratch/time.txt" "$@" >"$out" 2>"$scratch/stderr.txt" || status=$?
  end=$(now_us)
  wall_us=$((end - start))
  rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$scratch/time.txt")
}

# Frees the disk space of a timed batch and its outputs but keeps their
# files until the end. Deleting tens of thousands of files right before a
# timed run slows down the file creations of that run on some file systems
# (ext4 without a journal skips recently freed inodes for a minute); emptied
# files cost nothing. With --keep everything stays as it was.
retire() {
  if [ "$keep" = 0 ]; then find "$1" -type f -exec truncate -s 0 {} +; fi
}

seconds() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else printf "-" }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }

# What every parse run holds whatever its input (program, libraries, the
# store's million buckets): the peak of a run on the shipped example batch.
mkdir -p "$scratch/out"
timed "$scratch/console.txt" "$tavrin" -p -i "$PWD/examples/batch" -o "$scratch/out"
[ "$status" = 0 ] || { echo "run.sh: tavrin failed on examples/batch" >&2; exit 1; }
base_kb=$rss_kb
rm -rf "$scratch/out"
# The memory aim: three times the largest group's input on top of that.
mem_aim() { awk -v b="$1" -v base="$base_kb" 'BEGIN { printf "%.1f", (3 * b + base * 1024) / 1e6 }'; }

declare -A fig
rows=()
realistic_us=
for shape in "${shapes[@]}"; do
  work=$scratch/$shape
  in=$work/in
  echo "[$shape] generating ..." >&2
  fig=()
  while IFS='=' read -r key value; do fig[$key]=$value; done \
    < <("$gen" --shape "$shape" --size "$size" --seed "$seed" "$in")
  if [ -z "${fig[bytes]:-}" ]; then echo "run.sh: generating $shape failed" >&2; exit 1; fi

  # Name order as tavrin sorts (bytes), and a first read into the page cache
  # so that neither timing pays for the disk.
  mapfile -t files < <(find "$in" -maxdepth 1 -name '*.sql' | LC_ALL=C sort)
  cat -- "${files[@]}" >/dev/null

  cat_us=
  for ((r = 0; r < repeat; r++)); do
    rm -f "$scratch/cat.out"
    timed "$scratch/cat.out" cat -- "${files[@]}"
    if [ -z "$cat_us" ] || [ "$wall_us" -lt "$cat_us" ]; then cat_us=$wall_us; fi
  done
  rm -f "$scratch/cat.out"

  echo "[$shape] timing tavrin -p ..." >&2
  best_us=
  peak_kb=0
  result=ok
  # A fresh output directory per run, all removed afterwards: files deleted
  # just before can make creating new ones slower on some file systems.
  for ((r = 0; r < repeat; r++)); do
    out=$work/out.$r
    mkdir -p "$out"
    timed "$scratch/console.txt" timeout "$limit" "$tavrin" -p -i "$in" -o "$out"
    if [ "$status" = 124 ]; then result="timeout ${limit}s"; break; fi
    if [ "$status" != 0 ]; then
      result="exit $status"
      tail -n 5 "$scratch/stderr.txt" >&2
      break
    fi
    if [ -z "$best_us" ] || [ "$wall_us" -lt "$best_us" ]; then best_us=$wall_us; fi
    if [ "$rss_kb" -gt "$peak_kb" ]; then peak_kb=$rss_kb; fi
  done
  scripts=$(find "$out" -name 'Output*.tvr' | wc -l)
  script_bytes=$(find "$out" -name 'Output*.tvr' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  # One script per group the generator meant to write, numbered from 1.
  if [ "$result" = ok ] && { [ "$scripts" != "${fig[groups]}" ] || [ ! -e "$out/Output1.tvr" ]; }; then
    echo "[$shape] warning: $scripts scripts for ${fig[groups]} groups" >&2
  fi
  retire "$work"
  rm -f "$scratch/console.txt"

  if [ "$result" = ok ]; then
    tavrin_s=$(seconds "$best_us")
    x_cat=$(ratio "$best_us" "$cat_us")
    if [ "$shape" = realistic ]; then realistic_us=$best_us; fi
    x_real=$( [ -n "$realistic_us" ] && ratio "$best_us" "$realistic_us" || echo -)
  else
    tavrin_s=$result; x_cat=-; x_real=-
  fi
  rows+=("| $shape | $(mb "${fig[bytes]}") | ${fig[files]} | ${fig[groups]} | ${fig[identities]} | $(seconds "$cat_us") | $tavrin_s | $x_cat | $x_real | $(mb $((peak_kb * 1024))) | $(mem_aim "${fig[largest_group_bytes]}") | $scripts | $(mb "$script_bytes") |")
  echo "${rows[-1]}" >&2
done

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
echo
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr); seed $seed, best of $repeat runs."
echo "Load average (1, 5, 15 min) at the start: $load_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
echo "A parse run of the example batch peaks at $(mb $((base_kb * 1024))) MB."
echo
echo "| shape | input MB | files | groups | identities | cat s | tavrin s | x cat | x realistic | peak MB | memory aim MB | scripts | scripts MB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
