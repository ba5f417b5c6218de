#!/usr/bin/env bash
# morvane-recomd against nginx on this machine, under the same wrk load, in one run.
#
#   bench/service_bench.sh BUILD/service/morvane-recomd [DURATION]
#
# Builds nothing: give it a built binary (a Release build for figures worth writing down). It starts
# morvane-recomd on jieba's dictionary (or MORVANE_BENCH_CORPUS) on a free loopback port, measures its start-up
# (launch until the port answers) and resident memory, draws 2,000 random corpus words and turns each into a
# request for a 1-2 character prefix or substring of it, and runs `wrk -t2 -c64 -d$DURATION --latency` with
# those requests. Then it starts nginx (Debian's nginx-light) in the foreground with its own temporary prefix
# on another loopback port, serving a static JSON file as large as the service's mean reply, and runs the same
# load. The two loads alternate for ROUNDS rounds (MORVANE_BENCH_ROUNDS, default 3), since on a 2-core machine
# that also runs wrk the tail latency of either server varies from run to run. It prints requests/s and p99 of
# every round and their medians. Loopback only; everything it starts it stops, and it removes its temporary
# folder. DURATION defaults to 20s.
set -euo pipefail

readonly JIEBA=/usr/lib/python3/dist-packages/jieba/dict.txt
readonly TARGET_PATH=/recomword/recomWordCache_findRecomWord.htm
readonly SEEDS=2000

die() { printf 'service_bench: %s\n' "$*" >&2; exit 1; }

[ $# -ge 1 ] && [ $# -le 2 ] || die "usage: $0 path/to/morvane-recomd [duration, default 20s]"
binary=$(realpath "$1")
duration=${2:-20s}
rounds=${MORVANE_BENCH_ROUNDS:-3}
corpus=${MORVANE_BENCH_CORPUS:-$JIEBA}
[ -x "$binary" ] || die "not an executable: $1"
[[ "$rounds" =~ ^[1-9]$ ]] || die "MORVANE_BENCH_ROUNDS must be 1 to 9"
[ -r "$corpus" ] || die "no corpus at $corpus (install python3-jieba or set MORVANE_BENCH_CORPUS)"
for tool in wrk nginx curl ss shuf; do
    command -v "$tool" >/dev/null || die "needs $tool"
done
script_dir=$(cd "$(dirname "$0")" && pwd)
lua="$script_dir/service_requests.lua"

work=$(mktemp -d /tmp/morvane-service-bench.XXXXXX)
chmod 755 "$work" # nginx's workers run as nobody and must read the reply file
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A loopback port that nothing listens on now.
free_port() {
    local port
    for _ in $(seq 200); do
        port=$((20000 + RANDOM % 40000))
        if [ -z "$(ss -Hltn "sport = :$port")" ]; then
            echo "$port"
            return
        fi
    done
    die "found no free port"
}

now_ns() { date +%s%N; }

# Waits until url answers (any HTTP status); prints the milliseconds since start_ns.
wait_for() {
    local url=$1 start_ns=$2 pid=$3
    for _ in $(seq 3000); do
        kill -0 "$pid" 2>/dev/null || die "the server exited before answering; see $work"
        if curl -s -o /dev/null --max-time 1 "$url"; then
            echo $((($(now_ns) - start_ns) / 1000000))
            return
        fi
        sleep 0.005
    done
    die "no answer from $url within 15 s"
}

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
hwm_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }

# Runs the load against url; prints "requests/s p99" and keeps wrk's report.
run_wrk() {
    local url=$1 report=$2
    timeout 300 wrk -t2 -c64 -d"$duration" --latency -s "$lua" "$url" -- "$work/targets.txt" >"$report"
    local rps p99
    rps=$(awk '/^Requests\/sec:/ { print $2 }' "$report")
    p99=$(awk '$1 == "99%" { print $2 }' "$report")
    [ -n "$rps" ] && [ -n "$p99" ] || die "could not read wrk's report: $(cat "$report")"
    if grep -q 'Non-2xx' "$report"; then
        die "non-2xx replies under load: $(grep 'Non-2xx' "$report")"
    fi
    echo "$rps $p99"
}

# 2,000 corpus words, each cut to a 1-2 character prefix (half of them) or substring, percent-encoded as UTF-8,
# with a random area id. Same words and cuts on every run.
cut -d' ' -f1 "$corpus" | shuf -n "$SEEDS" --random-source=<(yes) |
    LC_ALL=C awk -v path="$TARGET_PATH" '
    BEGIN {
        srand(42)
        for (i = 1; i < 256; i++) byte[sprintf("%c", i)] = i
        keep = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-."
    }
    {
        n = 0
        for (i = 1; i <= length($0); i++) {
            b = byte[substr($0, i, 1)]
            if (b < 128 || b >= 192) start[++n] = i
        }
        start[n + 1] = length($0) + 1
        len = (rand() < 0.5) ? 1 : 2
        if (len > n) len = n
        from = (rand() < 0.5) ? 1 : 1 + int(rand() * (n - len + 1))
        seed = substr($0, start[from], start[from + len] - start[from])
        encoded = ""
        for (i = 1; i <= length(seed); i++) {
            c = substr(seed, i, 1)
            encoded = encoded (index(keep, c) ? c : sprintf("%%%02X", byte[c]))
        }
        printf "%s?area_id=%d&word=%s&ie=utf-8\n", path, int(rand() * 31), encoded
    }' >"$work/targets.txt"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# --- morvane-recomd ---------------------------------------------------------------------------------------------
