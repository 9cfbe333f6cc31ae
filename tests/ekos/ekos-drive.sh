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
#   - phd2-tap.py listens on 4400 and hands every line on to quorvel on 4401,
#     keeping a copy (phd2-traffic.log);
#   - KStars runs Ekos with a profile "Quorvel" (remote INDI server
#     localhost:7624, guider PHD2 at localhost:4400), driven over D-Bus.
# The scenario: start Ekos, connect the devices, connect the external guider,
# guide, dither twice (each waiting for its settle), abort, guide again without
# reconnecting, abort, stop.  Screenshots of the Guide tab are taken on the way.
#
# Exit status 0 only when every step did what Ekos is expected to report.  The
# logs stay in the directory printed at the start and at the end
# (EKOS_DRIVE_OUT=DIR chooses it):
#   summary.txt        the steps, what Ekos said at each, PASS/FAIL
#   phd2-traffic.log   every JSON-RPC line between Ekos and quorvel
#   guide-states.txt   the Guide module's states as Ekos signalled them
#   ekos-guide.log     the guide module's lines of KStars's debug log
#                      (kstars-main.out: all of it)
#   quorvel/           quorvel's directory: settings, guide.log, its output
#   shots/             screenshots of the Ekos window
# Settings (environment):
#   EKOS_GUIDE_TIMEOUT=120   seconds to wait for "guiding" after a guide call
#   EKOS_GUIDE_SECONDS=30    seconds of guiding before the first dither (and
#                            10 after each dither, as between exposures)
#   EKOS_MAX_RMS=10          largest total RMS (arcseconds, as Ekos computes
#                            it) that counts as guiding
#   EKOS_DRIVE_LIMIT=1200    seconds after which the whole run is stopped
#   EKOS_DITHER_TIMEOUT=120  seconds to wait for a dither to end (Ekos gives
#                            up on the settle after its DitherTimeout, 45 s)
#   EKOS_DITHER_PIXELS=2     dither amplitude Ekos asks for (pixels)
#   EKOS_GUIDE_FORMAT=1      the CCD Simulator's format quorvel guides on
#                            (quorvel serve --format; 0, 1 or 2)
#   EKOS_CAMERA_ROTATION=90  the CCD Simulator's SIM_ROTATION (degrees)
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
    # What Ekos, the virtual display and the checks need (the real network is
    # still reachable here, not inside the namespace).
    missing=""
    for p in kstars dbus-x11 dbus-bin xvfb xauth sqlite3 qdbus-qt5 libglib2.0-bin \
             imagemagick xdotool indi-bin iproute2 python3 coreutils; do
        dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "ekos-drive: installing$missing" >&2
        { apt-get update -qq &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing; } >&2 ||
            { echo "ekos-drive: could not install$missing" >&2; exit 2; }
    fi
    out=${EKOS_DRIVE_OUT:-$(mktemp -d -t ekos-drive.XXXXXX)}
    mkdir -p "$out/quorvel"
    out=$(cd "$out" && pwd)
    # Run a copy: the build may replace the binary while the scenario runs.
    cp "$quorvel" "$out/quorvel/quorvel" || exit 2
    echo "ekos-drive: logs in $out"
    lab=/work/shared/indi-lab.sh
    [ -x "$lab" ] || lab="$here/../indi/indi-bench.sh"
    export EKOS_DRIVE_INSIDE=1 EKOS_DRIVE_OUT="$out" EKOS_DRIVE_QUORVEL="$out/quorvel/quorvel"
    timeout --kill-after=30 "${EKOS_DRIVE_LIMIT:-1200}" "$lab" xvfb-run -a -s "-screen 0 1600x1000x24" \
        dbus-run-session --config-file="$here/session-bus.conf" -- bash "$0" >"$out/run.log" 2>&1
    status=$?
    [ -s "$out/summary.txt" ] && cat "$out/summary.txt" || tail -30 "$out/run.log"
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
GUIDE_TIMEOUT=${EKOS_GUIDE_TIMEOUT:-120}
DITHER_TIMEOUT=${EKOS_DITHER_TIMEOUT:-120}
DITHER_PIXELS=${EKOS_DITHER_PIXELS:-2}
GUIDE_SECONDS=${EKOS_GUIDE_SECONDS:-30}
MAX_RMS=${EKOS_MAX_RMS:-10}
# The INDI camera's format quorvel guides on (quorvel serve --format): 1 is a
# 320 x 240 window at full resolution (3.58"/px behind Ekos's 300 mm guide
# scope, the star a few pixels wide), 2 that window binned 2 x 2 (7.15"/px).
GUIDE_FORMAT=${EKOS_GUIDE_FORMAT:-1}
# The CCD Simulator's rotation (degrees): at 0 its rows lie along DEC; turned
# a quarter, they lie along RA, as quorvel's loop assumes of a guide camera.
CAMERA_ROTATION=${EKOS_CAMERA_ROTATION:-90}

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
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
    for i in "${pids[@]}"; do wait "$i" 2>/dev/null; done
}
trap cleanup EXIT

