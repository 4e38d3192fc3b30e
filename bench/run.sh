#!/usr/bin/env bash
# Kelp's benchmarks, each against a yardstick measured in the same run:
#
#   1. the main index page against nginx serving the same bytes, 16 clients;
#   2. CPU per load graph request against gd alone drawing the same picture;
#   3. throughput at 25 and 50 clients against 16;
#   4. one sampling tick on the real /proc, alone and beside 25 threads
#      drawing ring-0 load graphs;
#   5. the idle daemon: CPU over a minute, memory after start and after
#      10,000 requests, and its peak resident set while 25 graph requests
#      run at once;
#   6. CPU per /metrics scrape against Debian's prometheus-node-exporter with
#      only its loadavg, meminfo and netdev collectors, and again with the
#      CPU module on against the exporter with its cpu collector too;
#   7. graphs per second from 25 clients against 1: graphs drawn several at
#      a time use every core.
#
# The idle daemon samples with the CPU module on, as the tick figures do.
#
# Every comparison runs ROUNDS times, its two sides interleaved, and the
# median of the per-round ratios is what is held to the target: on a shared,
# noisy machine only figures taken side by side mean anything.
#
#   bench/run.sh [BUILD_DIR]      (default build-bench; `make bench` builds it)
#
# Environment: ROUNDS (5), RUN_SECONDS (3, per throughput run), IDLE_SECONDS
# (60), GRAPHS (300 per round), BURST (1000 graph requests from 25 clients),
# SCRAPES (2000 per round), NGINX (nginx from
# PATH or /usr/sbin/nginx), NODE_EXPORTER (prometheus-node-exporter),
# KEEP_SCRATCH=1 keeps the scratch directory with the logs.
set -euo pipefail

build=${1:-build-bench}
ROUNDS=${ROUNDS:-5}
RUN_SECONDS=${RUN_SECONDS:-3}
IDLE_SECONDS=${IDLE_SECONDS:-60}
GRAPHS=${GRAPHS:-300}
BURST=${BURST:-1000}
NGINX=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
SCRAPES=${SCRAPES:-2000}
NODE_EXPORTER=${NODE_EXPORTER:-$(command -v prometheus-node-exporter || echo /usr/bin/prometheus-node-exporter)}

kelp=$build/Kelp
loadgen=$build/bench/loadgen
reference=$build/bench/graph_reference
tick_bench=$build/bench/tick_bench
for program in "$kelp" "$loadgen" "$reference" "$tick_bench"; do
    [ -x "$program" ] || { echo "run.sh: $program is missing; build the target bench_programs" >&2; exit 2; }
