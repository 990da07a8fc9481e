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
#   https            one file of BENCH_HTTPS_MB (default 256), no limit, over TLS (HTTP/1.1,
#                    TLS 1.2/1.3 with ECDHE and AEAD ciphers only, keepalive). The run makes a
#                    CA of its own and a certificate for 127.0.0.1 and localhost signed by it;
#                    both go with the run's folder. curl gets --cacert, aria2c
#                    --ca-certificate, ours SSL_CERT_FILE naming a bundle that holds that CA.
#                    Ours is first tried on a small file: if it cannot verify the server, that
#                    is printed with its error, curl and aria2c are still measured, and the
#                    script exits with 1. If it succeeds, it is tried once more without
#                    SSL_CERT_FILE, where it must fail; a success there is printed as a warning.
#                    Each tool also gets CPU seconds (user + sys of it and its children, GNU
#                    time; the least of the runs) and the protocol and cipher nginx logged for
#                    its connections. Ours is also measured with one connection, against curl.
#   far              a far server behind a proxy that accepts at once (as a corporate proxy or a
#                    CDN edge does): bench/pace-proxy.py delays what passes each way by half of
#                    BENCH_FAR_MS (default 150) and its own connection to the server by a whole
#                    round trip, and paces every connection to BENCH_FAR_RATE (default 2m), every
#                    BENCH_SLOW_EVERY-th at BENCH_SLOW_RATE. Ours and aria2c only (one stream
#                    would take minutes), each with the requests nginx logged in its best run.
#   far-N            as far, with a round trip of N ms (far-50, far-300).
#   many             BENCH_MANY_FILES (default 40) files of BENCH_MANY_MB (default 2) MiB at
#                    once through the pacing proxy as throttled-paced (round trip
#                    BENCH_MANY_MS, default 0): ours --max-concurrent 8 against aria2c -j8.
#   trickle          one file of BENCH_TRICKLE_MB (default 16) from an address whose every
#                    connection is paced by bench/pace-proxy.py to BENCH_TRICKLE_FAST (default
#                    512k), ours alone against ours with a mirror beside it whose replies trickle at
#                    BENCH_TRICKLE_RATE (default 4k) after their first 16 KiB (so that it proves
#                    it serves the same file before it trickles); time, the ratio of the two
#                    (with the mirror / alone), and the bytes the mirror sent per run.
#   limit            one file of BENCH_LIMIT_MB (default 16) with a speed limit of BENCH_LIMIT
#                    (default 2M, in the client's own units: M = 1024k = 1048576 bytes) for the
#                    whole download: ours --limit-rate, aria2c --max-overall-download-limit,
#                    curl --limit-rate; time, and the rate kept as a share of the limit.
#
# All but plain fetch a file of BENCH_THROTTLED_MB (default 64). Rates are nginx sizes
# (k = 1024 bytes, m = 1024k). For each tool: time, MB/s, and the bytes nginx logged as sent
# during the run divided by the file size (1.00 means nothing was fetched twice). On plain and
# https, curl is also timed with its file flushed to disk afterwards, as ours always is before it
# takes the file's name. On https the ratios are ours/curl, ours/aria2c and ours/(curl, then sync)
# for speed (above 1.0: ours is faster) and for CPU seconds (above 1.0: ours uses more); ours
# writes its file to disk in its own time, so the last is the like-for-like CPU comparison.
#
#   bench/download.sh                            all profiles, files under /tmp
#   BENCH_PROFILES="throttled" bench/download.sh
#   BENCH_DIR=/dev/shm BENCH_SIZE_MB=256 BENCH_RUNS=5 bench/download.sh
#   BENCH_RATE=4m BENCH_SLOW_RATE=256k BENCH_SLOW_EVERY=3 BENCH_THROTTLED_MB=32 bench/download.sh
#   BENCH_PROFILES=https BENCH_HTTPS_MB=64 VANTOREL_CLI=build/vantorel-cli bench/download.sh
#   BENCH_PROFILES="far far-50 far-300 many" bench/download.sh
#   BENCH_PROFILES=trickle BENCH_RUNS=3 VANTOREL_CLI=build/vantorel-cli bench/download.sh
set -euo pipefail
cd "$(dirname "$0")/.."