KS=org.kde.kstars
q() { timeout 60 qdbus "$KS" "$@" 2>&1; }          # one D-Bus call, its answer
ekos_q() { q /KStars/Ekos "$@"; }
guide_q() { q /KStars/Ekos/Guide "$@"; }

shot() {   # shot NAME: the whole screen as the user sees it
    import -window root "$out/shots/$1.png" 2>/dev/null && echo "      screenshot shots/$1.png" >>"$summary"
}

# ---------------------------------------------------------------------------
say "quorvel: $quorvel"
# The guider's working directory: its settings with the INDI mount as output,
# the guide log, its standard output and error.
qdir="$out/quorvel"
(cd "$qdir" && rm -f qv185.dat && "$quorvel" settings --rewrite >/dev/null) ||
    { fail "quorvel settings --rewrite"; exit 1; }
python3 - "$qdir/qv185.dat" "$GUIDE_FORMAT" <<'EOF' || { fail "unexpected settings file"; exit 1; }
import struct, sys
path, guide_format = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, 'rb').read())
# the four doubles open the record (focal length cm, pixel size um, RA and DEC
# guide speeds arcsec/s); seven int32 follow (interfaceType is the fifth),
# then the flags "Inverse DEC" and "Inverse AD"
at = data.find(struct.pack('<4d', 50.0, 5.6, 12.0, 14.0))
assert at >= 0 and struct.unpack_from('<i', data, at + 48)[0] == 3, 'unexpected settings layout'
# The optics the CCD Simulator draws its stars with: the focal length of the
# scope in Ekos's optical train ("Sample Guide 300@F/6.0", which Ekos sends
# to the camera as SCOPE_INFO when it connects it), 300 mm, and 5.2 um pixels;
# a picture pixel is one camera pixel in format 1 (a 320 x 240 window, 3.58"/px),
# two in format 2 (the window binned 2 x 2, 7.15"/px), four in format 0 (the
# 1280 x 1024 frame reduced).  The mount guides at 0.5x sidereal: 7.5"/s in
# DEC, 7.5 cos(30) = 6.5"/s on the sky in RA at DEC +30.
pixel_um = 5.2 * {0: 4, 1: 1, 2: 2}[guide_format]
struct.pack_into('<4d', data, at, 30.0, pixel_um, 6.5, 7.5)
struct.pack_into('<i', data, at + 48, 4)     # 4 = "INDI (monture)"
# With the camera turned so that its rows lie along RA (SIM_ROTATION below):
# a West pulse moves the star to +x, as the loop expects ("Inverse AD" off);
# a North pulse moves it to +y, the loop expects -y ("Inverse DEC" on).
struct.pack_into('<i', data, at + 60, 1)     # invertDec
struct.pack_into('<i', data, at + 64, 0)     # invertRa
open(path, 'wb').write(data)
EOF
(cd "$qdir" && "$quorvel" settings) >"$qdir/settings.json"
grep -q '"focalLength":30,"pixelSize":[0-9.]*,"raSpeed":6.5,"decSpeed":7.5,.*"interfaceType":4,.*"invertDec":1,"invertRa":0' \
    "$qdir/settings.json" || { fail "could not write the guiding settings: $(cat "$qdir/settings.json")"; exit 1; }
say "quorvel settings: $(cat "$qdir/settings.json")"

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
say "quorvel sources: the CCD Simulator is entry $source_index"

