#!/usr/bin/env bash
# Portkeep's backup run against rsync, and its main window offscreen.
#   bench/portkeep.sh [run|window|all]      (default all)
#
# Backup run: generated folder devices (device.ini, Storages=folder) of
# incompressible data in some 150 folders (bench/make-portkeep-device.py):
# DEVICES lists them as FILES:MB (default "3000:300 10000:1000").
# portkeep_run_bench (TBackupRun, the run of the window and of automatic
# starts, overwrite rule 0 "existing files when older") copies a device into
# an empty folder, then runs again with nothing changed (every file skipped);
# `rsync -a SRC/ DST/` does the same two runs. Also the program itself:
# `portkeep TASK /force /close` offscreen, whose wall time includes the window
# and its one-second start timer; "less the start timer" takes off the time
# the window actually waited for it in that run (Qt fires it anywhere from
# 0.95 to 1.05 s after it was started; bench/timer-wait.py sees the main
# thread idle through the wait). Before each run: `sync`, a pause of SETTLE
# seconds (default 3), then the page cache dropped with the tools' own files
# read back in (cold) or the source read into it (warm). CACHE lists the
# states to measure (default "warm cold"; cold needs a writable
# /proc/sys/vm/drop_caches). Every tool writes into folders of its own;
# nothing is deleted before the end, since ext4 creates files more slowly
# for a minute or more after many were deleted. Wall time measured from
# outside, median of RUNS runs (default 5); the tools take turns within each
# run.
#
# Window: start-up of portkeep_window_bench with the demo device (times from
# the moment the process was started), selecting a device with 5,000 folders,
# and the gaps between the moments a run of 10,000 files lets the window
# process events (first run and unchanged run).
#
# BUILD_DIR (default build-bench) is configured with benchmarks on; WORK_DIR
# (default /var/tmp) holds the data, removed at the end; SKIP_BUILD=1 uses the
# binaries as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-5}
settle=${SETTLE:-3}
devices=${DEVICES:-3000:300 10000:1000}
caches=${CACHE:-warm cold}
if [[ " $caches " == *" cold "* ]] && ! { [ -w /proc/sys/vm/drop_caches ] && echo 1 >/proc/sys/vm/drop_caches; } \
  2>/dev/null; then
  echo "cannot drop the page cache (not root?): measuring with a warm cache only" >&2
  caches=warm
fi

# Other work shares the machine: configure and build under the shared build
# lock, or not at all with SKIP_BUILD=1 (the binaries in BUILD_DIR as they are).
if [ "${SKIP_BUILD:-0}" != 1 ]; then
  flock /tmp/ardanto-build.lock cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
    -DARDANTO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
  flock /tmp/ardanto-build.lock cmake --build "$build_dir" --target portkeep_run_bench portkeep_window_bench \
    portkeep -j2 >/dev/null
fi
bin=$(realpath "$build_dir/bin")

