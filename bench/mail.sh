#!/usr/bin/env bash
# Mail sender: one message with a large attachment sent to aiosmtpd on
# loopback (tests/mail/smtp_server.py --discard), by mail_bench (TmMailer) and
# by two peers that also build the MIME message themselves and encode it in
# Base64: curl (-F, libcurl's MIME builder) and Python's email + smtplib.
# Time is the best of $RUNS runs; peak memory is the process's maximum
# resident size (/usr/bin/time), callbacks as counted by mail_bench. The
# time includes the server's work (Python); the CPU column is the sender's own.
#   bench/mail.sh [size in MiB, default 20]
# BUILD_DIR (default build-bench) is configured with benchmarks on.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-20}
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-5}

cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_BENCHMARKS=ON \
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" --target mail_bench -j2 >/dev/null
bench="$build_dir/bin/mail_bench"
python=/usr/bin/python3

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
head -c $((size_mib * 1048576)) /dev/urandom >"$work/attachment.bin"
bytes=$(stat -c %s "$work/attachment.bin")

"$python" tests/mail/smtp_server.py serve --dir "$work/server" --discard \
  --data-limit $((bytes * 2)) >"$work/port" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 100); do grep -q PORT "$work/port" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/PORT/ { print $2 }' "$work/port")

cat >"$work/smtplib_send.py" <<'PY'
import smtplib, sys
from email.message import EmailMessage
port, path = int(sys.argv[1]), sys.argv[2]
msg = EmailMessage()
msg["From"], msg["To"], msg["Subject"] = "bench@example.org", "rcpt@example.org", "Benchmark"
msg.set_content("A large attachment.")
with open(path, "rb") as f:
    msg.add_attachment(f.read(), maintype="application", subtype="octet-stream", filename="attachment.bin")
with smtplib.SMTP("127.0.0.1", port) as s:
    s.send_message(msg)
PY

# Best wall-clock time, least CPU time (user + system) of the sender and the
# largest peak RSS (KiB) of $runs runs.
measure() {
  local best="" cpu="" peak=0 line s c m
  for _ in $(seq "$runs"); do
    line=$( { /usr/bin/time -f "TIME %e %U %S %M" "$@" >/dev/null; } 2>&1 | grep '^TIME')
    s=$(echo "$line" | awk '{ print $2 }')
    c=$(echo "$line" | awk '{ printf "%.2f", $3 + $4 }')
    m=$(echo "$line" | awk '{ print $5 }')
    if [ -z "$best" ] || awk -v s="$s" -v b="$best" 'BEGIN { exit !(s < b) }'; then best=$s; fi
    if [ -z "$cpu" ] || awk -v s="$c" -v b="$cpu" 'BEGIN { exit !(s < b) }'; then cpu=$c; fi
    if [ "$m" -gt "$peak" ]; then peak=$m; fi
  done
  echo "$best $cpu $peak"
}

echo "Attachment: $bytes bytes; server port $port; best of $runs runs."
echo "mail_bench, one run in detail:"
"$bench" 127.0.0.1 "$port" "$work/attachment.bin"
read -r ours_s ours_cpu ours_kib < <(measure "$bench" 127.0.0.1 "$port" "$work/attachment.bin")
read -r curl_s curl_cpu curl_kib < <(measure curl -sS "smtp://127.0.0.1:$port" \
  --mail-from bench@example.org --mail-rcpt rcpt@example.org -H "Subject: Benchmark" \
  -F "=A large attachment.;type=text/plain" -F "=@$work/attachment.bin;encoder=base64")
read -r py_s py_cpu py_kib < <(measure "$python" "$work/smtplib_send.py" "$port" "$work/attachment.bin")
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| Sender | time | sender CPU | peak RSS |"
echo "|---|---|---|---|"
echo "| TmMailer (mail_bench) | ${ours_s} s | ${ours_cpu} s | $(mib "$ours_kib") MiB |"
echo "| curl -F (libcurl MIME) | ${curl_s} s | ${curl_cpu} s | $(mib "$curl_kib") MiB |"
echo "| Python email + smtplib | ${py_s} s | ${py_cpu} s | $(mib "$py_kib") MiB |"
