#!/bin/bash
# Has KStars Ekos drive `quorvel serve` as its PHD2 guider, with nobody at the
# keyboard, and tells what Ekos reported at every step:
#
#   tests/ekos/ekos-drive.sh [path/to/quorvel]      (as root, from the repository)
#
# The INDI telescope and CCD simulators run in a private network namespace
# (/work/shared/indi-lab.sh, else tests/indi/indi-bench.sh); beside them, under
# Xvfb with a private D-Bus session bus and a private HOME:
#   - quorvel serve guides on the INDI CCD Simulator's frames and sends its
#     corrections to the Telescope Simulator ("INDI (monture)");
#   - phd2-tap.py sits on port 4400 and hands every line on to quorvel on 4401,
#     keeping a copy (phd2-traffic.log);
#   - KStars runs Ekos with a profile "Quorvel" (remote INDI server
#     localhost:7624, guider PHD2 at localhost:4400), driven over D-Bus.
# The scenario: start Ekos, connect the devices, connect the external guider,
# guide, dither twice (each waiting for its settle), abort, guide again without
# reconnecting, abort, stop.  Screenshots of the Guide tab are taken on the way.
#
# Exit status 0 only when every step did what Ekos is expected to report.  The
# logs stay in the directory printed at the start and at the end
# (EKOS_DRIVE_OUT=DIR chooses it).  Settings (environment):
#   EKOS_GUIDE_TIMEOUT=180   seconds to wait for "guiding" after a guide call
#   EKOS_DITHER_TIMEOUT=90   seconds to wait for a dither to settle
#   EKOS_DITHER_PIXELS=2     dither amplitude Ekos asks for (pixels)
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${EKOS_DRIVE_INSIDE:-}" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "ekos-drive: run as root (private network namespace, packages)" >&2
        exit 2
    fi
    quorvel=${1:-$here/../../build/quorvel}
    if [ ! -x "$quorvel" ]; then
        echo "ekos-drive: no quorvel binary at $quorvel" >&2
        exit 2
    fi
    quorvel=$(cd "$(dirname "$quorvel")" && pwd)/$(basename "$quorvel")
    # What Ekos, the virtual display and the checks need (the real network is
    # still reachable here, not inside the namespace).
    missing=""
    for p in kstars dbus-x11 xvfb xauth sqlite3 qdbus-qt5 imagemagick xdotool \
             indi-bin iproute2 python3; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "ekos-drive: installing$missing" >&2
        apt-get update -qq >&2 &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >&2 ||
            { echo "ekos-drive: could not install$missing" >&2; exit 2; }
    fi
    out=${EKOS_DRIVE_OUT:-$(mktemp -d -t ekos-drive.XXXXXX)}
    mkdir -p "$out"
    out=$(cd "$out" && pwd)
    echo "ekos-drive: logs in $out"
    lab=/work/shared/indi-lab.sh
    [ -x "$lab" ] || lab="$here/../indi/indi-bench.sh"
    export EKOS_DRIVE_INSIDE=1 EKOS_DRIVE_OUT="$out" EKOS_DRIVE_QUORVEL="$quorvel"
    "$lab" xvfb-run -a -s "-screen 0 1600x1000x24" \
        dbus-run-session --config-file="$here/session-bus.conf" -- bash "$0" >"$out/run.log" 2>&1
    status=$?
    cat "$out/summary.txt" 2>/dev/null || tail -30 "$out/run.log"
    echo "ekos-drive: logs in $out"
    exit $status
fi

# ---------------------------------------------------------------------------
# Inside the namespace, the X server and the session bus.
out=$EKOS_DRIVE_OUT
quorvel=$EKOS_DRIVE_QUORVEL
export QUORVEL_INDI=localhost:7624
export HOME="$out/home"
rm -rf "$HOME"
mkdir -p "$HOME/.config" "$HOME/.local/share" "$out/shots"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR
GUIDE_TIMEOUT=${EKOS_GUIDE_TIMEOUT:-180}
DITHER_TIMEOUT=${EKOS_DITHER_TIMEOUT:-90}
DITHER_PIXELS=${EKOS_DITHER_PIXELS:-2}

