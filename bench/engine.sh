#!/usr/bin/env bash
# The engine `ardanto` against its peers on a generated Thunderbird-like
# profile: a few mbox files of hundreds of MB, thousands of small files (mail
# folder indexes, filters, add-on data, some already compressed), a few SQLite
# databases in WAL mode.
#   bench/engine.sh
#
# Each form is backed up into an empty folder and then again with nothing
# changed. Plain: `ardanto TASK /force` (Compress 0) against `rsync -a SRC/
# DST/`, and against rsync followed by `sync`: the engine's copies are on the
# disk when it ends (it flushes before it renames), rsync's in the page cache. Compressed: the engine's zip form (one NAME.zip per file) against
# `zip -r -6` (one archive), and its gzip form (NAME.gz per file) against
# `tar -cf - SRC | gzip -6` (one stream); zlib's level 6 on both sides. The
# peers' unchanged runs: rsync again, `zip -r -u -6` on the same archive; tar
# has none. Before every run: `sync`, a pause of SETTLE seconds (default 3),
# the page cache dropped (cold cache; needs root). Wall time of the whole
# process from outside, peak resident memory from /usr/bin/time, median of
# RUNS runs (default 3) with the tools taking turns. Every tool writes into a
# folder of its own, removed only at the end. After the first round every
# copy of the engine is read back (same bytes, databases pass PRAGMA
# integrity_check and hold the same rows).
#
# MBOX_MB lists the mbox sizes (default "250 150 80"), SMALL_FILES the number
# of small files (default 4000). BUILD_DIR (default build-bench-engine) is
# configured without tests; WORK_DIR (default /var/tmp) holds the data;
# SKIP_BUILD=1 uses the program as it is; KEEP_WORK=1 leaves WORK_DIR's data.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-bench-engine}
runs=${RUNS:-3}
settle=${SETTLE:-3}
mbox_mb=${MBOX_MB:-250 150 80}
small_files=${SMALL_FILES:-4000}

for tool in rsync zip tar gzip python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
if ! { [ -w /proc/sys/vm/drop_caches ] && echo 1 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  echo "cannot drop the page cache (not root?)" >&2
  exit 1
fi

# Other work shares the machine: configure and build under the shared build lock.
if [ "${SKIP_BUILD:-0}" != 1 ]; then
  flock /tmp/ardanto-build.lock cmake -S . -B "$build_dir" -G Ninja -DARDANTO_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
  flock /tmp/ardanto-build.lock cmake --build "$build_dir" --target ardanto -j2 >/dev/null
fi
engine=$(realpath "$build_dir/bin/ardanto")

work=$(mktemp -d "${WORK_DIR:-/var/tmp}/engine-bench.XXXXXX")
[ "${KEEP_WORK:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
# An unattended run: no display, a home of its own.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" LANG=C.UTF-8
unset LANGUAGE DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$work/logs" "$work/out"
src="$work/profile"

echo "generating the profile in $src ..." >&2
python3 - "$src" "$small_files" $mbox_mb <<'PY'
import os, random, sqlite3, sys, base64
src, small = sys.argv[1], int(sys.argv[2])
mboxes = [int(x) for x in sys.argv[3:]]
rng = random.Random(13)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 11))) for _ in range(6000)]
names = ["Ann Example", "Bob Miller", "Carla Weiss", "Dieter Braun", "Eve Novak", "Frank Otto"]

def text(n):
    out, size = [], 0
    while size < n:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(6, 14)))
        out.append(line)
        size += len(line) + 1
    return "\n".join(out)

def message(i):
    who = rng.choice(names)
    head = (f"From - Mon Mar  4 10:{i % 60:02d}:00 2024\nX-Mozilla-Status: 0001\nFrom: {who} <{who.split()[0].lower()}"
            f"@example.org>\nTo: ann@example.org\nSubject: {text(40)}\nMessage-ID: <{i}.{rng.randrange(1 << 40)}"
            f"@example.org>\nDate: Mon, 4 Mar 2024 10:{i % 60:02d}:00 +0100\nMIME-Version: 1.0\n")
    kind = rng.random()
    if kind < 0.25:
        blob = base64.encodebytes(rng.randbytes(rng.randint(20_000, 300_000))).decode()
        body = (f"Content-Type: multipart/mixed; boundary=\"b{i}\"\n\n--b{i}\nContent-Type: text/plain\n\n"
                f"{text(rng.randint(500, 4000))}\n--b{i}\nContent-Type: application/octet-stream; name=\"a{i}.bin\"\n"
                f"Content-Transfer-Encoding: base64\n\n{blob}--b{i}--\n")
    else:
        body = "Content-Type: text/plain; charset=UTF-8\n\n" + text(rng.randint(1500, 25000)) + "\n"
    return (head + body + "\n").encode()