profiles=${BENCH_PROFILES:-plain even throttled even-paced throttled-paced far far-50 far-300 many https limit trickle}
limit_mb=${BENCH_LIMIT_MB:-16}
limit=${BENCH_LIMIT:-2M}
size_mb=${BENCH_SIZE_MB:-1024}
throttled_mb=${BENCH_THROTTLED_MB:-64}
https_mb=${BENCH_HTTPS_MB:-256}
rate=${BENCH_RATE:-8m}
slow_rate=${BENCH_SLOW_RATE:-512k}
slow_every=${BENCH_SLOW_EVERY:-5}
far_ms=${BENCH_FAR_MS:-150}
far_rate=${BENCH_FAR_RATE:-2m}
many_files=${BENCH_MANY_FILES:-40}
many_mb=${BENCH_MANY_MB:-2}
many_ms=${BENCH_MANY_MS:-0}
trickle_mb=${BENCH_TRICKLE_MB:-16}
trickle_fast=${BENCH_TRICKLE_FAST:-512k}
trickle_rate=${BENCH_TRICKLE_RATE:-4k}
runs=${BENCH_RUNS:-3}
port=${BENCH_PORT:-18089}
base_dir=${BENCH_DIR:-/tmp}
https_port=$((port + 2))
with_https=0
case " $profiles " in *" https "*) with_https=1 ;; esac

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_missing() {
    local missing=()
    command -v nginx >/dev/null || missing+=(nginx-light)
    command -v aria2c >/dev/null || missing+=(aria2)
    command -v curl >/dev/null || missing+=(curl)
    command -v sha256sum >/dev/null || missing+=(coreutils)
    command -v python3 >/dev/null || missing+=(python3)
    if [ "$with_https" = 1 ]; then
        command -v openssl >/dev/null || missing+=(openssl)
        [ -x /usr/bin/time ] || missing+=(time)
    fi
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

mkdir -p "$work/www/plain" "$work/www/even" "$work/www/throttled" "$work/www/paced" \
    "$work/www/https" "$work/www/limit" "$work/www/many" "$work/www/fast" "$work/www/trickle" \
    "$work/out" "$work/tmp"
# Written to disk before anything is measured: otherwise the system writes the new file back
# while the first tool runs, and that tool's own writes wait behind it.
make_file() { # path MiB
    dd if=/dev/urandom of="$1" bs=1M count="$2" conv=fsync status=none
    chmod 644 "$1"
}
case " $profiles " in *" plain "*)
    echo "Making a ${size_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/plain/file.bin" "$size_mb"
    ;;
esac
case " $profiles " in *" limit "*)
    echo "Making a ${limit_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/limit/file.bin" "$limit_mb"
    ;;
esac
case " $profiles " in *" even"* | *" throttled"* | *" far"*)
    echo "Making a ${throttled_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/even/file.bin" "$throttled_mb"
    ln "$work/www/even/file.bin" "$work/www/throttled/file.bin"
    ln "$work/www/even/file.bin" "$work/www/paced/file.bin"
    ;;
esac

case " $profiles " in *" trickle "*)
    echo "Making a ${trickle_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/fast/file.bin" "$trickle_mb"
    ln "$work/www/fast/file.bin" "$work/www/trickle/file.bin"
    ;;
esac
case " $profiles " in *" many "*)
    echo "Making $many_files files of ${many_mb} MiB of random bytes in $work ..."
    for ((n = 1; n <= many_files; n++)); do make_file "$work/www/many/file-$n.bin" "$many_mb"; done
    ;;
esac

