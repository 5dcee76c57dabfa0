#!/usr/bin/env bash
# Measures kolvane side by side with its yardsticks: GNU dd given the same words, and small C
# loops (bench/floors.c) that make only the system calls kolvane makes, the floor no copier can
# go below. Not a test: it prints a report, it does not pass or fail.
#
#   bench/compare.sh [--quick] [--stamp | --verify | --measure | --queue | --workers | --skew |
#                     --mix | --rate | --mpi]
#   (progress on standard error)
#
# The full run takes about 11 minutes and is what bench/RESULTS.md holds; --quick shrinks the
# sizes to finish in about 2 and is for development only (its ratios are much noisier and its
# shape-1 runs far shorter than 0.3 s). --stamp measures only the stamped blocks of
# pattern=random (their own section of the report), in about 20 seconds. --verify measures only
# what pattern=random and verify=1 cost a 1 GiB direct write (also the last section of the full
# report), in about a minute. --measure measures only what report=1 costs and sets kolvane's
# figures beside fio's on the same random direct reads, in about a minute (needs fio and jq as
# well). --queue measures only iodepth=: random 4 KiB reads and writes beside fio's psync and
# io_uring engines, a direct copy beside dd and pattern=random beside pattern=zero, every goal a
# ratio, in about 8 minutes (needs fio, jq and strace, and 3 GiB under $KOLVANE_BENCH_DISK;
# with --quick, about 1.5 minutes). --workers measures only workers=: random direct reads of two
# workers beside fio's two jobs, a direct copy of two workers beside one and beside dd, and
# cached random reads of two workers against one, unpinned, in about 4 minutes (needs fio and
# jq). --skew checks the laws of distribution= against their formulas, in about half a minute.
# --mix sets mix=70 beside fio's 70/30 randrw at depth 32, in about 2 minutes (fio, jq). --rate
# runs direct random reads at rate=5000 alone and with a competing direct writer, beside fio at
# --rate_iops=5000, and what the latency series costs, in about 4 minutes (fio, jq). --mpi sets
# four ranks of kolvane-mpi beside four workers of kolvane and fio's four jobs on the same direct
# random reads, and times the launch, in about 4 minutes (fio, jq, Open MPI's mpirun).
#
# Needs: bash 5 (EPOCHREALTIME), cmake and a C++20 compiler, a C compiler (cc), GNU dd
# (coreutils), /usr/bin/time with -v (Debian package "time"), taskset (util-linux), awk, sort,
# sync, truncate.
#   apt-get install cmake g++ gcc coreutils time util-linux gawk
# Room: about 2.5 GiB under $KOLVANE_BENCH_DISK (default /var/tmp, which should be a disk
# file system that takes O_DIRECT; one sparse file counts for less than its size), 2 GiB of
# /dev/shm, and the memory to keep a 1 GiB file cached. Root is not needed.
set -euo pipefail
export LC_ALL=C

quick=0
stamp_only=0
verify_only=0
measure_only=0
queue_only=0
workers_only=0
skew_only=0
mix_only=0
rate_only=0
mpi_only=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    --stamp) stamp_only=1 ;;
    --verify) verify_only=1 ;;
    --measure) measure_only=1 ;;
    --queue) queue_only=1 ;;
    --workers) workers_only=1 ;;
    --skew) skew_only=1 ;;
    --mix) mix_only=1 ;;
    --rate) rate_only=1 ;;
    --mpi) mpi_only=1 ;;
    -h | --help) sed -n '2,34p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $arg (usage: $0 [--quick] [--stamp | --verify | --measure | --queue | --workers | --skew | --mix | --rate | --mpi])" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# ---------------------------------------------------------------------------- requirements
