#!/usr/bin/env bash
# Download speed on loopback: our downloader (8 workers) against aria2c -x8 -s8 and single-stream
# curl, in one run, from one nginx. Best of 3 for each; every result is checked against the
# file's checksum. Run by hand, never in CI. Profiles:
#
#   plain            one large file, no limit (BENCH_SIZE_MB, default 1024)
#   even             every connection limited to BENCH_RATE (default 8m)
#   throttled        every connection at BENCH_RATE, every BENCH_SLOW_EVERY-th connection
#                    (default 5) at BENCH_SLOW_RATE (default 512k), as share services and CDNs do
#   even-paced       as even and throttled, but limited by bench/pace-proxy.py in front of nginx
#   throttled-paced  (python3): nginx's limit_rate counts per request and lets about the first
#                    second's worth of each request through at once, so a client that makes
#                    many short requests is hardly limited; the proxy limits each connection
#                    for its whole life, as a service that limits connections does.
#
# All but plain fetch a file of BENCH_THROTTLED_MB (default 64). Rates are nginx sizes
# (k = 1024 bytes, m = 1024k). For each tool: time, MB/s, and the bytes nginx logged as sent
# during the run divided by the file size (1.00 means nothing was fetched twice). On plain, curl
# is also timed with its file flushed to disk afterwards, as ours always is before it takes the
# file's name.
#
#   bench/download.sh                            all three profiles, files under /tmp
#   BENCH_PROFILES="throttled" bench/download.sh
#   BENCH_DIR=/dev/shm BENCH_SIZE_MB=256 BENCH_RUNS=5 bench/download.sh
#   BENCH_RATE=4m BENCH_SLOW_RATE=256k BENCH_SLOW_EVERY=3 BENCH_THROTTLED_MB=32 bench/download.sh
set -euo pipefail
cd "$(dirname "$0")/.."

profiles=${BENCH_PROFILES:-plain even throttled even-paced throttled-paced}
size_mb=${BENCH_SIZE_MB:-1024}
throttled_mb=${BENCH_THROTTLED_MB:-64}
rate=${BENCH_RATE:-8m}
slow_rate=${BENCH_SLOW_RATE:-512k}
slow_every=${BENCH_SLOW_EVERY:-5}
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
    command -v python3 >/dev/null || missing+=(python3)
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing ${missing[*]} for the benchmark (apt-get install -y ${missing[*]}) ..."
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
proxy_pid=""
stop_proxy() {
    if [ -n "$proxy_pid" ]; then
        kill "$proxy_pid" 2>/dev/null || true
        wait "$proxy_pid" 2>/dev/null || true
        proxy_pid=""
    fi
}
# nginx size (512k, 8m, 1000) in bytes.
size_bytes() {
    case $1 in
    *k) echo $((${1%k} * 1024)) ;;
    *m) echo $((${1%m} * 1024 * 1024)) ;;
    *) echo "$1" ;;
    esac
}
stop_all() {
    stop_proxy
    if [ -f "$work/nginx.pid" ]; then
        kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
        sleep 0.2
    fi
    rm -rf "$work"
}
trap stop_all EXIT

mkdir -p "$work/www/plain" "$work/www/even" "$work/www/throttled" "$work/www/paced" "$work/out" \
    "$work/tmp"
make_file() { # path MiB
    dd if=/dev/urandom of="$1" bs=1M count="$2" status=none
    chmod 644 "$1"
}
case " $profiles " in *" plain "*)
    echo "Making a ${size_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/plain/file.bin" "$size_mb"
    ;;
esac
case " $profiles " in *" even"* | *" throttled"*)
    echo "Making a ${throttled_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/even/file.bin" "$throttled_mb"
    ln "$work/www/even/file.bin" "$work/www/throttled/file.bin"
    ln "$work/www/even/file.bin" "$work/www/paced/file.bin"
    ;;
esac

# nginx numbers its connections ($connection); the map picks the slow ones. A map cannot take a
# remainder, so it lists the multiples of N up to far more connections than a run opens.
{
    echo "map \$connection \$throttled_rate {"
    echo "    default $rate;"
    if [ "$slow_every" -gt 0 ]; then
        for ((n = slow_every; n <= 50000; n += slow_every)); do echo "    $n $slow_rate;"; done
    fi
    echo "}"
} >"$work/rates.conf"

cat >"$work/nginx.conf" <<EOF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
    log_format body '\$body_bytes_sent';
    access_log $work/access.log body;
    sendfile on;
    tcp_nopush on;
    map_hash_max_size 262144;
    map_hash_bucket_size 64;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    types { application/octet-stream bin; }
    include $work/rates.conf;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location /even/ { limit_rate $rate; }
        location /throttled/ { limit_rate \$throttled_rate; }
    }
}
EOF
nginx -p "$work" -c "$work/nginx.conf"
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

