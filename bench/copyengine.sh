#!/usr/bin/env bash
# Copy engine against its peers on one large file of mixed data and on many
# small files: plain copy against `cp`, gzip job against `gzip -6`, zip job
# against `zip -6`. Prints a Markdown table: median wall time of RUNS runs,
# MB/s of source data, output size / input size, peak resident memory
# (from /usr/bin/time -v).
#   bench/copyengine.sh [large file MiB, default 1024] [small files, default 10000]
# BUILD_DIR (default build-bench) is configured with benchmarks on; WORK_DIR
# (default /var/tmp) holds the data, which is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
nfiles=${2:-10000}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-3}

if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing: run scripts/install-deps (Debian package time)" >&2
  exit 1
fi

cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target copyengine_bench -j2 >/dev/null
bench=$(realpath "$build_dir/bin/copyengine_bench")

work=$(mktemp -d "${WORK_DIR:-/var/tmp}/copyengine-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/small"

# Mixed data: text, binary records, incompressible (media-like) blocks and
# zeros, 1 MiB at a time; the small files are slices of the same kinds.
python3 - "$work/src" "$size_mib" "$nfiles" <<'EOF'
import math, random, struct, sys
src, size_mib, nfiles = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
MIB = 1 << 20
rng = random.Random(2024)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 10))) for _ in range(5000)]

def text_block():
    out, n = [], 0
    while n < MIB:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(5, 15))) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:MIB]

def record_block():
    base = rng.randrange(1 << 30)
    return b"".join(struct.pack("<IIQHH12x", base + i, rng.randrange(256), (base + i) * 1000, rng.randrange(16), 0x5A5A)
                    for i in range(MIB // 32))

texts = [text_block() for _ in range(8)]
records = [record_block() for _ in range(8)]

def block():
    r = rng.random()
    if r < 0.40:
        return texts[rng.randrange(8)]
    if r < 0.65:
        return records[rng.randrange(8)]
    if r < 0.90:
        return rng.randbytes(MIB)
    return bytes(MIB)

with open(f"{src}/big.bin", "wb") as f:
    for _ in range(size_mib):
        f.write(block())
for i in range(nfiles):
    size = int(math.exp(rng.uniform(math.log(512), math.log(65536))))
    data = block()
    at = rng.randrange(MIB - size)
    ext = rng.choice(["txt", "dat", "jpg", "xml"])
    with open(f"{src}/small/file{i:05d}.{ext}", "wb") as f:
        f.write(data[at:at + size])
EOF
cat "$work/src/big.bin" >/dev/null
big_bytes=$(stat -c %s "$work/src/big.bin")
small_bytes=$(find "$work/src/small" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

# run LABEL INPUT_BYTES PREPARE OUTPUT_PATTERN COMMAND...: median wall time,
# peak memory and output size (files matching OUTPUT_PATTERN below $out) of
# RUNS runs. $out is emptied and PREPARE run before each; the pause after it
# lets ext4 forget the inodes just deleted, which it otherwise scans on every
# file creation, slowing whichever tool runs next.
out="$work/out"
results=()
run() {
  local label=$1 input=$2 prepare=$3 pattern=$4
  shift 4
  local times=() peak=0 size=0
  for _ in $(seq "$runs"); do
    rm -rf "$out"
    mkdir -p "$out"
    eval "$prepare"
    sync
    sleep "${SETTLE:-6}"
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null
    local wall kb
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
    kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
    times+=("$wall")
    [ "$kb" -gt "$peak" ] && peak=$kb
    size=$(find "$out" -type f -name "$pattern" -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  results+=("$(awk -v l="$label" -v t="$median" -v i="$input" -v o="$size" -v m="$peak" \
    'BEGIN { printf "| %s | %.2f | %.0f | %.3f | %.1f |", l, t, i / t / 1e6, o / i, m / 1024 }')")
  echo "$label: $median s (runs: ${times[*]})" >&2
}

cd "$work/src"
run "$size_mib MiB file, plain: copyengine_bench" "$big_bytes" : '*' "$bench" plain big.bin "$out"
run "$size_mib MiB file, plain: cp" "$big_bytes" : '*' cp big.bin "$out/"
run "$size_mib MiB file, gzip: copyengine_bench" "$big_bytes" : '*' "$bench" gzip big.bin "$out"
run "$size_mib MiB file, gzip: gzip -6 -c > out" "$big_bytes" : '*' sh -c "gzip -6 -c big.bin > '$out/big.bin.gz'"
run "$size_mib MiB file, zip: copyengine_bench" "$big_bytes" : '*' "$bench" zip big.bin "$out"
run "$size_mib MiB file, zip: zip -6" "$big_bytes" : '*' zip -6 -q "$out/big.bin.zip" big.bin
run "$nfiles small files, plain: copyengine_bench" "$small_bytes" : '*' "$bench" plain small "$out"
run "$nfiles small files, plain: cp -r" "$small_bytes" : '*' cp -r small "$out/"
run "$nfiles small files, gzip: copyengine_bench" "$small_bytes" : '*' "$bench" gzip small "$out"
run "$nfiles small files, gzip: gzip -6 -k -r (on a copy)" "$small_bytes" 'cp -r small "$out/"' '*.gz' \
  gzip -6 -k -r "$out/small"
run "$nfiles small files, zip: copyengine_bench (one archive per file)" "$small_bytes" : '*' "$bench" zip small "$out"
run "$nfiles small files, zip: zip -6 -r (one archive)" "$small_bytes" : '*' zip -6 -q -r "$out/small.zip" small

printf 'Large file: %d bytes; %d small files: %d bytes; median of %d runs; MB = 10^6 bytes\n\n' \
  "$big_bytes" "$nfiles" "$small_bytes" "$runs"
echo "| Case and tool | wall s | MB/s | output/input | peak RSS MiB |"
echo "|---|---|---|---|---|"
printf '%s\n' "${results[@]}"