python3 "$here/phd2-tap.py" 4400 4401 "$out/phd2-traffic.log" >"$out/phd2-tap.err" 2>&1 &
pids+=($!)
(cd "$qdir" && exec "$quorvel" serve --port 4401 --source "$source_index" --format "$GUIDE_FORMAT" --log guide.log \
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
say "quorvel serve --source $source_index --format $GUIDE_FORMAT --port 4401 --log guide.log runs (tap on 4400)"
quorvel_alive() {
    kill -0 "$qpid" 2>/dev/null && return 0
    fail "quorvel serve is gone: $(tail -1 "$qdir/serve.err")"
    return 1
}

# ---------------------------------------------------------------------------
# KStars: options before its first start (no startup wizard, no Ekos Live,
# logs to a file with the guide module verbose, PHD2 on 4400).
cat >"$HOME/.config/kstarsrc" <<RC
[GUI]
RunStartupWizard=false

[General]
KStarsFirstRun=false
VerboseLogging=true
RegularLogging=true
LogToFile=false
LogToDefault=true
GuideLogging=true

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
DitherPixels=$DITHER_PIXELS

[FITSViewer]
useFITSViewer=false
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
quit_kstars() {   # with Ekos open, File > Quit over D-Bus leaves KStars running
    kill "$kspid" 2>/dev/null
    for i in $(seq 20); do kill -0 "$kspid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$kspid" 2>/dev/null
    wait "$kspid" 2>/dev/null
}

# A first start creates the user database (tables, the "Simulators" profile);
# the Ekos profile goes into it while KStars is not running (Ekos reads the
# profiles once).
say "KStars $(dpkg-query -W -f '${Version}' kstars 2>/dev/null): first start (user database)"
if ! start_kstars init; then
    fail "KStars did not come up on D-Bus"; tail -20 "$out/kstars-init.out" >>"$summary"; exit 1
fi
db="$HOME/.local/share/kstars/userdb.sqlite"
for i in $(seq 60); do
    [ "$(sqlite3 "$db" "SELECT count(*) FROM profile WHERE name = 'Simulators'" 2>/dev/null)" = 1 ] && break
    sleep 0.5
done
sleep 1
quit_kstars
sqlite3 "$db" <<'SQL' || { fail "cannot write the Ekos profile into $db"; exit 1; }
DELETE FROM driver WHERE profile IN (SELECT id FROM profile WHERE name = 'Quorvel');
DELETE FROM profile WHERE name = 'Quorvel';
-- guidertype 1 = PHD2; a host means a remote INDI server (none is started)
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
comm_states=(Idle Pending Success Error)
comm() { local n; n=$(ekos_q "org.kde.kstars.Ekos.$1"); echo "${comm_states[$n]:-$n}"; }

# New lines of a module's log (Ekos keeps them newest first) since the last
# call for that module, oldest first.  The count lives in a file: the
# callers run in subshells.
log_new() {   # log_new PATH INTERFACE
    local seen_file="$out/.seen${1//\//_}" all n seen
    seen=$(cat "$seen_file" 2>/dev/null || echo 0)
    all=$(q "$1" "$2.logText" | tac | grep .)
    n=$(printf '%s\n' "$all" | grep -c .)
    [ "$n" -gt "$seen" ] && printf '%s\n' "$all" | tail -n +"$((seen + 1))"
    echo "$n" >"$seen_file"
}
report_ekos_log() { log_new /KStars/Ekos org.kde.kstars.Ekos | sed 's/^/      ekos: /' | tee -a "$summary"; }

say "step: open Ekos"
q /kstars/MainWindow_1/actions/show_ekos org.qtproject.Qt.QAction.trigger >/dev/null
if wait_kstars 60 /KStars/Ekos; then pass "Ekos is on D-Bus"; else fail "no /KStars/Ekos"; exit 1; fi
sleep 3
shot 01-ekos-open
say "  profiles: $(ekos_q org.kde.kstars.Ekos.getProfiles | tr '\n' ' ')"

say "step: select the profile, start Ekos"
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

# Every change of the Guide module's state, as Ekos signals it: "epoch number".
# (gdbus's own pid is kept: the pipeline ends when gdbus does.)
{
    stdbuf -oL gdbus monitor --session --dest "$KS" --object-path /KStars/Ekos/Guide 2>/dev/null &
    echo $! >"$out/.gdbus.pid"
    wait
} | while IFS= read -r line; do
    case $line in
        *Guide.newStatus*) echo "$(date +%s.%N) $(sed -E 's/.*newStatus[ (]*([0-9]+).*/\1/' <<<"$line")" ;;
    esac
