#!/bin/bash
# measure.sh - how still Quorvel holds the star on the INDI simulators, by the
# truth of the frames the camera saved, not by Quorvel's own measurements.
#
#   bench/indi/measure.sh [QUORVEL] [design|precise] [drift|pe]      (as root)
#
# Inside /work/shared/indi-lab.sh (INDI's CCD and telescope simulators in a
# private network namespace):
#   - the telescope synced at DEC 0 (hour angle -1 h), tracking; guide rate
#     0.5x sidereal (7.52"/s on both axes at DEC 0);
#   - the CCD Simulator behind 900 mm (5.2 um pixels: 1.19"/px, 2.38"/px in
#     the 2 x 2 binned 320 x 240 window of `quorvel guide --format 2`), turned
#     SIM_ROTATION = $MEASURE_ROTATION degrees (default 60: the simulator's
#     rows lie along DEC at 0, so at 60 RA lies 30 degrees off the rows);
#   - the camera and the sky's axes found first: a 2 x 2 binned frame, a West
#     pulse, a North pulse, back East and South (the angle and parity printed),
#     then the camera back to 1 x 1: Quorvel's window does the 2 x 2 binning;
#   - drift: the mount tracks at a custom rate +0.1"/s in RA and +0.05"/s in
#     DEC off sidereal; pe: the CCD Simulator's periodic error SIM_PEMAX 10"
#     over SIM_PEPERIOD 60 s;
#   - the camera saves every frame to frames/ and sends it too (UPLOAD_BOTH);
#   - `quorvel guide --source I --format 2 --exposure MS [--precise]
#     --seconds N --log run.log` with qv185.dat set to the output "INDI
#     (monture)" and the optics above, exposures $MEASURE_EXPOSURE s long;
#   - then truth.py: a sub-pixel centroid of the star in every saved frame,
#     turned to RA and DEC by the camera's angle, and the standard deviation
#     of each axis in arcseconds over the frames exposed from 60 s after
#     guiding began (after calibration, in the precise mode) to the run's end.
# Prints one JSON line; everything stays in the directory it names
# (MEASURE_OUT=DIR chooses it): quorvel.out (its lines, each after the epoch
# time it was read), run.log, truth.csv, probe/, frames/, result.json.
# Settings (environment): MEASURE_SECONDS=300, MEASURE_EXPOSURE=2,
# MEASURE_ROTATION=60, MEASURE_ANGLE=30 (the angle the positions are turned
# by, its sense taken from the probe), MEASURE_SKIP=60, MEASURE_PEMAX=10,
# MEASURE_PEPERIOD=60, MEASURE_DRIFT_RA=0.1, MEASURE_DRIFT_DEC=0.05.
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${MEASURE_INSIDE:-}" ]; then
    quorvel=${1:-$here/../../build/quorvel}
    mode=${2:-design}
    load=${3:-drift}
    case $mode in design | precise) ;; *) echo "measure: mode is design or precise, not $mode" >&2; exit 2 ;; esac
    case $load in drift | pe) ;; *) echo "measure: disturbance is drift or pe, not $load" >&2; exit 2 ;; esac
    [ "$(id -u)" = 0 ] || { echo "measure: run as root (private network namespace)" >&2; exit 2; }
    [ -x "$quorvel" ] || { echo "measure: no quorvel binary at $quorvel" >&2; exit 2; }
    if [ "$mode" = precise ] && ! "$quorvel" --help 2>&1 | grep -q -- '--precise'; then
        echo "measure: $quorvel has no guide --precise yet" >&2; exit 2
    fi
    out=${MEASURE_OUT:-$(mktemp -d -t qv-measure.XXXXXX)}
    mkdir -p "$out"
    out=$(cd "$out" && pwd)
    rm -rf "$out/frames" "$out/probe" "$out/q"
    mkdir -p "$out/frames" "$out/probe" "$out/q"
    cp "$quorvel" "$out/q/quorvel" || exit 2   # a copy: the build may replace it meanwhile
    echo "measure: $mode, $load; files in $out" >&2
    lab=/work/shared/indi-lab.sh
    [ -x "$lab" ] || lab="$here/../../tests/indi/indi-bench.sh"
    export MEASURE_INSIDE=1 MEASURE_OUT="$out" MEASURE_MODE="$mode" MEASURE_LOAD="$load"
    timeout --kill-after=20 $((${MEASURE_SECONDS:-300} + 600)) "$lab" bash "$0" >"$out/lab.log" 2>&1
    status=$?
    if [ -s "$out/result.json" ]; then cat "$out/result.json"; else tail -20 "$out/lab.log" >&2; fi
    exit $status
