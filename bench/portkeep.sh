#!/usr/bin/env bash
# Portkeep's backup run against rsync, and its main window offscreen.
#   bench/portkeep.sh [run|window|all]      (default all)
#
# Backup run: a generated folder device (device.ini, Storages=folder) of
# 10,000 files, 1 GB of incompressible data in 180 folders
# (bench/make-portkeep-device.py). portkeep_run_bench (TBackupRun, the run of
# the window and of automatic starts, overwrite rule 0 "existing files when
# older") copies it into an empty folder, then runs again with nothing changed
# (every file skipped); `rsync -a SRC/ DST/` does the same two runs. Also the
# program itself: `portkeep TASK /force /close` offscreen, whose wall time
# includes the window and its one-second start timer. Before each run:
# `sync`, a pause of SETTLE seconds (default 3), then the page cache dropped
# (CACHE=cold, the default when /proc/sys/vm/drop_caches is writable) or the
# source read into it (CACHE=warm). Every tool writes into folders of its own;
# nothing is deleted before the end, since ext4 creates files more slowly for
# a minute or more after many were deleted. Wall time measured from outside,
# median of RUNS runs (default 3).
#
# Window: start-up of portkeep_window_bench with the demo device (times from
# the moment the process was started), selecting a device with 5,000 folders,
# and the gaps between the moments a run of the 10,000 files lets the window
# process events (first run and unchanged run).
#
# BUILD_DIR (default build-bench) is configured with benchmarks on; WORK_DIR
# (default /var/tmp) holds the data, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-3}
settle=${SETTLE:-3}
cache=${CACHE:-cold}
if [ "$cache" = cold ] && ! { [ -w /proc/sys/vm/drop_caches ] && echo 1 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  echo "cannot drop the page cache (not root?): measuring with a warm cache" >&2
  cache=warm
fi

cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target portkeep_run_bench portkeep_window_bench portkeep -j2 >/dev/null
bin=$(realpath "$build_dir/bin")

work=$(mktemp -d "${WORK_DIR:-/var/tmp}/portkeep-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
unset LANGUAGE
mkdir -p "$XDG_CONFIG_HOME"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 bench/make-portkeep-device.py files "$work/dev10k" 10000 1000

now_ns() { date +%s%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# Before a timed run: pending writes out and settled, cache cold or warm.
prepare_cache() {
  sync
  sleep "$settle"
  if [ "$cache" = cold ]; then
    echo 3 >/proc/sys/vm/drop_caches
  else
    find "$work/dev10k" -type f -exec cat {} + >/dev/null
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
  echo "  $label: $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') s, load $(cut -d' ' -f1 /proc/loadavg); $(tail -1 "$work/last.txt")" >&2
}

run_part() {
  declare -A first second
  local r out task="$work/bench.pkj"
  for r in $(seq "$runs"); do
    # Each run writes into a folder of its own and nothing is deleted until
    # the end: creating files shortly after many were deleted is slower.
    out="$work/out-ours-$r"
    prepare_cache
    first[ours]+="$(timed "portkeep_run_bench, first run" "$bin/portkeep_run_bench" "$work/dev10k" "$out") "
    prepare_cache
    second[ours]+="$(timed "portkeep_run_bench, nothing changed" "$bin/portkeep_run_bench" "$work/dev10k" "$out") "
    out="$work/out-rsync-$r"
    prepare_cache
    first[rsync]+="$(timed "rsync -a, first run" rsync -a "$work/dev10k/" "$out/") "
    prepare_cache
    second[rsync]+="$(timed "rsync -a, nothing changed" rsync -a "$work/dev10k/" "$out/") "
    printf '[Config]\nDeviceName=Bench Phone\nDestination=%s\nDirCount=1\n[Directories]\nDir00=dev10k\n' \
      "$work/out-program-$r" >"$task"
    prepare_cache
    first[program]+="$(PORTKEEP_FOLDER_DEVICES="$work/dev10k" timed "portkeep TASK /force /close, first run" \
      "$bin/portkeep" "$task" /force /close) "
    prepare_cache
    second[program]+="$(PORTKEEP_FOLDER_DEVICES="$work/dev10k" timed "portkeep TASK /force /close, nothing changed" \
      "$bin/portkeep" "$task" /force /close) "
  done
  # The copies must be the device's files, with the device's times (to the
  # millisecond, which is what the run compares).
  for out in "$work/out-ours-1/dev10k" "$work/out-program-1/dev10k"; do
    diff -r --exclude=device.ini "$work/dev10k" "$out" >/dev/null || { echo "copies in $out differ" >&2; exit 1; }
    python3 - "$work/dev10k" "$out" <<'PY'
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
  done
  rm -rf "$work"/out-*
  echo
  echo "Backup run, 10,000 files, $(du -sb --apparent-size "$work/dev10k" | cut -f1) bytes; cache $cache;" \
    "median of $runs runs; load average now $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "| Tool | first run s | files/s | nothing changed s | files/s |"
  echo "|---|---|---|---|---|"
  local tool f s
  for tool in ours rsync program; do
    f=$(echo "${first[$tool]}" | tr ' ' '\n' | grep . | median)
    s=$(echo "${second[$tool]}" | tr ' ' '\n' | grep . | median)
    declare -g "first_$tool=$f" "second_$tool=$s"
    echo "| $tool | $f | $(awk -v t="$f" 'BEGIN { printf "%.0f", 10000 / t }') | $s |" \
      "$(awk -v t="$s" 'BEGIN { printf "%.0f", 10000 / t }') |"
  done
  awk -v a="$first_ours" -v b="$first_rsync" -v c="$second_ours" -v d="$second_rsync" -v e="$first_program" \
    -v f="$second_program" 'BEGIN { printf "ratio ours/rsync: first run %.2f, nothing changed %.2f; program/rsync: %.2f, %.2f\n", a / b, c / d, e / b, f / d }'
}

window_part() {
  [ -d "$work/dev10k" ] || python3 bench/make-portkeep-device.py files "$work/dev10k" 10000 1000
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
  echo "Gaps between processed events during runs of 10,000 files (cache $cache before the first run):"
  prepare_cache
  "$bin/portkeep_window_bench" run "$work/dev10k" "$work/out-window" 2
  rm -rf "$work/out-window"
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

case "$what" in
  run) run_part ;;
  window) window_part ;;
  all) run_part; window_part ;;
  *) echo "usage: bench/portkeep.sh [run|window|all]" >&2; exit 2 ;;
esac