done
[ -x "$NGINX" ] || { echo "run.sh: no nginx at $NGINX (make deps-bench installs it)" >&2; exit 2; }
[ -x "$NODE_EXPORTER" ] || { echo "run.sh: no node exporter at $NODE_EXPORTER (make deps-bench installs it)" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kelp-bench.XXXXXX")
# nginx's workers drop to an unprivileged user and must read the page.
chmod 755 "$scratch"
results=$build/bench/results.txt
: >"$results"

kelp_pids=" "
nginx_pid=
exporter_pid=

# A child that has ended stays a zombie until it is waited for, and kill -0
# still finds it.
running() { [ -e "/proc/$1" ] && ! sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | grep -q '^Z'; }

# stop_pid SIGNAL PID: the signal, five seconds' grace, then SIGKILL.
stop_pid() {
    kill "-$1" "$2" 2>/dev/null || return 0
    for _ in $(seq 1 50); do
        running "$2" || break
        sleep 0.1
    done
    if running "$2"; then
        echo "run.sh: $2 ignored SIG$1; killing it" >&2
        kill -KILL "$2" 2>/dev/null || true
    fi
    wait "$2" 2>/dev/null || true
}

stop_kelp() {
    stop_pid INT "$1"
    kelp_pids=${kelp_pids/ $1 / }
}

stop_nginx() {
    if [ -n "$nginx_pid" ]; then stop_pid TERM "$nginx_pid"; fi
    nginx_pid=
}

cleanup() {
    stop_nginx
    if [ -n "$exporter_pid" ]; then stop_pid TERM "$exporter_pid"; fi
    for pid in $kelp_pids; do stop_kelp "$pid"; done
    if [ "${KEEP_SCRATCH:-0}" = 1 ]; then echo "scratch kept in $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { echo "$*" | tee -a "$results"; }
fail() {
    echo "run.sh: $*" >&2
    exit 1
}

# --- figures ----------------------------------------------------------------

# value KEY LINE: the value of KEY=... in one of loadgen's lines.
value() { awk -v k="$1" '{for (i = 1; i <= NF; i++) { n = index($i, "="); if (substr($i, 1, n - 1) == k) print substr($i, n + 1) }}' <<<"$2"; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }
highest() { printf '%s\n' "$@" | sort -g | tail -n 1; }
calc() { awk "BEGIN {printf \"%.${2:-3}f\", $1}"; }
verdict() { awk -v v="$1" -v t="$3" "BEGIN {print (v $2 t) ? \"met\" : \"MISSED\"}"; }

# say_series LABEL UNIT ROUND...: the median of the rounds, and the rounds.
say_series() {
    local label=$1 unit=$2
    shift 2
    say "$label median $(median "$@") $unit (rounds: $*)"
}
# say_ratio LABEL OP TARGET ROUND...: the same for a ratio, with its verdict.
say_ratio() {
    local label=$1 op=$2 target=$3 m
    shift 3
    m=$(median "$@")
    say "ratio $label: median $m (rounds: $*) -- target $op $target: $(verdict "$m" "$op" "$target")"
}

# CPU of a whole process, dead threads included, in clock ticks.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# The same for its live threads, to the nanosecond.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {printf "%.0f", s}'; }
status_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }

# Where a process's anonymous memory lies, from /proc/PID/smaps: thread stacks
# (below a one-page guard), malloc's thread arenas (64 MB aligned heaps), the
# main heap, pages of the program and its libraries written since loading, and
# the rest, which holds Kelp's history rings.
anon_breakdown() {
    local line start end perms inode name prev_end=0 prev_perms= prev_size=0 cur=other
    local -A kb=() count=()
    while read -r line; do
        case $line in
        [0-9a-f]*-[0-9a-f]*" "*)
            read -r range perms _ _ inode name <<<"$line"
            start=$((16#${range%-*})) end=$((16#${range#*-}))
            if [ -n "$name" ]; then
                case $name in
                "[heap]") cur=heap ;;
                "[stack]") cur=main_stack ;;
                /*) cur=files ;;
                *) cur=other ;;
                esac
            elif [ "$prev_perms" = "---p" ] && [ "$prev_size" = 4096 ] && [ "$prev_end" = "$start" ]; then
                cur=thread_stacks
            elif [ $((start % (64 << 20))) = 0 ] && [ "$perms" = "rw-p" ]; then
                cur=arenas
            else
                cur=other
            fi
            prev_end=$end prev_perms=$perms prev_size=$((end - start))
            [ -z "$name" ] || prev_perms=named
            ;;
        Anonymous:*)
            read -r _ v _ <<<"$line"
            if [ "$v" -gt 0 ]; then
                kb[$cur]=$((${kb[$cur]:-0} + v))
                count[$cur]=$((${count[$cur]:-0} + 1))
            fi
            ;;
        esac
    done <"/proc/$1/smaps"
    echo "rings and other anonymous ${kb[other]:-0} kB; malloc thread arenas ${kb[arenas]:-0} kB" \
        "(${count[arenas]:-0}); thread stacks ${kb[thread_stacks]:-0} kB (${count[thread_stacks]:-0});" \
        "main heap ${kb[heap]:-0} kB; written library and program pages ${kb[files]:-0} kB;" \
        "main stack ${kb[main_stack]:-0} kB"
}

# Run time of each live thread, in thread id order, to the nanosecond.
thread_ns() { for t in /proc/"$1"/task/*; do echo "${t##*/} $(cut -d' ' -f1,3 "$t/schedstat")"; done | sort -n; }
hz=$(getconf CLK_TCK)