summary="$out/summary.txt"
: >"$summary"
T0=$(date +%s.%N)
failed=0
pids=()
elapsed() { awk -v a="$(date +%s.%N)" -v b="$T0" 'BEGIN { printf "%6.1f", a - b }'; }
say() { printf '[%ss] %s\n' "$(elapsed)" "$*" | tee -a "$summary"; }
pass() { say "  PASS $*"; }
fail() { say "  FAIL $*"; failed=1; }

cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null
    done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

KS=org.kde.kstars
q() { timeout 60 qdbus "$KS" "$@" 2>&1; }          # one D-Bus call, its answer
guide_q() { q /KStars/Ekos/Guide "$@"; }

# Guide states as Ekos 3.6 numbers them (ekos/ekos.h, GuideState).
guide_states=(IDLE ABORTED CONNECTED DISCONNECTED CAPTURE LOOPING DARK SUBFRAME
    STAR_SELECT CALIBRATING CALIBRATION_ERROR CALIBRATION_SUCCESS GUIDING SUSPENDED
    REACQUIRE DITHERING MANUAL_DITHERING DITHERING_ERROR DITHERING_SUCCESS DITHERING_SETTLE)
guide_status() {
    local n
    n=$(guide_q org.kde.kstars.Ekos.Guide.status 2>/dev/null)
    case $n in
        '' | *[!0-9]*) echo "?($n)" ;;
        *) echo "${guide_states[$n]:-$n}" ;;
    esac
}

# New lines of the Guide module's log since the last call, oldest first
# (Ekos keeps them newest first).
guide_log_seen=0
guide_log_new() {
    local all n
    all=$(guide_q org.kde.kstars.Ekos.Guide.logText 2>/dev/null | tac)
    n=$(printf '%s\n' "$all" | grep -c .)
    if [ "$n" -gt "$guide_log_seen" ]; then
        printf '%s\n' "$all" | grep . | tail -n +"$((guide_log_seen + 1))"
    fi
    guide_log_seen=$n
}
# Prints the Guide log lines that appeared during a step into the summary.
report_log() {
    guide_log_new | sed 's/^/      ekos: /' | tee -a "$summary"
}

# wait_status SECONDS STATE... : poll the Guide status until it is one of the
# STATEs; prints the state reached (or the last one seen), 0 if reached.
wait_status() {
    local limit=$1 s end
    shift
    end=$(($(date +%s) + limit))
    while :; do
        s=$(guide_status)
        for want in "$@"; do
            [ "$s" = "$want" ] && { echo "$s"; return 0; }
        done
        [ "$(date +%s)" -ge "$end" ] && { echo "$s"; return 1; }
        sleep 0.5
    done
}

shot() {   # shot NAME: the whole screen as the user would see it
    import -window root "$out/shots/$1.png" 2>/dev/null && echo "      screenshot shots/$1.png" >>"$summary"
}

# ---------------------------------------------------------------------------
say "quorvel: $quorvel"
# The guider's working directory: its settings with the INDI mount as output,
# the guide log, its standard output and error.
qdir="$out/quorvel"
mkdir -p "$qdir"
(cd "$qdir" && "$quorvel" settings --rewrite >/dev/null) || { fail "quorvel settings --rewrite"; exit 1; }
python3 - "$qdir/qv185.dat" <<'EOF'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
# the four doubles open the record; four int32 follow, then interfaceType
at = data.find(struct.pack('<4d', 50.0, 5.6, 12.0, 14.0)) + 32 + 16
assert at >= 48 and struct.unpack_from('<i', data, at)[0] == 3, 'unexpected settings layout'
struct.pack_into('<i', data, at, 4)          # 4 = "INDI (monture)"
open(path, 'wb').write(data)
EOF
(cd "$qdir" && "$quorvel" settings) >"$qdir/settings.json"
grep -q '"interfaceType":4' "$qdir/settings.json" || { fail "could not set the INDI mount as output"; exit 1; }