# The https profile's CA and server certificate, made for this run and deleted with $work. The
# bundle handed to ours is a file of trusted certificates holding just that CA.
: >"$work/https.conf"
if [ "$with_https" = 1 ]; then
    echo "Making a ${https_mb} MiB file of random bytes in $work ..."
    make_file "$work/www/https/file.bin" "$https_mb"
    head -c 65536 /dev/urandom >"$work/www/https/probe.bin"
    chmod 644 "$work/www/https/probe.bin"
    tls=$work/tls
    mkdir -m 700 "$tls"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc -days 2 \
        -subj "/CN=Vantorel benchmark CA (this run only)" -keyout "$tls/ca.key" -out "$tls/ca.pem" \
        2>"$tls/openssl.log"
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc -subj "/CN=localhost" \
        -keyout "$tls/server.key" -out "$tls/server.csr" 2>>"$tls/openssl.log"
    cat >"$tls/server.ext" <<EOF
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
        -CAcreateserial -days 2 -extfile "$tls/server.ext" -out "$tls/server.pem" \
        2>>"$tls/openssl.log"
    cp "$tls/ca.pem" "$tls/bundle.pem"
    openssl verify -CAfile "$tls/ca.pem" "$tls/server.pem" >/dev/null
    cat >"$work/https.conf" <<EOF
    server {
        listen 127.0.0.1:$https_port ssl;
        root $work/www;
        access_log $work/access.log body;
        access_log $work/tls.log tls;
        ssl_certificate $tls/server.pem;
        ssl_certificate_key $tls/server.key;
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305;
        ssl_prefer_server_ciphers off;
        ssl_session_cache shared:bench_tls:10m;
        ssl_session_timeout 1h;
        ssl_session_tickets off;
        keepalive_timeout 65s;
        keepalive_requests 10000;
    }
EOF
fi

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
    log_format tls '\$ssl_protocol \$ssl_cipher';
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
        location /trickle/ {
            limit_rate $trickle_rate;
            limit_rate_after 16k;
            access_log $work/trickle.log body;
        }
    }
    include $work/https.conf;
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

# Requests nginx has logged so far (one line each).
logged_requests() { wc -l <"$work/access.log"; }

# The checksum of a result: of the file, or for a folder of the checksums of its files.
digest_of() {
    if [ -d "$1" ]; then
        (cd "$1" && sha256sum -- * | sha256sum | cut -d' ' -f1)
    else
        sha256sum "$1" | cut -d' ' -f1
    fi
}
# Clears the place of a result: a file, or the folder "$1" when it is one.
clear_out() {
    if [ -d "$1" ]; then
        rm -rf "$1" && mkdir "$1"
    else
        rm -f "$1" "$1.aria2"
    fi
}

# Runs "$@" $runs times, checks each result (a file, or a folder of files), prints the best time
# in seconds, the bytes sent in that run divided by the file size, and the largest such quotient
# of all runs. With measure_cpu=1 each run is under GNU time, and the least CPU seconds of the
# runs follow: user + sys, user, sys. The requests nginx logged in the best run go to
# $work/requests.
measure_cpu=0
best_of() {
    local out=$1
    shift
    local best="" best_ratio="" worst_ratio=0 best_cpu="" best_requests=""
    for _ in $(seq "$runs"); do
        clear_out "$out"
        local before before_requests start end took sent ratio cpu requests
        before=$(logged_bytes)
        before_requests=$(logged_requests)
        start=$(date +%s.%N)
        if [ "$measure_cpu" = 1 ]; then
            /usr/bin/time -q -f "%U %S" -o "$work/cpu" "$@"
        else
            "$@"
        fi
        end=$(date +%s.%N)
        took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        sent=$(($(logged_bytes) - before))
        requests=$(($(logged_requests) - before_requests))
        ratio=$(awk -v s="$sent" -v n="$bytes" 'BEGIN { printf "%.3f", s / n }')
        if [ "$(digest_of "$out")" != "$want" ]; then
            echo "checksum mismatch for: $*" >&2
            exit 1
        fi
        if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then
            best=$took
            best_ratio=$ratio
            best_requests=$requests
        fi
        worst_ratio=$(awk -v a="$ratio" -v b="$worst_ratio" 'BEGIN { print (a > b ? a : b) }')
        if [ "$measure_cpu" = 1 ]; then
            cpu=$(tail -n 1 "$work/cpu" | awk '{ printf "%.2f %.2f %.2f", $1 + $2, $1, $2 }')
            if [ -z "$best_cpu" ] || awk -v c="${cpu%% *}" -v b="${best_cpu%% *}" 'BEGIN { exit !(c < b) }'; then
                best_cpu=$cpu
            fi
        fi
    done
    clear_out "$out"
    echo "$best_requests" >"$work/requests"
    echo "$best $best_ratio $worst_ratio $best_cpu"
}