done >"$out/guide-states.txt" &
pids+=($!)
sleep 3
pids+=($(cat "$out/.gdbus.pid"))
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
    xdotool mousemove --window "$ekos_win" 577 32 click 1 mousemove 1590 990
    sleep 1
fi
shot 03-guide-tab

# The telescope starts pointing at the pole without tracking: the stars of
# the CCD simulator would stream through the frame.  Track, and sync one hour
# east of the meridian at DEC +30 (the site is at 0, 0: the local sidereal
# time is Greenwich's).
say "step: mount tracking at DEC +30, one hour east of the meridian"
ra=$(python3 -c 'import time; print("%.5f" % ((18.697374558 + 24.06570982441908 * (time.time() / 86400 - 10957.5) + 1) % 24))')
indi_setprop -t 5 "Telescope Simulator.TELESCOPE_TRACK_STATE.TRACK_ON=On" &&
    indi_setprop -t 5 "Telescope Simulator.ON_COORD_SET.SYNC=On" &&
    indi_setprop -t 5 "Telescope Simulator.EQUATORIAL_EOD_COORD.RA;DEC=$ra;30" &&
    indi_eval -t 10 -w 'abs("Telescope Simulator.EQUATORIAL_EOD_COORD.DEC" - 30) < 0.001' >/dev/null &&
    pass "tracking, synced to RA $ra DEC 30" || fail "could not set up the mount"
# The guide camera turned so that its rows lie along RA, as a user sets up a
# guide camera for quorvel (the CCD Simulator's SIM_ROTATION).
indi_setprop -t 5 "CCD Simulator.SIMULATOR_SETTINGS.SIM_ROTATION=$CAMERA_ROTATION" &&
    indi_eval -t 10 -w "\"CCD Simulator.SIMULATOR_SETTINGS.SIM_ROTATION\" == $CAMERA_ROTATION" >/dev/null &&
    pass "CCD Simulator turned $CAMERA_ROTATION deg (rows along RA)" || fail "could not turn the CCD Simulator"
# quorvel's settings assume the 300 mm that Ekos's optical train gives the camera.
focal=$(indi_getprop -1 -t 3 "CCD Simulator.SCOPE_INFO.FOCAL_LENGTH" 2>/dev/null)
awk -v f="$focal" 'BEGIN { exit !(f == 300) }' &&
    pass "CCD Simulator SCOPE_INFO focal length $focal mm, as in qv185.dat" ||
    fail "CCD Simulator SCOPE_INFO focal length ${focal:-unknown} mm, qv185.dat says 300"
say "  $(indi_getprop -t 3 'Telescope Simulator.TELESCOPE_PIER_SIDE.*' 'Telescope Simulator.GUIDE_RATE.*' 'CCD Simulator.SCOPE_INFO.*' 2>/dev/null | sed 's/^[^.]*\.//' | tr '\n' ' ')"
sleep 5    # a few frames at the new position before a star is picked

# ---------------------------------------------------------------------------
guide_states=(IDLE ABORTED CONNECTED DISCONNECTED CAPTURE LOOPING DARK SUBFRAME
    STAR_SELECT CALIBRATING CALIBRATION_ERROR CALIBRATION_SUCCESS GUIDING SUSPENDED
    REACQUIRE DITHERING MANUAL_DITHERING DITHERING_ERROR DITHERING_SUCCESS DITHERING_SETTLE)
