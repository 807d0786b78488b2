#!/usr/bin/env bash
# AES file encryption: our zip AES stream (AES-256 counter mode + HMAC-SHA-1)
# against OpenSSL's command line doing the same work, `openssl enc
# -aes-256-ctr | openssl dgst -sha1 -hmac` (two processes, so two cores).
#   bench/aes.sh [size in MiB, default 1024]
# BUILD_DIR (default build-bench) is configured with benchmarks on.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-3}

cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target aes_bench -j2 >/dev/null
bench="$build_dir/bin/aes_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((size_mib * 1048576)) /dev/urandom >"$work/plain"
bytes=$(stat -c %s "$work/plain")
cat "$work/plain" >/dev/null # into the page cache
password=benchmark-password
"$bench" encrypt "$work/plain" "$work/enc" "$password" 3 >/dev/null

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
rate() { awk -v n="$bytes" -v s="$1" 'BEGIN { printf "%d", n / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

openssl_pipeline() {
  openssl enc -aes-256-ctr -K "$(printf '%064d' 7)" -iv "$(printf '%032d' 1)" -in "$work/plain" |
    openssl dgst -sha1 -hmac "$password"
}

t_enc=$(best "$bench" encrypt "$work/plain" /dev/null "$password" 3)
t_dec=$(best "$bench" decrypt "$work/enc" /dev/null "$password" 3)
t_ssl=$(best openssl_pipeline)

printf 'data: %d bytes (%d MiB), best of %d runs, MB = 10^6 bytes\n' "$bytes" "$size_mib" "$runs"
printf '%-44s %8.2f s %6d MB/s\n' "aes_bench encrypt (AES-256, file -> /dev/null)" "$t_enc" "$(rate "$t_enc")"
printf '%-44s %8.2f s %6d MB/s\n' "aes_bench decrypt (AES-256, file -> /dev/null)" "$t_dec" "$(rate "$t_dec")"
printf '%-44s %8.2f s %6d MB/s\n' "openssl enc -aes-256-ctr | openssl dgst -hmac" "$t_ssl" "$(rate "$t_ssl")"
printf 'time ratio ours/openssl: encrypt %s, decrypt %s\n' "$(ratio "$t_enc" "$t_ssl")" "$(ratio "$t_dec" "$t_ssl")"