fi

# ---------------------------------------------------------------------------
# Inside the namespace, beside indiserver.
out=$MEASURE_OUT
quorvel=$out/q/quorvel
SECONDS_RUN=${MEASURE_SECONDS:-300}
EXPOSURE=${MEASURE_EXPOSURE:-2}
ROTATION=${MEASURE_ROTATION:-60}
ANGLE=${MEASURE_ANGLE:-30}
SKIP=${MEASURE_SKIP:-60}
FOCAL_MM=900 PIXEL_UM=5.2 GUIDE_RATE=0.5
SCALE=$(awk -v f=$FOCAL_MM -v p=$PIXEL_UM 'BEGIN { printf "%.4f", 206.264806 * 2 * p / f }')   # binned 2 x 2
CCD="CCD Simulator" TEL="Telescope Simulator"
set_() { indi_setprop -t 5 "$@"; }
get_() { indi_getprop -1 -t 5 "$1"; }
say() { printf '[%s] %s\n' "$(date +%T)" "$*"; }
die() { say "FAIL: $*"; echo "{\"error\":\"$*\"}" >"$out/result.json"; exit 1; }
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap cleanup EXIT

set_ "$TEL.CONNECTION.CONNECT=On" "$CCD.CONNECTION.CONNECT=On"
indi_eval -t 10 -w "\"$CCD.CONNECTION.CONNECT\"==1 && \"$TEL.CONNECTION.CONNECT\"==1" || die "devices did not connect"
say "devices connected"

# The mount at DEC 0, one hour east of the meridian, tracking.
RA=$(python3 -c 'import time; print((18.697374558 + 24.06570982441908 * (time.time() / 86400 - 10957.5) + 1) % 24)')
set_ "$TEL.TELESCOPE_TRACK_STATE.TRACK_ON=On"
set_ "$TEL.ON_COORD_SET.SYNC=On"
set_ "$TEL.EQUATORIAL_EOD_COORD.RA;DEC=$RA;0"
indi_eval -t 5 -w "abs(\"$TEL.EQUATORIAL_EOD_COORD.DEC\") < 0.001" || die "could not sync the mount"
set_ "$TEL.GUIDE_RATE.GUIDE_RATE_WE;GUIDE_RATE_NS=$GUIDE_RATE;$GUIDE_RATE"
# The camera: the optics, the rotation, 2 x 2 binning for the probe.
set_ "$CCD.SCOPE_INFO.FOCAL_LENGTH;APERTURE=$FOCAL_MM;120" 2>/dev/null || true
set_ "$CCD.SIMULATOR_SETTINGS.SIM_ROTATION=$ROTATION"
indi_eval -t 10 -w "\"$CCD.SIMULATOR_SETTINGS.SIM_ROTATION\" == $ROTATION" >/dev/null || die "could not turn the camera"
set_ "$CCD.CCD_BINNING.HOR_BIN;VER_BIN=2;2"
sleep 1
say "mount RA $RA DEC 0 tracking, pier $(indi_getprop -t 3 "$TEL.TELESCOPE_PIER_SIDE.*" | grep =On | sed 's/.*\.//'), camera SIM_ROTATION $ROTATION, $SCALE\"/px binned"
say "  $(indi_getprop -t 3 "$CCD.SCOPE_INFO.*" "$TEL.GUIDE_RATE.*" "$TEL.TELESCOPE_TRACK_RATE.*" 2>/dev/null | sed 's/^[^.]*\.//' | tr '\n' ' ')"