"$quorvel" sources >"$qdir/sources.txt" 2>"$qdir/sources.err"
source_index=$(python3 -c '
import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["name"] == "CCD Simulator":
        print(e["index"]); break' "$qdir/sources.txt")
if [ -z "$source_index" ]; then
    fail "quorvel sources lists no CCD Simulator"; cat "$qdir/sources.txt" >>"$summary"; exit 1
fi
say "quorvel sources: CCD Simulator is entry $source_index"

python3 "$here/phd2-tap.py" 4400 4401 "$out/phd2-traffic.log" >"$out/phd2-tap.err" 2>&1 &
pids+=($!)
(cd "$qdir" && exec "$quorvel" serve --port 4401 --source "$source_index" --log guide.log \
    >"$qdir/serve.out" 2>"$qdir/serve.err") &
qpid=$!
pids+=($qpid)
for i in $(seq 50); do
    ss -ltn 2>/dev/null | grep -q '127.0.0.1:4401 ' && break
    sleep 0.2
done
if ! kill -0 "$qpid" 2>/dev/null; then
    fail "quorvel serve ended at once:"; tail -5 "$qdir/serve.err" | tee -a "$summary"; exit 1
fi
say "quorvel serve --source $source_index --port 4401 runs (tap on 4400)"

# ---------------------------------------------------------------------------
# KStars: options before its first start (no startup wizard, no Ekos Live, no
# wallet, logs to a file with the guide module verbose, PHD2 on 4400).
cat >"$HOME/.config/kstarsrc" <<'RC'
[GUI]
RunStartupWizard=false

[General]
KStarsFirstRun=false
VerboseLogging=true
RegularLogging=true
LogToFile=true
LogToDefault=true
GuideLogging=true
INDILogging=false

[Ekos]
AutoStartEkosLive=false
RememberCredentials=false
EkosLiveOnline=false
profile=Quorvel
autoLoadSerialAssistant=false
EkosWindowWidth=1300
EkosWindowHeight=900

[Guide]
GuiderType=1
PHD2Host=localhost
PHD2Port=4400
DitherFailAbortsAutoGuide=false

[FITSViewer]
useFITSViewer=false
RC
cat >"$HOME/.config/kwalletrc" <<'RC'
[Wallet]
Enabled=false
First Use=false
RC

wait_kstars() {   # wait_kstars SECONDS PATH: until the object PATH answers
    local end=$(($(date +%s) + $1))
    until qdbus "$KS" "$2" >/dev/null 2>&1; do
        [ "$(date +%s)" -ge "$end" ] && return 1
        kill -0 "$kspid" 2>/dev/null || return 1
        sleep 0.5
    done
}
start_kstars() {   # start_kstars TAG
    kstars >"$out/kstars-$1.out" 2>&1 &
    kspid=$!
    pids+=($kspid)
    wait_kstars 120 /KStars
}
quit_kstars() {
    q /kstars/MainWindow_1/actions/quit org.qtproject.Qt.QAction.trigger >/dev/null
    for i in $(seq 60); do kill -0 "$kspid" 2>/dev/null || break; sleep 0.5; done
    kill "$kspid" 2>/dev/null
    wait "$kspid" 2>/dev/null
}

# A first start creates the user database (tables, the "Simulators" profile);
# the Ekos profile is added to it while KStars is not running.
say "KStars $(dpkg-query -W -f '${Version}' kstars 2>/dev/null): first start (user database)"
if ! start_kstars init; then
    fail "KStars did not come up on D-Bus"; tail -20 "$out/kstars-init.out" >>"$summary"; exit 1
fi
sleep 2
quit_kstars
db="$HOME/.local/share/kstars/userdb.sqlite"
sqlite3 "$db" <<'SQL' || { fail "cannot write the Ekos profile into $db"; exit 1; }
DELETE FROM driver WHERE profile IN (SELECT id FROM profile WHERE name = 'Quorvel');
DELETE FROM profile WHERE name = 'Quorvel';
INSERT INTO profile (name, host, port, autoconnect, guidertype, guiderhost, guiderport, indihub, portselector)
    VALUES ('Quorvel', 'localhost', 7624, 1, 1, 'localhost', 4400, 0, 0);
INSERT INTO driver (label, role, profile) SELECT 'Telescope Simulator', 'Mount', id FROM profile WHERE name = 'Quorvel';
INSERT INTO driver (label, role, profile) SELECT 'CCD Simulator', 'CCD', id FROM profile WHERE name = 'Quorvel';
SQL
sqlite3 -header "$db" "SELECT * FROM profile; SELECT * FROM driver;" >"$out/profiles.txt"

say "KStars: second start"
if ! start_kstars main; then
    fail "KStars did not come up on D-Bus"; tail -20 "$out/kstars-main.out" >>"$summary"; exit 1
fi

# ---------------------------------------------------------------------------
say "step: open Ekos"
q /kstars/MainWindow_1/actions/show_ekos org.qtproject.Qt.QAction.trigger >/dev/null
if wait_kstars 60 /KStars/Ekos; then pass "Ekos is on D-Bus"; else fail "no /KStars/Ekos"; exit 1; fi
sleep 3
shot 01-ekos-open
say "  profiles: $(q /KStars/Ekos org.kde.kstars.Ekos.getProfiles | tr '\n' ' ')"
ekos_q() { q /KStars/Ekos "$@"; }
comm_states=(Idle Pending Success Error)
comm() { local n; n=$(ekos_q "org.kde.kstars.Ekos.$1"); echo "${comm_states[$n]:-$n}"; }
ekos_log_seen=0
report_ekos_log() {   # new lines of the Ekos manager's log, oldest first
    local all n
    all=$(ekos_q org.kde.kstars.Ekos.logText 2>/dev/null | tac | grep .)
    n=$(printf '%s\n' "$all" | grep -c .)
    [ "$n" -gt "$ekos_log_seen" ] && printf '%s\n' "$all" | tail -n +"$((ekos_log_seen + 1))" |
        sed 's/^/      ekos manager: /' | tee -a "$summary"
    ekos_log_seen=$n
}

say "step: select the profile and start Ekos"
answer=$(ekos_q org.kde.kstars.Ekos.setProfile Quorvel)
[ "$answer" = true ] && pass "setProfile Quorvel: $answer" || fail "setProfile Quorvel: $answer"
ekos_q org.kde.kstars.Ekos.start >/dev/null
end=$(($(date +%s) + 60))
while [ "$(comm ekosStatus)" != Success ] && [ "$(date +%s)" -lt "$end" ]; do sleep 0.5; done
st=$(comm ekosStatus)
[ "$st" = Success ] && pass "ekosStatus $st" || fail "ekosStatus $st"
report_ekos_log

say "step: connect the devices"
ekos_q org.kde.kstars.Ekos.connectDevices >/dev/null
end=$(($(date +%s) + 60))
while [ "$(comm indiStatus)" != Success ] && [ "$(date +%s)" -lt "$end" ]; do sleep 0.5; done
st=$(comm indiStatus)
[ "$st" = Success ] && pass "indiStatus $st" || fail "indiStatus $st"
for dev in "CCD Simulator" "Telescope Simulator"; do
    c=$(indi_getprop -1 -t 3 "$dev.CONNECTION.CONNECT" 2>/dev/null)
    [ "$c" = On ] && pass "$dev connected" || fail "$dev not connected ($c)"
done
if wait_kstars 30 /KStars/Ekos/Guide; then pass "Guide module on D-Bus"; else fail "no /KStars/Ekos/Guide"; exit 1; fi
sleep 2
report_ekos_log
shot 02-devices-connected

# Ekos opens the INDI Control Panel and the Optical Trains editor when the
# devices first connect, and KStars its tip of the day: put them away, then
# show the Guide tab (the eighth icon of the Ekos window's bar).
for name in "Optical Trains" "INDI Control Panel" "Tip of the Day"; do
    for w in $(xdotool search --name "$name" 2>/dev/null); do xdotool windowunmap "$w"; done
done
ekos_win=$(xdotool search --name "^Ekos - " 2>/dev/null | head -1)
if [ -n "$ekos_win" ]; then
    xdotool mousemove --window "$ekos_win" 577 32 click 1 mousemove 1500 980
    sleep 1
fi
shot 03-guide-tab

# The telescope starts pointing at the pole without tracking: the stars of
# the CCD simulator would stream through the frame.  Track, and sync one hour
# east of the meridian at DEC +30 (the site is at 0, 0: the local sidereal
# time is Greenwich's).
say "step: mount tracking at DEC +30, one hour east of the meridian"
ra=$(python3 -c 'import time; print((18.697374558 + 24.06570982441908 * (time.time() / 86400 - 10957.5) + 1) % 24)')
indi_setprop -t 5 "Telescope Simulator.TELESCOPE_TRACK_STATE.TRACK_ON=On" &&
    indi_setprop -t 5 "Telescope Simulator.ON_COORD_SET.SYNC=On" &&
    indi_setprop -t 5 "Telescope Simulator.EQUATORIAL_EOD_COORD.RA;DEC=$ra;30" &&
    indi_eval -t 10 -w 'abs("Telescope Simulator.EQUATORIAL_EOD_COORD.DEC" - 30) < 0.001' >/dev/null &&
    pass "tracking, RA $ra DEC 30" || fail "could not set up the mount"
sleep 3    # a few frames at the new position before anyone picks a star

# Every change of the Guide module's state, as D-Bus signals: "epoch number".
dbus-monitor "type='signal',interface='org.kde.kstars.Ekos.Guide',member='newStatus'" 2>/dev/null |
    awk '/^signal/ { split($2, t, "="); when = t[2] } /^ *int32 / { print when, $2; fflush() }' \
        >"$out/guide-states.txt" &
pids+=($!)
sleep 1
states_seen() { wc -l <"$out/guide-states.txt"; }
# The states signalled since line $1 of guide-states.txt, by name.
states_since() {
    tail -n +"$(($1 + 1))" "$out/guide-states.txt" | while read -r _ n; do
        printf '%s ' "${guide_states[$n]:-$n}"
    done
}
# wait_signal MARK SECONDS STATE...: until one of STATEs is signalled after MARK
wait_signal() {
    local mark=$1 limit=$2 end s
    shift 2
    end=$(($(date +%s) + limit))
    while :; do
        for s in $(states_since "$mark"); do
            for want in "$@"; do [ "$s" = "$want" ] && return 0; done
        done
        [ "$(date +%s)" -ge "$end" ] && return 1
        sleep 0.5
    done
}
# step_end: the states signalled and the Guide log of the step just done.
step_end() {
    local seen
    seen=$(states_since "$1")
    say "  states: ${seen:-(none)}; now $(guide_status)"
    report_log
}
guide_log_new >/dev/null   # what the Guide module said before the scenario
report_log_all() { guide_q org.kde.kstars.Ekos.Guide.logText | tac | sed 's/^/      ekos: /' | tee -a "$summary"; }
say "  Guide module so far (the guider connects by itself with the devices):"
report_log_all
say "  Guide status $(guide_status)"

# ---------------------------------------------------------------------------
say "step: connectGuider"
mark=$(states_seen)
answer=$(guide_q org.kde.kstars.Ekos.Guide.connectGuider)
wait_signal "$mark" 20 CONNECTED >/dev/null
st=$(guide_status)
case $st in
    CONNECTED | IDLE) pass "connectGuider answered $answer, status $st" ;;
    *) fail "connectGuider answered $answer, status $st" ;;