work=$(mktemp -d "${WORK_DIR:-/var/tmp}/portkeep-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
unset LANGUAGE
mkdir -p "$XDG_CONFIG_HOME"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

now_ns() { date +%s%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# Before a timed run: pending writes out and settled, cache cold or warm.
# Cold means the device's files: after dropping the cache, every tool runs
# once on a device of one file, so that its program, libraries, plug-ins and
# fonts are read again (a cold start of Qt would otherwise weigh on the
# program's figure alone).
# prepare_cache STATE DEVICE
prepare_cache() {
  sync
  sleep "$settle"
  if [ "$1" = cold ]; then
    echo 3 >/proc/sys/vm/drop_caches
    [ -d "$work/tiny" ] || python3 bench/make-portkeep-device.py files "$work/tiny" 1 1 >/dev/null
    printf '[Config]\nDeviceName=Bench Phone\nDestination=%s\nDirCount=1\n[Directories]\nDir00=tiny\n' \
      "$work/warm-program" >"$work/tiny.pkj"
    "$bin/portkeep_run_bench" "$work/tiny" "$work/warm-ours" >/dev/null
    rsync -a "$work/tiny/" "$work/warm-rsync/"
    PORTKEEP_FOLDER_DEVICES="$work/tiny" "$bin/portkeep" "$work/tiny.pkj" /force /close >/dev/null 2>&1
    sync
  else
    find "$2" -type f -exec cat {} + >/dev/null
  fi
}

# timed LABEL COMMAND...: wall seconds of one run, printed with the load.
timed() {
  local label=$1 t0 t1
  shift
  t0=$(now_ns)
  "$@" >"$work/last.txt" 2>&1 || { cat "$work/last.txt" >&2; return 1; }
  t1=$(now_ns)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
  echo "  $label: $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') s," \
    "load $(cut -d' ' -f1 /proc/loadavg); $(tail -1 "$work/last.txt")" >&2
}

# timed_program LABEL TASK: the program's run, "WALL:LESS" in seconds, where
# LESS is the wall time less the start timer's wait in that very run
# (bench/timer-wait.py watches the main thread idle through it).
timed_program() {
  local label=$1 task=$2 wall wait
  python3 bench/timer-wait.py "$work/wait.txt" "$bin/portkeep" "$task" /force /close >"$work/last.txt" 2>&1 ||
    { cat "$work/last.txt" >&2; return 1; }
  read -r wall wait <"$work/wait.txt"
  [ "$wait" -gt 0 ] || { echo "  $label: the start timer's wait was not seen" >&2; return 1; }
  awk -v w="$wall" -v t="$wait" 'BEGIN { printf "%.3f:%.3f\n", w / 1e9, (w - t) / 1e9 }'
  echo "  $label: $(awk -v w="$wall" -v t="$wait" 'BEGIN { printf "%.3f s, timer %.3f s", w / 1e9, t / 1e9 }')," \
    "load $(cut -d' ' -f1 /proc/loadavg)" >&2
}

# The copies must be the device's files, with the device's times (to the
# millisecond, which is what the run compares).
check_copies() {
  diff -r --exclude=device.ini "$1" "$2" >/dev/null || { echo "copies in $2 differ" >&2; exit 1; }
  python3 - "$1" "$2" <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
worst, count = 0, 0
for folder, _, files in os.walk(src):
    for name in files:
        if name == "device.ini":
            continue
        a = os.stat(os.path.join(folder, name)).st_mtime_ns
        b = os.stat(os.path.join(dst, os.path.relpath(folder, src), name)).st_mtime_ns
        worst = max(worst, abs(a - b))
        count += 1
print("checked %d copies of %s: same bytes, times at most %d ns off" % (count, dst, worst))
sys.exit(0 if worst < 500000 else 1)
PY
}

# run_device FILES MB: every cache state, RUNS turns of all tools.
run_device() {
  local files=$1 mb=$2 name="dev$1" state r out task="$work/bench.pkj"
  local dev="$work/$name"
  [ -d "$dev" ] || python3 bench/make-portkeep-device.py files "$dev" "$files" "$mb"
  for state in $caches; do
    declare -A first=() second=()
    for r in $(seq "$runs"); do
      out="$work/out-$name-$state-ours-$r"
      prepare_cache "$state" "$dev"
      first[ours]+="$(timed "$name $state portkeep_run_bench, first run" "$bin/portkeep_run_bench" "$dev" "$out") "
      prepare_cache "$state" "$dev"
      second[ours]+="$(timed "$name $state portkeep_run_bench, nothing changed" "$bin/portkeep_run_bench" "$dev" \
        "$out") "
      out="$work/out-$name-$state-rsync-$r"
      prepare_cache "$state" "$dev"
      first[rsync]+="$(timed "$name $state rsync -a, first run" rsync -a "$dev/" "$out/") "
      prepare_cache "$state" "$dev"
      second[rsync]+="$(timed "$name $state rsync -a, nothing changed" rsync -a "$dev/" "$out/") "
      printf '[Config]\nDeviceName=Bench Phone\nDestination=%s\nDirCount=1\n[Directories]\nDir00=%s\n' \
        "$work/out-$name-$state-program-$r" "$name" >"$task"
      prepare_cache "$state" "$dev"
      first[program]+="$(PORTKEEP_FOLDER_DEVICES="$dev" timed_program \
        "$name $state portkeep TASK /force /close, first run" "$task") "
      prepare_cache "$state" "$dev"
      second[program]+="$(PORTKEEP_FOLDER_DEVICES="$dev" timed_program \
        "$name $state portkeep TASK /force /close, nothing changed" "$task") "
    done
    check_copies "$dev" "$work/out-$name-$state-ours-1/$name"
    check_copies "$dev" "$work/out-$name-$state-program-1/$name"
    local f s fr sr
    fr=$(echo "${first[rsync]}" | tr ' ' '\n' | grep . | median)
    sr=$(echo "${second[rsync]}" | tr ' ' '\n' | grep . | median)
    echo
    echo "$files files, $(du -sb --apparent-size "$dev" | cut -f1) bytes; cache $state; median of $runs runs;" \
      "load average now $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "| Run ($state cache) | first run | files/s | nothing changed | files/s | ratio to rsync |"
    echo "|---|---|---|---|---|---|"
    row() { # LABEL FIRST SECOND
      awk -v l="$1" -v f="$2" -v s="$3" -v fr="$fr" -v sr="$sr" -v n="$files" 'BEGIN {
        printf "| %s | %.2f s | %.0f | %.3f s | %.0f | %.2f / %.2f |\n", l, f, n / f, s, n / s, f / fr, s / sr }'
    }
    f=$(echo "${first[ours]}" | tr ' ' '\n' | grep . | median)
    s=$(echo "${second[ours]}" | tr ' ' '\n' | grep . | median)
    row "$name: TBackupRun" "$f" "$s"
    row "$name: rsync -a" "$fr" "$sr"
    f=$(echo "${first[program]}" | tr ' ' '\n' | grep . | cut -d: -f1 | median)
    s=$(echo "${second[program]}" | tr ' ' '\n' | grep . | cut -d: -f1 | median)
    row "$name: portkeep TASK /force /close" "$f" "$s"
    f=$(echo "${first[program]}" | tr ' ' '\n' | grep . | cut -d: -f2 | median)
    s=$(echo "${second[program]}" | tr ' ' '\n' | grep . | cut -d: -f2 | median)
    row "$name: the same, less the start timer" "$f" "$s"
    unset first second
  done
}

run_part() {
  local device
  for device in $devices; do
    run_device "${device%%:*}" "${device##*:}"
  done
}

window_part() {
  local state=${caches%% *} dev="$work/dev10000"
  [ -d "$dev" ] || python3 bench/make-portkeep-device.py files "$dev" 10000 1000
  python3 scripts/make-demo-device "$work/demo" >/dev/null
  python3 bench/make-portkeep-device.py folders "$work/dev5k" 5000 4
  echo
  echo "Window start-up, demo device (times from process start; the device list follows a 1 s timer):"
  local r
  for r in $(seq 5); do
    PORTKEEP_FOLDER_DEVICES="$work/demo" PK_BENCH_T0_NS=$(now_ns) "$bin/portkeep_window_bench" start
  done
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo "Select a device with 5,000 folders (warm cache):"
  for r in $(seq 5); do
    "$bin/portkeep_window_bench" tree "$work/dev5k"
  done
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo "Gaps between processed events during runs of 10,000 files (cache $state before the first run):"
  prepare_cache "$state" "$dev"
  "$bin/portkeep_window_bench" run "$dev" "$work/out-window" 2
  rm -rf "$work/out-window"
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

case "$what" in
  run) run_part ;;
  window) window_part ;;
  all) run_part; window_part ;;
  *) echo "usage: bench/portkeep.sh [run|window|all]" >&2; exit 2 ;;
esac
