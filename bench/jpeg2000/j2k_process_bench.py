#!/usr/bin/env python3
"""Whole-process JPEG2000 runs: peak memory of our encoder and decoder, and speed against OpenJPEG.

The picture is the camera photograph tiled to N x N (8-bit grey BMP, as a document holds it). Our
runs are bench_j2k_run (the module's engine path: the module's encoder vector, the document reader
and the work-image writer); peak resident memory comes from /usr/bin/time. The budget a run may
take: the compressed stream, the image buffers the module itself needs (the document's 8-bit
picture when encoding, the 24-bit work image when decoding) and the process's own start-up
footprint, plus SLACK_MB.

With --vs-openjpeg RUNS it times, in pairs A B A B, our decoder against opj_decompress -threads 1
on the same code-stream (our headers turned into the standard's), and our encoder against
opj_compress -threads 1 at the same rate and settings (5 resolutions, 32 x 32 blocks), and prints
the median of the paired ratios.

Usage: bench/jpeg2000/j2k_process_bench.py BUILD_DIR [--sizes 2048,8192] [--vs-openjpeg RUNS]
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

SLACK_MB = 8


def grey_photo(build):
    photo = os.path.join(build, "photos", "camera.png")
    if not os.path.exists(photo):
        sys.exit(f"{photo} missing: run scripts/photos {build}/photos")
    pgm = subprocess.run(["convert", photo, "-colorspace", "Gray", "-depth", "8", "pgm:-"], check=True,
                         capture_output=True).stdout
    fields, pos = [], 0
    while len(fields) < 4:  # P5 width height maxval, then one whitespace byte
        while pgm[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not pgm[pos:pos + 1].isspace():
            pos += 1
        fields.append(pgm[start:pos])
    w, h = int(fields[1]), int(fields[2])
    return w, h, pgm[pos + 1:pos + 1 + w * h]


def write_tiled_bmp(photo, n, path):
    """The photograph repeated over n x n, as an 8-bit BMP with a grey palette, bottom row first."""
    w, h, pixels = photo
    row_bytes = (n + 3) & ~3
    header = struct.pack("<2sIHHI", b"BM", 54 + 1024 + row_bytes * n, 0, 0, 54 + 1024)
    info = struct.pack("<IiiHHIIiiII", 40, n, n, 1, 8, 0, row_bytes * n, 2835, 2835, 256, 0)
    palette = b"".join(bytes((g, g, g, 0)) for g in range(256))
    with open(path, "wb") as f:
        f.write(header + info + palette)
        for y in range(n - 1, -1, -1):
            src = pixels[(y % h) * w:(y % h + 1) * w]
            row = (src * (n // w + 1))[:n]
            f.write(row + bytes(row_bytes - n))


def run_measured(cmd):
    """Runs cmd under /usr/bin/time; returns (seconds, peak kB, stdout)."""
    r = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + cmd, check=True, capture_output=True, text=True)
    seconds, kb = r.stderr.strip().splitlines()[-1].split()
    return float(seconds), int(kb), r.stdout


def memory(build, sizes, work):
    runner = os.path.join(build, "bench", "jpeg2000", "bench_j2k_run")
    photo = grey_photo(build)
    # The process's own footprint: a run that ends at once (usage text), libraries loaded.
    r = subprocess.run(["/usr/bin/time", "-f", "%M", runner], capture_output=True, text=True)
    idle_kb = int(r.stderr.strip().splitlines()[-1])
    print(f"process start-up footprint {idle_kb / 1024:.1f} MB; slack allowed {SLACK_MB} MB")
    status = 0
    for n in sizes:
        picture = os.path.join(work, f"camera{n}.bmp")
        write_tiled_bmp(photo, n, picture)
        for label, rate in (("0.5 bpp", "0.5"), ("lossless", "lossless")):
            stream = os.path.join(work, f"s{n}.jp2")
            t_enc, kb_enc, _ = run_measured([runner, "encode", picture, stream, rate])
            t_dec, kb_dec, out = run_measured([runner, "decode", stream, "-"])
            stream_mb = os.path.getsize(stream) / 2**20
            source_mb = os.path.getsize(picture) / 2**20
            target_mb = 3 * n * n / 2**20
            for what, t, kb, images in (("encode", t_enc, kb_enc, source_mb), ("decode", t_dec, kb_dec, target_mb)):
                peak = kb / 1024
                allowed = stream_mb + images + idle_kb / 1024 + SLACK_MB
                over = peak - (stream_mb + images + idle_kb / 1024)
                verdict = "ok" if peak <= allowed else "OVER"
                print(f"{n}x{n} {label:8s} {what}: {t:6.2f} s, peak {peak:7.1f} MB = stream {stream_mb:6.1f} + "
                      f"images {images:6.1f} + start-up {idle_kb / 1024:4.1f} + {over:6.1f} MB  [{verdict}]")
                if verdict != "ok":
                    status = 1
            print(f"    {out.strip()}")
    return status


def paired(a, b, runs):
    """Times commands a and b alternately; returns the median ratio a/b and both medians."""
    ta, tb, ratios = [], [], []
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(a, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t1 = time.perf_counter()
        subprocess.run(b, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        t2 = time.perf_counter()
        ta.append(t1 - t0)
        tb.append(t2 - t1)
        ratios.append((t1 - t0) / (t2 - t1))
    return statistics.median(ratios), statistics.median(ta), statistics.median(tb)


def versus_openjpeg(build, runs, work):
    for tool in ("opj_compress", "opj_decompress"):
        if not shutil.which(tool):
            sys.exit(f"{tool} missing")
    runner = os.path.join(build, "bench", "jpeg2000", "bench_j2k_run")
    n = 2048
    picture = os.path.join(work, f"camera{n}.bmp")
    write_tiled_bmp(grey_photo(build), n, picture)
    pgm = os.path.join(work, "camera.pgm")
    subprocess.run(["convert", picture, "-depth", "8", pgm], check=True)
    with open("/proc/loadavg") as f:
        print(f"load average: {f.read().split()[0]}")
    for label, rate, opj_rate in (("0.5 bpp", "0.5", ["-I", "-r", "16"]), ("lossless", "lossless", [])):
        ours = os.path.join(work, "ours.jp2")
        standard = os.path.join(work, "ours.j2k")
        subprocess.run([runner, "encode", picture, ours, rate], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([runner, "standard", ours, standard], check=True)
        r, a, b = paired([runner, "encode", picture, ours, rate],
                         ["opj_compress", "-i", pgm, "-o", os.path.join(work, "opj.j2k"), "-n", "5", "-b", "32,32",
                          "-threads", "1"] + opj_rate, runs)
        print(f"{n}x{n} {label:8s} encode: ours {a * 1000:6.0f} ms, opj_compress {b * 1000:6.0f} ms, "
              f"median paired ratio {r:.2f}")
        r, a, b = paired([runner, "decode", ours, os.path.join(work, "ours.pgm")],
                         ["opj_decompress", "-i", standard, "-o", os.path.join(work, "opj.pgm"), "-threads", "1"],
                         runs)
        print(f"{n}x{n} {label:8s} decode: ours {a * 1000:6.0f} ms, opj_decompress {b * 1000:6.0f} ms, "
              f"median paired ratio {r:.2f}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    sizes = [2048, 8192]
    runs = 0
    args = sys.argv[2:]
    if "--sizes" in args:
        sizes = [int(s) for s in args[args.index("--sizes") + 1].split(",")]
    if "--vs-openjpeg" in args:
        runs = int(args[args.index("--vs-openjpeg") + 1])
    work = tempfile.mkdtemp(prefix="j2k_process_bench_")
    try:
        if runs:
            versus_openjpeg(build, runs, work)
            return 0
        return memory(build, sizes, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