state_name() { case $1 in '' | *[!0-9]*) echo "?($1)" ;; *) echo "${guide_states[$1]:-$1}" ;; esac; }
guide_status() { state_name "$(guide_q org.kde.kstars.Ekos.Guide.status)"; }
states_seen() { wc -l <"$out/guide-states.txt"; }
states_since() {   # the states signalled after line $1 of guide-states.txt
    tail -n +"$(($1 + 1))" "$out/guide-states.txt" | while read -r _ n; do printf ' %s' "$(state_name "$n")"; done
}
wait_signal() {   # wait_signal MARK SECONDS STATE...: one of STATEs signalled after MARK
    local mark=$1 end=$(($(date +%s) + $2)) s want
    shift 2
    while :; do
        for s in $(states_since "$mark"); do
            for want in "$@"; do [ "$s" = "$want" ] && return 0; done
        done
        [ "$(date +%s)" -ge "$end" ] && return 1
        kill -0 "$qpid" 2>/dev/null || return 1
        sleep 0.5
    done
}
guide_log_new() { log_new /KStars/Ekos/Guide org.kde.kstars.Ekos.Guide; }
# wait_log SECONDS REGEX: until a Guide log line not yet reported matches
wait_log() {
    local end=$(($(date +%s) + $1)) seen
    seen=$(cat "$out/.seen_KStars_Ekos_Guide" 2>/dev/null || echo 0)
    until guide_q org.kde.kstars.Ekos.Guide.logText | tac | grep . | tail -n +"$((seen + 1))" | grep -qE "$2"; do
        [ "$(date +%s)" -ge "$end" ] && return 1
        kill -0 "$qpid" 2>/dev/null || return 1
        sleep 0.5
    done
}
# A property that qdbus cannot print (arrays): its numbers, space separated.
property_numbers() {   # property_numbers PATH INTERFACE NAME
    gdbus call --session --dest "$KS" --object-path "$1" \
        --method org.freedesktop.DBus.Properties.Get "$2" "$3" 2>/dev/null |
        grep -oE '[-+]?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?' | tr '\n' ' '
}
step_report() {   # step_report MARK LOG: the states and Guide log lines of a step
    say "  states:$(states_since "$1"); status now $(guide_status)"
    [ -n "$2" ] && sed 's/^/      ekos: /' <<<"$2" | tee -a "$summary"
}

say "step: the guider, as Ekos connected it with the devices"
log=$(guide_log_new)
st=$(guide_status)
grep -q 'External guider connected' <<<"$log" && pass "Ekos connected the guider; status $st" ||
    fail "Ekos did not connect the guider; status $st"
# Ekos drops the first element of get_exposure_durations (PHD2 puts a
# placeholder there) and offers the rest in the Guide tab's exposure box.
valid=$(grep -o 'Valid Exposure Times: .*' <<<"$log" | tail -1)
grep -qE 'Auto, .*[1-9]' <<<"$valid" && pass "$valid" || fail "${valid:-no list of exposure times}"
exposure=$(guide_q org.kde.kstars.Ekos.Guide.exposure)
[ "$exposure" = 1 ] && pass "Guide tab exposure $exposure s" || fail "Guide tab exposure $exposure s, not 1"
step_report 0 "$log"
quorvel_alive

say "step: connectGuider"
mark=$(states_seen)
answer=$(guide_q org.kde.kstars.Ekos.Guide.connectGuider)
wait_signal "$mark" 10 CONNECTED
sleep 2
st=$(guide_status)
log=$(guide_log_new)
# false means "nothing to do": Ekos had connected it already
case $st in
    CONNECTED | IDLE | LOOPING) pass "connectGuider answered $answer; status $st" ;;
    *) fail "connectGuider answered $answer; status $st" ;;
esac
step_report "$mark" "$log"

guide_once() {   # guide_once TAG SECONDS: guide, then go on guiding SECONDS
    say "step: guide ($1)"
    local mark answer log t0 rms
    mark=$(states_seen)
    t0=$(date +%s)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.guide)
    # Ekos signals GUIDING when the guider says it guides, and only logs the
    # end of the settle that follows
    wait_log "$GUIDE_TIMEOUT" 'Settling (complete|failed)|Equipment not connected|aborted|disconnected|rejected'
    sleep 1
    log=$(guide_log_new)
    if [ "$(guide_status)" = GUIDING ] && grep -q 'Settling complete, Guiding Started' <<<"$log"; then
        pass "guide answered $answer; guiding after $(($(date +%s) - t0)) s"
    else
        fail "guide answered $answer; not guiding"
    fi
    step_report "$mark" "$log"
    quorvel_alive || return
    [ "$(guide_status)" = GUIDING ] || return
    guide_for "$2" "guide-$1"
}

