#!/usr/bin/env python3
"""The guide star's true position in frames the CCD Simulator saved.

    truth.py centroid FITS...            one line per file: x y peak background epoch
    truth.py axes REF WEST NORTH ANGLE   the camera angle from a West and a North move
    truth.py spread DIR T0 T1 ANGLE PARITY SCALE [CSV]

centroid: a sub-pixel centroid of the brightest star (python3's standard
library only): brightest pixel, background the median of a box's border,
intensity-weighted centroid of the box, recentred twice.  x = column,
y = row in file order, 0-based; epoch = DATE-OBS (exposure start, UTC).

axes: from the star in a reference frame, after a West pulse and after a
North pulse, prints a JSON line with the angle of the RA axis in the picture
(degrees, counter-clockwise from +x, as x right and y up), the angle between
the axes, the parity (+1: North is RA's axis turned +90 degrees, -1: -90)
and ANGLE turned to that sense: ANGLE with the sign of the measured angle.

spread: the star in each FITS file of DIR exposed from T0 to T1 (epoch
seconds) turned to RA and DEC: ra = x cos a + y' sin a, dec = parity *
(-x sin a + y' cos a) with y' = -y (rows go down) and a = ANGLE; prints one
JSON line with the standard deviation of each axis in arcseconds (each
frame's SCALE header, else SCALE arcseconds per pixel), the frames used, the peak-to-peak, and the mean
motion; CSV, if given, gets one line per frame.
"""
import array
import calendar
import glob
import json
import math
import os
import sys
import time


def read_fits(path):
    data = open(path, 'rb').read()
    hdr, pos, done = {}, 0, False
    while not done:
        for i in range(pos, pos + 2880, 80):
            card = data[i:i + 80].decode('ascii', 'replace')
            if card[8:10] == '= ':
                v = card[10:]
                if v.strip().startswith("'"):
                    v = v.strip()[1:].split("'")[0]
                else:
                    v = v.split('/')[0]
                hdr[card[:8].strip()] = v.strip()
            done = done or card.rstrip() == 'END'
        pos += 2880
    w, h = int(hdr['NAXIS1']), int(hdr['NAXIS2'])
    bitpix = int(hdr['BITPIX'])
    code = {8: 'B', 16: 'h', 32: 'i'}[bitpix]
    raw = array.array(code, data[pos:pos + w * h * abs(bitpix) // 8])
    if sys.byteorder == 'little' and bitpix != 8:
        raw.byteswap()
    bzero, bscale = float(hdr.get('BZERO', 0)), float(hdr.get('BSCALE', 1))
    vals = [v * bscale + bzero for v in raw]
    return hdr, w, h, vals


def epoch_of(hdr, path):
    d = hdr.get('DATE-OBS')
    if d:
        frac = 0.0
        if '.' in d:
            d, f = d.split('.', 1)
            frac = float('0.' + f)
        return calendar.timegm(time.strptime(d, '%Y-%m-%dT%H:%M:%S')) + frac
    return os.path.getmtime(path)


def centroid(path, r=7):
    hdr, w, h, v = read_fits(path)
    k = max(range(len(v)), key=v.__getitem__)
    cx, cy = float(k % w), float(k // w)
    peak = v[k]
    for _ in range(3):
        px, py = int(round(cx)), int(round(cy))
        x0, x1 = max(0, px - r), min(w - 1, px + r)
        y0, y1 = max(0, py - r), min(h - 1, py + r)
        edge = sorted(v[y * w + x] for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)
                      if x in (x0, x1) or y in (y0, y1))
        bg = edge[len(edge) // 2]
        s = sx = sy = 0.0
        for y in range(y0, y1 + 1):
            row = y * w
            for x in range(x0, x1 + 1):
                q = v[row + x] - bg
                if q > 0:
                    s += q
                    sx += q * x
                    sy += q * y
        if s <= 0:
            return None
        cx, cy = sx / s, sy / s
    return cx, cy, peak, bg, epoch_of(hdr, path), w, h, float(hdr.get('SCALE', 0) or 0), int(hdr.get('XBINNING', 1))


def std(a):
    m = sum(a) / len(a)
    return math.sqrt(sum((x - m) ** 2 for x in a) / len(a))


def main():
    cmd = sys.argv[1]
    if cmd == 'centroid':
        for p in sys.argv[2:]:
            c = centroid(p)
            print('%.3f %.3f %.0f %.0f %.3f' % c[:5] if c else 'nan nan 0 0 0')
    elif cmd == 'axes':
        ref, west, north = (centroid(p) for p in sys.argv[2:5])
        nominal = float(sys.argv[5])
        wx, wy = west[0] - ref[0], -(west[1] - ref[1])
        nx, ny = north[0] - west[0], -(north[1] - west[1])
        ra_angle = math.degrees(math.atan2(wy, wx))
        dec_angle = math.degrees(math.atan2(ny, nx))
        between = (dec_angle - ra_angle + 180) % 360 - 180
        parity = 1 if between > 0 else -1
        # the RA axis as a line: its angle in (-90, 90]
        line = (ra_angle + 90) % 180 - 90
        angle = math.copysign(nominal, line) if abs(abs(line) - nominal) < 10 else line
        print(json.dumps({'ra_angle_deg': round(ra_angle, 2), 'dec_angle_deg': round(dec_angle, 2),
                          'axes_between_deg': round(between, 2), 'parity': parity,
                          'west_px': [round(wx, 2), round(wy, 2)], 'north_px': [round(nx, 2), round(ny, 2)],
                          'measured_line_deg': round(line, 2), 'angle_deg': angle}))
    elif cmd == 'spread':
        d, t0, t1, ang, parity, scale = sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), \
            math.radians(float(sys.argv[5])), int(sys.argv[6]), float(sys.argv[7])
        csv = open(sys.argv[8], 'w') if len(sys.argv) > 8 else None
        if csv:
            csv.write('file,epoch,x,y,peak,background,ra_arcsec,dec_arcsec,used\n')
        ra, de, peaks, n_all, bins = [], [], [], 0, set()
        for p in sorted(glob.glob(os.path.join(d, '*.fits'))):
            c = centroid(p)
            if not c:
                continue
            n_all += 1
            x, y, peak, bg, ep, w, h, hscale, binning = c
            sc = hscale or scale   # the frame's own SCALE (binning) when it has one
            bins.add(binning)
            yy = -y
            r = (x * math.cos(ang) + yy * math.sin(ang)) * sc
            e = parity * (-x * math.sin(ang) + yy * math.cos(ang)) * sc
            used = t0 <= ep <= t1
            if used:
                ra.append(r)
                de.append(e)
                peaks.append(peak)
            if csv:
                csv.write('%s,%.3f,%.3f,%.3f,%.0f,%.0f,%.3f,%.3f,%d\n' % (os.path.basename(p), ep, x, y, peak, bg, r, e, used))
        out = {'frames': len(ra), 'frames_saved': n_all, 'binning': sorted(bins)}
        if len(ra) >= 2:
            out.update({'std_ra_arcsec': round(std(ra), 3), 'std_dec_arcsec': round(std(de), 3),
                        'p2p_ra_arcsec': round(max(ra) - min(ra), 2), 'p2p_dec_arcsec': round(max(de) - min(de), 2),
                        'peak_adu_max': max(peaks)})
        print(json.dumps(out))


main()