missing=()
if ((BASH_VERSINFO[0] < 5)); then missing+=("bash 5 or later"); fi
for tool in cmake cc awk sort sync truncate head nproc free uname df taskset; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ! dd --version 2>/dev/null | grep -q coreutils; then missing+=("GNU dd (coreutils)"); fi
if ! /usr/bin/time -v true >/dev/null 2>&1; then missing+=("/usr/bin/time (package time)"); fi
if ((${#missing[@]} != 0)); then
  echo "missing: ${missing[*]}" >&2
  echo "on Debian: apt-get install cmake g++ gcc coreutils time util-linux gawk" >&2
  exit 2
fi

# ---------------------------------------------------------------------------- sizes
KiB=1024
MiB=$((1024 * KiB))
GiB=$((1024 * MiB))
pairs=5   # timed rounds per row, after the warm-up round
if ((quick)); then
  file_size=$((128 * MiB))     # shapes 2, 4 and 5
  direct_size=$((32 * MiB))    # shape 3
  shape1_seconds=0.03          # the floor's time per shape-1 run
  random_iterations=100000
  plan_iterations=1000000
  max_pairs=5
  time_limit=0
else
  file_size=$GiB
  direct_size=$((128 * MiB))
  shape1_seconds=0.33          # so that the faster program takes at least 0.3 s
  random_iterations=1000000
  plan_iterations=10000000
  # Noisy rows of shapes 2 and 3 get up to this many rounds while the run stays within
  # time_limit seconds (the build and the report come on top).
  max_pairs=11
  time_limit=620
fi

disk_parent=${KOLVANE_BENCH_DISK:-/var/tmp}
disk=$(mktemp -d "$disk_parent/kolvane-bench.XXXXXX")
shm=$(mktemp -d /dev/shm/kolvane-bench.XXXXXX)
cleanup() { rm -rf "$disk" "$shm"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { echo "$*" >&2; }
# random_file PATH BYTES: random bytes, a 16 MiB pattern repeated (BYTES a multiple of 16 MiB).
random_file() {
  head -c $((16 * MiB)) /dev/urandom >"$disk/pattern"
  local i
  for ((i = 0; i < $2 / (16 * MiB); i++)); do cat "$disk/pattern"; done >"$1"
  rm "$disk/pattern"
}
started=$EPOCHSECONDS
progress() { say "[$((EPOCHSECONDS - started))s] $*"; }

# ---------------------------------------------------------------------------- build
progress "building a Release kolvane, its stamping rate program and the floors in $disk"
cmake -S "$root" -B "$disk/build" -DCMAKE_BUILD_TYPE=Release -DKOLVANE_TESTS=OFF >"$disk/build.log" 2>&1 &&
  cmake --build "$disk/build" --target kolvane kolvane_stamp_rate $( ((mpi_only)) && echo kolvane-mpi) \
    -j"$(nproc)" >>"$disk/build.log" 2>&1 ||
  { cat "$disk/build.log" >&2; exit 1; }
kolvane=$disk/build/kolvane
kolvane_mpi=$disk/build/kolvane-mpi
cpu=$(($(nproc) - 1))

# ---------------------------------------------------------------------------- stamped blocks
# pattern=random stamps every block it writes; its generation with the checksum must not be
# what limits a run: at least 4 GB/s on one core. No files: the program times itself, many
# short rounds on the last CPU, and keeps the fastest.
stamp_table=$disk/stamp.md
((verify_only || queue_only || workers_only || skew_only || mix_only || rate_only || mpi_only)) || progress "stamped blocks: generation and checking against memcpy"
((verify_only || queue_only || workers_only || skew_only || mix_only || rate_only || mpi_only)) || taskset -c "$cpu" "$disk/build/kolvane_stamp_rate" 16 $( ((quick)) && echo 50 || echo 200) >"$stamp_table"
stamp_section() {
  echo "## Stamped blocks (pattern=random)"
  echo
  echo "Blocks stamped (pseudo-random data, header and both XXH3 sums) and checked as verify= would," \
    "against memcpy of the same blocks, data in the cache, one core (CPU $cpu); the fastest of" \
    "$( ((quick)) && echo 50 || echo 200) rounds of 16 MiB each. Rates in GB/s (10^9 bytes/s)."
  echo
  cat "$stamp_table"
  echo
  awk -F'|' 'NR > 2 { if (min == "" || $3 + 0 < min) min = $3 + 0 }
    END { printf "Slowest stamping rate %.2f GB/s against the goal of at least 4 GB/s: %s.\n", min, (min >= 4 ? "met" : "MISSED") }' "$stamp_table"
}
if ((stamp_only)); then
  echo "# kolvane benchmark: stamped blocks only"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  stamp_section
  exit 0
fi
median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.6f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# The distance between the second and the second-to-last quarter of the values: how far apart
# the ratios of one row are, outliers aside.
spread() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { q = int((NR + 3) / 4); printf "%.6f", v[NR + 1 - q] - v[q] }'
}


# ---------------------------------------------------------------------------- measuring words
# What report=1 costs on the random-read shape (4 KiB, count=1, a cached file, to /dev/null):
# report-off and report=1 alternate, order reversed every other round, on the last CPU.
measure_rounds=11
measure_iterations=$( ((quick)) && echo 100000 || echo 1000000)
measure_section() {
  local src=$disk/measure-source t0 t1 i off on ratios=() offs=() ons=()
  progress "report=1 overhead: preparing a cached 256 MiB file"
  head -c $((256 * MiB)) /dev/urandom >"$src"
  cat "$src" >/dev/null
  local words="if=$src of=/dev/null bs=4k count=1 iterations=$measure_iterations"
  run_once() {
    t0=$EPOCHREALTIME
    taskset -c "$cpu" "$kolvane" $words "$@" >/dev/null 2>&1 || { say "failed: $words $*"; exit 1; }
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
  }
  run_once >/dev/null
  for ((i = 0; i < measure_rounds; i++)); do
    if ((i % 2)); then on=$(run_once report=1); off=$(run_once); else off=$(run_once); on=$(run_once report=1); fi
    offs+=("$off"); ons+=("$on")
    ratios+=("$(awk -v a="$on" -v b="$off" 'BEGIN { printf "%.6f", a / b }')")
    progress "round $((i + 1)): off $off s, report=1 $on s"
  done
  local ratio lo hi
  ratio=$(median "${ratios[@]}")
  lo=$(printf '%s\n' "${ratios[@]}" | sort -g | head -1)
  hi=$(printf '%s\n' "${ratios[@]}" | sort -g | tail -1)
  echo "## What report=1 costs"
  echo
  echo "Random-read shape: \`bs=4k count=1 iterations=$measure_iterations\` from a cached 256 MiB file to /dev/null, on CPU $cpu; $measure_rounds rounds, report-off and report=1 alternating (order reversed every other round)."
  echo
  echo "| run | median s | min s | max s |"
  echo "| --- | ---: | ---: | ---: |"
  echo "| report off | $(median "${offs[@]}") | $(printf '%s\n' "${offs[@]}" | sort -g | head -1) | $(printf '%s\n' "${offs[@]}" | sort -g | tail -1) |"
  echo "| report=1 | $(median "${ons[@]}") | $(printf '%s\n' "${ons[@]}" | sort -g | head -1) | $(printf '%s\n' "${ons[@]}" | sort -g | tail -1) |"
  echo
  echo "Ratio report=1 / off, round by round: median $ratio, lowest $lo, highest $hi, quartile spread $(spread "${ratios[@]}"); goal at most 1.05: $(awk -v r="$ratio" 'BEGIN { print (r <= 1.05 ? "met" : "MISSED") }')."
  echo
  rm -f "$src"

  # kolvane beside fio: 4 KiB random direct reads of a 1 GiB file at depth 1 for about 10 s.
  local big=$disk/measure-1g seconds=$( ((quick)) && echo 3 || echo 10) iops
  progress "fio comparison: preparing a 1 GiB file"
  random_file "$big" "$GiB"
  sync
  # With count= and no iterations=, runtime= repeats the read until the time is up.
  progress "kolvane: direct random reads for $seconds s"
  taskset -c "$cpu" "$kolvane" if="$big" of=/dev/null bs=4k count=1 runtime="$seconds" dio=1 json="$disk/k.json" >/dev/null 2>&1
  progress "fio: the same reads for $seconds s"
  taskset -c "$cpu" fio --name=randread --filename="$big" --ioengine=psync --direct=1 --rw=randread \
    --bs=4k --iodepth=1 --runtime="$seconds" --time_based --output-format=json >"$disk/fio.json" 2>/dev/null
  local k_iops k_p50 k_p99 f_iops f_p50 f_p99
  k_iops=$(jq '.directions.read.iops' "$disk/k.json")
  k_p50=$(jq '.directions.read.latency_ns.p50 / 1000' "$disk/k.json")
  k_p99=$(jq '.directions.read.latency_ns.p99 / 1000' "$disk/k.json")
  f_iops=$(jq '.jobs[0].read.iops' "$disk/fio.json")
  f_p50=$(jq '.jobs[0].read.clat_ns.percentile["50.000000"] / 1000' "$disk/fio.json")
  f_p99=$(jq '.jobs[0].read.clat_ns.percentile["99.000000"] / 1000' "$disk/fio.json")
  echo "## kolvane beside fio"
  echo
  echo "4 KiB random direct reads of a 1 GiB file on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent, depth 1, on CPU $cpu: kolvane \`bs=4k count=1 runtime=$seconds dio=1 json=\`, fio \`--ioengine=psync --direct=1 --rw=randread --bs=4k --runtime=$seconds --time_based --output-format=json\`. Latencies in microseconds (fio: completion latency)."
  echo
  echo "| figure | kolvane | fio | kolvane / fio |"
  echo "| --- | ---: | ---: | ---: |"
  for row in "IOPS $k_iops $f_iops" "p50 $k_p50 $f_p50" "p99 $k_p99 $f_p99"; do
    set -- $row
    printf '| %s | %.1f | %.1f | %.3f |\n' "$1" "$2" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.6f", a / b }')"
  done
  echo
  rm -f "$big"
}
if ((measure_only)); then
  for tool in fio jq; do command -v "$tool" >/dev/null 2>&1 || { say "missing: $tool"; exit 2; }; done
  echo "# kolvane benchmark: the measuring words"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
  echo "- Machine: $(nproc) CPUs, shared with other developers' builds and tests while this ran"
  echo
  measure_section
  echo "- Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi


# ---------------------------------------------------------------------------- queue depth
# iodepth= beside fio and dd: random 4 KiB reads and writes at several depths, a direct copy
# and the stamped writes, each row a ratio with its goal. kolvane and its yardstick alternate
# within every round (order reversed every other round) on the last CPU, so that the machine's
# noise hits both; the row's ratio is the median of the round-by-round ratios.
queue_rounds=$( ((quick)) && echo 1 || echo 5)      # rounds of the timed-for-seconds rows
queue_short_rounds=$( ((quick)) && echo 2 || echo 5) # rounds of the shorter rows
queue_seconds=$( ((quick)) && echo 2 || echo 4)
# Both sides draw 4 KiB offsets the same way: uniformly, each I/O on its own (fio's random map
# would visit every block once per pass, which moved its figures by 15-30 % on this disk).
same_offsets="--norandommap --randrepeat=0"
# A row whose load average (1 minute) is above this at its start or its end is not measured:
# other work on the machine skews even the ratios.
quiet_load=1.5
queue_size=$( ((quick)) && echo $((256 * MiB)) || echo "$GiB")
queue_ios=$( ((quick)) && echo 50000 || echo 200000)
queue_rows=$disk/queue.tsv
last_cpu=0

pin=(taskset -c "$cpu")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", a / b }'; }
load1() { cut -d' ' -f1 /proc/loadavg; }
# Waits, at most two minutes, for the load average to fall below 1 before a row starts.
wait_quiet() {
  local waited=0
  while awk -v l="$(load1)" 'BEGIN { exit !(l >= 1) }' && ((waited < 120)); do
    sleep 5
    waited=$((waited + 5))
  done
}

# Runs one command (its words as arguments) as $pin says (on the last CPU, unless a section
# unpins it) under /usr/bin/time: sets $last to
# its wall time and $last_cpu to its user + system time, in seconds. Output is discarded; a
# failure ends the benchmark with the program's messages.
queue_run() {
  local t0 t1
  t0=$EPOCHREALTIME
  if ! "${pin[@]}" /usr/bin/time -f '%U %S' -o "$disk/cpu" "$@" >/dev/null 2>"$disk/stderr"; then
    say "failed: $*"
    cat "$disk/stderr" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  last=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
  last_cpu=$(awk '{ printf "%.6f", $1 + $2 }' "$disk/cpu")
}

# Appends one row: number, what ran, kolvane's figure, the yardstick's name and figure, the
# unit, the median ratio, the goal ("<=" or ">=" and a number), the load at the row's start and
# end, and every round's figures.
queue_record() {
  local number=$1 what=$2 unit=$3 yname=$4 op=$5 goal=$6 load=$7 kname=$8 yfig=$9
  local -n ks=$kname ys=$yfig
  local rs=() j verdict
  for ((j = 0; j < ${#ks[@]}; j++)); do rs+=("$(ratio "${ks[$j]}" "${ys[$j]}")"); done
  local r
  r=$(median "${rs[@]}")
  verdict=$(awk -v r="$r" -v g="$goal" -v op="$op" 'BEGIN { print ((op == "<=" ? r <= g : r >= g) ? "met" : "MISSED") }')
  awk -v a="$load" -v b="$(load1)" -v q="$quiet_load" 'BEGIN { exit !(a > q || b > q) }' &&
    verdict="not measured (load above $quiet_load)"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s %s\t%s\t%s → %s\t%s\t%s\t%s\n' "$number" "$what" \
    "$(median "${ks[@]}")" "$yname" "$(median "${ys[@]}")" "$unit" "$r" "$op" "$goal" "$verdict" \
    "$load" "$(load1)" "${ks[*]}" "${ys[*]}" "${rs[*]}" >>"$queue_rows"
  progress "$(printf 'row %s %-44s kolvane %s  %s %s  ratio %.3f %s' "$number" "$what" \
    "$(median "${ks[@]}")" "$yname" "$(median "${ys[@]}")" "$r" "$verdict")"
}

# iops_rows NUMBER WHAT DIRECTION ROUNDS GOAL KOLVANE_WORDS FIO_WORDS [CPU_NUMBER [CPU_GOAL]]
# kolvane (json=) and fio (--output-format=json) in turn; the IOPS of DIRECTION from each. With
# CPU_NUMBER, also a row of CPU time per I/O (user + system from /usr/bin/time, over the I/Os),
# whose ratio must be at most CPU_GOAL (default 1). The row names both commands in full.
iops_rows() {
  local number=$1 what=$2 dir=$3 rounds=$4 goal=$5 kwords=$6 fwords=$7 cpu_number=${8:-}
  local cpu_goal=${9:-1}
  local load round k
  local -a kiops=() fiops=() kcpu=() fcpu=() fself=()
  what="$what: \`kolvane $kwords\` beside \`fio --name=queue $fwords\`"
  wait_quiet
  load=$(load1)
  for ((round = 0; round < rounds; round++)); do
    local order=(kolvane fio)
    ((round % 2)) && order=(fio kolvane)
    for k in "${order[@]}"; do
      if [[ $k == kolvane ]]; then
        queue_run "$kolvane" $kwords seed=$((round + 1)) json="$disk/k.json"
        kiops+=("$(jq ".directions.$dir.iops" "$disk/k.json")")
        kcpu+=("$(awk -v c="$last_cpu" -v n="$(jq ".directions.$dir.ios" "$disk/k.json")" 'BEGIN { printf "%.1f", c / n * 1e9 }')")
      else
        queue_run fio --name=queue $fwords --randseed=$((round + 1)) --output-format=json --output="$disk/f.json"
        fiops+=("$(jq ".jobs[0].$dir.iops" "$disk/f.json")")
        local ios
        ios=$(jq ".jobs[0].$dir.total_ios" "$disk/f.json")
        fcpu+=("$(awk -v c="$last_cpu" -v n="$ios" 'BEGIN { printf "%.1f", c / n * 1e9 }')")
        fself+=("$(jq -r "[.jobs[0].usr_cpu, .jobs[0].sys_cpu, .jobs[0].job_runtime] | @tsv" "$disk/f.json" |
          awk -v n="$ios" '{ printf "%.1f", ($1 + $2) / 100 * $3 * 1e6 / n }')")
      fi
      sync
    done
  done
  queue_record "$number" "$what" IOPS fio ">=" "$goal" "$load" kiops fiops
  if [[ -n $cpu_number ]]; then
    queue_record "$cpu_number" "CPU per I/O, $what" "ns/IO" fio "<=" "$cpu_goal" "$load" kcpu fcpu
    echo "$cpu_number $what: fio's own CPU figure (usr_cpu + sys_cpu of its job) ${fself[*]} ns/IO" >>"$disk/queue-notes"
  fi
}

# time_row NUMBER WHAT ROUNDS GOAL CLEAN KOLVANE_WORDS YARDSTICK_NAME YARDSTICK_COMMAND
# A warm-up round, then ROUNDS rounds of wall times; CLEAN (a command, words) and sync untimed
# after every run.
time_row() {
  local number=$1 what=$2 rounds=$3 goal=$4 clean=$5 kwords=$6 yname=$7 ycmd=$8
  local load round k
  local -a kt=() yt=()
  load=$(load1)
  for ((round = 0; round <= rounds; round++)); do
    local order=(kolvane yardstick)
    ((round % 2)) && order=(yardstick kolvane)
    for k in "${order[@]}"; do
      if [[ $k == kolvane ]]; then queue_run "$kolvane" $kwords; else queue_run $ycmd; fi
      if ((round)); then
        if [[ $k == kolvane ]]; then kt+=("$last"); else yt+=("$last"); fi
      fi
      $clean
      sync
    done
  done
  queue_record "$number" "$what" s "$yname" "<=" "$goal" "$load" kt yt
}

# System calls per I/O: one short run of each program under strace -c -f (not timed: strace
# slows every call), to tell where a missed row's time goes. Prints table lines.
strace_calls() { awk '$NF == "total" { print $4 }' "$disk/strace"; }
strace_top() {
  awk 'NR > 2 && $1 !~ /^-/ && $NF != "total" { print $4, $NF }' "$disk/strace" | sort -nr | head -3 |
    awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $2, $1 }'
}
syscalls_per_io() {
  local what=$1 dir=$2 kwords=$3 fwords=$4 calls ios
  taskset -c "$cpu" strace -c -f -o "$disk/strace" "$kolvane" $kwords json="$disk/k.json" >/dev/null 2>&1 ||
    { say "failed under strace: kolvane $kwords"; exit 1; }
  calls=$(strace_calls)
  ios=$(jq ".directions.$dir.ios" "$disk/k.json")
  printf '| %s | kolvane | %s | %s | %.3f | %s |\n' "$what" "$ios" "$calls" "$(ratio "$calls" "$ios")" "$(strace_top)"
  taskset -c "$cpu" strace -c -f -o "$disk/strace" fio --name=queue $fwords --output-format=json --output="$disk/f.json" >/dev/null 2>&1 ||
    { say "failed under strace: fio $fwords"; exit 1; }
  calls=$(strace_calls)
  ios=$(jq ".jobs[0].$dir.total_ios" "$disk/f.json")
  printf '| %s | fio | %s | %s | %.3f | %s |\n' "$what" "$ios" "$calls" "$(ratio "$calls" "$ios")" "$(strace_top)"
}

# The rows of $queue_rows as a table, and every round's figures below it.
rows_table() {
  echo "| row | run | unit | kolvane | yardstick | yardstick's | ratio | goal | verdict | load (1 min) start → end |"
  echo "| ---: | --- | --- | ---: | --- | ---: | ---: | --- | --- | --- |"
  sort -s -t $'\t' -k1,1n "$queue_rows" | while IFS=$'\t' read -r n what kfig yname yfig unit r goal verdict load _; do
    local fmt=%.0f
    [[ $unit == s ]] && fmt=%.3f
    printf "| %s | %s | %s | $fmt | %s | $fmt | %.3f | %s | %s | %s |\n" "$n" "$what" "$unit" "$kfig" \
      "$yname" "$yfig" "$r" "$goal" "$verdict" "$load"
  done
}
# A section's end: its rows, its notes, and every round of every row.
rows_notes_rounds() {
  rows_table
  echo
  sed 's/^/- /' "$disk/queue-notes"
  echo
  rounds_details
}
rounds_details() {
  echo "<details><summary>Every round (kolvane; yardstick; ratio)</summary>"
  echo
  echo "| row | run | kolvane | yardstick | ratios |"
  echo "| ---: | --- | --- | --- | --- |"
  sort -s -t $'\t' -k1,1n "$queue_rows" | while IFS=$'\t' read -r n what _ _ _ _ _ _ _ _ ks ys rs; do
    echo "| $n | $what | $ks | $ys | $rs |"
  done
  echo
  echo "</details>"
}

queue_section() {
  local big=$disk/queue-1g existing=$disk/queue-existing copy=$disk/queue-copy d
  local secs=$queue_seconds size_words mib=$((queue_size / MiB))
  : >"$queue_rows"
  : >"$disk/queue-notes"
  progress "queue depth: preparing a $mib MiB file and an existing one"
  random_file "$big" "$queue_size"
  cp "$big" "$existing"
  sync
  cat "$big" >/dev/null
  size_words="--filename=$big --bs=4k --rw=randread"

  # Let the written file settle before the first round.
  sleep 10
  local reads="$size_words --direct=1 --ioengine=io_uring $same_offsets"

  # 1. Direct random reads for $secs seconds at each depth, default settings; CPU per I/O
  # beside them.
  for d in 1 4 32 128; do
    progress "row 1: direct random reads, depth $d, $secs s"
    iops_rows 1 "direct 4k randread, depth $d, $secs s" read "$queue_rounds" 0.95 \
      "if=$big of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=$d distribution=uniform" \
      "$reads --iodepth=$d --runtime=$secs --time_based" 1
  done

  # 2. The same at depth 32 and 128, kolvane reaping by spinning (poll=1), as fio does.
  for d in 32 128; do
    progress "row 2: direct random reads, depth $d, poll=1, $secs s"
    iops_rows 2 "direct 4k randread, depth $d, poll=1, $secs s" read "$queue_rounds" 1.0 \
      "if=$big of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=$d poll=1 distribution=uniform" \
      "$reads --iodepth=$d --runtime=$secs --time_based" 2
  done

  # 3. The tool's own ceiling: the same reads from a file in tmpfs, which takes O_DIRECT here
  # and has no device behind it, so what is measured is the program and the kernel.
  local ceiling=$shm/queue-1g
  cp "$big" "$ceiling"
  local shm_reads="--filename=$ceiling --bs=4k --rw=randread --direct=1 --ioengine=io_uring $same_offsets"
  for p in "" " poll=1"; do
    progress "row 3: direct random reads from tmpfs, depth 32$p, $secs s"
    iops_rows 3 "tmpfs 4k randread, depth 32$p, $secs s" read "$queue_rounds" 1.0 \
      "if=$ceiling of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=32$p distribution=uniform" \
      "$shm_reads --iodepth=32 --runtime=$secs --time_based" 3 "$([[ -z $p ]] && echo 0.5 || echo 1)"
  done
  rm -f "$ceiling"

  # 4. One I/O at a time beside fio's psync: cached (a fixed number of I/Os) and direct.
  progress "row 4: random reads one at a time, cached and direct"
  iops_rows 4 "cached 4k randread, depth 1, $queue_ios I/Os" read "$queue_short_rounds" 0.97 \
    "if=$big of=/dev/null bs=4k count=1 iterations=$queue_ios distribution=uniform" \
    "$size_words --ioengine=psync --invalidate=0 $same_offsets --number_ios=$queue_ios"
  iops_rows 4 "direct 4k randread, depth 1, $secs s" read "$queue_rounds" 0.97 \
    "if=$big of=/dev/null bs=4k count=1 runtime=$secs dio=1 distribution=uniform" \
    "$size_words --direct=1 --ioengine=psync $same_offsets --runtime=$secs --time_based"

  # 5. Direct random writes into the existing file at depth 32, and their CPU per I/O.
  progress "row 5: direct random writes, depth 32, $secs s"
  iops_rows 5 "direct 4k randwrite into an existing file, depth 32, $secs s" write "$queue_rounds" 0.95 \
    "if=/dev/zero of=$existing conv=notrunc bs=4k count=1 runtime=$secs dio=2 iodepth=32 distribution=uniform" \
    "--filename=$existing --bs=4k --rw=randwrite --direct=1 --ioengine=io_uring --iodepth=32 $same_offsets --runtime=$secs --time_based" \
    5

  # 4. A direct copy to a new file, against dd.
  progress "row 6: direct copy of $mib MiB, bs=1m, iodepth=4 against dd"
  time_row 6 "direct copy of $mib MiB, bs=1m dio=3 iodepth=4" "$queue_short_rounds" 0.8 "rm -f $copy" \
    "if=$big of=$copy bs=1m dio=3 iodepth=4" dd \
    "dd if=$big of=$copy bs=1M iflag=direct oflag=direct"
  # Untimed: a fast copy is worth nothing unless it holds the source's bytes.
  "$kolvane" if="$big" of="$copy" bs=1m dio=3 iodepth=4 >/dev/null 2>&1 && cmp -s "$big" "$copy" &&
    echo "6: kolvane's copy, made once more after the timed rounds, is identical to its source (cmp)" >>"$disk/queue-notes" ||
    echo "6: kolvane's copy, made once more after the timed rounds, DIFFERS from its source (cmp)" >>"$disk/queue-notes"
  rm -f "$copy"
  # The same copy over an existing file: its writes allocate nothing and do not move the end of
  # the file, which tells the cost of growing a new file from that of the copy itself.
  time_row 6 "the same copy over an existing file, conv=notrunc (both)" "$queue_short_rounds" 0.8 ":" \
    "if=$big of=$existing conv=notrunc bs=1m dio=3 iodepth=4" dd \
    "dd if=$big of=$existing bs=1M iflag=direct oflag=direct conv=notrunc"

  # 7. Stamped blocks against zeros, both into the existing file at depth 4.
  progress "row 7: pattern=random against pattern=zero, iodepth=4"
  local stamp="if=/dev/zero of=$existing conv=notrunc bs=1m count=$mib dio=2 iodepth=4"
  time_row 7 "$mib MiB of direct writes, bs=1m iodepth=4, pattern=random / pattern=zero" \
    "$queue_short_rounds" 1.05 ":" "$stamp pattern=random seed=1" "pattern=zero" \
    "$kolvane $stamp pattern=zero"
  # Untimed: the stamped blocks written at depth 4 read back and check as written.
  local status=0 verdict=check
  "$kolvane" $stamp pattern=random seed=1 >/dev/null 2>&1 || status=$?
  ((status)) || "$kolvane" ${stamp% iodepth=4} pattern=random seed=1 verify=2 >/dev/null 2>&1 || status=$?
  ((status == 0)) || verdict="do NOT check (status $status)"
  echo "7: the stamped blocks of one more pattern=random run at iodepth=4 $verdict with verify=2 (same words, depth 1)" >>"$disk/queue-notes"

  # Where the calls go, for the rows that miss.
  progress "system calls per I/O under strace"
  local short=$( ((quick)) && echo 1 || echo 2)
  {
    syscalls_per_io "cached randread, depth 1" read \
      "if=$big of=/dev/null bs=4k count=1 iterations=$((queue_ios / 10)) distribution=uniform" \
      "$size_words --ioengine=psync --invalidate=0 $same_offsets --number_ios=$((queue_ios / 10))"
    for d in 1 32; do
      syscalls_per_io "direct randread, depth $d" read \
        "if=$big of=/dev/null bs=4k count=1 runtime=$short dio=1 iodepth=$d distribution=uniform" \
        "$size_words --direct=1 --ioengine=io_uring --iodepth=$d $same_offsets --runtime=$short --time_based"
    done
    syscalls_per_io "direct randwrite, depth 32" write \
      "if=/dev/zero of=$existing conv=notrunc bs=4k count=1 runtime=$short dio=2 iodepth=32 distribution=uniform" \
      "--filename=$existing --bs=4k --rw=randwrite --direct=1 --ioengine=io_uring --iodepth=32 $same_offsets --runtime=$short --time_based"
  } >"$disk/syscalls.md"
  # What the disk gives 1 MiB direct transfers at depths 1 and 4 (fio, one run each): the
  # ceiling of rows 4 and 6, whatever the copier.
  progress "the disk's rate for 1 MiB direct transfers"
  local rw
  for rw in read write; do
    for d in 1 4; do
      taskset -c "$cpu" fio --name=queue --filename="$existing" --bs=1m --rw=$rw --direct=1 \
        --ioengine=io_uring --iodepth=$d --output-format=json --output="$disk/f.json" >/dev/null 2>&1 ||
        { say "failed: fio sequential $rw at depth $d"; exit 1; }
      printf '| %s | %s | %.0f |\n' "$rw" "$d" "$(jq ".jobs[0].$rw.bw_bytes / 1e6" "$disk/f.json")"
    done
  done >"$disk/disk.md"
  rm -f "$big" "$existing" "$copy"

  echo "## Queue depth (iodepth=) beside fio and dd"
  echo
  echo "- Files: a $mib MiB file of random bytes on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent, and a copy of it as the existing output; every program pinned to CPU $cpu."
  echo "- Rows 1-5 name both commands in full (FILE the $mib MiB file, R the round's number, added to both as \`seed=R\` and \`--randseed=R\` with \`json=\` and \`--output-format=json\`); both sides draw offsets uniformly, fio with \`$same_offsets\`. Row 3 reads a copy of FILE in tmpfs ($shm)."
  echo "- kolvane: \`if=FILE of=NEW bs=1m dio=3 iodepth=4\` and the same with \`of=EXISTING conv=notrunc\` (row 6); \`if=/dev/zero of=EXISTING conv=notrunc bs=1m count=$mib dio=2 iodepth=4 pattern=random seed=1\` and the same with \`pattern=zero\` (row 7)." \
    "dd: \`dd if=FILE of=NEW bs=1M iflag=direct oflag=direct\` and the same with \`of=EXISTING conv=notrunc\` (row 6). fio $(fio --version | sed 's/^fio-//')."
  echo "- Method: the file synced and left to settle 10 s before the first row; before each row, a wait (at most 2 minutes) for the load average to fall below 1; $queue_rounds rounds (rows 1-5) or $queue_short_rounds rounds after an untimed warm-up round (rows 6, 7) in which kolvane and its yardstick run one after the other, order reversed every other round, sync after every run. A row whose load average was above $quiet_load at its start or end is \"not measured\", whatever its ratio."
  echo "  IOPS from kolvane's json= (\`.directions.read.iops\`) and fio's JSON (\`.jobs[0].read.iops\`); times are wall times; CPU per I/O is user + system time from /usr/bin/time over the I/Os done. Each figure is the median over the rounds, the ratio the median of the round-by-round ratios kolvane / yardstick."
  echo
  rows_table
  echo
  echo "System calls per I/O, one short run of each program under \`strace -c -f\` (not timed):"
  echo
  echo "| run | program | I/Os | system calls | calls per I/O | most frequent |"
  echo "| --- | --- | ---: | ---: | ---: | --- |"
  cat "$disk/syscalls.md"
  echo
  echo "The disk's own rate for $mib MiB of 1 MiB direct transfers in order (fio \`--bs=1m --rw=read|write --direct=1 --ioengine=io_uring --iodepth=D\` over the existing file, one run each):"
  echo
  echo "| transfer | depth | MB/s |"
  echo "| --- | ---: | ---: |"
  cat "$disk/disk.md"
  echo
  sed 's/^/- /' "$disk/queue-notes"
  echo
  rounds_details
}

# workers= beside fio's jobs, one worker and dd: random direct reads of two workers at depth 16
# each against fio's two jobs, a direct copy by two workers against one and against dd, and
# cached random reads of two workers against one. Unpinned: two workers need both CPUs.
workers_section() {
  local big=$disk/workers-1g copy=$disk/workers-copy secs=$queue_seconds d
  local mib=$((queue_size / MiB)) round k load
  : >"$queue_rows"
  : >"$disk/queue-notes"
  pin=()
  progress "workers: preparing a $mib MiB file"
  random_file "$big" "$queue_size"
  sync
  sleep 10

  progress "row 1: direct random reads, workers=2 iodepth=16 beside fio --numjobs=2"
  iops_rows 1 "direct 4k randread, 2 x depth 16, $secs s" read "$queue_rounds" 0.95 \
    "if=$big of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=16 workers=2 distribution=uniform" \
    "--filename=$big --bs=4k --rw=randread --direct=1 --ioengine=io_uring $same_offsets --iodepth=16 --numjobs=2 --group_reporting --runtime=$secs --time_based" \
    1

  progress "row 2: direct copy of $mib MiB by two workers, against one and against dd"
  time_row 2 "direct copy of $mib MiB, bs=1m dio=3: workers=2 / workers=1" "$queue_short_rounds" 1.0 \
    "rm -f $copy" "if=$big of=$copy bs=1m dio=3 workers=2" "workers=1" \
    "$kolvane if=$big of=$copy bs=1m dio=3"
  time_row 2 "direct copy of $mib MiB, bs=1m dio=3: workers=2 / dd" "$queue_short_rounds" 1.0 \
    "rm -f $copy" "if=$big of=$copy bs=1m dio=3 workers=2" dd \
    "dd if=$big of=$copy bs=1M iflag=direct oflag=direct"
  "$kolvane" if="$big" of="$copy" bs=1m dio=3 workers=2 >/dev/null 2>&1 && cmp -s "$big" "$copy" &&
    echo "2: the copy of two workers, made once more after the timed rounds, is identical to its source (cmp)" >>"$disk/queue-notes" ||
    echo "2: the copy of two workers, made once more after the timed rounds, DIFFERS from its source (cmp)" >>"$disk/queue-notes"
  rm -f "$copy"

  progress "row 3: cached random reads, two workers against one"
  cat "$big" >/dev/null
  local -a two=() one=()
  local words="if=$big of=/dev/null bs=4k count=1 runtime=$secs distribution=uniform"
  wait_quiet
  load=$(load1)
  for ((round = 0; round < queue_rounds; round++)); do
    local order=(2 1)
    ((round % 2)) && order=(1 2)
    for k in "${order[@]}"; do
      queue_run "$kolvane" $words workers=$k seed=$((round + 1)) json="$disk/k.json"
      if ((k == 2)); then two+=("$(jq .directions.read.iops "$disk/k.json")"); else one+=("$(jq .directions.read.iops "$disk/k.json")"); fi
    done
  done
  queue_record 3 "cached 4k randread, $secs s: \`kolvane $words workers=2\` / workers=1" IOPS \
    "workers=1" ">=" 1.6 "$load" two one

  echo "## Workers (workers=) beside fio's jobs, one worker and dd"
  echo
  echo "- Files: a $mib MiB file of random bytes on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent; nothing pinned: the $(nproc) CPUs are the workers'."
  echo "- Row 1 names both commands in full (FILE the $mib MiB file, R the round's number, added to both as \`seed=R\` and \`--randseed=R\` with \`json=\` and \`--output-format=json\`); both sides draw offsets uniformly, fio with \`$same_offsets\`, its two jobs reported as one group (\`.jobs[0]\`). fio $(fio --version | sed 's/^fio-//')."
  echo "- Method as in the queue depth section: the file synced and left to settle 10 s, a wait for a quiet machine before each row, $queue_rounds rounds (rows 1, 3) or $queue_short_rounds after a warm-up (row 2), order reversed every other round, sync after every run; the figure is the median, the ratio the median of the round-by-round ratios."
  echo
  rows_notes_rounds
  rm -f "$big"
}

# distribution='s laws against their formulas: the offsets a run draws (verbose=1) counted per
# block. Not a speed: each row's figure is a share of the draws, its goal a distance in points.
skew_section() {
  local range=$disk/skew-400m n=102400 counts=$disk/skew-counts
  truncate -s $((400 * MiB)) "$range"
  # skew_draws LAW DRAWS: the blocks drawn, one count per line, the most drawn first.
  skew_draws() {
    "$kolvane" if="$range" of=/dev/null bs=4k count=1 iterations="$2" seed=1 distribution="$1" \
      verbose=1 2>&1 | awk '$1 == "skip:" { print $2 / 4096 }' >"$disk/skew-blocks"
    sort -n "$disk/skew-blocks" | uniq -c | sort -rn | awk '{ print $1 }' >"$counts"
  }
  top_share() { awk -v k="$1" -v n="$2" 'NR <= k { s += $1 } END { printf "%.4f", s / n }' "$counts"; }
  # skew_row WHAT EXPECTED GOT POINTS
  skew_row() {
    local verdict
    verdict=$(awk -v e="$2" -v g="$3" -v p="$4" 'BEGIN { d = (g - e) * 100; if (d < 0) d = -d; print (d <= p ? "met" : "MISSED") }')
    printf '| %s | %s | %s | %s points | %s |\n' "$1" "$2" "$3" "$4" "$verdict" >>"$disk/skew.md"
    progress "skew: $1: $3 against $2 ($verdict)"
  }
  : >"$disk/skew.md"
  progress "skew: zipf:1.2, 200000 draws"
  skew_draws zipf:1.2 200000
  local formula
  formula=$(awk -v n=$n 'BEGIN { for (i = 1; i <= n; i++) { h += i ^ -1.2; if (i == 1024) top = h } printf "%.4f", top / h }')
  skew_row "zipf:1.2, 200,000 draws: the hottest 1 % of the blocks (1,024) by count" "$formula" "$(top_share 1024 200000)" 3
  progress "skew: pareto:0.2, 2000000 draws"
  skew_draws pareto:0.2 2000000
  skew_row "pareto:0.2, 2,000,000 draws: the hottest 20 % of the blocks (20,480) by count" 0.8000 "$(top_share 20480 2000000)" 2
  progress "skew: normal:10, 200000 draws"
  skew_draws normal:10 200000
  skew_row "normal:10, 200,000 draws: the mean block, as a share of the range" 0.5000 \
    "$(awk -v n=$n '{ s += $1 } END { printf "%.4f", s / NR / n }' "$disk/skew-blocks")" 2
  rm -f "$range" "$counts" "$disk/skew-blocks"
  echo "## distribution= against its formulas"
  echo
  echo "- A sparse 400 MiB file read in 4 KiB blocks (n = $n block-aligned offsets), \`kolvane if=FILE of=/dev/null bs=4k count=1 iterations=DRAWS seed=1 distribution=LAW verbose=1\`, the offsets counted per block. zipf's expected share is H(1024, 1.2) / H(102400, 1.2), summed here. pareto is counted over 2,000,000 draws: with 200,000 (two per block on average) the count of a block in the law's long tail is mostly chance, and the twenty percent of blocks that are most drawn by count hold more than the law's first fifth of the ranks."
  echo
  echo "| law and measure | expected | drawn | goal | verdict |"
  echo "| --- | ---: | ---: | --- | --- |"
  cat "$disk/skew.md"
}

# mix= beside fio's randrw: 8 KiB random direct reads and writes, 70 % reads, at depth 32, on an
# existing file; each direction's IOPS a row, and the mix kolvane achieved beside them.
mix_section() {
  local target=$disk/mix-1g secs=$queue_seconds mib=$((queue_size / MiB)) round k load d
  local -a kr=() kw=() fr=() fw=() kmix=()
  : >"$queue_rows"
  : >"$disk/queue-notes"
  progress "mix: preparing a $mib MiB file"
  random_file "$target" "$queue_size"
  sync
  sleep 10
  local kwords="if=/dev/zero of=$target conv=notrunc bs=8k count=1 runtime=$secs dio=3 iodepth=32 mix=70 distribution=uniform"
  local fwords="--filename=$target --bs=8k --rw=randrw --rwmixread=70 --direct=1 --ioengine=io_uring --iodepth=32 $same_offsets --runtime=$secs --time_based"
  wait_quiet
  load=$(load1)
  for ((round = 0; round < queue_rounds; round++)); do
    local order=(kolvane fio)
    ((round % 2)) && order=(fio kolvane)
    for k in "${order[@]}"; do
      if [[ $k == kolvane ]]; then
        queue_run "$kolvane" $kwords seed=$((round + 1)) json="$disk/k.json"
        kr+=("$(jq .directions.read.iops "$disk/k.json")")
        kw+=("$(jq .directions.write.iops "$disk/k.json")")
        kmix+=("$(jq '.directions.read.ios / (.directions.read.ios + .directions.write.ios)' "$disk/k.json")")
      else
        queue_run fio --name=mix $fwords --randseed=$((round + 1)) --output-format=json --output="$disk/f.json"
        fr+=("$(jq '.jobs[0].read.iops' "$disk/f.json")")
        fw+=("$(jq '.jobs[0].write.iops' "$disk/f.json")")
      fi
      sync
    done
  done
  local what="8k randrw 70/30, depth 32, $secs s: \`kolvane $kwords\` beside \`fio --name=mix $fwords\`"
  queue_record 1 "read IOPS, $what" IOPS fio ">=" 0.95 "$load" kr fr
  queue_record 1 "write IOPS, $what" IOPS fio ">=" 0.95 "$load" kw fw
  local achieved
  achieved=$(median "${kmix[@]}")
  echo "1: the share of reads kolvane achieved, round by round: ${kmix[*]}; median $achieved, $(awk -v a="$achieved" 'BEGIN { d = (a - 0.7) * 100; if (d < 0) d = -d; printf "%.2f points from 70 %%: %s", d, (d <= 1 ? "met" : "MISSED") }')" >>"$disk/queue-notes"
  rm -f "$target"
  echo "## mix= beside fio's randrw"
  echo
  echo "- A $mib MiB file of random bytes on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent, written in place by both; every program pinned to CPU $cpu. The row names both commands in full (R the round's number, added as \`seed=R\` and \`--randseed=R\` with \`json=\` and \`--output-format=json\`); fio $(fio --version | sed 's/^fio-//')."
  echo "- Method as in the queue depth section: $queue_rounds rounds, order reversed every other round, sync after every run, medians, the ratio the median of the round-by-round ratios."
  echo
  rows_notes_rounds
}
# rate=: a paced run's figures against their goals (rows 1 and 3), and beside fio's at the same
# rate while another process writes to the same disk (row 2, figures only).
rate_section() {
  local target=$disk/rate-1g secs=10 mib=$((queue_size / MiB)) round k load
  local -a achieved=() p50=() sp50=() late99=() ktab=() ftab=() with=() without=()
  : >"$queue_rows"
  : >"$disk/queue-notes"
  progress "rate: preparing a $mib MiB file"
  random_file "$target" "$queue_size"
  sync
  sleep 10
  local kwords="if=$target of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=32 rate=5000 distribution=uniform"
  local fwords="--filename=$target --bs=4k --rw=randread --direct=1 --ioengine=io_uring --iodepth=32 --rate_iops=5000 --lat_percentiles=1 --clat_percentiles=1 $same_offsets --runtime=$secs --time_based"
  local pts='.directions.read | [.latency_ns.p99, .latency_ns.p99_9, .service_ns.p99, .service_ns.p99_9] | map(. / 1000 | floor) | join(" / ")'
  local fpts='.jobs[0].read | [.lat_ns.percentile["99.000000"], .lat_ns.percentile["99.900000"], .clat_ns.percentile["99.000000"], .clat_ns.percentile["99.900000"]] | map(. / 1000 | floor) | join(" / ")'
  wait_quiet
  load=$(load1)
  for ((round = 0; round < queue_rounds; round++)); do
    queue_run "$kolvane" $kwords seed=$((round + 1)) json="$disk/k.json"
    achieved+=("$(jq .rate.achieved_per_s "$disk/k.json")")
    p50+=("$(jq .directions.read.latency_ns.p50 "$disk/k.json")")
    sp50+=("$(jq .directions.read.service_ns.p50 "$disk/k.json")")
    late99+=("$(jq .rate.lateness_ns.p99 "$disk/k.json")")
    sync
  done
  local -a asked=() fifty=()
  for ((round = 0; round < queue_rounds; round++)); do asked+=(5000); fifty+=(50000); done
  queue_record 1 "achieved rate, \`kolvane $kwords\`" "I/Os per s" "rate=" ">=" 0.99 "$load" achieved asked
  queue_record 1 "due-time p50 / service p50, the same runs" ns "service p50" "<=" 1.10 "$load" p50 sp50
  queue_record 1 "the tool's own lateness p99 / 50 us, the same runs" ns "50 us" "<=" 1.0 "$load" late99 fifty
  # Row 2: a direct writer of 1 MiB blocks on the same disk for 2 s in the middle of each run.
  for ((round = 0; round < queue_rounds; round++)); do
    local order=(kolvane fio)
    ((round % 2)) && order=(fio kolvane)
    for k in "${order[@]}"; do
      (sleep 4; timeout 2 dd if=/dev/zero of="$disk/compete" bs=1M oflag=direct count=100000 2>/dev/null || true) &
      if [[ $k == kolvane ]]; then
        queue_run "$kolvane" $kwords seed=$((round + 1)) json="$disk/k.json"
        ktab+=("$(jq -r "$pts" "$disk/k.json")")
      else
        queue_run fio --name=rate $fwords --randseed=$((round + 1)) --output-format=json --output="$disk/f.json"
        ftab+=("$(jq -r "$fpts" "$disk/f.json")")
      fi
      wait
      rm -f "$disk/compete"
      sync
    done
  done
  # Row 3: the series' cost over flat-out cached random reads.
  cat "$target" >/dev/null
  local cwords="if=$target of=/dev/null bs=4k count=1 runtime=$secs distribution=uniform report=1"
  for ((round = 0; round < queue_rounds; round++)); do
    local order=(series plain)
    ((round % 2)) && order=(plain series)
    for k in "${order[@]}"; do
      if [[ $k == series ]]; then
        queue_run "$kolvane" $cwords seed=$((round + 1)) json="$disk/k.json" interval=100
        with+=("$(jq .directions.read.iops "$disk/k.json")")
      else
        queue_run "$kolvane" $cwords seed=$((round + 1)) json="$disk/p.json"
        without+=("$(jq .directions.read.iops "$disk/p.json")")
      fi
    done
  done
  queue_record 3 "cached 4k randread flat out, $secs s: IOPS without the series / with \`interval=100\` (\`$cwords json=\`)" IOPS "with series" "<=" 1.05 "$(load1)" without with
  rm -f "$target"
  echo "## rate=: latency at a set load"
  echo
  echo "- A $mib MiB file of random bytes on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent; every program pinned to CPU $cpu; $queue_rounds rounds of $secs s each, medians; fio $(fio --version | sed 's/^fio-//')."
  echo "- Row 2, figures only (no goal): a second process (\`dd if=/dev/zero of=FILE bs=1M oflag=direct\`, on the same disk) writes from 4 s to 6 s into each run. Each round, due-time p99 / p99.9 / service p99 / p99.9 in us; kolvane \`$kwords\`, fio \`--name=rate $fwords\` (fio's lat beside its clat: fio times an I/O from when it was issued, not from when it was due)."
  for ((round = 0; round < queue_rounds; round++)); do
    echo "  - round $((round + 1)): kolvane ${ktab[$round]}; fio ${ftab[$round]}"
  done
  echo
  rows_notes_rounds
}
# kolvane-mpi: four ranks of this host beside four workers of one kolvane and fio's four jobs on
# the same direct random reads of one file, and what a launch costs. Four ranks on two cores
# measure what MPI costs a run here, not how storage scales with hosts.
mpi_section() {
  local big=$disk/mpi-1g secs=10 mib=$((queue_size / MiB)) round k load ios
  local mpirun=(mpirun --allow-run-as-root --oversubscribe -np 4)
  local common="if=$big of=/dev/null bs=4k count=1 runtime=$secs dio=1 iodepth=8 distribution=uniform"
  local fwords="--filename=$big --bs=4k --rw=randread --direct=1 --ioengine=io_uring $same_offsets --iodepth=8 --numjobs=4 --group_reporting --runtime=$secs --time_based"
  local -a miops=() wiops=() fiops=() mcpu=() wcpu=() fcpu=() mstart=() tstart=() wstart=()
  : >"$queue_rows"
  : >"$disk/queue-notes"
  pin=()
  command -v mpirun >/dev/null 2>&1 && [[ -x $kolvane_mpi ]] || { say "missing: mpirun or kolvane-mpi (Open MPI)"; exit 2; }
  progress "kolvane-mpi: preparing a $mib MiB file"
  random_file "$big" "$queue_size"
  sync
  sleep 10
  # cpu_per_io JSON_IOS: the last run's user + system time over its I/Os, in nanoseconds.
  cpu_per_io() { awk -v c="$last_cpu" -v n="$1" 'BEGIN { printf "%.1f", c / n * 1e9 }'; }
  progress "rows 1-3: 4 ranks x depth 8, 4 workers x depth 8, fio 4 jobs x depth 8, $queue_rounds rounds"
  wait_quiet
  load=$(load1)
  for ((round = 0; round < queue_rounds; round++)); do
    local order=(mpi workers fio)
    ((round % 2)) && order=(fio workers mpi)
    for k in "${order[@]}"; do
      case $k in
        mpi)
          queue_run "${mpirun[@]}" "$kolvane_mpi" $common seed=$((round + 1)) json="$disk/k.json"
          miops+=("$(jq .directions.read.iops "$disk/k.json")")
          mcpu+=("$(cpu_per_io "$(jq .directions.read.ios "$disk/k.json")")") ;;
        workers)
          queue_run "$kolvane" $common workers=4 seed=$((round + 1)) json="$disk/k.json"
          wiops+=("$(jq .directions.read.iops "$disk/k.json")")
          wcpu+=("$(cpu_per_io "$(jq .directions.read.ios "$disk/k.json")")") ;;
        fio)
          queue_run fio --name=ranks $fwords --randseed=$((round + 1)) --output-format=json --output="$disk/f.json"
          fiops+=("$(jq .jobs[0].read.iops "$disk/f.json")")
          ios=$(jq .jobs[0].read.total_ios "$disk/f.json")
          fcpu+=("$(cpu_per_io "$ios")") ;;
      esac
      sync
    done
  done
  queue_record 1 "IOPS of the whole: \`${mpirun[*]} kolvane-mpi $common\` beside \`fio --name=ranks $fwords\`" IOPS fio ">=" 0.9 "$load" miops fiops
  queue_record 2 "IOPS of the whole: 4 ranks (row 1) beside \`kolvane $common workers=4\`" IOPS "workers=4" ">=" 0.9 "$load" miops wiops
  queue_record 3 "CPU per I/O (user + system of every process), 4 ranks beside fio (row 1)" ns/IO fio "<=" 1.5 "$load" mcpu fcpu
  queue_record 3 "CPU per I/O, 4 ranks beside 4 workers (row 2)" ns/IO "workers=4" "<=" 1.5 "$load" mcpu wcpu

  # MPI's own floor: a program that starts MPI, meets the others at a barrier and ends.
  printf '%s\n' '#include <mpi.h>' \
    'int main(int c, char** v) { MPI_Init(&c, &v); MPI_Barrier(MPI_COMM_WORLD); MPI_Finalize(); return 0; }' \
    >"$disk/mpi_floor.c"
  mpicc -O2 -o "$disk/mpi_floor" "$disk/mpi_floor.c" || { say "mpicc failed"; exit 1; }
  local -a init=()
  progress "row 4: launch to exit of one I/O per rank, beside MPI's own start and end, and one kolvane"
  wait_quiet
  load=$(load1)
  for ((round = 0; round < queue_short_rounds + 1; round++)); do
    local launched=$EPOCHREALTIME
    queue_run "${mpirun[@]}" "$kolvane_mpi" if="$big" of=/dev/null bs=4k count=1 dio=1 json="$disk/k.json"
    if ((round > 0)); then
      mstart+=("$last")
      # Rank 0 reads its start time once MPI has started: launch to that is MPI's start.
      init+=("$(awk -v a="$launched" -v t="$(date -d "$(jq -r .start_time "$disk/k.json")" +%s.%N)" 'BEGIN { printf "%.3f", t - a }')")
    fi
    queue_run "${mpirun[@]}" "$disk/mpi_floor"
    ((round > 0)) && tstart+=("$last")
    queue_run "$kolvane" if="$big" of=/dev/null bs=4k count=1 iterations=4 workers=4 dio=1
    ((round > 0)) && wstart+=("$last")
  done
  queue_record 4 "launch to exit, one 4k direct read per rank: \`${mpirun[*]} kolvane-mpi\` beside the same launch of a program that starts MPI, meets at a barrier and ends" s "MPI floor" "<=" 1.5 "$load" mstart tstart
  echo "4: launch to rank 0's start time (read once MPI_Init has returned, from the whole's start_time): median $(median "${init[@]}") s (rounds: ${init[*]})" >>"$disk/queue-notes"
  echo "4: one kolvane of four workers of one 4k direct read each (\`kolvane if=FILE of=/dev/null bs=4k count=1 iterations=4 workers=4 dio=1\`), launch to exit: median $(median "${wstart[@]}") s (rounds: ${wstart[*]})" >>"$disk/queue-notes"

  echo "## Many hosts (kolvane-mpi) beside one kolvane and fio, on one host"
  echo
  echo "- A $mib MiB file of random bytes on $(df -T "$disk" | awk 'NR == 2 { print $2 }') under $disk_parent; nothing pinned. Open MPI $(mpirun --version 2>/dev/null | sed -n '1s/.* //p'), fio $(fio --version | sed 's/^fio-//'); both sides draw offsets uniformly, fio with \`$same_offsets\`; R the round's number, added as \`seed=R\` and \`--randseed=R\`, with \`json=\` and \`--output-format=json\`."
  echo "- **Four ranks on $(nproc) cores measure what MPI costs a run, not how storage scales with hosts**: the ranks, their launcher and the disk's completions share the same two cores."
  echo "- Rows 1-3: $queue_rounds rounds of $secs s each, the three in turn, order reversed every other round, sync after every run; the figure is the median, the ratio the median of the round-by-round ratios. IOPS: the whole's (kolvane-mpi: the ranks' I/Os over the longest rank's span; fio: its group). CPU: user + system time of every process the command started (mpirun and its ranks; fio and its jobs), from /usr/bin/time, over the I/Os."
  echo "- Row 4: the time from launch to exit of a run of one I/O per rank (an upper bound of launch to first I/O: it includes the gathering of the whole and MPI's finalisation), after one untimed round; beside it, the same launch of a C program that only starts MPI, meets at a barrier and ends (MPI's own cost), and, in the notes, one kolvane with four workers of one I/O each."
  echo
  rows_notes_rounds
  rm -f "$big"
}

# One section run alone, beside fio: its heading, the date, the load and the revision, then the
# section; the benchmark ends there.
section_alone() {
  for tool in fio jq; do command -v "$tool" >/dev/null 2>&1 || { say "missing: $tool"; exit 2; }; done
  echo "# kolvane benchmark: $1$( ((quick)) && echo " (quick run: sizes shrunk, not for the goals)")"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; kolvane: Release build of revision $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo
  "$2"
  exit 0
}
if ((rate_only)); then section_alone "rate=" rate_section; fi
if ((mpi_only)); then section_alone "kolvane-mpi" mpi_section; fi
if ((mix_only)); then section_alone "mix=" mix_section; fi
if ((skew_only)); then
  echo "# kolvane benchmark: distribution= laws"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); kolvane: Release build of revision $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo
  skew_section
  exit 0
fi
if ((workers_only)); then
  for tool in fio jq; do command -v "$tool" >/dev/null 2>&1 || { say "missing: $tool"; exit 2; }; done
  echo "# kolvane benchmark: workers$( ((quick)) && echo " (quick run: sizes shrunk, not for the goals)")"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
  echo "- Machine: $(nproc) CPUs ($(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)), Linux $(uname -r), shared with other developers' builds and tests"
  echo "- kolvane: Release build of revision $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo
  workers_section
  echo
  echo "- Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi
if ((queue_only)); then
  for tool in fio jq strace; do command -v "$tool" >/dev/null 2>&1 || { say "missing: $tool"; exit 2; }; done
  echo "# kolvane benchmark: queue depth$( ((quick)) && echo " (quick run: sizes shrunk, not for the goals)")"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
  echo "- Machine: $(nproc) CPUs ($(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)), Linux $(uname -r), shared with other developers' builds and tests"
  revision=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
  echo "- kolvane: Release build of revision $revision"
  echo
  queue_section
  echo
  echo "- Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi

floors=$disk/floors
cc -O2 -o "$floors" "$root/bench/floors.c"

# ---------------------------------------------------------------------------- files
# The source: random bytes (a 16 MiB pattern repeated), written, synced and read once so that
# it sits clean in the page cache for shapes 2, 4 and 5. Shape 3 reads its own source past the
# cache.
if ((!verify_only)); then
  progress "preparing the files"
  src=$disk/source
  random_file "$src" "$file_size"
  direct_src=$disk/direct-source
  head -c "$direct_size" "$src" >"$direct_src"

  # The existing output for conv=notrunc on the disk: the source's bytes, then a sparse tail,
  # because kolvane wants an existing output to hold (input blocks) x obs + 2 bytes, which is
  # 16 times the input for ibs=4k obs=64k. Every run rewrites only the allocated first part.
  existing=$disk/existing
  cp "$src" "$existing"
  truncate -s $((file_size / 4096 * 65536 + MiB)) "$existing"
  # The existing output of shape 4 lives on /dev/shm: see the notes under the table.
  random_target=$shm/existing
  cp "$src" "$random_target"
  sync
  cat "$src" >/dev/null
  head -c "$file_size" "$existing" >/dev/null
fi

# ---------------------------------------------------------------------------- measuring
results=$disk/results.tsv
: >"$results"
last=0

# Runs one command (a string for eval) on the last CPU, where every timed program runs, and
# sets $last to its wall time in seconds. Output is discarded; a failure ends the benchmark
# with the program's messages.
timed() {
  local t0 t1
  t0=$EPOCHREALTIME
  if ! eval "taskset -c $cpu $1" >/dev/null 2>"$disk/stderr"; then
    say "failed: $1"
    cat "$disk/stderr" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  last=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
}


# compare SHAPE ROW AMOUNT UNIT CLEAN KOLVANE [YARDSTICK_NAME TARGET YARDSTICK]...
# A warm-up round, then $pairs rounds; each round runs kolvane and every yardstick, forwards
# and backwards in turn, with CLEAN (delete the outputs) and sync untimed after each run.
# ---------------------------------------------------------------------------- checked writes
# What pattern=random and verify=1 cost a direct write of 1 GiB in 1 MiB blocks at depth 1:
# rounds of the three runs in turn, the medians, and the median of the round-by-round ratios.
verify_section() {
  local image=$disk/verify.img rounds=$( ((quick)) && echo 3 || echo 5) words
  local -a zero=() random=() checked=() stamp_ratio=() verify_ratio=()
  words="if=/dev/zero of=$image bs=1048576 count=1024 dio=2"
  progress "checked writes: pattern=zero, pattern=random, pattern=random verify=1 ($rounds rounds)"
  for ((round = 0; round <= rounds; ++round)); do
    rm -f "$image"
    timed "$kolvane $words"
    ((round)) && zero+=("$last")
    rm -f "$image"
    timed "$kolvane $words pattern=random seed=1"
    ((round)) && random+=("$last")
    rm -f "$image"
    timed "$kolvane $words pattern=random seed=1 verify=1"
    ((round)) && checked+=("$last")
  done
  rm -f "$image"
  for ((i = 0; i < rounds; ++i)); do
    stamp_ratio+=("$(awk -v a="${random[$i]}" -v b="${zero[$i]}" 'BEGIN { printf "%.4f", a / b }')")
    verify_ratio+=("$(awk -v a="${checked[$i]}" -v b="${random[$i]}" 'BEGIN { printf "%.4f", a / b }')")
  done
  echo "## Checked writes (pattern=random, verify=1)"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "- \`kolvane $words\` into a new file under $disk_parent, pinned to CPU $cpu; a warm-up" \
    "round, then $rounds rounds of the three runs in turn. Seconds: medians."
  echo
  echo "| run | median s | times |"
  echo "| --- | ---: | --- |"
  echo "| pattern=zero | $(median "${zero[@]}") | ${zero[*]} |"
  echo "| pattern=random seed=1 | $(median "${random[@]}") | ${random[*]} |"
  echo "| pattern=random seed=1 verify=1 | $(median "${checked[@]}") | ${checked[*]} |"
  echo
  echo "pattern=random / pattern=zero at depth 1: $(median "${stamp_ratio[@]}") (median of the" \
    "round ratios ${stamp_ratio[*]}). verify=1 / no verification: $(median "${verify_ratio[@]}")" \
    "(${verify_ratio[*]}); the read-back is direct too, so about 2 is the expected cost."
}

if ((verify_only)); then
  echo "# kolvane benchmark: checked writes only"
  echo
  verify_section
  exit 0
fi

# Records one line per yardstick: the medians, the median of the round-by-round ratios and
# every time. When `warm_up` is set, its commands (in the same order) make the warm-up round.
# When `adaptive` is set, a row whose ratios lie far apart gets two more rounds at a time, up
# to $max_pairs, while the rows still to come (`rows_left`, each costing about `row_cost` s)
# fit within $time_limit.
warm_up=()
adaptive=0
rows_left=0
row_cost=0
compare() {
  local shape=$1 row=$2 amount=$3 unit=$4 clean=$5
  shift 5
  local names=(kolvane) targets=("") cmds=("$1")
  shift
  while (($# >= 3)); do
    names+=("$1")
    targets+=("$2")
    cmds+=("$3")
    shift 3
  done
  local n=${#cmds[@]} round=0 rounds=$pairs i k row_start=$EPOCHSECONDS round_start
  local -a order
  local -A times=()
  while ((round <= rounds)); do
    round_start=$EPOCHSECONDS
    order=()
    for ((i = 0; i < n; i++)); do
      if ((round % 2)); then order+=($((n - 1 - i))); else order+=("$i"); fi
    done
    for k in "${order[@]}"; do
      if ((round == 0 && ${#warm_up[@]} != 0)); then timed "${warm_up[$k]}"; else timed "${cmds[$k]}"; fi
      ((round == 0)) || times[$k]+="$last "
      eval "$clean"
      sync
    done
    if ((round == pairs)); then row_cost=$((EPOCHSECONDS - row_start + 1)); fi
    if ((round == rounds && adaptive && rounds + 2 <= max_pairs)); then
      local kt=(${times[0]}) yt=(${times[1]}) ratios=() j
      for ((j = 0; j < rounds; j++)); do
        ratios+=("$(awk -v a="${kt[$j]}" -v b="${yt[$j]}" 'BEGIN { printf "%.6f", a / b }')")
      done
      local two=$((2 * (EPOCHSECONDS - round_start) + 2))
      if awk -v s="$(spread "${ratios[@]}")" 'BEGIN { exit !(s > 0.06) }' &&
        ((EPOCHSECONDS - started + two + rows_left * row_cost <= time_limit)); then
        rounds=$((rounds + 2))
      fi
    fi
    round=$((round + 1))
  done
  local kt=(${times[0]}) yt ratios km ym j
  km=$(median "${kt[@]}")
  for ((i = 1; i < n; i++)); do
    yt=(${times[$i]})
    ratios=()
    for ((j = 0; j < rounds; j++)); do
      ratios+=("$(awk -v a="${kt[$j]}" -v b="${yt[$j]}" 'BEGIN { printf "%.6f", a / b }')")
    done
    ym=$(median "${yt[@]}")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$shape" "$row" "${names[$i]}" \
      "$amount" "$unit" "$km" "$ym" "$(median "${ratios[@]}")" "${targets[$i]}" "$rounds" \
      "$(printf '%.3f ' "${kt[@]}")" "$(printf '%.3f ' "${yt[@]}")" >>"$results"
    progress "$(printf '%-58s kolvane %7.3f s  %-11s %7.3f s  ratio %.3f (%d rounds)' "$row" \
      "$km" "${names[$i]}" "$ym" "$(median "${ratios[@]}")" "$rounds")"
  done
}

load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# The rows run in the order 4, 5, 1, 3, 2 (the report sorts them back): shapes 2 and 3, whose
# new files make the noisiest rows, come last and share what time is left.

# ---- Shape 4: random 4 KiB blocks, one per iteration. Warm-up rounds run a tenth of the
# iterations: they only need the files and the programs cached.
progress "shape 4: random mode"
warm=$((random_iterations / 10))
warm_up=("$kolvane if=$src of=/dev/null bs=4096 count=1 iterations=$warm"
  "$floors random $src /dev/null 4096 $warm")
compare 4 "bs=4096 count=1 iterations=$random_iterations to /dev/null" \
  "$random_iterations" iterations ":" \
  "$kolvane if=$src of=/dev/null bs=4096 count=1 iterations=$random_iterations" \
  "floor" 1.10 "$floors random $src /dev/null 4096 $random_iterations"
warm_up=("$kolvane if=$src of=$random_target conv=notrunc bs=4096 count=1 iterations=$warm"
  "$floors random $src $random_target 4096 $warm")
compare 4 "bs=4096 count=1 iterations=$random_iterations conv=notrunc, existing file on /dev/shm" \
  "$random_iterations" iterations ":" \
  "$kolvane if=$src of=$random_target conv=notrunc bs=4096 count=1 iterations=$random_iterations" \
  "floor" 1.10 "$floors random $src $random_target 4096 $random_iterations"

# ---- Shape 5: the plan alone (count=0), and its memory.
progress "shape 5: the plan"
warm=$((plan_iterations / 10))
warm_up=("$kolvane if=$src of=/dev/null bs=512 count=0 iterations=$warm"
  "$floors plan $src $warm" "$floors seek $src $warm")
compare 5 "bs=512 count=0 iterations=$plan_iterations to /dev/null" \
  "$plan_iterations" iterations ":" \
  "$kolvane if=$src of=/dev/null bs=512 count=0 iterations=$plan_iterations" \
  "floor" 1.5 "$floors plan $src $plan_iterations" \
  "lseeks only" "-" "$floors seek $src $plan_iterations"

# The peak resident set of one run: the plan is allocated whole, so one run shows it.
peak_kib() {
  /usr/bin/time -v "$kolvane" "if=$src" of=/dev/null bs=512 count=0 "iterations=$1" 2>&1 \
    >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'
}
peak_many=$(peak_kib "$plan_iterations")
peak_one=$(peak_kib 1)

# ---- Shape 1: the zero source to the null sink. The count comes from the floor's speed: the
# median of three runs of at least 0.08 s scaled to $shape1_seconds, checked with one run at
# that count and scaled again.
progress "shape 1: zero source to null sink"
for bs in 512 4096 65536 1048576; do
  count=50000
  while :; do
    timed "$floors write $bs $count"
    awk -v t="$last" 'BEGIN { exit !(t >= 0.08) }' && break
    count=$((count * 2))
  done
  calibration=()
  for _ in 1 2 3; do
    timed "$floors write $bs $count"
    calibration+=("$last")
  done
  count=$(awk -v c="$count" -v t="$(median "${calibration[@]}")" -v w="$shape1_seconds" \
    'BEGIN { printf "%d", c * w / t + 1 }')
  timed "$floors write $bs $count"
  count=$(awk -v c="$count" -v t="$last" -v w="$shape1_seconds" 'BEGIN { printf "%d", c * w / t + 1 }')
  # dd reads every block it writes, a minute's work for bs=1m at this count: the warm-up round
  # runs a twentieth of it.
  short=$((count / 20))
  warm_up=("$kolvane if=/dev/zero of=/dev/null bs=$bs count=$short"
    "dd if=/dev/zero of=/dev/null bs=$bs count=$short" "$floors write $bs $short")
  compare 1 "bs=$bs count=$count" $((bs * count)) bytes ":" \
    "$kolvane if=/dev/zero of=/dev/null bs=$bs count=$count" \
    "dd" "<1" "dd if=/dev/zero of=/dev/null bs=$bs count=$count" \
    "floor" 1.10 "$floors write $bs $count"
done
warm_up=()

# ---- Shape 3: direct I/O on the disk, to a new file on the disk.
adaptive=1
rows_left=19
progress "shape 3: direct I/O"
out=$disk/out
for bs in 65536 1048576; do
  rows_left=$((rows_left - 1))
  compare 3 "bs=$bs dio=1 / iflag=direct" "$direct_size" bytes "rm -f $out" \
    "$kolvane if=$direct_src of=$out bs=$bs dio=1" \
    "dd" 1.03 "dd if=$direct_src of=$out bs=$bs iflag=direct"
  rows_left=$((rows_left - 1))
  compare 3 "bs=$bs dio=3 / iflag=direct oflag=direct" "$direct_size" bytes "rm -f $out" \
    "$kolvane if=$direct_src of=$out bs=$bs dio=3" \
    "dd" 1.03 "dd if=$direct_src of=$out bs=$bs iflag=direct oflag=direct"
done

# ---- Shape 2: the cached source to a new file on /dev/shm, on the disk, and onto an
# existing file on the disk with conv=notrunc. The source is read once more first (whatever
# the machine evicted while it lay unused comes back), so each warm-up round copies only its
# first 64 MiB.
progress "shape 2: cached copies"
cat "$src" >/dev/null
for dest in shm disk notrunc; do
  for words in "bs=4096" "bs=65536" "bs=1048576" "ibs=65536 obs=4096" "ibs=4096 obs=65536"; do
    case $dest in
      shm) out=$shm/out; extra=""; clean="rm -f $out"; where="new file on /dev/shm" ;;
      disk) out=$disk/out; extra=""; clean="rm -f $out"; where="new file on disk" ;;
      notrunc) out=$existing; extra=" conv=notrunc"; clean=":"; where="existing file on disk" ;;
    esac
    ibs=${words%% *}
    ibs=${ibs#*=}
    short="$words$extra count=$((64 * MiB / ibs))"
    warm_up=("$kolvane if=$src of=$out $short" "dd if=$src of=$out $short")
    rows_left=$((rows_left - 1))
    compare 2 "$words$extra, $where" "$file_size" bytes "$clean" \
      "$kolvane if=$src of=$out $words$extra" "dd" 1.03 "dd if=$src of=$out $words$extra"
  done
done

load_end=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$((EPOCHSECONDS - started))
progress "done"

# ---------------------------------------------------------------------------- report
human() {
  awk -v b="$1" 'BEGIN {
    if (b >= 2^40) printf "%.2f TiB", b / 2^40; else if (b >= 2^30) printf "%.2f GiB", b / 2^30;
    else printf "%.0f MiB", b / 2^20 }'
}
rate() {
  awk -v a="$1" -v t="$2" -v u="$3" 'BEGIN {
    if (u == "bytes") { r = a / t / 2^20; if (r >= 10240) printf "%.1f GiB/s", r / 1024; else printf "%.0f MiB/s", r }
    else printf "%.2f M/s", a / t / 1e6 }'
}

revision=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [[ -n "$(git -C "$root" status --porcelain -- src 2>/dev/null)" ]]; then
  revision="$revision with local changes in src/"
fi
sorted=$disk/sorted.tsv
sort -s -t $'\t' -k1,1n "$results" >"$sorted"

echo "# kolvane benchmark: $( ((quick)) && echo "quick run (sizes shrunk; not for the targets)" || echo "full run")"
echo
echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "- Machine: $(nproc) CPUs ($(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo))," \
  "$(free -h | awk '/^Mem:/ { print $2 }') of memory, Linux $(uname -r)"
echo "- Files: $(df -T "$disk" | awk 'NR == 2 { print $2 }') disk under $disk_parent, tmpfs /dev/shm"
echo "- kolvane: Release build of revision $revision; yardsticks: $(dd --version | head -1)," \
  "bench/floors.c (cc -O2)"
echo "- Load average (1, 5, 15 min): $load_start at the start, $load_end at the end; the run" \
  "took ${elapsed} s"
if awk -v a="${load_start%% *}" 'BEGIN { exit !(a > 1) }'; then
  echo "- Warning: the machine was busy when the run started; the ratios are less trustworthy."
fi
echo "- Method: bench/compare.sh$( ((quick)) && echo " --quick"). A warm-up round, then at least $pairs rounds" \
  "of kolvane and its yardstick run one after the other on the same CPU (order reversed" \
  "every other round), the outputs deleted and sync run" \
  "untimed after every run; the medians of the wall times, and the median of the round-by-round" \
  "ratios kolvane / yardstick (below 1: kolvane is faster). Rows of shapes 2 and 3 whose ratios" \
  "lie far apart get more rounds, up to $max_pairs, while the time allows."
echo
echo "| shape | run | work | kolvane s | yardstick | yardstick s | kolvane rate | yardstick rate | rounds | ratio | target | verdict |"
echo "| --- | --- | --- | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |"
while IFS=$'\t' read -r shape row yname amount unit km ym ratio target rounds _; do
  if [[ $unit == bytes ]]; then work=$(human "$amount"); else work="$amount iterations"; fi
  case $target in
    -) verdict="(for the note)"; shown_target="" ;;
    "<1")
      verdict=$(awk -v r="$ratio" 'BEGIN { print (r < 1 ? "faster" : "SLOWER") }')
      shown_target="< 1" ;;
    *)
      verdict=$(awk -v r="$ratio" -v t="$target" 'BEGIN { print (r <= t ? "met" : "MISSED") }')
      shown_target="<= $target" ;;
  esac
  printf '| %s | %s | %s | %.3f | %s | %.3f | %s | %s | %s | %.3f | %s | %s |\n' "$shape" "$row" \
    "$work" "$km" "$yname" "$ym" "$(rate "$amount" "$km" "$unit")" \
    "$(rate "$amount" "$ym" "$unit")" "$rounds" "$ratio" "$shown_target" "$verdict"