# --- servers ----------------------------------------------------------------

taken_ports=" "
free_port() {
    local p
    for _ in $(seq 1 100); do
        p=$((20000 + RANDOM % 10000))
        case $taken_ports in *" $p "*) continue ;; esac
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            taken_ports="$taken_ports$p "
            echo "$p"
            return 0
        fi
    done
    return 1
}

# wait_up PID PORT [STATUS_LINE]: until the server answers a GET /, or it dies.
wait_up() {
    for _ in $(seq 1 100); do
        kill -0 "$1" 2>/dev/null || return 1
        "$loadgen" -p "$2" -o /dev/null -e "${3:-HTTP/1.1 200 OK}" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# start_kelp NAME [CONFIG_LINE]: sets pid and port. A port that another
# program takes in the meantime costs one more try.
start_kelp() {
    local name=$1 extra=${2:-}
    for _ in 1 2 3; do
        port=$(free_port) || fail "no free loopback port"
        printf 'httpd.host 127.0.0.1\nhttpd.port %s\n%s\n' "$port" "$extra" >"$scratch/$name.conf"
        "$kelp" -f "$scratch/$name.conf" >"$scratch/$name.log" 2>&1 &
        pid=$!
        kelp_pids="$kelp_pids$pid "
        wait_up "$pid" "$port" && return 0
        stop_kelp "$pid"
    done
    fail "Kelp did not come up; see $scratch/$name.log"
}

start_nginx() {
    local dir=$scratch/nginx
    mkdir -p "$dir"
    for _ in 1 2 3; do
        nginx_port=$(free_port) || fail "no free loopback port"
        cat >"$dir/nginx.conf" <<EOF
worker_processes 2;
daemon off;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
    default_type text/html;
    sendfile on;
    access_log $dir/access.log;
    client_body_temp_path $dir/body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $scratch/www;
        index index.html;
    }
}
EOF
        "$NGINX" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" >"$dir/stdout.log" 2>&1 &
        nginx_pid=$!
        wait_up "$nginx_pid" "$nginx_port" && return 0
        stop_nginx
    done
    fail "nginx did not come up; see $dir/error.log"
}

# throughput PORT CLIENTS: requests per second of the index page.
throughput() {
    local out
    out=$("$loadgen" -p "$1" -c "$2" -s "$RUN_SECONDS" -l) || fail "load run on port $1 had errors: $out"
    echo "    port $1, $2 clients: $out" >>"$scratch/runs.log"
    value rate "$out"
}

index_ask='GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n'
graph_ask='GET /MOD_LOAD?grafinterval_1 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n'

# --- the machine ----------------------------------------------------------------

say "# Kelp benchmarks"
say "date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
say "cpu:     $(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo), $(nproc) cores"
say "kernel:  $(uname -sr)"
say "debian:  $(cat /etc/debian_version 2>/dev/null || echo unknown)"
say "nginx:   $("$NGINX" -v 2>&1 | sed 's/.*: //')"
say "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
say "rounds:  $ROUNDS, throughput runs of $RUN_SECONDS s"
say ""

# Daemon A stays idle for the minute and then takes 10,000 requests; daemon B,
# started at the same time, gathers a history for its graphs meanwhile and
# then carries the load runs.
cpu_on='module.cpu.enable 1'
start_kelp idle "$cpu_on"
idle_pid=$pid idle_port=$port
start_kelp load
kelp_pid=$pid kelp_port=$port

# --- 5. the idle daemon -------------------------------------------------------