esac
step_end "$mark"

guide_once() {   # guide_once TAG
    say "step: guide ($1)"
    local mark answer
    mark=$(states_seen)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.guide)
    if wait_signal "$mark" "$GUIDE_TIMEOUT" GUIDING ABORTED DISCONNECTED CALIBRATION_ERROR &&
        [ "$(guide_status)" = GUIDING ]; then
        pass "guide answered $answer; guiding"
    else
        fail "guide answered $answer; no guiding within ${GUIDE_TIMEOUT}s"
    fi
    step_end "$mark"
    shot "guide-$1"
}

dither_once() {   # dither_once N
    say "step: dither $1"
    local mark answer log
    mark=$(states_seen)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.dither)
    if wait_signal "$mark" "$DITHER_TIMEOUT" DITHERING_SUCCESS DITHERING_ERROR ABORTED DISCONNECTED; then
        sleep 1
    fi
    log=$(guide_log_new)
    local seen=" $(states_since "$mark")"
    if [[ $seen == *" DITHERING_SUCCESS "* ]] && [ "$(guide_status)" = GUIDING ] &&
        ! grep -qiE 'fail|error|no dithering response' <<<"$log"; then
        pass "dither answered $answer; settled, guiding"
    else
        fail "dither answered $answer; did not settle cleanly"
    fi
    say "  states:$seen; now $(guide_status)"
    [ -n "$log" ] && sed 's/^/      ekos: /' <<<"$log" | tee -a "$summary"
    shot "dither-$1"
}

