#!/usr/bin/env bash
# run_fuzzers.sh BINDIR SECONDS OUTDIR: runs every fuzz target for SECONDS,
# two at a time (one per core). New inputs and crash files go below OUTDIR;
# the committed seeds are read, never written. Fails if any target found
# something or did not run.
set -uo pipefail

bindir=$1
seconds=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)

# max_len per target: a request is cut at 1900 bytes; a configuration line
# is read in pieces beyond 1989 characters, so files go a little further.
declare -A max_len=([request]=2000 [config]=4096 [procfs]=4096 [urlhandler]=256)
# The configuration reader reports every bad line on stderr; the others
# print nothing worth keeping on stdout.
declare -A close_fd=([request]=1 [config]=3 [procfs]=1 [urlhandler]=1)
targets=(request config procfs urlhandler)

run_one() {
    local t=$1
    local bin=$bindir/fuzz_$t
    if [ ! -x "$bin" ]; then
        echo "fuzz_$t: not built" >&2
        return 1
    fi
    mkdir -p "$out/$t/corpus" "$out/$t/crashes"
    local dict=()
    [ -f "$here/$t.dict" ] && dict=(-dict="$here/$t.dict")
    # Sanitizer reports and broken checks still get through a closed stderr.
    "$bin" "$out/$t/corpus" "$here/corpus/$t" "${dict[@]}" \
        -max_total_time="$seconds" -max_len="${max_len[$t]}" -timeout=10 \
        -close_fd_mask="${close_fd[$t]}" -print_final_stats=1 \
        -artifact_prefix="$out/$t/crashes/" >"$out/$t/log" 2>&1
    local rc=$?
    local execs
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$out/$t/log" | grep -o '[0-9]*$')
    if [ $rc -ne 0 ]; then
        echo "fuzz_$t: FAILED (exit $rc), see $out/$t/log" >&2
        tail -n 40 "$out/$t/log" >&2
        return 1
    fi
    echo "fuzz_$t: ${execs:-?} runs in ${seconds} s, corpus $(ls "$out/$t/corpus" | wc -l) new inputs"
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    for t in "${targets[@]:i:2}"; do
        run_one "$t" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do
        wait "$p" || failed=1
    done
done
if [ $failed -ne 0 ]; then
    echo "fuzzing found problems" >&2
    exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no findings"