sleep 2
rss_start=$(status_kb "$idle_pid" VmRSS)
anon_start=$(status_kb "$idle_pid" RssAnon)
ticks0=$(cpu_ticks "$idle_pid")
ns0=$(cpu_ns "$idle_pid")
threads0=$(thread_ns "$idle_pid")
echo "idle minute: $IDLE_SECONDS s ..." >&2
sleep "$IDLE_SECONDS"
ticks1=$(cpu_ticks "$idle_pid")
ns1=$(cpu_ns "$idle_pid")
threads1=$(thread_ns "$idle_pid")
anon_start_detail=$(anon_breakdown "$idle_pid")
# Threads in order of creation: main, sampling, listener.
per_thread=$(paste -d' ' <(echo "$threads0") <(echo "$threads1") |
    awk -v s="$IDLE_SECONDS" 'BEGIN {split("main sampling listener", n)}
        $1 == $4 {printf "%s%s %.2f ms in %d runs", sep, (NR in n) ? n[NR] : "thread " $1, ($5 - $2) / 1e6 * 60 / s, ($6 - $3) * 60 / s; sep = "; "}')
idle_ms=$(calc "($ns1 - $ns0) / 1e6 * 60 / $IDLE_SECONDS" 2)
idle_tick_ms=$(calc "($ticks1 - $ticks0) * 1000 / $hz * 60 / $IDLE_SECONDS" 0)

echo "10,000 requests ..." >&2
mix=(-r "$index_ask" -r "$graph_ask" -r 'GET /interval.html?1 HTTP/1.0\r\n\r\n'
    -r 'GET /MOD_MEMSWAP/grafinterval_1 HTTP/1.0\r\n\r\n' -r 'GET /MOD_LOAD?overview HTTP/1.0\r\n\r\n')
out=$("$loadgen" -p "$idle_port" -c 16 -n 10000 "${mix[@]}") || fail "the 10,000 requests had errors: $out"
echo "    mixed requests: $out" >>"$scratch/runs.log"
sleep 2
rss_after=$(status_kb "$idle_pid" VmRSS)
anon_after=$(status_kb "$idle_pid" RssAnon)
threads_after=$(status_kb "$idle_pid" Threads)
anon_after_detail=$(anon_breakdown "$idle_pid")

# The peak from here on: writing 5 to clear_refs sets VmHWM to the present
# resident set.
echo "25 graph requests at once ..." >&2
echo 5 >"/proc/$idle_pid/clear_refs" || fail "cannot reset the peak resident set of $idle_pid"
rss_before_burst=$(status_kb "$idle_pid" VmRSS)
out=$("$loadgen" -p "$idle_port" -c 25 -n "$BURST" -r "$graph_ask") || fail "the 25 concurrent graph clients had errors: $out"
echo "    25 graph clients: $out" >>"$scratch/runs.log"
hwm_burst=$(status_kb "$idle_pid" VmHWM)
anon_burst=$(status_kb "$idle_pid" RssAnon)
stop_kelp "$idle_pid"

say "## 5. Idle daemon"
say "CPU over ${IDLE_SECONDS} s idle: $idle_ms ms per minute (live threads' run time; /proc/PID/stat: $idle_tick_ms ms at 1/$hz s)" \
    "-- target <= 10 ms: $(verdict "$idle_ms" "<=" 10)"
say "per thread, per minute: $per_thread"
say "after start:           VmRSS $rss_start kB, RssAnon $anon_start kB" \
    "-- target RssAnon <= 5120 kB: $(verdict "$anon_start" "<=" 5120)"
say "    at the end of the idle minute: $anon_start_detail"
say "after 10,000 requests: VmRSS $rss_after kB, RssAnon $anon_after kB ($threads_after threads; mix of /, two graphs, two pages)" \
    "-- target RssAnon <= 6656 kB: $(verdict "$anon_after" "<=" 6656)"
say "    $anon_after_detail"
say "25 graph requests at once ($BURST in all): peak VmHWM $hwm_burst kB (VmRSS $rss_before_burst kB before;" \
    "RssAnon $anon_burst kB after) -- target VmHWM <= 20480 kB: $(verdict "$hwm_burst" "<=" 20480)"
say ""

# --- 1. HTML against nginx ------------------------------------------------------

mkdir -p "$scratch/www"
"$loadgen" -p "$kelp_port" -o "$scratch/www/index.html" >/dev/null || fail "could not fetch Kelp's index page"
chmod 755 "$scratch/www"
chmod 644 "$scratch/www/index.html"
start_nginx
"$loadgen" -p "$nginx_port" -o "$scratch/nginx-index.html" >/dev/null || fail "nginx does not serve the page"
cmp -s "$scratch/www/index.html" "$scratch/nginx-index.html" || fail "nginx serves other bytes than Kelp"
page_bytes=$(wc -c <"$scratch/www/index.html")

echo "HTML: Kelp against nginx ..." >&2
RUN_SECONDS=1 throughput "$kelp_port" 16 >/dev/null  # warm-up
RUN_SECONDS=1 throughput "$nginx_port" 16 >/dev/null
kelp_rates=() nginx_rates=() html_ratios=()
for r in $(seq 1 "$ROUNDS"); do
    if [ $((r % 2)) = 1 ]; then
        k=$(throughput "$kelp_port" 16)
        n=$(throughput "$nginx_port" 16)
    else
        n=$(throughput "$nginx_port" 16)
        k=$(throughput "$kelp_port" 16)
    fi
    kelp_rates+=("$k") nginx_rates+=("$n") html_ratios+=("$(calc "$k / $n")")
done
stop_nginx
html_ratio=$(median "${html_ratios[@]}")
say "## 1. Main index page against nginx (16 clients, one request per connection, $page_bytes-byte body)"
say_series "Kelp: " requests/s "${kelp_rates[@]}"
say_series "nginx:" requests/s "${nginx_rates[@]}"
say_ratio Kelp/nginx ">=" 0.5 "${html_ratios[@]}"
say ""

# --- 3. more clients ----------------------------------------------------------

echo "Full server: 16, 25 and 50 clients ..." >&2
r16=() r25=() r50=() q25=() q50=()
for r in $(seq 1 "$ROUNDS"); do
    declare -A got=()
    case $((r % 3)) in
        1) order="16 25 50" ;;
        2) order="25 50 16" ;;
        *) order="50 16 25" ;;
    esac
    for c in $order; do got[$c]=$(throughput "$kelp_port" "$c"); done
    r16+=("${got[16]}") r25+=("${got[25]}") r50+=("${got[50]}")
    q25+=("$(calc "${got[25]} / ${got[16]}")") q50+=("$(calc "${got[50]} / ${got[16]}")")
    unset got
