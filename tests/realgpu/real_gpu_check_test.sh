#!/bin/bash
# scripts/real-gpu-check without a GPU.
#   compare SOURCE_DIR: its comparison of reports with nvidia-smi lines, case by case
#   run SOURCE_DIR SIM_LIBRARY_DIR BUILD_DIR: the whole check, against the
#     simulated NVML library and a fake nvidia-smi, in a network namespace of
#     its own (exit 77 where none can be made)
set -u
what=$1
src=$2
here=$(dirname "$(readlink -f "$0")")
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

case $what in
compare)
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    arrival=1750000000000
    fields=(fullName memoryUsageSupported memoryTotal memoryUsage temperatureSupported temperature
        powerDrawSupported powerDraw graphicsClockSupported graphicsClock memoryClockSupported memoryClock
        gpuLoadSupported gpuLoad)
    report() { # field=value overrides of one GPU's report
        declare -A v=([fullName]="Example GPU" [memoryUsageSupported]=1 [memoryTotal]=8388608 [memoryUsage]=2097152
            [temperatureSupported]=1 [temperature]=55 [powerDrawSupported]=1 [powerDraw]=120000
            [graphicsClockSupported]=1 [graphicsClock]=1500000 [memoryClockSupported]=1 [memoryClock]=7000000
            [gpuLoadSupported]=1 [gpuLoad]=60)
        local o k
        for o in "$@"; do v[${o%%=*}]=${o#*=}; done
        echo "arrival_unix_ms=$arrival"
        echo "gpuCount=1"
        for k in "${fields[@]}"; do echo "gpu0.$k=${v[$k]}"; done
        echo "gpu0.coreVoltage=0"
    }
    # name, exit status, line the output must hold, report overrides (space
    # separated), then nvidia-smi lines: "MS_FROM_ARRIVAL|the 8 fields after index"
    check_case() {
        local name=$1 rc=$2 want=$3 overrides=$4 entry ms
        shift 4
        # shellcheck disable=SC2086
        report $overrides >"$work/reports"
        : >"$work/smi.csv"
        for entry in "$@"; do
            ms=$((arrival + ${entry%%|*}))
            echo "$(date -u -d "@$((ms / 1000))" +'%Y/%m/%d %H:%M:%S').$(printf %03d $((ms % 1000))), 0, ${entry#*|}" >>"$work/smi.csv"
        done
        local out
        out=$("$src/scripts/real-gpu-check" --compare "$work/smi.csv" "$work/reports" 2>&1)
        local got=$?
        if [ $got != "$rc" ] || ! grep -qE "$want" <<<"$out"; then
            fail "$name: exit status $got (expected $rc), no line matching '$want' in:"
            echo "$out"
        fi
    }
    good="Example GPU, 8192, 2048, 55, 120.00, 1500, 7000, 60"
    check_case "[N/A] and [Not Supported] are skipped and counted" 0 \
        'GPU load +0 compared, 0 outside tolerance, 1 skipped' "" \
        "-300|Example GPU, 8192, 2048, 55, [N/A], 1500, 7000, [Not Supported]"
    check_case "a reading whose Agent flag is 0 is skipped and counted" 0 \
        'temperature +0 compared, 0 outside tolerance, 1 skipped' "temperatureSupported=0 temperature=0" \
        "-300|$good"
    check_case "paired with the line whose own timestamp is nearest the arrival" 0 \
        'temperature +1 compared, 0 outside tolerance, 0 skipped' "" \
        "-2500|Example GPU, 8192, 2048, 80, 120.00, 1500, 7000, 60" "-400|$good" \
        "900|Example GPU, 8192, 2048, 20, 120.00, 1500, 7000, 60"
    check_case "a reading outside its tolerance fails" 1 'FAIL temperature: 55 vs 60' "" \
        "-300|Example GPU, 8192, 2048, 60, 120.00, 1500, 7000, 60"
    check_case "a report with no nvidia-smi line near it fails" 1 'no nvidia-smi line near them' "" \
        "-5000|$good"
    ;;
run)
    sim=$3
    build=$4
    if ! unshare -n true 2>/dev/null; then
        echo "SKIP: no network namespace can be made here (needs root)"
        exit 77
    fi
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    # shellcheck disable=SC2016
    out=$(PATH=$here/fake-bin:$PATH LD_LIBRARY_PATH=$sim GAUGELINE_SIM_SCENARIO=$here/gpus.scenario \
        FAKE_SMI_ROWS=$here/gpus.rows FAKE_SMI_LOG=$log GAUGELINE_CHECK_BUILD=$build \
        unshare -n bash -c 'ip link set lo up && exec "$0" 4' "$src/scripts/real-gpu-check" 2>&1)
    rc=$?
    echo "$out"
    [ $rc = 0 ] || fail "exit status $rc"
    # GPU 0's power and graphics clock are [N/A] and [Not Supported]; GPU 1's temperature has flag 0.
    for what in power "graphics clock" temperature; do
        grep -qE "^ +$what +[1-9][0-9]* compared, 0 outside tolerance, [1-9][0-9]* skipped$" <<<"$out" ||
            fail "$what: not compared on one GPU and skipped on the other"
    done
    grep -q -- '--query-gpu=' "$log" || fail "nvidia-smi was never asked for readings"
    ! grep -- '--query-gpu=' "$log" | grep -qv -- '-lms' || fail "an nvidia-smi query outside loop mode"
    grep -qE '^ +median nvidia-smi query in loop mode: [0-9.]+ ms' <<<"$out" || fail "no nvidia-smi loop timing"
    grep -qE '^ +median full sampling pass \(Agent, 2 GPUs\)' <<<"$out" || fail "no Agent pass timing"
    ;;
*)
    echo "real_gpu_check_test.sh: unknown test $what" >&2
    exit 2
    ;;
esac
exit $failed
