#!/usr/bin/env python3
"""Encoding speed of the MPEG-1/2 engine against ffmpeg's encoders, one thread each, on the same input.

Input: pans over a mosaic of the sample photographs (bench/pan_source.py), as raw 4:2:0 files:
  SD   720x576, 150 frames, MPEG-2 at 5 Mbit/s (the dialog's 5 Mbit/s choice);
  CIF  352x288, 300 frames, MPEG-1 at 1.15 Mbit/s (the dialog's default).
Ours is bench_mpgenc_run with the dialog's defaults (N = 12, M = 3, largest motion 15 per picture
distance, progressive source, frame pictures). The peer is ffmpeg's mpeg2video or mpeg1video encoder
matched to it: the same rate (-b:v), GOPs of 12 with 2 B pictures in a fixed pattern (-g 12 -bf 2
-b_strategy 0, no scene-cut I pictures), one thread (-threads 1), and its defaults otherwise: no
trellis quantisation, no rate-distortion macroblock decision, its own motion search. Both read the
raw file and write an elementary stream. Each is timed as a whole process in CPU seconds, in pairs
(ours, ffmpeg) over several runs; the figure is the median of the paired speed ratios, for the whole
process and with each side's start-up (coding one frame) taken off.

Before timing, our stream is checked against the checksum the encoder gave before it was made faster
(PINS; the pan's bytes depend only on ffmpeg's scaler and noise, so a changed pan is reported as such).

Usage: bench/mpgenc/mpgenc_vs_ffmpeg.py [BUILD_DIR] [--runs N] [--only SD|CIF]
"""
import hashlib
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import paired_runs  # noqa: E402
import pan_source  # noqa: E402

CASES = {
    "SD": dict(size=(720, 576), frames=150, mpeg1=0, rate=5000000, codec="mpeg2video", ext="m2v"),
    "CIF": dict(size=(352, 288), frames=300, mpeg1=1, rate=1150000, codec="mpeg1video", ext="m1v"),
}
# sha256 of the pan (first 16 hex digits) -> checksum of our stream (FNV-1a, as bench_mpgenc_run prints).
PINS = {
    "SD": ("332314d321f67d3d", "959155e2586c0833"),
    "CIF": ("5adbd10e9ccd869f", "88c83fb007ea43f1"),
}


def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()[:16]


def main():
    args, workdir = paired_runs.arguments(CASES)
    runner = os.path.join(args.build, "bench", "mpgenc", "bench_mpgenc_run")
    print(paired_runs.load(), flush=True)
    ok = True
    for name, c in CASES.items():
        if args.only and name != args.only:
            continue
        (w, h), frames = c["size"], c["frames"]
        yuv = os.path.join(workdir, f"enc-pan-{name}-{frames}.yuv")
        if not os.path.exists(yuv):
            pan_source.make_pan(os.path.join(args.build, "photos"), yuv + ".part", w, h, frames, workdir)
            os.rename(yuv + ".part", yuv)
        ours_out = os.path.join(workdir, f"ours-{name}.mpg")
        peer_out = os.path.join(workdir, f"ffmpeg-{name}.{c['ext']}")

        def ours(n):
            return [runner, yuv, str(w), str(h), str(n), ours_out, str(c["rate"]), str(c["mpeg1"])]

        def peer(n):
            return ["ffmpeg", "-v", "error", "-nostdin", "-y", "-threads", "1", "-f", "rawvideo", "-pix_fmt",
                    "yuv420p", "-s", f"{w}x{h}", "-r", "25", "-i", yuv, "-frames:v", str(n), "-threads", "1",
                    "-c:v", c["codec"], "-b:v", str(c["rate"]), "-g", "12", "-bf", "2", "-b_strategy", "0",
                    "-sc_threshold", "1000000000", "-f", "rawvideo", peer_out]

        out = subprocess.run(ours(frames), check=True, capture_output=True, text=True).stdout.split()
        stream = out[out.index("hash") + 1]
        pan = file_digest(yuv)
        pinned_pan, pinned_stream = PINS[name]
        if pan != pinned_pan:
            print(f"{name}: the pan came out different ({pan}, pinned {pinned_pan or 'none'}): stream "
                  f"{stream} not checked")
        elif stream != pinned_stream:
            print(f"{name}: STREAM CHANGED: checksum {stream}, pinned {pinned_stream}")
            ok = False
        else:
            print(f"{name}: pan {pan}, stream {stream} as pinned")
        ours_start = paired_runs.startup(ours(1), 3)
        peer_start = paired_runs.startup(peer(1), 3)
        a, b = paired_runs.paired(ours(frames), peer(frames), args.runs)
        paired_runs.report(f"{name} {c['codec']} encode", frames, a, b, ours_start, peer_start)
        print(f"{name}: ours {os.path.getsize(ours_out)} bytes, ffmpeg {os.path.getsize(peer_out)} bytes")
    print(paired_runs.load())
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