guide_for() {   # guide_for SECONDS SHOT: guiding goes on; its RMS as Ekos shows it
    local mark log rms
    mark=$(states_seen)
    sleep "$1"
    log=$(guide_log_new)
    rms=$(property_numbers /KStars/Ekos/Guide org.kde.kstars.Ekos.Guide axisSigma)
    if [ "$(guide_status)" = GUIDING ] && ! grep -qi 'lost' <<<"$log" &&
        awk -v m="$MAX_RMS" 'NF == 2 { ok = $1 * $1 + $2 * $2 <= m * m } END { exit !ok }' <<<"$rms"; then
        pass "guided $1 s; RMS RA, DEC: $rms arcsec"
    else
        fail "guided $1 s: status $(guide_status), RMS RA, DEC: ${rms:-none} arcsec"
    fi
    step_report "$mark" "$log"
    shot "$2"
}

dither_once() {   # dither_once N
    say "step: dither $1"
    local mark answer log seen t0 took
    mark=$(states_seen)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.dither)
    t0=$(date +%s)
    wait_signal "$mark" "$DITHER_TIMEOUT" DITHERING_SUCCESS DITHERING_ERROR ABORTED DISCONNECTED
    took=$(($(date +%s) - t0))
    sleep 1
    log=$(guide_log_new)
    seen=" $(states_since "$mark") "
    # Ekos goes on guiding after a failed settle (DitherFailAbortsAutoGuide
    # is off) and says so only in its log.
    if [[ $seen == *" DITHERING_SUCCESS "* ]] && [ "$(guide_status)" = GUIDING ] &&
        ! grep -qiE 'fail|error|no dithering response|lost' <<<"$log"; then
        pass "dither answered $answer; settled in $took s, guiding"
    else
        fail "dither answered $answer; no clean settle ($took s)"
    fi
    step_report "$mark" "$log"
    shot "dither-$1"
    quorvel_alive || return
    [ "$(guide_status)" = GUIDING ] && guide_for 10 "after-dither-$1"
}

abort_once() {   # abort_once TAG
    say "step: abort ($1)"
    local mark answer st log
    mark=$(states_seen)
    answer=$(guide_q org.kde.kstars.Ekos.Guide.abort)
    wait_signal "$mark" 10 ABORTED IDLE
    sleep 7     # Ekos asks get_connected every 3 s: see what it makes of the answers
    st=$(guide_status)
    log=$(guide_log_new)
    if [ "$answer" = true ] && { [ "$st" = ABORTED ] || [ "$st" = IDLE ]; } &&
        ! grep -q 'disconnected' <<<"$log"; then
        pass "abort answered $answer; status $st, guider still connected"
    else
        fail "abort answered $answer; status $st"
    fi
    step_report "$mark" "$log"
    quorvel_alive
    shot "abort-$1"
}

guide_once 1 "$GUIDE_SECONDS"
dither_once 1
dither_once 2
abort_once 1
guide_once 2-without-reconnecting 10
abort_once 2

# ---------------------------------------------------------------------------
say "step: stop everything"
mark=$(states_seen)
answer=$(guide_q org.kde.kstars.Ekos.Guide.disconnectGuider)
sleep 3
log=$(guide_log_new)
say "  disconnectGuider answered $answer"
step_report "$mark" "$log"
ekos_q org.kde.kstars.Ekos.disconnectDevices >/dev/null
sleep 2
ekos_q org.kde.kstars.Ekos.stop >/dev/null
sleep 2
report_ekos_log
say "  ekosStatus $(comm ekosStatus), indiStatus $(comm indiStatus)"
quit_kstars
if kill -0 "$qpid" 2>/dev/null; then
    kill "$qpid"
    wait "$qpid"
    st=$?
    [ "$st" = 0 ] && pass "quorvel serve ended cleanly on SIGTERM" || fail "quorvel serve ended with status $st on SIGTERM"
else
    fail "quorvel serve had already ended: $(tail -1 "$qdir/serve.err")"
fi

# KStars's debug log went to its standard error (kstars-main.out).
grep -a 'ekos.guide' "$out/kstars-main.out" >"$out/ekos-guide.log"
say "  traffic: $(grep -c ' > ' "$out/phd2-traffic.log") requests, $(grep -c '"Event"' "$out/phd2-traffic.log") events"
say "  methods Ekos called: $(grep -o '"method":"[a-z_]*"' "$out/phd2-traffic.log" | cut -d'"' -f4 | sort | uniq -c | awk '{ printf "%s %s, ", $2, $1 }')"

if [ "$failed" = 0 ]; then say "RESULT: every step succeeded"; else say "RESULT: some steps failed"; fi
exit "$failed"