rate_of() { awk -v n="$bytes" -v t="$1" 'BEGIN { printf "%.1f", n / 1000000 / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
report() { # name "time sent worst"
    local t s w
    read -r t s w _ <<<"$2"
    printf '  %-36s %8s s %9s MB/s   received %s x file (largest of runs %s)\n' \
        "$1" "$t" "$(rate_of "$t")" "$s" "$w"
}
report_cpu() { # name "time sent worst cpu user sys"
    local t s w c u y
    read -r t s w c u y <<<"$2"
    printf '  %-36s %8s s %9s MB/s %7s CPU s (user %s, sys %s)   received %s x file (largest of runs %s)\n' \
        "$1" "$t" "$(rate_of "$t")" "$c" "$u" "$y" "$s" "$w"
}
# Protocol and cipher of the requests nginx logged on https after line $1 of its TLS log.
tls_seen() {
    sleep 0.3
    tail -n +$(($1 + 1)) "$work/tls.log" | sort | uniq -c |
        awk '{ printf "%s%s %s (%d request%s)", (NR > 1 ? ", " : ""), $2, $3, $1, ($1 == 1 ? "" : "s") }'
}
tls_lines() { wc -l <"$work/tls.log"; }

# The limit profile: each tool told to keep the whole download under $limit bytes per second.
limit_profile() {
    local file="$work/www/limit/file.bin" url="http://127.0.0.1:$port/limit/file.bin" ours aria plain
    want=$(sha256sum "$file" | cut -d' ' -f1)
    bytes=$(stat -c %s "$file")
    local limit_bytes
    limit_bytes=$(awk -v l="$limit" 'BEGIN { n = l + 0; u = substr(l, length(l));
        if (u == "k" || u == "K") n *= 1024; if (u == "m" || u == "M") n *= 1048576; print n }')
    echo "== limit: ${limit_mb} MiB, at most $limit/s for the whole download (best of $runs)"
    ours=$(best_of "$work/out/ours.bin" "$cli" download --quiet --limit-rate "$limit" "$url" \
        -o "$work/out/ours.bin")
    aria=$(best_of "$work/out/aria.bin" aria2c -q -x8 -s8 --max-overall-download-limit="$limit" \
        --file-allocation=falloc --allow-overwrite=true --auto-file-renaming=false \
        -d "$work/out" -o aria.bin "$url")
    plain=$(best_of "$work/out/curl.bin" curl -s --limit-rate "$limit" -o "$work/out/curl.bin" "$url")
    for row in "vantorel-cli download --limit-rate $limit|$ours" \
        "aria2c --max-overall-download-limit|$aria" "curl --limit-rate $limit|$plain"; do
        local took=${row#*|}
        took=${took%% *}
        printf '  %-42s %8s s   kept %s of the limit (ideal %s s)\n' "${row%%|*}" "$took" \
            "$(awk -v n="$bytes" -v t="$took" -v l="$limit_bytes" 'BEGIN { printf "%.3f", n / t / l }')" \
            "$(awk -v n="$bytes" -v l="$limit_bytes" 'BEGIN { printf "%.2f", n / l }')"
    done
}

https_failed=0
# The https profile: ours is tried on a small file first, so that a certificate it cannot verify
# is reported as such, and then measured against curl and aria2c, each with CPU seconds.
https_profile() {
    local file="$work/www/https/file.bin" base="https://127.0.0.1:$https_port/https"
    local ca="$tls/ca.pem" bundle="$tls/bundle.pem" ours="" ours_tls="" single="" aria_tls curl_tls mark
    want=$(sha256sum "$file" | cut -d' ' -f1)
    bytes=$(stat -c %s "$file")
    url="$base/file.bin"
    echo "== https: ${https_mb} MiB, no limit, HTTP/1.1 over TLS, server certificate from a CA made" \
        "for this run (best of $runs; CPU s: the least of the runs)"
    rm -f "$work/out/probe.bin"
    if SSL_CERT_FILE="$bundle" "$cli" download --quiet --threads 8 "$base/probe.bin" \
        -o "$work/out/probe.bin" 2>"$work/ours.err" &&
        cmp -s "$work/out/probe.bin" "$work/www/https/probe.bin"; then
        rm -f "$work/out/probe.bin"
        if env -u SSL_CERT_FILE -u SSL_CERT_DIR "$cli" download --quiet --threads 8 \
            "$base/probe.bin" -o "$work/out/probe.bin" 2>/dev/null; then
            echo "  WARNING: vantorel-cli also downloaded without SSL_CERT_FILE, from a server whose CA" \
                "only SSL_CERT_FILE holds: it did not verify the certificate"
        fi
        rm -f "$work/out/probe.bin"
        measure_cpu=1
        mark=$(tls_lines)
        ours=$(best_of "$work/out/ours.bin" env SSL_CERT_FILE="$bundle" "$cli" download --quiet \
            --threads 8 "$url" -o "$work/out/ours.bin")
        ours_tls=$(tls_seen "$mark")
        single=$(best_of "$work/out/ours.bin" env SSL_CERT_FILE="$bundle" "$cli" download --quiet \
            --threads 1 "$url" -o "$work/out/ours.bin")
    else
        https_failed=1
    fi
    measure_cpu=1
    mark=$(tls_lines)
    aria=$(best_of "$work/out/aria.bin" aria2c -q -x8 -s8 --min-split-size=1M \
        --file-allocation=falloc --allow-overwrite=true --auto-file-renaming=false \
        --ca-certificate="$ca" -d "$work/out" -o aria.bin "$url")
    aria_tls=$(tls_seen "$mark")
    mark=$(tls_lines)
    plain=$(best_of "$work/out/curl.bin" curl -s --cacert "$ca" -o "$work/out/curl.bin" "$url")
    curl_tls=$(tls_seen "$mark")
    synced=$(best_of "$work/out/curl.bin" sh -c 'curl -s --cacert "$1" -o "$2" "$3" && sync "$2"' _ \
        "$ca" "$work/out/curl.bin" "$url")
    measure_cpu=0
    if [ -n "$ours" ]; then
        report_cpu "vantorel-cli download --threads 8" "$ours"
        echo "      TLS: $ours_tls"
        report_cpu "vantorel-cli download --threads 1" "$single"
    else
        printf '  %-36s FAILED over TLS with SSL_CERT_FILE=%s (a bundle holding the CA of this run):\n' \
            "vantorel-cli download --threads 8" "$bundle"
        sed 's/^/      /' "$work/ours.err"
    fi
    report_cpu "aria2c -x8 -s8 --min-split-size=1M" "$aria"
    echo "      TLS: $aria_tls"
    report_cpu "curl (one stream)" "$plain"
    echo "      TLS: $curl_tls"
    report_cpu "curl, then sync (on disk, as ours)" "$synced"
    if [ -n "$ours" ]; then
        local c_ours c_aria c_curl c_synced
        c_ours=$(cut -d' ' -f4 <<<"$ours")
        c_aria=$(cut -d' ' -f4 <<<"$aria")
        c_curl=$(cut -d' ' -f4 <<<"$plain")
        c_synced=$(cut -d' ' -f4 <<<"$synced")
        printf '  ratio ours/curl speed: %s   CPU: %s   ours/aria2c speed: %s   CPU: %s   ours/(curl, then sync) speed: %s   CPU: %s\n' \
            "$(ratio "${plain%% *}" "${ours%% *}")" "$(ratio "$c_ours" "$c_curl")" \
            "$(ratio "${aria%% *}" "${ours%% *}")" "$(ratio "$c_ours" "$c_aria")" \
            "$(ratio "${synced%% *}" "${ours%% *}")" "$(ratio "$c_ours" "$c_synced")"
        printf '  ratio ours with one connection/curl speed: %s   CPU: %s   /(curl, then sync) CPU: %s\n' \
            "$(ratio "${plain%% *}" "${single%% *}")" "$(ratio "$(cut -d' ' -f4 <<<"$single")" "$c_curl")" \
            "$(ratio "$(cut -d' ' -f4 <<<"$single")" "$c_synced")"
        echo "  (speed above 1.0: ours is faster; CPU above 1.0: ours uses more CPU time)"
    else
        echo "  ratios: none, ours did not download"
    fi
}

# Starts bench/pace-proxy.py on port $1 in front of nginx: rate, every how many connections the
# slow one, its rate, round trip in ms (nginx sizes for the rates).
start_proxy() {
    python3 bench/pace-proxy.py "$1" "$port" "$(size_bytes "$2")" "$3" "$(size_bytes "$4")" "$5" &
    proxy_pid=$!
    for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$1/" && break; sleep 0.1; done
}

# The many profile: every file at once, 8 downloads at a time, through the pacing proxy.
many_profile() {
    local proxy_port=$((port + 1)) urls=() n
    for ((n = 1; n <= many_files; n++)); do
        urls+=("http://127.0.0.1:$proxy_port/many/file-$n.bin")
    done
    want=$(digest_of "$work/www/many")
    bytes=$(stat -c %s "$work/www/many"/* | awk '{ s += $1 } END { printf "%.0f", s }')
    mkdir -p "$work/out/ours" "$work/out/aria"
    printf '%s\n' "${urls[@]}" >"$work/many.list"
    echo "== many: $many_files files of ${many_mb} MiB at once, every connection paced to $rate/s," \
        "$slow_text, round trip $many_ms ms (best of $runs)"
    start_proxy "$proxy_port" "$rate" "$slow_every" "$slow_rate" "$many_ms"
    ours=$(best_of "$work/out/ours" "$cli" download --quiet --max-concurrent 8 -d "$work/out/ours" \
        "${urls[@]}")
    aria=$(best_of "$work/out/aria" aria2c -q -j8 -x8 -s8 --min-split-size=1M \
        --file-allocation=falloc --allow-overwrite=true --auto-file-renaming=false \
        -d "$work/out/aria" -i "$work/many.list")
    # Ours puts each file on disk (a sync before it takes its name); aria2c never syncs. `sync`
    # of the folder's files after aria2c is the same promise.
    synced=$(best_of "$work/out/aria" sh -c 'aria2c "$@" && sync "$0"/*' "$work/out/aria" -q -j8 \
        -x8 -s8 --min-split-size=1M --file-allocation=falloc --allow-overwrite=true \
        --auto-file-renaming=false -d "$work/out/aria" -i "$work/many.list")
    stop_proxy
    report "vantorel-cli download --max-concurrent 8" "$ours"
    report "aria2c -j8 -x8 -s8 --min-split-size=1M" "$aria"
    report "aria2c, then sync (on disk, as ours)" "$synced"
    printf '  ratio ours/aria2c: %s   ours/(aria2c, then sync): %s   (speed; above 1.0 means ours is faster)\n' \
        "$(ratio "${aria%% *}" "${ours%% *}")" "$(ratio "${synced%% *}" "${ours%% *}")"
}

# Body bytes the trickling mirror has sent so far (its requests have a log of their own).
trickle_bytes() {
    sleep 0.3
    awk '{ s += $1 } END { printf "%.0f", s }' "$work/trickle.log"
}

# The trickle profile: ours with the first address alone, then with the trickling mirror too.
trickle_profile() {
    local file="$work/www/fast/file.bin" fast="http://127.0.0.1:$((port + 1))/fast/file.bin"
    local mirror="http://127.0.0.1:$port/trickle/file.bin" alone with before trickled
    want=$(sha256sum "$file" | cut -d' ' -f1)
    bytes=$(stat -c %s "$file")
    echo "== trickle: ${trickle_mb} MiB, every connection of the first address paced to $trickle_fast/s;" \
        "a mirror whose replies trickle at $trickle_rate/s after their first 16 KiB (best of $runs)"
    start_proxy $((port + 1)) "$trickle_fast" 0 0 0
    alone=$(best_of "$work/out/ours.bin" "$cli" download --quiet --threads 8 "$fast" \
        -o "$work/out/ours.bin")
    before=$(trickle_bytes)
    with=$(best_of "$work/out/ours.bin" "$cli" download --quiet --threads 8 "$fast" \
        --mirror "$mirror" -o "$work/out/ours.bin")
    trickled=$(($(trickle_bytes) - before))
    stop_proxy
    report "ours, the first address alone" "$alone"
    report "ours, with the trickling mirror" "$with"
    printf '  from the mirror: %s x file per run   ratio with the mirror / alone: %s   (time; 1.25 at most wanted)\n' \
        "$(awk -v s="$trickled" -v n="$bytes" -v r="$runs" 'BEGIN { printf "%.4f", s / n / r }')" \
        "$(ratio "${with%% *}" "${alone%% *}")"
}

slow_text="connections #${slow_every}, #$((slow_every * 2)), ... at $slow_rate/s"
for profile in $profiles; do
    folder=$profile
    url_port=$port
    far=0
    case $profile in
    plain) what="${size_mb} MiB, no limit" ;;
    https)
        https_profile
        continue
        ;;
    limit)
        limit_profile
        continue
        ;;
    trickle)
        trickle_profile
        continue
        ;;
    many)
        many_profile
        continue
        ;;
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
        start_proxy "$url_port" "$rate" "$every" "$slow_rate" 0
        ;;
    far | far-[0-9]*)
        folder=paced
        url_port=$((port + 1))
        far=1
        round_trip=$far_ms
        [ "$profile" = far ] || round_trip=${profile#far-}
        what="${throttled_mb} MiB from a server $round_trip ms away behind a proxy that accepts at"
        what="$what once, every connection paced to $far_rate/s, connections #${slow_every},"
        what="$what #$((slow_every * 2)), ... at $slow_rate/s"
        start_proxy "$url_port" "$far_rate" "$slow_every" "$slow_rate" "$round_trip"
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
    ours_requests=$(cat "$work/requests")
    aria=$(best_of "$work/out/aria.bin" aria2c -q -x8 -s8 --min-split-size=1M \
        --file-allocation=falloc --allow-overwrite=true --auto-file-renaming=false \
        -d "$work/out" -o aria.bin "$url")
    aria_requests=$(cat "$work/requests")
    report "vantorel-cli download --threads 8" "$ours"
    report "aria2c -x8 -s8 --min-split-size=1M" "$aria"
    if [ "$far" = 1 ]; then
        # Requests per 64 MiB, as nginx logged them in each tool's best run.
        printf '  requests per 64 MiB: ours %s, aria2c %s\n' \
            "$(awk -v r="$ours_requests" -v n="$bytes" 'BEGIN { printf "%.0f", r * 67108864 / n }')" \
            "$(awk -v r="$aria_requests" -v n="$bytes" 'BEGIN { printf "%.0f", r * 67108864 / n }')"
        printf '  ratio ours/aria2c: %s   (speed; above 1.0 means ours is faster)\n' \
            "$(ratio "${aria%% *}" "${ours%% *}")"
        stop_proxy
        continue
    fi
    plain=$(best_of "$work/out/curl.bin" curl -s -o "$work/out/curl.bin" "$url")
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
if [ "$https_failed" = 1 ]; then
    echo "https: vantorel-cli could not download over TLS with SSL_CERT_FILE naming the run's CA" \
        "(its error is above)" >&2
    exit 1
fi
