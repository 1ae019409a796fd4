#!/usr/bin/env bash
# Benchmark of a parse run and of an import. For each batch shape and each
# size of --sizes: generate a batch of about that many bytes in a scratch
# directory, and time in --repeat alternating pairs `cat` of its files into
# one file (the floor: the same bytes read once and written once) and
# `tavrin -p -i IN -o OUT`; for many-groups also `cp -r` of the batch against
# tavrin. Each shape's cost per byte is tavrin's best run over the batch's
# bytes, and its growth the cost per byte at the last size over the cost at
# the first: a walk that costs more than linear time shows there, whatever
# the size of the machine. Where `perf stat -e instructions` counts, each
# size also gets instructions per byte from one more run, which the machine's
# load does not move; --callgrind counts them with valgrind instead (slow:
# about fifty times a plain run). Then time `tavrin -I` over 2,000 one-file
# scripts with a stand-in sqlplus against a shell loop that starts the same
# client as often. Prints the ratios to the floors as the median of the
# pairs' ratios, tavrin's peak memory, and the goals' rows. Not a test:
# nothing here fails on a slow machine.
#
#   bench/run.sh [--sizes 25M,100M] [--seed 1] [--repeat 5] [--timeout 1800]
#                [--callgrind] [--scratch DIR] [--keep] [--no-import] [SHAPE...]
#
# --size S is --sizes S. --keep leaves the scratch directory with every batch
# and script in place (about 6.5 times the sizes' sum per shape); otherwise
# it is removed.
#
# Shapes (default all): realistic many-groups merge-chain no-transactions
# big-identity txn-backlog web. A run longer than --timeout seconds is
# stopped and reported as such.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=25M,100M
seed=1
repeat=5
limit=1800
import=1
callgrind=0
scratch_parent=${TMPDIR:-/tmp}
keep=0
shapes=()
while [ $# -gt 0 ]; do
  case "$1" in
    --size|--sizes) sizes=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --callgrind) callgrind=1; shift ;;
    --scratch) scratch_parent=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-import) import=0; shift ;;
    -h|--help) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) shapes+=("$1"); shift ;;
  esac
