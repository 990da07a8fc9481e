#!/usr/bin/env bash
# Download speed on loopback: our downloader (8 workers) against aria2c -x8 -s8 and single-stream
# curl, in one run, from one nginx serving one 1 GiB file. Best of 3 for each; every result is
# checked against the file's checksum. Run by hand, never in CI.
#
#   bench/download.sh                 files under /tmp
#   BENCH_DIR=/dev/shm bench/download.sh
#   BENCH_SIZE_MB=256 BENCH_RUNS=5 bench/download.sh
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=${BENCH_SIZE_MB:-1024}
runs=${BENCH_RUNS:-3}
port=${BENCH_PORT:-18089}
base_dir=${BENCH_DIR:-/tmp}

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_missing() {
    local missing=()
    command -v nginx >/dev/null || missing+=(nginx-light)
    command -v aria2c >/dev/null || missing+=(aria2)
    command -v curl >/dev/null || missing+=(curl)
    command -v sha256sum >/dev/null || missing+=(coreutils)
    [ ${#missing[@]} -eq 0 ] && return
    sudo_if_needed apt-get update -qq
    # RUNLEVEL=1 keeps the package from starting a system nginx on port 80.
    sudo_if_needed env RUNLEVEL=1 DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" ||
        sudo_if_needed env RUNLEVEL=1 DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nginx
}

install_missing

cli=${VANTOREL_CLI:-}
if [ -z "$cli" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTOREL_BUILD_APP=OFF \
        -DVANTOREL_BUILD_TESTS=OFF >/dev/null
    cmake --build build-bench --target vantorel-cli >/dev/null
    cli=build-bench/vantorel-cli
fi

work=$(mktemp -d "$base_dir/vantorel-bench.XXXXXX")
chmod 755 "$work"
stop_all() {
    if [ -f "$work/nginx.pid" ]; then
        kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
        sleep 0.2
    fi
    rm -rf "$work"
}
trap stop_all EXIT

mkdir -p "$work/www" "$work/out" "$work/tmp"
echo "Making a ${size_mb} MiB file of random bytes in $work ..."
dd if=/dev/urandom of="$work/www/file.bin" bs=1M count="$size_mb" status=none
chmod 644 "$work/www/file.bin"
want=$(sha256sum "$work/www/file.bin" | cut -d' ' -f1)
bytes=$(stat -c %s "$work/www/file.bin")

cat >"$work/nginx.conf" <<EOF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    types { application/octet-stream bin; }
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
EOF
nginx -p "$work" -c "$work/nginx.conf"
url="http://127.0.0.1:$port/file.bin"
for _ in $(seq 50); do curl -sfI "$url" >/dev/null && break; sleep 0.1; done

# Runs "$@" $runs times, checks each result, prints the best time in seconds.
best_of() {
    local out=$1
    shift
    local best=""
    for _ in $(seq "$runs"); do
        rm -f "$out" "$out.aria2"
        local start end took
        start=$(date +%s.%N)
        "$@"
        end=$(date +%s.%N)
        took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        local got
        got=$(sha256sum "$out" | cut -d' ' -f1)
        if [ "$got" != "$want" ]; then
            echo "checksum mismatch for: $*" >&2
            exit 1
        fi
        if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$took; fi
    done
    rm -f "$out" "$out.aria2"
    echo "$best"
}

ours=$(best_of "$work/out/ours.bin" "$cli" download --quiet --threads 8 "$url" -o "$work/out/ours.bin")
aria=$(best_of "$work/out/aria.bin" aria2c -q -x8 -s8 --file-allocation=falloc --allow-overwrite=true \
    --auto-file-renaming=false -d "$work/out" -o aria.bin "$url")
plain=$(best_of "$work/out/curl.bin" curl -s -o "$work/out/curl.bin" "$url")

rate() { awk -v n="$bytes" -v t="$1" 'BEGIN { printf "%.1f", n / 1000000 / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-28s %8s s %10s MB/s\n' "vantorel-cli (8 workers)" "$ours" "$(rate "$ours")"
printf '%-28s %8s s %10s MB/s\n' "aria2c -x8 -s8" "$aria" "$(rate "$aria")"
printf '%-28s %8s s %10s MB/s\n' "curl (one stream)" "$plain" "$(rate "$plain")"
printf 'ratio ours/aria2c: %s   ours/curl: %s   (speed; above 1.0 means ours is faster)\n' \
    "$(ratio "$aria" "$ours")" "$(ratio "$plain" "$ours")"
