#!/usr/bin/env bash
# Copy engine against its peers on one large file of mixed data and on many
# small files: plain copy against `cp`, gzip job against `gzip -6`, zip job
# against `zip -6`, their runs taking turns. Prints a Markdown table: median
# and best wall time of RUNS runs (default 5), MB/s of source data, output
# size / input size, peak resident memory (from /usr/bin/time -v).
#   bench/copyengine.sh [large file MiB, default 1024] [small files, default 10000]
# BUILD_DIR (default build-bench) is configured with benchmarks on; WORK_DIR
# (default /var/tmp) holds the data, which is removed at the end; SETTLE
# (default 6) is the pause in seconds before each run.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
nfiles=${2:-10000}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-5}

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

# compare CASE INPUT_BYTES PREPARE OUTPUT_PATTERN OURS PEER_NAME PEER: runs
# our command and the peer's in turn, RUNS times each, and adds a table row
# for each: median wall time, MB/s of source data, output size (files matching
# OUTPUT_PATTERN below $out) / input size, peak RSS, and for the peer our
# time / its time; best times in parentheses. Before every run $out is emptied, PREPARE is run and the
# disk is synced; the pause after it lets ext4 forget the inodes just deleted,
# which it otherwise scans on every file creation.
out="$work/out"
rows=()
measure() { # COMMAND PREPARE PATTERN -> "seconds kilobytes outbytes"
  rm -rf "$out"
  mkdir -p "$out"
  eval "$2"
  sync
  sleep "${SETTLE:-6}"
  /usr/bin/time -v -o "$work/time.txt" sh -c "$1" >/dev/null
  local wall kb size
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  size=$(find "$out" -type f -name "$3" -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  echo "$wall $kb $size"
}
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
best() { printf '%s\n' "$@" | sort -n | head -1; }
compare() {
  local name=$1 input=$2 prepare=$3 pattern=$4 ours=$5 peer_name=$6 peer=$7
  local ours_t=() peer_t=() ours_kb=0 peer_kb=0 ours_size=0 peer_size=0 t kb size
  for _ in $(seq "$runs"); do
    read -r t kb size < <(measure "$ours" : '*')
    ours_t+=("$t"); ours_size=$size; [ "$kb" -gt "$ours_kb" ] && ours_kb=$kb
    read -r t kb size < <(measure "$peer" "$prepare" "$pattern")
    peer_t+=("$t"); peer_size=$size; [ "$kb" -gt "$peer_kb" ] && peer_kb=$kb
  done
  local om pm ob pb
  om=$(median "${ours_t[@]}")
  pm=$(median "${peer_t[@]}")
  ob=$(best "${ours_t[@]}")
  pb=$(best "${peer_t[@]}")
  echo "$name: ours ${ours_t[*]} / $peer_name ${peer_t[*]}" >&2
  rows+=("$(awk -v l="$name" -v t="$om" -v b="$ob" -v i="$input" -v o="$ours_size" -v m="$ours_kb" \
    'BEGIN { printf "| %s | copy engine | %.2f (%.2f) | %.0f | %.3f | %.1f | |", l, t, b, i / t / 1e6, o / i, m / 1024 }')")
  rows+=("$(awk -v l="$peer_name" -v t="$pm" -v b="$pb" -v i="$input" -v o="$peer_size" -v m="$peer_kb" \
    -v ot="$om" -v obest="$ob" \
    'BEGIN { printf "| | %s | %.2f (%.2f) | %.0f | %.3f | %.1f | %.2f (%.2f) |", l, t, b, i / t / 1e6, o / i, m / 1024, ot / t, obest / b }')")
}

cd "$work/src"
big="$size_mib MiB file"
small="$nfiles small files"
compare "$big, plain" "$big_bytes" : '*' "'$bench' plain big.bin '$out'" "cp" "cp big.bin '$out/'"
compare "$big, gzip" "$big_bytes" : '*' "'$bench' gzip big.bin '$out'" \
  "gzip -6 -c > out" "gzip -6 -c big.bin > '$out/big.bin.gz'"
compare "$big, zip" "$big_bytes" : '*' "'$bench' zip big.bin '$out'" "zip -6" "zip -6 -q '$out/big.bin.zip' big.bin"
compare "$small, plain" "$small_bytes" : '*' "'$bench' plain small '$out'" "cp -r" "cp -r small '$out/'"
compare "$small, gzip" "$small_bytes" 'cp -r small "$out/"' '*.gz' "'$bench' gzip small '$out'" \
  "gzip -6 -k -r (on a copy)" "gzip -6 -k -r '$out/small'"
compare "$small, zip (one archive per file)" "$small_bytes" : '*' "'$bench' zip small '$out'" \
  "zip -6 -r (one archive)" "zip -6 -q -r '$out/small.zip' small"

printf 'Large file: %d bytes; %d small files: %d bytes; median of %d runs; MB = 10^6 bytes\n\n' \
  "$big_bytes" "$nfiles" "$small_bytes" "$runs"
echo "| Case | Tool | wall s, median (best) | MB/s (median) | output/input | peak RSS MiB | time ours/peer, median (best) |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
