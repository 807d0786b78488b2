#!/usr/bin/env bash
# Folder device tree: reading the object tree of a generated folder device
# with 100,000 files in 5,000 folders and asking every object for name, type,
# date and size (device_tree_bench), against `find DIR -printf '%s %T@ %p\n'`
# on the same tree. Both from a warm cache; best of $RUNS runs; peak memory
# from /usr/bin/time -v.
#   bench/device-tree.sh
# BUILD_DIR (default build-bench) is configured with benchmarks on.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-5}

cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target device_tree_bench -j2 >/dev/null
bench="$build_dir/bin/device_tree_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/empty"

# 50 top folders with 99 subfolders each (5,000 folders), 20 files in each
# folder (100,000 files): sparse files of 1 KB to 8 MB, times over six years.
python3 - "$work/device" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(42)
start = 1420070400  # 2015-01-01
span = 6 * 365 * 86400
os.makedirs(root)
folders = []
for t in range(50):
    top = os.path.join(root, "Album %02d" % t)
    os.mkdir(top)
    folders.append(top)
    for s in range(99):
        sub = os.path.join(top, "Event %03d - %s" % (s, rng.choice(["Holiday", "Birthday", "Garden", "Party"])))
        os.mkdir(sub)
        folders.append(sub)
for n, folder in enumerate(folders):
    for f in range(20):
        when = start + rng.randrange(span)
        name = os.path.join(folder, "IMG_%08d_%04d.jpg" % (n, f))
        with open(name, "wb") as fh:
            fh.truncate(rng.randrange(1000, 8_000_000))
        os.utime(name, (when, when))
PY

objects_files=$(find "$work/device" -type f | wc -l)
objects_dirs=$(find "$work/device" -mindepth 1 -type d | wc -l)

# Best wall-clock time of $runs runs of a command.
best() {
  local best_s="" s
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null
    t1=$(date +%s.%N)
    s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best_s" ] || awk -v s="$s" -v b="$best_s" 'BEGIN { exit !(s < b) }'; then best_s=$s; fi
  done
  echo "$best_s"
}
peak_kib() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'; }
find_tree() { find "$1" -printf '%s %T@ %p\n'; }

find_tree "$work/device" >/dev/null # into the cache
report=$("$bench" "$work/device")
echo "$report"
name_chars=$(echo "$report" | sed -n 's/.*name chars \([0-9]*\).*/\1/p')

find_s=$(best find_tree "$work/device")
bench_s=$(best "$bench" "$work/device")
find_kib=$(peak_kib find "$work/device" -printf '%s %T@ %p\n')
bench_kib=$(peak_kib "$bench" "$work/device")
empty_kib=$(peak_kib "$bench" "$work/empty")
objects=$((objects_files + objects_dirs + 2)) # plus the device and its storage

echo "tree: $objects_files files, $objects_dirs folders"
echo "find -printf: ${find_s} s, peak ${find_kib} KiB"
echo "device_tree_bench: ${bench_s} s, peak ${bench_kib} KiB (empty device: ${empty_kib} KiB)"
awk -v b="$bench_s" -v f="$find_s" 'BEGIN { printf "ratio ours/find: %.2f\n", b / f }'
# Names are kept twice: as the file system's bytes (ASCII here: 1 byte a
# character) and, once asked for, as UTF-16 text (2 bytes a character).
awk -v p="$bench_kib" -v e="$empty_kib" -v n="$objects" -v c="$name_chars" \
  'BEGIN { t = (p - e) * 1024 / n; printf "memory per object: %.0f bytes (peak above the empty device), %.0f beyond the names (%.0f bytes of name characters)\n", t, t - 3 * c / n, 3 * c / n }'