done
m25=$(median "${q25[@]}") m50=$(median "${q50[@]}")
say "## 3. Full server: the index page at 16, 25 and 50 clients"
say_series "16 clients:" requests/s "${r16[@]}"
say_series "25 clients:" requests/s "${r25[@]}"
say_series "50 clients:" requests/s "${r50[@]}"
say_ratio 25/16 ">=" 0.9 "${q25[@]}"
say_ratio 50/16 ">=" 0.9 "${q50[@]}"
say ""

# --- 4. the tick --------------------------------------------------------------

echo "Sampling tick ..." >&2
printf 'module.cpu.enable 1\n' >"$scratch/tick.conf"
tick_out=$("$tick_bench" 2000 "$ROUNDS" 20 300 25 "$scratch/tick.conf" 2>>"$scratch/tick.log")
echo "$tick_out" >>"$scratch/runs.log"
tick_line=$(tail -n 1 <<<"$tick_out")
tick_us=$(value tick_median_us "$tick_line")
say "## 4. Sampling tick, Linux backend on the real /proc (2000 ticks x $ROUNDS runs, called directly)"
say "back to back: median $tick_us us per tick, 90th percentile $(value tick_p90_us "$tick_line") us;" \
    "thread CPU $(value tick_cpu_us "$tick_line") us per tick (user $(value tick_user_us "$tick_line")," \
    "system $(value tick_system_us "$tick_line"))"
say "spaced 100 ms apart (cold caches, as in the daemon): median $(value spaced_cpu_us "$tick_line") us thread CPU" \
    "per tick over $(value spaced_ticks "$tick_line") ticks; x 60 = $(calc "$(value spaced_cpu_us "$tick_line") * 60 / 1000" 2) ms per minute"