done <"$sorted"
echo
limit=$((16 * plan_iterations + MiB))
grown=$(((peak_many - peak_one) * KiB))
echo "Plan memory (shape 5, the peak resident set from /usr/bin/time -v):" \
  "iterations=$plan_iterations $peak_many KiB, iterations=1 $peak_one KiB; the difference," \
  "$grown bytes, against at most 16 x $plan_iterations + 1 MiB = $limit bytes:" \
  "$( ((grown <= limit)) && echo met || echo MISSED)."
echo
stamp_section
echo
verify_section
echo
# What drawing the offsets costs, from the two shape-5 floors, against shape 4's floors: the
# row to /dev/null draws one offset per iteration, the positioned output a second one.
awk -F'\t' -v n5="$plan_iterations" -v n4="$random_iterations" '
  $1 == 5 && $3 == "floor" { plan = $7 }
  $1 == 5 && $3 == "lseeks only" { seek = $7 }
  $1 == 4 && $3 == "floor" { floor4[++k] = $7 / n4 * 1e9 }
  END {
    draw = (plan - seek) / n5 * 1e9
    printf "Drawing one offset as the plan must (its rand() calls and their reductions: the"
    printf " shape-5 floor less the lseek-only loop) takes %.0f ns. Shape 4 draws one offset", draw
    printf " per iteration to /dev/null and two (input and output) into the existing file; its"
    printf " floors take %.0f and %.0f ns per iteration, so the draws alone put any", floor4[1], floor4[2]
    printf " program that draws as documented at %.3f and %.3f x those floors.\n", 1 + draw / floor4[1], 1 + 2 * draw / floor4[2]
  }' "$sorted"