pool = [message(i) for i in range(700)]
for n, mb in enumerate(mboxes):
    folder = os.path.join(src, "ImapMail", "imap.example.org") if n else os.path.join(src, "Mail", "Local Folders")
    os.makedirs(folder, exist_ok=True)
    name = ["Inbox", "Archives", "Sent", "Trash", "Drafts"][n % 5]
    with open(os.path.join(folder, name), "wb") as f:
        size = 0
        while size < mb * 1_000_000:
            m = rng.choice(pool)
            f.write(m)
            size += len(m)

# Small files: folder indexes, filters, add-on and cache-like data; some
# already compressed (NoCompTypes: xpi, jpg), log-normal sizes.
kinds = [("ImapMail/imap.example.org/{}.msf", "mork"), ("Mail/Local Folders/{}.msf", "mork"),
         ("extensions/{}.json", "json"), ("storage/default/moz-ext/{}.data", "bin"),
         ("thumbnails/{}.jpg", "rand"), ("datastore/{}.txt", "text")]
for i in range(small):
    pattern, kind = kinds[i % len(kinds)]
    path = os.path.join(src, "f{:02d}".format(i % 40), pattern.format(f"item{i}"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    size = max(200, min(200_000, int(rng.lognormvariate(8.3, 1.2))))
    if kind == "rand":
        data = rng.randbytes(size)
    elif kind == "bin":
        data = bytes(rng.randrange(16) for _ in range(size // 8)) * 8
    elif kind == "mork":
        data = ("// <!-- <mdb:mork:z v=\"1.4\"/> -->\n" + "".join(
            f"[{rng.randrange(1 << 20):X}(^80={rng.randrange(1 << 30):x})(^81={rng.choice(words)})]\n"
            for _ in range(size // 40))).encode()
    else:
        data = text(size).encode()
    with open(path, "wb") as f:
        f.write(data)
os.makedirs(os.path.join(src, "extensions"), exist_ok=True)
for i in range(5):
    with open(os.path.join(src, "extensions", f"addon{i}.xpi"), "wb") as f:
        f.write(rng.randbytes(rng.randint(1_000_000, 4_000_000)))

# Databases in WAL mode, closed (the last connection folds the WAL in).
def database(name, rows, width):
    con = sqlite3.connect(os.path.join(src, name))
    con.execute("PRAGMA journal_mode=WAL")
    con.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, folder INTEGER, date INTEGER, subject TEXT, json TEXT)")
    con.executemany("INSERT INTO t(folder, date, subject, json) VALUES (?, ?, ?, ?)",
                    ((rng.randrange(50), 1700000000 + i, text(40), text(width)) for i in range(rows)))
    con.execute("CREATE INDEX d ON t(date)")
    con.commit()
    con.close()
database("global-messages-db.sqlite", 120_000, 400)
database("places.sqlite", 40_000, 200)
database("abook.sqlite", 3_000, 100)
database("cookies.sqlite", 2_000, 80)
database("favicons.sqlite", 1_000, 600)

# Every file two days old: a second run finds nothing to copy.
for folder, _, files in os.walk(src):
    for name in files:
        os.utime(os.path.join(folder, name), (1710000000, 1710000000))
PY
src_bytes=$(du -sb "$src" | cut -f1)
src_files=$(find "$src" -type f | wc -l)
echo "profile: $src_files files, $src_bytes bytes" >&2

# task NAME COMPRESS ZIP DEST [SOURCE]: a task as Quillbox writes it, with no
# folder left out, so that every tool copies the same files.
task() {
  cat >"$work/$1.buj" <<EOF
[Global]
Destination=$4
SendMail=0
Compress=$2
CompressAsZip=$3
NoCompTypes=7z,gz,gze,jpeg,jpg,mp3,mp4,pdf,png,xpi,zip
Encrypt=0
LogFile=1
LogName=$work/logs/%taskname%.log
Timespan=2
IgnoreDst=1
SyncMode=0
EmptyDirs=1
DirCount=1
[Dir000]
Enabled=1
Source=${5:-$src}
FilterMode=0
BackupMode=1
Exclude=
DirFilter=
EOF
  echo "$work/$1.buj"
}

now_ns() { date +%s%N; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

cold() {
  sync
  sleep "$settle"
  echo 3 >/proc/sys/vm/drop_caches
}

# timed KEY COMMAND...: one cold run; wall seconds and peak RSS (KiB) go to
# $work/results as "KEY seconds kib load".
timed() {
  local key=$1 t0 t1 rss
  shift
  cold
  t0=$(now_ns)
  /usr/bin/time -f "%M" -o "$work/rss.txt" "$@" >"$work/last.txt" 2>&1 || {
    cat "$work/last.txt" >&2
    echo "$key failed" >&2
    exit 1
  }
  t1=$(now_ns)
  rss=$(tail -1 "$work/rss.txt")
  local secs load
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  load=$(cut -d' ' -f1 /proc/loadavg)
  echo "$key $secs $rss $load" >>"$work/results"
  echo "  $key: $secs s, $((rss / 1024)) MiB, load $load" >&2
}

run_options=(/startapp:bench /prompt:quiet /hide /force)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for r in $(seq "$runs"); do
  echo "round $r" >&2
  t=$(task "plain-$r" 0 1 "$work/out/ours-plain-$r")
  timed ours-plain-first "$engine" "$t" "${run_options[@]}"
  timed ours-plain-again "$engine" "$t" "${run_options[@]}"
  timed rsync-first rsync -a "$src/" "$work/out/rsync-$r/"
  timed rsync-again rsync -a "$src/" "$work/out/rsync-$r/"
  # The engine's copies are on the disk when it ends; rsync's are in the page cache.
  timed rsync-sync-first bash -c "rsync -a '$src/' '$work/out/rsync-sync-$r/' && sync"
  t=$(task "zip-$r" 1 1 "$work/out/ours-zip-$r")
  timed ours-zip-first "$engine" "$t" "${run_options[@]}"
  timed ours-zip-again "$engine" "$t" "${run_options[@]}"
  timed zip-first bash -c "cd '$(dirname "$src")' && zip -q -r -6 '$work/out/zip-$r.zip' '$(basename "$src")'"
  # zip ends with 12 when there was nothing to update.
  timed zip-again bash -c "cd '$(dirname "$src")' && { zip -q -r -u -6 '$work/out/zip-$r.zip' '$(basename "$src")' \
    || [ \$? = 12 ]; }"
  t=$(task "gzip-$r" 1 0 "$work/out/ours-gzip-$r")
  timed ours-gzip-first "$engine" "$t" "${run_options[@]}"
  timed ours-gzip-again "$engine" "$t" "${run_options[@]}"
  timed tar-gzip-first bash -c "tar -C '$(dirname "$src")' -cf - '$(basename "$src")' | gzip -6 >'$work/out/tar-$r.tar.gz'"
  if [ "$r" = 1 ]; then
    echo "reading the engine's copies back ..." >&2
    python3 - "$src" "$work/out/ours-plain-1$src" "$work/out/ours-zip-1$src" "$work/out/ours-gzip-1$src" <<'PY'
import gzip, os, sqlite3, sys, tempfile, zipfile
src, plain, zipped, gzipped = sys.argv[1:5]
nocomp = ("jpg", "xpi")

def rows(path):
    # immutable: reading leaves no -wal or -shm beside the file.
    con = sqlite3.connect(f"file:{path}?mode=ro&immutable=1", uri=True)
    try:
        assert con.execute("PRAGMA integrity_check").fetchone()[0] == "ok", path
        return con.execute("SELECT count(*), sum(length(json)) FROM t").fetchone()
    finally:
        con.close()

def check(original, data):
    if original.endswith(".sqlite"):
        with tempfile.NamedTemporaryFile(suffix=".sqlite") as t:
            t.write(data)
            t.flush()
            assert rows(t.name) == rows(original), original
    else:
        with open(original, "rb") as f:
            assert f.read() == data, original

count = 0
for folder, _, files in os.walk(src):
    rel = os.path.relpath(folder, src)
    for name in files:
        original = os.path.join(folder, name)
        with open(os.path.join(plain, rel, name), "rb") as f:
            check(original, f.read())
        if name.rsplit(".", 1)[-1] in nocomp:
            for form in (zipped, gzipped):
                with open(os.path.join(form, rel, name), "rb") as f:
                    check(original, f.read())
        else:
            with zipfile.ZipFile(os.path.join(zipped, rel, name + ".zip")) as z:
                assert z.namelist() == [name]
                check(original, z.read(name))
            with gzip.open(os.path.join(gzipped, rel, name + ".gz")) as g:
                check(original, g.read())
        count += 1
print(f"read back {count} files in each of the three forms", file=sys.stderr)
PY
  fi
done
# Memory against file size: the same form on a profile of one small file.
mkdir -p "$work/tiny"
head -c 1000 /dev/urandom >"$work/tiny/prefs.js"
timed tiny-zip-first "$engine" "$(task tiny 1 1 "$work/out/tiny" "$work/tiny")" "${run_options[@]}"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# The table: medians of the rounds.
stat() { awk -v k="$1" -v c="$2" '$1 == k { print $c }' "$work/results" | median; }
mb=$(awk -v b="$src_bytes" 'BEGIN { printf "%.0f", b / 1e6 }')
size_of() { du -sb "$1" | cut -f1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
loads=$(awk '{ print $4 }' "$work/results" | sort -n | sed -n '1p;$p' | paste -sd' ' | sed 's/ / to /')
echo
echo "Profile: $src_files files, $mb MB; cold cache; medians of $runs rounds; load $loads"
echo
echo "| Tool | first run | MB/s | nothing changed | peak RSS first / again | output/input | time ours/peer (first / again) |"
echo "|---|---|---|---|---|---|---|"
row() { # row LABEL KEY OUTPUT [PEERKEY]
  local first again rf ra out cmp=""
  first=$(stat "$2-first" 2)
  again=$(stat "$2-again" 2)
  rf=$(stat "$2-first" 3)
  ra=$(stat "$2-again" 3)
  out=$(ratio "$(size_of "$3")" "$src_bytes")
  if [ -n "${4:-}" ]; then
    cmp="$(ratio "$first" "$(stat "$4-first" 2)")"
    if [ -n "$again" ] && [ -n "$(stat "$4-again" 2)" ]; then
      cmp="$cmp / $(ratio "$again" "$(stat "$4-again" 2)")"
    fi
  fi
  printf '| %s | %s s | %s | %s | %s | %s | %s |\n' "$1" "$first" "$(awk -v m="$mb" -v s="$first" \
    'BEGIN { printf "%.0f", m / s }')" "${again:+$again s}" "$((rf / 1024)) MiB${ra:+ / $((ra / 1024)) MiB}" "$out" "$cmp"
}
row "ardanto, plain" ours-plain "$work/out/ours-plain-1" rsync
row "rsync -a" rsync "$work/out/rsync-1"
row "rsync -a; sync" rsync-sync "$work/out/rsync-sync-1"
row "ardanto, zip form" ours-zip "$work/out/ours-zip-1" zip
row "zip -r -6 (one archive; again: -u)" zip "$work/out/zip-1.zip"
row "ardanto, gzip form" ours-gzip "$work/out/ours-gzip-1" tar-gzip
row "tar \| gzip -6 (one stream)" tar-gzip "$work/out/tar-1.tar.gz"
largest=$(find "$src" -type f -printf '%s\n' | sort -n | tail -1)
echo
echo "Peak RSS of the zip form on a profile of one 1 kB file: $(($(stat tiny-zip-first 3) / 1024)) MiB;" \
  "the profile's largest file: $(awk -v b="$largest" 'BEGIN { printf "%.0f", b / 1e6 }') MB."