loaded_p99=$(value loaded_p99_us "$tick_line") loaded_max=$(value loaded_max_us "$tick_line")
say "beside 25 threads drawing ring-0 load graphs ($(value loaded_ticks "$tick_line") ticks 10 ms apart, wall time):" \
    "median $(value loaded_median_us "$tick_line") us, p99 $loaded_p99 us, max $loaded_max us" \
    "-- targets p99 <= 1000 us: $(verdict "$loaded_p99" "<=" 1000), max <= 5000 us: $(verdict "$loaded_max" "<=" 5000)"
say ""

# --- 2. graphs against gd alone -------------------------------------------------

echo "Graphs: Kelp against gd alone ..." >&2
kelp_cpu=() ref_cpu=() graph_ratios=() kelp_png=() ref_png=() differing=() same_bytes=()
"$loadgen" -p "$kelp_port" -c 1 -n 20 -r "$graph_ask" >/dev/null || fail "graph warm-up failed"
for r in $(seq 1 "$ROUNDS"); do
    png=$scratch/graph-$r.png
    "$loadgen" -p "$kelp_port" -o "$png" -r "$graph_ask" >/dev/null || fail "could not fetch a graph"
    kelp_round() {
        local t0 t1 out
        t0=$(cpu_ticks "$kelp_pid")
        out=$("$loadgen" -p "$kelp_port" -c 1 -n "$GRAPHS" -r "$graph_ask") || fail "graph requests had errors: $out"
        t1=$(cpu_ticks "$kelp_pid")
        echo "    graphs: $out" >>"$scratch/runs.log"
        calc "($t1 - $t0) * 1e6 / $hz / $GRAPHS" 1
    }
    if [ $((r % 2)) = 1 ]; then
        k=$(kelp_round)
        ref=$("$reference" -i "$png" -n "$GRAPHS")
    else
        ref=$("$reference" -i "$png" -n "$GRAPHS")
        k=$(kelp_round)
    fi
    f=$(value cpu_us_per_graph "$ref") d=$(value differing_pixels "$ref")
    # A reference that drew another picture measured another cost.
    [ "$d" = 0 ] || fail "round $r: the reference's graph differs from Kelp's in ${d:-?} pixels ($ref)"
    kelp_cpu+=("$k") ref_cpu+=("$f") graph_ratios+=("$(calc "$k / $f")")
    kelp_png+=("$(wc -c <"$png")") ref_png+=("$(value png_bytes "$ref")") differing+=("$d")
    same_bytes+=("$(value same_png_bytes "$ref")")
done
graph_ratio=$(median "${graph_ratios[@]}")
say "## 2. Load graph (/MOD_LOAD?grafinterval_1): CPU per request against gd alone ($GRAPHS graphs per round, 1 client)"
say_series "Kelp:     " "us CPU per request, whole process" "${kelp_cpu[@]}"
say_series "reference:" "us CPU per draw and encode" "${ref_cpu[@]}"
say_ratio Kelp/reference "<=" 1.15 "${graph_ratios[@]}"
say "same picture, fetched from Kelp before each round: PNG bytes Kelp ${kelp_png[*]}, reference ${ref_png[*]};" \
    "pixels differing of 75000: ${differing[*]}; the same PNG bytes: ${same_bytes[*]}"
say ""

# --- 7. graphs at once ---------------------------------------------------------

# graph_rates CLIENTS: graphs per second from that many clients, as measured
# and with the load generator's own CPU time taken off the run's wall time.
# It shares the two cores with the daemon; what it spent is time the daemon
# would have had to itself.
graph_rates() {
    local out
    out=$("$loadgen" -p "$kelp_port" -c "$1" -n "$BURST" -r "$graph_ask") || fail "graph requests from $1 clients had errors: $out"
    echo "    graphs from $1 clients: $out" >>"$scratch/runs.log"
    echo "$(value rate "$out") $(calc "$(value answers "$out") / ($(value seconds "$out") - $(value cpu_s "$out"))" 1) $(value cpu_s "$out")"
}