echo
# How much the same run's time varies within a row: writing a new file allocates its page
# cache afresh every run, rewriting an existing one does not.
awk -F'\t' '
  function swing(list,   n, v, i, lo, hi) {
    n = split(list, v, " "); lo = hi = v[1]
    for (i = 2; i <= n; i++) { if (v[i] < lo) lo = v[i]; if (v[i] > hi) hi = v[i] }
    return hi / lo
  }
  $1 == 2 || $1 == 3 {
    w = swing($11); if (swing($12) > w) w = swing($12)
    if ($2 ~ /notrunc|dio=3/) { if (w > steady) steady = w } else if (w > fresh) fresh = w
  }
  END {
    printf "Within one row, the slowest run of a program took up to %.2f x its fastest where", fresh
    printf " the output is a new file written through the cache (shape 2 new files, shape 3"
    printf " dio=1), and up to %.2f x where no page cache is allocated (conv=notrunc, dio=3)", steady
    if (fresh > 1.5 * steady)
      printf ": allocating the page cache is what varies from run to run here, and it moves the ratios of those rows from one full run to the next"
    printf ".\n"
  }' "$sorted"
echo
fastest=$(awk -F'\t' '$1 == 1 { if (min == "" || $6 < min) min = $6; if ($7 < min) min = $7 } END { printf "%.3f", min }' "$sorted")
echo "Shape 1's count is set so that the floor, the fastest of the three, takes about" \
  "$shape1_seconds s; the shortest median in its rows came to $fastest s. Shape 3 copies a" \
  "$(human "$direct_size") file to keep the run within its time. Shape 4 writes into an" \
  "existing file on /dev/shm: on this machine random 4 KiB rewrites of a cached ext4 file take" \
  "about 20 us each inside the kernel, for the floor as much as for kolvane, which would" \
  "swamp both the time budget and the difference the row is there to show."
echo
echo "<details><summary>Every timed run (seconds, in round order)</summary>"
echo
echo "| shape | run | kolvane | yardstick | yardstick's times |"
echo "| --- | --- | --- | --- | --- |"
while IFS=$'\t' read -r shape row yname _ _ _ _ _ _ _ ktimes ytimes; do
  echo "| $shape | $row | $ktimes | $yname | $ytimes |"
done <"$sorted"
echo
echo "</details>"
