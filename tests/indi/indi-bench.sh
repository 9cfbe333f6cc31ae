#!/bin/sh
# Runs a command beside a real INDI server with the CCD and telescope
# simulators, the way ctest runs the INDI tests:
#
#   tests/indi/indi-bench.sh COMMAND [ARGS...]
#
# Everything happens in a private network namespace (indiserver listens on
# every interface; there, only our loopback exists), with a private HOME (the
# drivers keep no settings from earlier runs) and the stand-in star catalogue
# (gsc) beside this script. The command sees QUORVEL_INDI=localhost:7624.
# Exit status: the command's; 1 when the bench cannot be set up, with the
# reason on standard error (a test that needs INDI never passes without it).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${QUORVEL_INDI_BENCH:-}" ]; then
    for tool in unshare ip indiserver indi_simulator_ccd indi_simulator_telescope indi_getprop; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "indi-bench: $tool not found: scripts/install-deps installs it (indi-bin, iproute2)" >&2
            exit 1
        fi
    done
    if ! unshare -n true 2>/dev/null; then
        echo "indi-bench: cannot make a private network namespace (unshare -n needs root)" >&2
        exit 1
    fi
    export QUORVEL_INDI_BENCH=1
    exec unshare -n -- sh "$0" "$@"
fi

ip link set lo up || { echo "indi-bench: cannot bring up the loopback interface" >&2; exit 1; }
bench=$(mktemp -d -t quorvel-indi.XXXXXX) || exit 1
mkdir -p "$bench/bin" "$bench/home"
cp "$here/gsc" "$bench/bin/gsc"
export HOME="$bench/home" PATH="$bench/bin:$PATH" QUORVEL_INDI=localhost:7624
unset QUORVEL_INDI_MOUNT

indiserver -p 7624 indi_simulator_ccd indi_simulator_telescope >"$bench/indiserver.log" 2>&1 &
server=$!
stop() {
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    rm -rf "$bench"
}
trap stop EXIT INT TERM

tries=0
until indi_getprop -t 1 "CCD Simulator.CONNECTION.CONNECT" "Telescope Simulator.CONNECTION.CONNECT" >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ "$tries" -ge 40 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "indi-bench: indiserver did not come up; its log:" >&2
        tail -20 "$bench/indiserver.log" >&2
        exit 1
    fi
    sleep 0.25
done

"$@"
status=$?
[ "$status" -ne 0 ] && { echo "indi-bench: the last lines of indiserver's log:" >&2; tail -20 "$bench/indiserver.log" >&2; }
exit "$status"