echo "Graphs at once: 25 clients against 1 ..." >&2
g1=() g25=() g1_raw=() g25_raw=() g_ratios=() g_raw_ratios=() gen_cpu=()
for r in $(seq 1 "$ROUNDS"); do
    if [ $((r % 2)) = 1 ]; then
        read -r a1 c1 l1 <<<"$(graph_rates 1)"
        read -r a25 c25 l25 <<<"$(graph_rates 25)"
    else
        read -r a25 c25 l25 <<<"$(graph_rates 25)"
        read -r a1 c1 l1 <<<"$(graph_rates 1)"
    fi
    g1+=("$c1") g25+=("$c25") g1_raw+=("$a1") g25_raw+=("$a25") gen_cpu+=("$l1/$l25")
    g_ratios+=("$(calc "$c25 / $c1")") g_raw_ratios+=("$(calc "$a25 / $a1")")
done
at_once_ratio=$(median "${g_ratios[@]}")
say "## 7. Graphs at once: /MOD_LOAD?grafinterval_1 from 25 clients against 1 ($BURST graphs per run)"
say_series "1 client:  " "graphs/s, load generator's CPU off the wall time" "${g1[@]}"
say_series "25 clients:" "graphs/s, load generator's CPU off the wall time" "${g25[@]}"
say "as measured: 1 client ${g1_raw[*]} graphs/s, 25 clients ${g25_raw[*]} graphs/s (25/1 rounds: ${g_raw_ratios[*]});" \
    "the load generator's CPU, 1/25 clients: ${gen_cpu[*]} s"
say_ratio "25/1 clients" ">=" 1.5 "${g_ratios[@]}"
say ""

# --- 6. /metrics against the node exporter -------------------------------------

# Go's server answers an HTTP/1.0 request in HTTP/1.0.
exporter_ok='HTTP/1.0 200 OK'
# start_exporter COLLECTOR...: the node exporter with only these collectors.
start_exporter() {
    local collectors=("$@")
    for _ in 1 2 3; do
        exporter_port=$(free_port) || fail "no free loopback port"
        "$NODE_EXPORTER" --collector.disable-defaults "${collectors[@]/#/--collector.}" \
            --web.listen-address="127.0.0.1:$exporter_port" >"$scratch/exporter.log" 2>&1 &
        exporter_pid=$!
        wait_up "$exporter_pid" "$exporter_port" "$exporter_ok" && return 0
        stop_pid TERM "$exporter_pid"
        exporter_pid=
    done
    fail "the node exporter did not come up; see $scratch/exporter.log"
}

# scrape_cpu PID PORT [STATUS_LINE]: microseconds of the process's CPU per scrape, over
# SCRAPES sequential scrapes (utime+stime from /proc/PID/stat).
metrics_ask='GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n'
scrape_cpu() {
    local before after out
    before=$(cpu_ticks "$1")
    out=$("$loadgen" -p "$2" -c 1 -n "$SCRAPES" -r "$metrics_ask" -e "${3:-HTTP/1.1 200 OK}") || fail "scrapes on port $2 had errors: $out"
    after=$(cpu_ticks "$1")
    echo "    port $2, $SCRAPES scrapes: $out" >>"$scratch/runs.log"
    calc "($after - $before) * 1000000 / $hz / $SCRAPES" 1
}

