#!/usr/bin/env python3
"""Decoding speed of the H.264 engine against ffmpeg, both on a pan over the colour photograph.

A 300-frame CIF pan is coded at QP 28 in IBPBP by our encoder (bench_h264enc_run, dialog defaults) and
by x264 with matching tools (one reference, one B picture, spatial direct, no 8x8 transform, no
weighted prediction), once in CAVLC and once in CABAC. Our encoder codes 299 pictures of the 300 (the
last frame has no later anchor for its B picture); x264 is given the same 299. Our streams follow the
draft syntax, which ffmpeg does not read, hence the peer decodes x264's stream. Our engine decodes our streams from memory with
the views off (bench_h264dec, best of three, its own CPU time). `ffmpeg -threads 1` decodes x264's
stream repeated ten times (each copy starts with its parameter sets and an IDR picture) to a null
output, best of three, timed by its own -benchmark figures (user plus system CPU of the decoding,
without the start-up, which costs more than a whole pass at this size). Prints both rates in frames
per CPU second and their ratio.

Without ffmpeg, x264, the encoder runner or the photograph, it runs bench_h264dec on the writer's
CIF streams and prints only our rate.

Usage: bench/h264dec/h264dec_vs_ffmpeg.py BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

W, H, FRAMES, QP = 352, 288, 300, 28
RUNS = 3
COPIES = 10


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_pan(photo, out):
    # The photograph at twice its size, a CIF-sized window (twice CIF, scaled down) moving by half a
    # sample right and a quarter down per frame, so the whole run has sub-sample motion over texture.
    vf = f"scale=iw*2:ih*2,crop={2*W}:{2*H}:x=16+n:y=16+n/2,scale={W}:{H}:flags=bicubic"
    run(["ffmpeg", "-v", "error", "-y", "-loop", "1", "-i", photo, "-vf", vf, "-frames:v", str(FRAMES),
         "-pix_fmt", "yuv420p", "-f", "rawvideo", out])


def encode_ours(build, src, cabac, workdir):
    out, rec = os.path.join(workdir, f"ours{int(cabac)}.264"), os.path.join(workdir, "ours.yuv")
    runner = os.path.join(build, "bench", "h264enc", "bench_h264enc_run")
    settings = subprocess.run([runner, "--settings", workdir, src, str(W), str(H), str(FRAMES), out, rec,
                               str(QP), "1" if cabac else "0"], check=True, capture_output=True,
                              text=True).stdout.strip()
    res = subprocess.run([runner, settings], check=True, capture_output=True, text=True).stdout
    return out, int(re.search(r"pictures (\d+)", res).group(1))


def encode_x264(src, frames, cabac, workdir):
    out = os.path.join(workdir, f"x{int(cabac)}.264")
    run(["x264", "--threads", "1", "--demuxer", "raw", "--input-csp", "i420", "--input-res", f"{W}x{H}",
         "--fps", "30", "--frames", str(frames), "--qp", str(QP), "--keyint", "infinite", "--no-scenecut",
         "--no-8x8dct", "--ref", "1", "--bframes", "1", "--b-adapt", "0", "--b-pyramid", "none",
         "--direct", "spatial", "--weightp", "0", "--no-weightb", "--partitions", "p8x8,b8x8,i4x4,p4x4"] +
        ([] if cabac else ["--no-cabac"]) + ["-o", out, src])
    return out


def ffmpeg_fps(stream, frames, workdir):
    repeated = os.path.join(workdir, "repeated.264")
    with open(repeated, "wb") as f:
        f.write(open(stream, "rb").read() * COPIES)
    best = None
    for _ in range(RUNS):
        err = subprocess.run(["ffmpeg", "-nostats", "-benchmark", "-threads", "1", "-i", repeated, "-f", "null",
                              "-"], check=True, capture_output=True, text=True).stderr
        m = re.search(r"bench: utime=([0-9.]+)s stime=([0-9.]+)s", err)
        t = float(m.group(1)) + float(m.group(2))
        best = t if best is None else min(best, t)
    return frames * COPIES / best


def count_frames(stream):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_read_frames", "-of", "csv=p=0", stream], check=True, capture_output=True,
                         text=True).stdout
    return int(out.strip())


def ours_fps(build, stream):
    res = subprocess.run([os.path.join(build, "bench", "h264dec", "bench_h264dec"), stream], check=True,
                         capture_output=True, text=True).stdout
    m = re.search(r"frames (\d+) bytes \d+ cpu_seconds ([0-9.]+) fps ([0-9.]+)", res)
    return int(m.group(1)), float(m.group(3))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    photo = os.path.join(build, "photos", "astronaut.png")
    runner = os.path.join(build, "bench", "h264enc", "bench_h264enc_run")
    missing = [t for t in ("ffmpeg", "ffprobe", "x264") if shutil.which(t) is None]
    missing += [p for p in (photo, runner) if not os.path.exists(p)]
    if missing:
        print("missing " + ", ".join(missing) + ": writer streams, our rate only", flush=True)
        subprocess.run([os.path.join(build, "bench", "h264dec", "bench_h264dec")], check=True)
        return
    with tempfile.TemporaryDirectory() as workdir:
        src = os.path.join(workdir, "pan.yuv")
        make_pan(photo, src)
        for cabac in (False, True):
            name = "CABAC" if cabac else "CAVLC"
            ours_stream, pictures = encode_ours(build, src, cabac, workdir)
            frames, fps = ours_fps(build, ours_stream)
            x_stream = encode_x264(src, pictures, cabac, workdir)
            x_frames = count_frames(x_stream)
            x_fps = ffmpeg_fps(x_stream, x_frames, workdir)
            print(f"CIF QP {QP} IBPBP {name}: ours {frames} frames {os.path.getsize(ours_stream)} bytes"
                  f" {fps:.1f} fps; ffmpeg {x_frames} frames {os.path.getsize(x_stream)} bytes {x_fps:.1f} fps;"
                  f" ratio {fps / x_fps:.3f}")


if __name__ == "__main__":
    main()