done
[ ${#shapes[@]} -gt 0 ] ||
  shapes=(realistic many-groups merge-chain no-transactions big-identity txn-backlog web)
IFS=, read -r -a size_list <<<"$sizes"
[ ${#size_list[@]} -gt 0 ] || { echo "run.sh: no size in --sizes" >&2; exit 2; }
[ "$repeat" -gt 0 ] || { echo "run.sh: --repeat must be at least 1" >&2; exit 2; }

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
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
# median VALUE...: the middle value (the mean of the two middle ones).
median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The memory goal of a batch: twice its largest group's input and 16 MB.
mem_goal_bytes() { echo $(( 2 * $1 + 16 * 1000 * 1000 )); }

# pairs FLOOR: --repeat alternating pairs of the floor, `cat` of $files into
# one file or `cp -r` of $in, and a parse run of $in (into a fresh
# $work/out.N). Sets floor_us and tavrin_us (medians), pair_ratio (median of
# the pairs' ratios), best_us (tavrin's fastest run), peak_kb, out (the last
# output directory) and result.
pairs() {
  local floors=() runs=() ratios=() r f_us
  peak_kb=0
  best_us=0
  result=ok
  for ((r = 0; r < repeat; r++)); do
    if [ "$1" = cat ]; then
      timed "$scratch/cat.out" cat -- "${files[@]}"
      rm -f "$scratch/cat.out"
    else
      timed /dev/null cp -r "$in" "$work/copy.$pair_count"
    fi
    f_us=$wall_us
    out=$work/out.$pair_count
    pair_count=$((pair_count + 1))
    mkdir -p "$out"
    timed "$scratch/console.txt" timeout "$limit" "$tavrin" -p -i "$in" -o "$out"
    if [ "$status" = 124 ]; then result="timeout ${limit}s"; break; fi
    if [ "$status" != 0 ]; then
      result="exit $status"
      tail -n 5 "$scratch/stderr.txt" >&2
      break
    fi
    floors+=("$f_us"); runs+=("$wall_us"); ratios+=("$(ratio "$wall_us" "$f_us")")
    if [ "$rss_kb" -gt "$peak_kb" ]; then peak_kb=$rss_kb; fi
    if [ "$best_us" = 0 ] || [ "$wall_us" -lt "$best_us" ]; then best_us=$wall_us; fi
  done
  if [ "$result" = ok ]; then
    floor_us=$(median "${floors[@]}")
    tavrin_us=$(median "${runs[@]}")
    pair_ratio=$(median "${ratios[@]}")
  fi
}

# Whether `perf stat -e instructions` counts here; virtual machines often
# do not pass the counter through, and perf then says "<not supported>".
perf_works=0
if command -v perf >/dev/null &&
   perf stat -x, -e instructions -- true 2>&1 >/dev/null | grep -q '^[0-9][0-9]*,'; then
  perf_works=1
fi
if [ "$callgrind" = 1 ] && ! command -v valgrind >/dev/null; then
  echo "run.sh: --callgrind needs valgrind (Debian package valgrind)" >&2; exit 2
fi
if [ "$perf_works" = 1 ]; then
  counter="instructions counted by perf stat"
elif [ "$callgrind" = 1 ]; then
  counter="instructions counted by valgrind --tool=callgrind"
else
  counter=
fi

# count_instructions: one more parse run of $in into a fresh directory,
# counted by perf or callgrind; sets instructions (empty when not counted).
count_instructions() {
  instructions=
  [ -n "$counter" ] || return 0
  local dir=$work/counted.$pair_count
  pair_count=$((pair_count + 1))
  mkdir -p "$dir"
  if [ "$perf_works" = 1 ]; then
    perf stat -x, -e instructions -o "$scratch/count.txt" -- \
      "$tavrin" -p -i "$in" -o "$dir" >/dev/null 2>&1 || return 0
    instructions=$(awk -F, '$3 ~ /^instructions/ { print $1; exit }' "$scratch/count.txt")
  else
    valgrind --tool=callgrind --callgrind-out-file=/dev/null \
      "$tavrin" -p -i "$in" -o "$dir" >/dev/null 2>"$scratch/count.txt" || return 0
    instructions=$(awk '/Collected :/ { print $NF; exit }' "$scratch/count.txt")
  fi
  [[ "$instructions" =~ ^[0-9]+$ ]] || instructions=
}

# What every parse run holds whatever its input (program, libraries, the
# store's million buckets): the peak of a run on the shipped example batch.
mkdir -p "$scratch/out"
timed "$scratch/console.txt" "$tavrin" -p -i "$PWD/examples/batch" -o "$scratch/out"
[ "$status" = 0 ] || { echo "run.sh: tavrin failed on examples/batch" >&2; exit 1; }
base_kb=$rss_kb
rm -rf "$scratch/out"

per_byte_of() { awk -v t="$1" -v b="$2" 'BEGIN { printf "%.2f", t * 1000 / b }'; }
max_of() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

declare -A fig
# The realistic batch's nanoseconds and instructions per byte, by size.
declare -A realistic_ns realistic_ipb
rows=()
growth_rows=()
goals=()
worst_shape=
worst_per_byte=0
worst_growth=0
worst_growth_shape=
worst_memory=0
worst_memory_shape=
pair_count=0
last_size=${size_list[-1]}
for shape in "${shapes[@]}"; do
  first_ns=; first_ipb=; ns=; ipb=
  for size in "${size_list[@]}"; do
    label="$shape, $size"
    work=$scratch/$shape-$size
    in=$work/in
    echo "[$label] generating ..." >&2
    fig=()
    while IFS='=' read -r key value; do fig[$key]=$value; done \
      < <("$gen" --shape "$shape" --size "$size" --seed "$seed" "$in")
    if [ -z "${fig[bytes]:-}" ]; then echo "run.sh: generating $shape failed" >&2; exit 1; fi

    # Name order as tavrin sorts (bytes), and a first read into the page
    # cache so that no timing pays for the disk.
    mapfile -t files < <(find "$in" -maxdepth 1 -name '*.sql' | LC_ALL=C sort)
    cat -- "${files[@]}" >/dev/null

    echo "[$label] timing cat and tavrin -p in $repeat pairs ..." >&2
    pairs cat
    cat_us=${floor_us:-0}; cat_ratio=${pair_ratio:-}; run_best_us=$best_us; run_peak_kb=$peak_kb
    scripts=$(find "$out" -name 'Output*.tvr' | wc -l)
    script_bytes=$(find "$out" -name 'Output*.tvr' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    # One script per group the generator meant to write, numbered from 1.
    if [ "$result" = ok ] && { [ "$scripts" != "${fig[groups]}" ] || [ ! -e "$out/Output1.tvr" ]; }; then
      echo "[$label] warning: $scripts scripts for ${fig[groups]} groups" >&2
    fi
    instructions=
    if [ "$result" = ok ]; then
      echo "[$label] counting instructions ..." >&2
      count_instructions
    fi
    retire "$work"

    cp_ratio=
    if [ "$result" = ok ] && [ "$shape" = many-groups ]; then
      echo "[$label] timing cp -r and tavrin -p in $repeat pairs ..." >&2
      pairs cp
      cp_ratio=${pair_ratio:-}
      if [ "$peak_kb" -gt "$run_peak_kb" ]; then run_peak_kb=$peak_kb; fi
      if [ "$result" = ok ] && [ "$size" = "$last_size" ]; then
        goals+=("| ${fig[groups]} one-file groups against \`cp -r\` of the batch, $size | ${cp_ratio}x | ≤ 1.3x |")
      fi
      retire "$work"
    fi
    rm -f "$scratch/console.txt"

    goal=$(mem_goal_bytes "${fig[largest_group_bytes]}")
    # The figures of the pairs against cat, the cp -r pairs' peak included.
    peak_kb=$run_peak_kb
    if [ "$result" = ok ]; then
      best_s=$(seconds "$run_best_us")
      ns=$(per_byte_of "$run_best_us" "${fig[bytes]}")
      ipb=$( [ -n "$instructions" ] && awk -v i="$instructions" -v b="${fig[bytes]}" 'BEGIN { printf "%.1f", i / b }' || echo -)
      if [ "$shape" = realistic ]; then
        realistic_ns[$size]=$ns; realistic_ipb[$size]=$ipb
        if [ "$size" = "$last_size" ]; then
          goals+=("| realistic batch, $size, \`-p\` against \`cat\` of the same files | ${cat_ratio}x | ≤ 4x |")
        fi
      fi
      # Against the realistic batch of the same size: by instructions where
      # counted, else by the best runs' seconds.
      if [ "$ipb" != - ] && [ "${realistic_ipb[$size]:--}" != - ]; then
        x_real=$(ratio "$ipb" "${realistic_ipb[$size]}")
      elif [ -n "${realistic_ns[$size]:-}" ]; then
        x_real=$(ratio "$ns" "${realistic_ns[$size]}")
      else
        x_real=-
      fi
      # many-groups has a goal of its own, against cp -r: its cost is making
      # 10,000 files, not parsing.
      if [ "$size" = "$last_size" ] && [ "$shape" != realistic ] && [ "$shape" != many-groups ] &&
         [ "$x_real" != - ] && max_of "$x_real" "$worst_per_byte"; then
        worst_per_byte=$x_real; worst_shape=$shape
      fi
      x_goal=$(ratio $((peak_kb * 1024)) "$goal")
      if [ "${fig[groups]}" = 1 ] && max_of "$x_goal" "$worst_memory"; then
        worst_memory=$x_goal; worst_memory_shape="$shape, $size"
      fi
      if [ "$size" = "${size_list[0]}" ]; then first_ns=$ns; first_ipb=$ipb; fi
    else
      best_s=$result; ns=-; ipb=-; cat_ratio=-; x_real=-; x_goal=-
    fi
    rows+=("| $shape | $(mb "${fig[bytes]}") | ${fig[files]} | ${fig[groups]} | ${fig[identities]} | $(seconds "$cat_us") | $best_s | $cat_ratio | ${cp_ratio:--} | $ns | $ipb | $x_real | $(mb $((peak_kb * 1024))) | $(mb "$goal") | $x_goal | $scripts | $(mb "$script_bytes") |")
    echo "${rows[-1]}" >&2
  done

  # Growth from the first size to the last, by instructions where counted.
  if [ ${#size_list[@]} -gt 1 ]; then
    if [ "$ns" = - ] || [ -z "$first_ns" ]; then
      growth=-; growth_ipb=-
    else
      growth=$(ratio "$ns" "$first_ns")
      growth_ipb=$( [ "$ipb" != - ] && [ "$first_ipb" != - ] && ratio "$ipb" "$first_ipb" || echo -)
      judged=$( [ "$growth_ipb" != - ] && echo "$growth_ipb" || echo "$growth")
      if max_of "$judged" "$worst_growth"; then worst_growth=$judged; worst_growth_shape=$shape; fi
    fi
    [ "$ns" != - ] || growth="$result at $last_size"
    growth_rows+=("| $shape | ${first_ns:--} | $ns | $growth | ${first_ipb:--} | $ipb | $growth_ipb |")
  fi
done
if [ -n "$worst_shape" ]; then
  goals+=("| every adversarial shape at $last_size, cost per byte against the realistic batch | ${worst_per_byte}x ($worst_shape) | ≤ 1.5x |")
fi
if [ -n "$worst_growth_shape" ]; then
  goals+=("| every shape, cost per byte at ${size_list[-1]} against ${size_list[0]} | ${worst_growth}x ($worst_growth_shape) | ≤ 1.3x |")
fi
if [ -n "$worst_memory_shape" ]; then
  goals+=("| peak memory of a one-group batch, against 2x its input + 16 MB | ${worst_memory}x ($worst_memory_shape) | ≤ 1x |")
fi

# The import: 2,000 one-file scripts (the example batch's one-file group,
# each made unique by a comment line),
# run through a stand-in sqlplus that prints its arguments and the script
# and ends, against a shell loop that starts that client as often over the
# same scripts. tavrin writes each output log and scans it for errors.
import_row=
if [ "$import" = 1 ]; then
  echo "[import] building the stand-in sqlplus ..." >&2
  mkdir -p "$scratch/bin" "$scratch/import/example"
  c++ -O2 -std=c++20 -o "$scratch/bin/sqlplus" tests/stand_in/sqlplus.cpp
  "$tavrin" -p -i "$PWD/examples/batch" -o "$scratch/import/example" >/dev/null
  mkdir -p "$scratch/import/scripts"
  # Each copy one comment line apart: the import journal passes over bytes it
  # has imported already, in this run as in any other.
  for ((i = 1; i <= 2000; i++)); do
    { echo "-- copy $i"; cat "$scratch/import/example/Output2.tvr"; } >"$scratch/import/scripts/Output$i.tvr"
  done
  loop() {
    local script
    for script in "$1"/Output*.tvr; do "$scratch/bin/sqlplus" u/p@h "@$script" >/dev/null 2>&1; done
  }
  export -f loop
  loops=(); imports=(); ratios=()
  echo "[import] timing a client loop and tavrin -I in $repeat pairs ..." >&2
  for ((r = 0; r < repeat; r++)); do
    timed /dev/null bash -c 'loop "$1"' bash "$scratch/import/scripts"
    l_us=$wall_us
    dir=$scratch/import/run.$r
    cp -r "$scratch/import/scripts" "$dir"
    PATH=$scratch/bin:$PATH timed "$scratch/console.txt" "$tavrin" -I -o "$dir" -U u -P p -S h
    [ "$status" = 0 ] || { echo "run.sh: tavrin -I failed" >&2; tail -n 5 "$scratch/stderr.txt" >&2; break; }
    loops+=("$l_us"); imports+=("$wall_us"); ratios+=("$(ratio "$wall_us" "$l_us")")
    retire "$dir"
  done
  if [ ${#ratios[@]} -gt 0 ]; then
    loop_ms=$(awk -v us="$(median "${loops[@]}")" 'BEGIN { printf "%.2f", us / 2000 / 1000 }')
    import_ms=$(awk -v us="$(median "${imports[@]}")" 'BEGIN { printf "%.2f", us / 2000 / 1000 }')
    import_ratio=$(median "${ratios[@]}")
    import_row="| \`-I\` over 2,000 one-file scripts against a loop starting the client 2,000 times | ${import_ratio}x ($import_ms ms a script, loop $loop_ms ms) | ≤ 1.5x |"
    goals+=("$import_row")
  fi
fi

cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
echo
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $(uname -sr); seed $seed, $repeat alternating pairs."
echo "Load average (1, 5, 15 min) at the start: $load_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
echo "A parse run of the example batch peaks at $(mb $((base_kb * 1024))) MB."
echo "Ratios to cat and cp -r: medians of the pairs' ratios. tavrin s and ns/byte: the best of $repeat runs."
if [ -n "$counter" ]; then
  echo "Instructions per byte: $counter, one run; x realistic and growth judge by them."
else
  echo "Instructions per byte: not counted (perf stat -e instructions does not count here; see --callgrind)."
fi
echo
echo "| shape | input MB | files | groups | identities | cat s | tavrin s | x cat | x cp -r | ns/byte | instructions/byte | x realistic per byte | peak MB | memory goal MB | x goal | scripts | scripts MB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ ${#growth_rows[@]} -gt 0 ]; then
  echo
  echo "| shape | ns/byte ${size_list[0]} | ns/byte ${size_list[-1]} | growth | instructions/byte ${size_list[0]} | instructions/byte ${size_list[-1]} | growth |"
  echo "|---|---|---|---|---|---|---|"
  printf '%s\n' "${growth_rows[@]}"
fi
echo
echo "| Figure | Measured | Goal |"
echo "|---|---|---|"
printf '%s\n' "${goals[@]}"