service_port=$(free_port)
service_url="http://127.0.0.1:$service_port"
start_ns=$(now_ns)
"$binary" --listen "127.0.0.1:$service_port" --corpus "$corpus" --quiet 2>"$work/service.log" &
service_pid=$!
pids+=("$service_pid")
startup_ms=$(wait_for "$service_url/" "$start_ns" "$service_pid")
rss_start=$(rss_kib "$service_pid")

# The mean reply over the first 200 targets sizes nginx's file.
total=0
count=0
while IFS= read -r target && [ $count -lt 200 ]; do
    size=$(curl -s -o /dev/null -w '%{size_download}' "$service_url$target")
    total=$((total + size))
    count=$((count + 1))
done <"$work/targets.txt"
mean_reply=$((total / count))

# --- nginx --------------------------------------------------------------------------------------------------------
nginx_port=$(free_port)
mkdir -p "$work/nginx/logs" "$work/nginx/tmp" "$work/www${TARGET_PATH%/*}"
head -c "$mean_reply" /dev/zero | tr '\0' ' ' >"$work/www$TARGET_PATH"
chmod -R a+rX "$work/www"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_requests 1000000;
    # nginx at its best for a static file: no open/stat/read per request.
    sendfile on;
    tcp_nopush on;
    open_file_cache max=16 inactive=60s;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    types { }
    default_type "application/json; charset=utf-8";
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/logs/error.log" &
nginx_pid=$!
pids+=("$nginx_pid")
wait_for "http://127.0.0.1:$nginx_port$TARGET_PATH" "$(now_ns)" "$nginx_pid" >/dev/null

# --- the loads, alternating ------------------------------------------------------------------------------------
service_rps=() service_p99=() nginx_rps=() nginx_p99=()
for round in $(seq "$rounds"); do
    result=$(run_wrk "$service_url" "$work/wrk-service-$round.txt")
    read -r rps p99 <<<"$result"
    service_rps+=("$rps") service_p99+=("$p99")
    result=$(run_wrk "http://127.0.0.1:$nginx_port" "$work/wrk-nginx-$round.txt")
    read -r rps p99 <<<"$result"
    nginx_rps+=("$rps") nginx_p99+=("$p99")
done
rss_after=$(rss_kib "$service_pid")
hwm=$(hwm_kib "$service_pid")
kill -TERM "$service_pid"
service_exit=0
wait "$service_pid" || service_exit=$?
pids=("$nginx_pid")

# --- report -------------------------------------------------------------------------------------------------------
# wrk prints latencies as 812.00us, 1.38ms or 1.02s; in milliseconds for sorting.
to_ms() { awk -v t="$1" 'BEGIN { v = t + 0; if (t ~ /us$/) v /= 1000; else if (t ~ /s$/ && t !~ /ms$/) v *= 1000; printf "%.2f", v }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ms_list() { local t; for t in "$@"; do to_ms "$t"; echo; done; }

mapfile -t service_p99_ms < <(ms_list "${service_p99[@]}")
mapfile -t nginx_p99_ms < <(ms_list "${nginx_p99[@]}")
service_rps_median=$(median "${service_rps[@]}")
nginx_rps_median=$(median "${nginx_rps[@]}")
ratio=$(awk -v a="$service_rps_median" -v b="$nginx_rps_median" 'BEGIN { printf "%.2f", a / b }')

echo "corpus: $corpus ($(wc -l <"$corpus") lines); $SEEDS random seeds of 1-2 characters"
echo "load: wrk -t2 -c64 -d$duration --latency, $rounds rounds, morvane-recomd and nginx alternating"
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "morvane-recomd start-up (launch until the port answers): $startup_ms ms; it reports: $(grep -o 'ready in [0-9.]* s' "$work/service.log" || echo '?')"
echo "morvane-recomd resident memory: $((rss_start / 1024)) MiB after start-up, $((rss_after / 1024)) MiB after the load (peak $((hwm / 1024)) MiB)"
echo "mean reply: $mean_reply bytes (nginx serves a static file of that size)"
printf '%-8s %-22s %-22s\n' round "morvane-recomd" "nginx (static file)"
for i in $(seq 0 $((rounds - 1))); do
    printf '%-8s %10s/s %6s ms   %10s/s %6s ms\n' $((i + 1)) "${service_rps[$i]}" "${service_p99_ms[$i]}" \
        "${nginx_rps[$i]}" "${nginx_p99_ms[$i]}"
done
printf '%-8s %10s/s %6s ms   %10s/s %6s ms\n' median "$service_rps_median" "$(median "${service_p99_ms[@]}")" \
    "$nginx_rps_median" "$(median "${nginx_p99_ms[@]}")"
echo "throughput ratio of the medians (morvane-recomd / nginx): $ratio"
echo "morvane-recomd exit status after SIGTERM: $service_exit"
