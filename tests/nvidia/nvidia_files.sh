#!/bin/bash
# NVIDIA's own files (scripts/setup unpacks its packages into build/nvidia/root)
# against ours. Exit 77 (skipped) when they are not there.
# Usage: nvidia_files.sh NVIDIA_ROOT header TABLE_PROGRAM CHECK_SOURCE C++_COMPILER OUT_DIR
#        nvidia_files.sh NVIDIA_ROOT exports TABLE_PROGRAM
#        nvidia_files.sh NVIDIA_ROOT agent AGENT
#        nvidia_files.sh NVIDIA_ROOT real-gpu-check SOURCE_DIR
set -u
root=$1
what=$2
shift 2
lib=$root/usr/lib/x86_64-linux-gnu/nvidia/current
if [ ! -e "$root/usr/include/nvml.h" ] || [ ! -e "$lib/libnvidia-ml.so.1" ] || [ ! -e "$root/usr/lib/nvidia/current/nvidia-smi" ]; then
    echo "SKIP: NVIDIA's files are missing in $root: scripts/setup fetches them"
    exit 77
fi
no_driver() {
    if [ -e /proc/driver/nvidia/version ]; then
        echo "SKIP: this machine has the NVIDIA kernel driver"
        exit 77
    fi
}
case $what in
header)
    # NVIDIA's nvml.h and the table of our declarations, in one unit.
    table=$1 check=$2 compiler=$3 out=$4
    mkdir -p "$out"
    "$table" >"$out/nvml_declarations.h" || exit 1
    "$compiler" -std=c++17 -fsyntax-only -I "$root/usr/include" -I "$out" "$check"
    ;;
exports)
    # Every NVML export the Agents bind is in NVIDIA's library, except those a
    # later driver branch brought.
    "$1" exports | /usr/bin/python3 -c '
import ctypes, sys
library = ctypes.CDLL(sys.argv[1])
exports = [line.split() for line in sys.stdin]
missing = [name for name, since in exports if since == "0" and not hasattr(library, name)]
print("%d exports looked up; missing that must be there: %s" % (len(exports), " ".join(missing) or "none"))
sys.exit(1 if missing else 0)' "$lib/libnvidia-ml.so.1"
    ;;
agent)
    # NVIDIA's library without the kernel driver: the Agent ends with NVML's words.
    no_driver
    err=$(LD_LIBRARY_PATH=$lib timeout 20 "$1" --bind 127.0.0.1 --listen-port 24690 --report-port 24691 2>&1 >/dev/null)
    rc=$?
    echo "exit status $rc, standard error: $err"
    [ $rc = 1 ] && [ "$err" = "NVML initialisation failed (Driver Not Loaded)" ]
    ;;
real-gpu-check)
    # NVIDIA's nvidia-smi without the kernel driver: status 2 and a line of its own.
    no_driver
    err=$(PATH=$root/usr/lib/nvidia/current:$PATH LD_LIBRARY_PATH=$lib timeout 60 "$1/scripts/real-gpu-check" 1 2>&1 >/dev/null)
    rc=$?
    echo "exit status $rc, standard error: $err"
    [ $rc = 2 ] && grep -q '^real-gpu-check: nvidia-smi cannot reach the NVIDIA driver' <<<"$err"
    ;;
*)
    echo "nvidia_files.sh: unknown check $what" >&2
    exit 2
    ;;
esac
