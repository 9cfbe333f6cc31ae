#!/bin/sh
# The fault campaigns: SIGKILL during settings saves, a full disk, devices
# unplugged while guiding, the event server under load and abuse. Prints one
# table (campaign, trials, faults) and exits non-zero when any found a fault.
#
#   tests/faults/run-faults.sh [BUILD_DIR] [CAMPAIGN...]
#
# CAMPAIGN: settings, disk, serial, v4l2, indi, server (default: all).
# FAULTS_SCALE=0.1 runs a tenth of the trials. The full disk and INDI
# campaigns need root (a private mount and network namespace); without it
# they say so and are skipped.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd) || exit 2
[ $# -gt 0 ] && shift
campaigns=${*:-settings disk serial v4l2 indi server}
export BUILD="$build" QUORVEL="$build/quorvel"
[ -x "$QUORVEL" ] || { echo "run-faults: no $QUORVEL (make faults builds it)" >&2; exit 2; }

out=$(mktemp -t quorvel-faults.XXXXXX)
trap 'rm -f "$out" "$out.xml"' EXIT
status=0
for c in $campaigns; do
    echo "== $c" >&2
    case $c in
        settings) python3 "$here/settings_kill.py" ;;
        disk) python3 "$here/full_disk.py" ;;
        serial) python3 "$here/unplug.py" serial ;;
        indi)
            if [ "$(id -u)" -ne 0 ]; then
                echo "RESULT|unplugged: INDI server killed and restarted (mount)|0|0|skipped: not root"
            else
                sh "$here/../indi/indi-bench.sh" python3 "$here/unplug.py" indi
            fi ;;
        v4l2)
            # The fake camera of the core's tests, pulled out at each call of
            # a connect, grabs and a format change in turn.
            if [ -x "$build/test_core" ]; then
                "$build/test_core" --gtest_filter='V4l2Driver.Unplugged*' --gtest_output="xml:$out.xml" >&2
                rc=$?
                points=$(grep -o 'unplug_points[^0-9]*[0-9]*' "$out.xml" | grep -o '[0-9]*$' | head -1)
                echo "RESULT|unplugged: V4L2 camera (fake device, ENODEV at each call)|${points:-0}|$([ $rc -eq 0 ] && echo 0 || echo 1)|test_core V4l2Driver.UnpluggedAtAnyCallIsLostCleanlyAndComesBack"
            else
                echo "RESULT|unplugged: V4L2 camera|0|1|no $build/test_core"
            fi ;;
        server) python3 "$here/server_abuse.py" ;;
        *) echo "run-faults: unknown campaign '$c'" >&2; exit 2 ;;
    esac >"$out.part" || status=1
    grep '^RESULT|' "$out.part" >>"$out"
    rm -f "$out.part"
done

printf '\n%-62s %7s %7s  %s\n' "campaign" "trials" "faults" "detail"
while IFS='|' read -r _ name trials faults detail; do
    printf '%-62s %7s %7s  %s\n' "$name" "$trials" "$faults" "$detail"
    [ "$faults" != 0 ] && status=1
done <"$out"
[ "$status" -eq 0 ] && echo "no fault found" || echo "FAULTS FOUND"
exit "$status"