abort_once() {   # abort_once TAG
    say "step: abort ($1)"
    local mark answer
    mark=$(states_seen)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.abort)
    wait_signal "$mark" 20 ABORTED IDLE >/dev/null
    sleep 3     # Ekos polls the guider every few seconds: see what it makes of it
    local st
    st=$(guide_status)
    case $st in
        ABORTED | IDLE | CONNECTED) pass "abort answered $answer; status $st" ;;
        *) fail "abort answered $answer; status $st" ;;
    esac
    step_end "$mark"
    shot "abort-$1"
}

guide_once 1
dither_once 1
dither_once 2
abort_once 1
guide_once 2-no-reconnect
abort_once 2

# ---------------------------------------------------------------------------
say "step: stop everything"
mark=$(states_seen)
answer=$(guide_q org.kde.kstars.Ekos.Guide.disconnectGuider)
sleep 2
say "  disconnectGuider answered $answer"
step_end "$mark"
ekos_q org.kde.kstars.Ekos.disconnectDevices >/dev/null
sleep 2
ekos_q org.kde.kstars.Ekos.stop >/dev/null
sleep 2
report_ekos_log
say "  ekosStatus $(comm ekosStatus), indiStatus $(comm indiStatus)"
quit_kstars
kill "$qpid" 2>/dev/null
wait "$qpid" 2>/dev/null
say "  quorvel serve ended with status $?"

# The logs worth keeping beside the summary.
cp "$HOME"/.local/share/kstars/logs/*/log_*.txt "$out/" 2>/dev/null
ls "$out"/log_*.txt >/dev/null 2>&1 && cat "$out"/log_*.txt >"$out/kstars-log.txt"
grep -h 'PHD2\|Guide\|guide' "$out"/log_*.txt >"$out/ekos-guide.log" 2>/dev/null
[ -f "$qdir/guide.log" ] && cp "$qdir/guide.log" "$out/guide.log"

if [ "$failed" = 0 ]; then say "RESULT: every step succeeded"; else say "RESULT: some steps failed"; fi
exit "$failed"