# compare_scrapes NAME TARGET KELP_PID KELP_PORT COLLECTOR...: Kelp's CPU per
# scrape against the node exporter's with those collectors; sets
# scrape_ratio.
compare_scrapes() {
    local name=$1 target=$2 pid=$3 port=$4 k e
    shift 4
    start_exporter "$@"
    "$loadgen" -p "$port" -o "$scratch/kelp-metrics.txt" -r "$metrics_ask" >/dev/null || fail "Kelp does not answer /metrics"
    "$loadgen" -p "$exporter_port" -o "$scratch/exporter-metrics.txt" -r "$metrics_ask" -e "$exporter_ok" >/dev/null ||
        fail "the node exporter does not answer /metrics"
    echo "/metrics ($*): Kelp against the node exporter ..." >&2
    scrape_cpu "$pid" "$port" >/dev/null  # warm-up
    scrape_cpu "$exporter_pid" "$exporter_port" "$exporter_ok" >/dev/null
    local kelp_scrape=() exporter_scrape=() ratios=()
    for r in $(seq 1 "$ROUNDS"); do
        if [ $((r % 2)) = 1 ]; then
            k=$(scrape_cpu "$pid" "$port")
            e=$(scrape_cpu "$exporter_pid" "$exporter_port" "$exporter_ok")
        else
            e=$(scrape_cpu "$exporter_pid" "$exporter_port" "$exporter_ok")
            k=$(scrape_cpu "$pid" "$port")
        fi
        kelp_scrape+=("$k") exporter_scrape+=("$e") ratios+=("$(calc "$k / $e")")
    done
    stop_pid TERM "$exporter_pid"
    exporter_pid=
    scrape_ratio=$(median "${ratios[@]}")
    say "## 6. /metrics, $name: CPU per scrape against prometheus-node-exporter" \
        "$("$NODE_EXPORTER" --version 2>&1 | awk 'NR == 1 {print $3}') ($*; $SCRAPES scrapes per round, 1 client)"
    say "answers: Kelp $(wc -c <"$scratch/kelp-metrics.txt") bytes, node exporter $(wc -c <"$scratch/exporter-metrics.txt") bytes"
    say_series "Kelp:         " "us CPU per scrape, whole process" "${kelp_scrape[@]}"
    say_series "node exporter:" "us CPU per scrape, whole process" "${exporter_scrape[@]}"
    say_ratio Kelp/exporter "<=" "$target" "${ratios[@]}"
    say ""
}

# Daemon B has the design's three modules on; a daemon C with the CPU module
# as well answers each processor's CPU time, which the exporter's cpu
# collector reads too.
compare_scrapes "the design's three modules" 0.1 "$kelp_pid" "$kelp_port" loadavg meminfo netdev
scrape_ratio_three=$scrape_ratio
start_kelp cpu "$cpu_on"
cpu_pid=$pid cpu_port=$port
sleep 2
compare_scrapes "the CPU module on as well" 0.15 "$cpu_pid" "$cpu_port" loadavg meminfo netdev cpu
scrape_ratio_cpu=$scrape_ratio
stop_kelp "$cpu_pid"

stop_kelp "$kelp_pid"
say "## Summary"
say "1. index page, Kelp/nginx at 16 clients:   $html_ratio   (>= 0.5)   $(verdict "$html_ratio" ">=" 0.5)"
say "2. load graph CPU, Kelp/gd alone:          $graph_ratio   (<= 1.15)  $(verdict "$graph_ratio" "<=" 1.15)" \
    "-- Kelp $(median "${kelp_cpu[@]}") us, gd alone $(median "${ref_cpu[@]}") us per graph, the same pixels"
say "3. throughput 25/16 clients:               $m25   (>= 0.9)   $(verdict "$m25" ">=" 0.9)"
say "   throughput 50/16 clients:               $m50   (>= 0.9)   $(verdict "$m50" ">=" 0.9)"
say "4. sampling tick:                          $tick_us us median (no target)"
say "   tick beside 25 graph readers:           p99 $loaded_p99 us (<= 1000) $(verdict "$loaded_p99" "<=" 1000), max $loaded_max us (<= 5000) $(verdict "$loaded_max" "<=" 5000)"
say "5. idle CPU per minute:                    $idle_ms ms   (<= 10)    $(verdict "$idle_ms" "<=" 10)"
say "   RssAnon after 10,000 requests:          $anon_after kB   (<= 6656)  $(verdict "$anon_after" "<=" 6656)"
say "   peak VmHWM, 25 graph requests at once:  $hwm_burst kB  (<= 20480) $(verdict "$hwm_burst" "<=" 20480)"
say "6. /metrics CPU, Kelp/node exporter:      $scrape_ratio_three   (<= 0.1)   $(verdict "$scrape_ratio_three" "<=" 0.1)"
say "   the same with the CPU module:           $scrape_ratio_cpu   (<= 0.15)  $(verdict "$scrape_ratio_cpu" "<=" 0.15)"
say "7. graphs/s, 25 clients against 1:        $at_once_ratio   (>= 1.5)   $(verdict "$at_once_ratio" ">=" 1.5)"
say "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the end"
echo "figures written to $results" >&2