# Body bytes nginx has logged so far (%.0f: mawk's %d stops at 2^31). nginx logs a request when
# it ends, so wait a moment first.
logged_bytes() {
    sleep 0.3
    awk '{ s += $1 } END { printf "%.0f", s }' "$work/access.log"
}

# Runs "$@" $runs times, checks each result, prints the best time in seconds, the bytes sent in
# that run divided by the file size, and the largest such quotient of all runs.
best_of() {
    local out=$1
    shift
    local best="" best_ratio="" worst_ratio=0
    for _ in $(seq "$runs"); do
        rm -f "$out" "$out.aria2"
        local before start end took sent ratio
        before=$(logged_bytes)
        start=$(date +%s.%N)
        "$@"
        end=$(date +%s.%N)
        took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        sent=$(($(logged_bytes) - before))
        ratio=$(awk -v s="$sent" -v n="$bytes" 'BEGIN { printf "%.3f", s / n }')
        if [ "$(sha256sum "$out" | cut -d' ' -f1)" != "$want" ]; then
            echo "checksum mismatch for: $*" >&2
            exit 1
        fi
        if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then
            best=$took
            best_ratio=$ratio
        fi
        worst_ratio=$(awk -v a="$ratio" -v b="$worst_ratio" 'BEGIN { print (a > b ? a : b) }')
    done
    rm -f "$out" "$out.aria2"
    echo "$best $best_ratio $worst_ratio"
}

rate_of() { awk -v n="$bytes" -v t="$1" 'BEGIN { printf "%.1f", n / 1000000 / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
report() { # name "time sent worst"
    local t s w
    read -r t s w <<<"$2"
    printf '  %-36s %8s s %9s MB/s   received %s x file (largest of runs %s)\n' \
        "$1" "$t" "$(rate_of "$t")" "$s" "$w"
}

slow_text="connections #${slow_every}, #$((slow_every * 2)), ... at $slow_rate/s"
for profile in $profiles; do
    folder=$profile
    url_port=$port
    case $profile in
    plain) what="${size_mb} MiB, no limit" ;;
    even) what="${throttled_mb} MiB, every request limited by nginx to $rate/s" ;;
    throttled) what="${throttled_mb} MiB, every request limited by nginx to $rate/s, on $slow_text" ;;
    even-paced | throttled-paced)
        folder=paced
        url_port=$((port + 1))
        every=0
        what="${throttled_mb} MiB, every connection paced to $rate/s"
        if [ "$profile" = throttled-paced ]; then
            every=$slow_every
            what="$what, $slow_text"
        fi
        python3 bench/pace-proxy.py "$url_port" "$port" "$(size_bytes "$rate")" "$every" \
            "$(size_bytes "$slow_rate")" &
        proxy_pid=$!
        for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$url_port/" && break; sleep 0.1; done
        ;;
    *)
        echo "unknown profile: $profile" >&2
        exit 2
        ;;
    esac
    file="$work/www/$folder/file.bin"
    want=$(sha256sum "$file" | cut -d' ' -f1)
    bytes=$(stat -c %s "$file")
    url="http://127.0.0.1:$url_port/$folder/file.bin"
    echo "== $profile: $what (best of $runs)"
    ours=$(best_of "$work/out/ours.bin" "$cli" download --quiet --threads 8 "$url" -o "$work/out/ours.bin")
    aria=$(best_of "$work/out/aria.bin" aria2c -q -x8 -s8 --min-split-size=1M \
        --file-allocation=falloc --allow-overwrite=true --auto-file-renaming=false \
        -d "$work/out" -o aria.bin "$url")
    plain=$(best_of "$work/out/curl.bin" curl -s -o "$work/out/curl.bin" "$url")
    report "vantorel-cli download --threads 8" "$ours"
    report "aria2c -x8 -s8 --min-split-size=1M" "$aria"
    report "curl (one stream)" "$plain"
    printf '  ratio ours/aria2c: %s   ours/curl: %s   (speed; above 1.0 means ours is faster)\n' \
        "$(ratio "${aria%% *}" "${ours%% *}")" "$(ratio "${plain%% *}" "${ours%% *}")"
    if [ "$profile" = plain ]; then
        # `sync FILE` flushes that file to disk, as ours does before the rename.
        synced=$(best_of "$work/out/curl.bin" sh -c 'curl -s -o "$1" "$2" && sync "$1"' _ \
            "$work/out/curl.bin" "$url")
        report "curl, then sync (on disk, as ours)" "$synced"
        printf '  ratio ours/(curl, then sync): %s\n' "$(ratio "${synced%% *}" "${ours%% *}")"
    fi
    stop_proxy
done