# The probe: where West and North move the star in the picture.
set_ "$CCD.UPLOAD_SETTINGS.UPLOAD_DIR;UPLOAD_PREFIX=$out/probe;PROBE_XXX"
set_ "$CCD.UPLOAD_MODE.UPLOAD_LOCAL=On"
expose() {   # expose: one frame saved in probe/, prints its path
    set_ "$CCD.CCD_EXPOSURE.CCD_EXPOSURE_VALUE=$EXPOSURE"
    indi_eval -t 1 -w "\"$CCD.CCD_EXPOSURE._STATE\"==2" >/dev/null 2>&1 || true
    indi_eval -t 30 -w "\"$CCD.CCD_EXPOSURE._STATE\"==1" >/dev/null
    ls -t "$out"/probe/*.fits | head -1
}
pulse() {    # pulse NS|WE N|S|W|E MS
    set_ "$TEL.TELESCOPE_TIMED_GUIDE_$1.TIMED_GUIDE_$2=$3"
    sleep "$(awk -v m="$3" 'BEGIN { print m / 1000 + 0.3 }')"
    indi_eval -t 10 -w "\"$TEL.TELESCOPE_TIMED_GUIDE_$1._STATE\"!=2" >/dev/null
}
ref=$(expose); pulse WE W 4000; west=$(expose); pulse NS N 4000; north=$(expose)
pulse WE E 4000; pulse NS S 4000
axes=$(python3 "$here/truth.py" axes "$ref" "$west" "$north" "$ANGLE") || die "probe failed"
say "probe: $axes"
echo "$axes" >"$out/axes.json"
read -r angle parity < <(python3 -c 'import json, sys; a = json.loads(sys.argv[1]); print(a["angle_deg"], a["parity"])' "$axes")

# The disturbance, on or off.
disturb() {
    if [ "$MEASURE_LOAD" = drift ]; then
        if [ "$1" = on ]; then
            rate_ra=$(awk -v d="${MEASURE_DRIFT_RA:-0.1}" 'BEGIN { printf "%.6f", 15.041067179 + d }')
            set_ "$TEL.TELESCOPE_TRACK_MODE.TRACK_CUSTOM=On"
            set_ "$TEL.TELESCOPE_TRACK_RATE.TRACK_RATE_RA;TRACK_RATE_DE=$rate_ra;${MEASURE_DRIFT_DEC:-0.05}"
        else
            set_ "$TEL.TELESCOPE_TRACK_MODE.TRACK_SIDEREAL=On"
        fi
        sleep 1
        say "drift $1: $(indi_getprop -t 3 "$TEL.TELESCOPE_TRACK_MODE.*" "$TEL.TELESCOPE_TRACK_RATE.*" | grep -v =Off | sed 's/^[^.]*\.//' | tr '\n' ' ')"
    else
        if [ "$1" = on ]; then
            set_ "$CCD.SIMULATOR_SETTINGS.SIM_PEMAX;SIM_PEPERIOD=${MEASURE_PEMAX:-10};${MEASURE_PEPERIOD:-60}"
        else
            set_ "$CCD.SIMULATOR_SETTINGS.SIM_PEMAX=0"
        fi
        sleep 1
        say "periodic error $1: $(indi_getprop -t 3 "$CCD.SIMULATOR_SETTINGS.SIM_PEMAX" "$CCD.SIMULATOR_SETTINGS.SIM_PEPERIOD" | sed 's/^[^.]*\.//' | tr '\n' ' ')"
    fi
}
disturb on
# The disturbance as the camera sees it, unguided, over 20 s.
a=$(expose); sleep 20; b=$(expose)
python3 - "$here/truth.py" "$a" "$b" "$angle" "$parity" "$SCALE" <<'EOF' | tee "$out/unguided.json" | sed 's/^/unguided 20 s: /'
import json, math, subprocess, sys
truth, a, b, ang, par, scale = sys.argv[1], sys.argv[2], sys.argv[3], math.radians(float(sys.argv[4])), int(sys.argv[5]), float(sys.argv[6])
out = subprocess.run(['python3', truth, 'centroid', a, b], capture_output=True, text=True).stdout.split('\n')
(x0, y0, _, _, t0), (x1, y1, _, _, t1) = ([float(v) for v in l.split()] for l in out[:2])
dx, dy = x1 - x0, -(y1 - y0)
ra = (dx * math.cos(ang) + dy * math.sin(ang)) * scale
de = par * (-dx * math.sin(ang) + dy * math.cos(ang)) * scale
print(json.dumps({'seconds': round(t1 - t0, 1), 'ra_arcsec_s': round(ra / (t1 - t0), 3), 'dec_arcsec_s': round(de / (t1 - t0), 3)}))
EOF

# Quorvel bins 2 x 2 itself ("320 x 240 window, 2 x 2 binning"): the camera
# goes back to full resolution, or the star would be binned twice (4.77"/px,
# a star of one or two pixels).
set_ "$CCD.CCD_BINNING.HOR_BIN;VER_BIN=1;1"
indi_eval -t 10 -w "\"$CCD.CCD_BINNING.HOR_BIN\" == 1" >/dev/null || die "could not unbin the camera"
# Every frame saved in frames/ and sent to the client.
set_ "$CCD.UPLOAD_SETTINGS.UPLOAD_DIR;UPLOAD_PREFIX=$out/frames;FRAME_XXX"
set_ "$CCD.UPLOAD_MODE.UPLOAD_BOTH=On"

# Quorvel's settings: "INDI (monture)", 900 mm, 10.4 um (a binned pixel),
# the guide rate in arcseconds per second on each axis.
qdir=$out/q
(cd "$qdir" && rm -f qv185.dat qv185-precise.txt && "$quorvel" settings --rewrite >/dev/null) || die "quorvel settings --rewrite"
# The design's Inverse options as a user sets them for this camera, from the
# probe (in the saved frame's columns, and rows counted upwards). Quorvel's
# picture runs the other way on both axes (its dx grows while the saved
# frame's column falls): a West move to the left of the saved frame needs
# "Inverse AD" off, a North move upwards needs "Inverse DEC" on. The precise
# mode needs none. MEASURE_INVERT_RA / MEASURE_INVERT_DEC override.
if [ "$MEASURE_MODE" = design ]; then
    read -r inv_ra inv_dec < <(python3 -c 'import json, sys; a = json.load(open(sys.argv[1]))
print(int(a["west_px"][0] > 0), int(a["north_px"][1] > 0))' "$out/axes.json")
else
    inv_ra=0 inv_dec=0
fi
speed=$(awk -v r=$GUIDE_RATE 'BEGIN { printf "%.3f", 15.041067 * r }')
python3 - "$qdir/qv185.dat" "$FOCAL_MM" "$PIXEL_UM" "$speed" "${MEASURE_INVERT_DEC:-$inv_dec}" "${MEASURE_INVERT_RA:-$inv_ra}" <<'EOF' || die "unexpected settings file"
import struct, sys
path, focal_mm, pixel_um, speed, inv_dec, inv_ra = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
data = bytearray(open(path, 'rb').read())
# four doubles (focal length cm, pixel size um, RA and DEC guide speeds
# arcsec/s), seven int32 (interfaceType the fifth), then Inverse DEC, Inverse AD
at = data.find(struct.pack('<4d', 50.0, 5.6, 12.0, 14.0))
assert at >= 0 and struct.unpack_from('<i', data, at + 48)[0] == 3, 'unexpected settings layout'
struct.pack_into('<4d', data, at, focal_mm / 10, pixel_um * 2, speed, speed)
struct.pack_into('<i', data, at + 48, 4)        # "INDI (monture)"
struct.pack_into('<i', data, at + 60, inv_dec)
struct.pack_into('<i', data, at + 64, inv_ra)
open(path, 'wb').write(data)
EOF
(cd "$qdir" && "$quorvel" settings) >"$qdir/settings.json"
say "quorvel settings: $(cat "$qdir/settings.json")"

source_index=$(cd "$qdir" && "$quorvel" sources 2>/dev/null | python3 -c '
import json, sys
for line in sys.stdin:
    e = json.loads(line)
    if e["name"] == "CCD Simulator":
        print(e["index"]); break')
[ -n "$source_index" ] || die "quorvel sources lists no CCD Simulator"
precise=()
[ "$MEASURE_MODE" = precise ] && precise=(--precise)
exposure_ms=$(awk -v e="$EXPOSURE" 'BEGIN { printf "%d", e * 1000 }')
# The precise mode calibrates first, as a user does once, with the mount
# undisturbed (MEASURE_CALIBRATE_DISTURBED=1: under the disturbance); the run
# reuses the calibration it saved.
if [ "$MEASURE_MODE" = precise ]; then
    [ -n "${MEASURE_CALIBRATE_DISTURBED:-}" ] || disturb off
    (cd "$qdir" && "$quorvel" guide --source "$source_index" --format 2 --exposure "$exposure_ms" --precise --calibrate --seconds 4 \
        >"$out/calibrate.out" 2>"$out/calibrate.err")
    say "calibration: $(grep calibrated "$out/calibrate.out")"
    grep -q '"calibrated":true' "$out/calibrate.out" || die "the calibration failed"
    [ -n "${MEASURE_CALIBRATE_DISTURBED:-}" ] || disturb on
fi
say "quorvel guide --source $source_index --format 2 --exposure $exposure_ms ${precise[*]} --seconds $SECONDS_RUN --log run.log"
t_start=$(date +%s.%N)
(cd "$qdir" && "$quorvel" guide --source "$source_index" --format 2 --exposure "$exposure_ms" "${precise[@]}" --seconds "$SECONDS_RUN" --log "$out/run.log" 2>"$out/quorvel.err") |
    python3 -u -c 'import sys, time
for line in sys.stdin: print("%.3f %s" % (time.time(), line), end="", flush=True)' >"$out/quorvel.out" &
qpid=$!
# the window Quorvel exposes, every 10 s
(while sleep 10; do echo "$(date +%s) $(indi_getprop -t 2 "$CCD.CCD_FRAME.*" "$CCD.CCD_BINNING.*" 2>/dev/null | sed 's/^[^.]*\.//' | tr '\n' ' ')"; done) >"$out/window.log" &
pids+=($!)
wait $qpid
qstatus=$?
t_end=$(date +%s.%N)
say "quorvel ended (status $qstatus): $(grep summary "$out/quorvel.out" | cut -d' ' -f2-)"
grep -q calibrated "$out/quorvel.out" && say "calibration in the run: $(grep calibrated "$out/quorvel.out" | cut -d' ' -f2-)"
windows=$(cut -d' ' -f2- "$out/window.log" | sort -u | wc -l)
say "windows seen: $windows ($(cut -d' ' -f2- "$out/window.log" | sort -u | head -3 | tr '\n' '|'))"

# Guiding began at the first cycle line (after the calibration's lines).
t_guide=$(python3 - "$out/quorvel.out" <<'EOF'
import json, sys
t = None
for line in open(sys.argv[1]):
    stamp, _, text = line.partition(' ')
    try:
        j = json.loads(text)
    except ValueError:
        continue
    if 'calibration' in j or 'calibrated' in j:
        t = None
    elif 't_s' in j and t is None:
        t = float(stamp) - float(j['t_s'])   # the cycle clock's start
print(t if t is not None else '')
EOF
)
[ -n "$t_guide" ] || die "no guiding cycle in quorvel's output"
t0=$(awk -v a="$t_guide" -v s="$SKIP" 'BEGIN { printf "%.3f", a + s }')
spread=$(python3 "$here/truth.py" spread "$out/frames" "$t0" "$t_end" "$angle" "$parity" "$SCALE" "$out/truth.csv")
python3 - "$spread" "$axes" "$out/unguided.json" "$out/quorvel.out" "$MEASURE_MODE" "$MEASURE_LOAD" "$SECONDS_RUN" "$EXPOSURE" "$SCALE" "$t_start" "$t_guide" "$t0" "$t_end" "$qstatus" "$windows" >"$out/result.json" <<'EOF'
import json, sys
import os
spread, axes = json.loads(sys.argv[1]), json.loads(sys.argv[2])
unguided = json.load(open(sys.argv[3]))
summary, calibrated = None, None
for line in open(sys.argv[4]):
    try:
        j = json.loads(line.partition(' ')[2])
    except ValueError:
        continue
    if j.get('summary'):
        summary = j
    if 'calibrated' in j:
        calibrated = j
calibrate_out = os.path.join(os.path.dirname(sys.argv[4]), 'calibrate.out')
if calibrated is None and os.path.exists(calibrate_out):
    for line in open(calibrate_out):
        if '"calibrated"' in line:
            calibrated = json.loads(line)
t_start, t_guide, t0, t_end = (float(v) for v in sys.argv[10:14])
r = {'mode': sys.argv[5], 'disturbance': sys.argv[6], 'seconds': int(sys.argv[7]), 'exposure_s': float(sys.argv[8]),
     'scale_arcsec_px': float(sys.argv[9])}
r.update(spread)
r.update({'from_s': round(t0 - t_start, 1), 'to_s': round(t_end - t_start, 1), 'guiding_from_s': round(t_guide - t_start, 1),
          'camera_angle_deg': axes['angle_deg'], 'probe_angle_deg': axes['measured_line_deg'], 'axes_between_deg': axes['axes_between_deg'],
          'unguided': unguided, 'quorvel_status': int(sys.argv[14]), 'windows': int(sys.argv[15])})
if spread.get('binning') != [1]:
    r['warning'] = 'the camera binned some frames itself: Quorvel binned them again, not the 2.38"/px bench'
if calibrated:
    r['calibration'] = calibrated
if summary:
    r['quorvel_summary'] = {k: summary[k] for k in ('cycles', 'dropped', 'rms_x_arcsec', 'rms_y_arcsec') if k in summary}
print(json.dumps(r))
EOF
say "result: $(cat "$out/result.json")"
