#!/usr/bin/env python3
"""Speed and rate-distortion of the H.264 encoder against Debian's x264, both black boxes.

61-frame pans over a mosaic of the sample photographs (bench/pan_source.py; QCIF and CIF) are coded by
our run (bench_h264enc_run, the engine as a command) and by x264 with the same tools (x264() below: the
same QPs, B pictures 2 above, as ipratio 1.0 and pbratio 1.26 give; one reference, one B picture, no
pyramid; exhaustive search of range 16; no psycho-visual tuning, adaptive quantisation, macroblock tree,
trellis or 8x8 transform; deblocking on). Speed: the CPU time of each whole process, one thread each,
the two run in turn --runs times; the median fps of each and the median of the paired ratios are
printed. Our stream and reconstruction at the dialog defaults must keep the bytes they had before the
encoder was made faster (PINNED; checked when the pan itself has the bytes it had then).

Rate: the bytes of slice NAL units only. Distortion: mean per-frame luma PSNR from ffmpeg's psnr
filter, ours from the reconstruction file (which equals our decoder's output), x264's from ffmpeg's
decoding. BD-rate (and PSNR at equal rate) over QP 22, 27, 32, 37 for CAVLC and CABAC; --speed skips it.

With --rd the rate-distortion decisions are measured instead: frames per CPU second with RDOptimization 1,
BD-rate of RDOptimization 1 against 0, and against x264 with --subme 7 (its rate-distortion mode decision).

Usage: bench/h264enc/h264enc_vs_x264.py BUILD_DIR [--sizes qcif,cif] [--runs N] [--speed] [--rd]
"""
import hashlib
import math
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from pan_source import make_pan as make_mosaic_pan  # noqa: E402

SIZES = {"qcif": (176, 144), "cif": (352, 288)}
FRAMES = 61
QPS = [22, 27, 32, 37]

# SHA-256 (first 16 hex digits) of the pan, and of our stream and reconstruction at the dialog defaults
# (QP 28, CABAC, one B picture), as the encoder wrote them before it was made faster.
PINNED = {
    "qcif": ("d79700a5c0c480e1", "35659383602f1bd0", "1a39e0d9d81e4e6d"),
    "cif": ("afbf7105cb1c19da", "267a8fef414ea046", "cc4be03524d6be86"),
}


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_pan(photos, out, w, h):
    make_mosaic_pan(photos, out, w, h, FRAMES)


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()[:16]


def slice_bytes(path):
    data = open(path, "rb").read()
    starts = [m.end() for m in re.finditer(b"\x00\x00\x01", data)]
    total = 0
    for k, s in enumerate(starts):
        end = starts[k + 1] - 3 if k + 1 < len(starts) else len(data)
        while end > s and data[end - 1] == 0:
            end -= 1
        if end > s and 1 <= (data[s] & 31) <= 5:
            total += end - s
    return total


def mean_psnr(src, rec, w, h, workdir):
    stats = os.path.join(workdir, "psnr.txt")
    raw = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{w}x{h}", "-i"]
    run(["ffmpeg", "-v", "error", "-y"] + raw + [rec] + raw + [src] +
        ["-lavfi", f"psnr=stats_file={stats}", "-f", "null", "-"])
    vals = [float(m.group(1)) for m in re.finditer(r"psnr_y:([0-9.]+)", open(stats).read())]
    return sum(vals) / len(vals)


def ours_settings(build, src, w, h, qp, cabac, workdir, extra=()):
    out, rec = os.path.join(workdir, "ours.264"), os.path.join(workdir, "ours.yuv")
    runner = os.path.join(build, "bench", "h264enc", "bench_h264enc_run")
    settings = subprocess.run([runner, "--settings", workdir, src, str(w), str(h), str(FRAMES), out, rec,
                               str(qp), "1" if cabac else "0"] + list(extra), check=True, capture_output=True,
                              text=True).stdout.strip()
    return runner, settings, out, rec


def ours(build, src, w, h, qp, cabac, workdir, extra=()):
    """Bytes, PSNR and frames per CPU second of the whole process."""
    runner, settings, out, rec = ours_settings(build, src, w, h, qp, cabac, workdir, extra)
    before = children_cpu()
    res = subprocess.run([runner, settings], check=True, capture_output=True, text=True).stdout
    seconds = children_cpu() - before
    pictures = int(re.search(r"pictures (\d+)", res).group(1))
    return slice_bytes(out), mean_psnr(src, rec, w, h, workdir), pictures / seconds


def x264(src, w, h, qp, cabac, workdir, subme=5):
    out, dec = os.path.join(workdir, "x.264"), os.path.join(workdir, "x.yuv")
    cmd = ["x264", "--threads", "1", "--demuxer", "raw", "--input-csp", "i420", "--input-res", f"{w}x{h}",
           "--fps", "30", "--qp", str(qp), "--ipratio", "1.0", "--pbratio", "1.26", "--chroma-qp-offset", "0",
           "--keyint", "infinite", "--no-scenecut", "--bframes", "1", "--b-adapt", "0", "--b-pyramid", "none",
           "--direct", "spatial", "--no-weightb", "--weightp", "0", "--ref", "1", "--partitions",
           "p8x8,p4x4,b8x8,i4x4", "--no-8x8dct", "--me", "esa", "--merange", "16", "--subme", str(subme),
           "--no-fast-pskip", "--no-chroma-me", "--trellis", "0", "--no-psy", "--aq-mode", "0", "--no-mbtree",
           "--deblock", "0:0"] + ([] if cabac else ["--no-cabac"]) + ["-o", out, src]
    before = children_cpu()
    run(cmd)
    seconds = children_cpu() - before
    run(["ffmpeg", "-v", "error", "-y", "-i", out, "-f", "rawvideo", "-pix_fmt", "yuv420p", dec])
    return slice_bytes(out), mean_psnr(src, dec, w, h, workdir), FRAMES / seconds


def cubic_fit(xs, ys):
    # Least squares y = a + b x + c x^2 + d x^3 through the normal equations.
    n = 4
    m = [[sum(x ** (i + j) for x in xs) for j in range(n)] + [sum(y * x ** i for x, y in zip(xs, ys))]
         for i in range(n)]
    for col in range(n):
        piv = max(range(col, n), key=lambda r: abs(m[r][col]))
        m[col], m[piv] = m[piv], m[col]
        for r in range(n):
            if r != col:
                f = m[r][col] / m[col][col]
                m[r] = [a - f * b for a, b in zip(m[r], m[col])]
    return [m[i][n] / m[i][i] for i in range(n)]


def integral(c, lo, hi):
    f = lambda x: c[0] * x + c[1] * x ** 2 / 2 + c[2] * x ** 3 / 3 + c[3] * x ** 4 / 4
    return f(hi) - f(lo)


def bd_rate(anchor, test):
    # Bjontegaard: log-rate as a cubic of PSNR, averaged over the common PSNR range.
    pa, ra = [p for _, p in anchor], [math.log(r) for r, _ in anchor]
    pt, rt = [p for _, p in test], [math.log(r) for r, _ in test]
    lo, hi = max(min(pa), min(pt)), min(max(pa), max(pt))
    ca, ct = cubic_fit(pa, ra), cubic_fit(pt, rt)
    diff = (integral(ct, lo, hi) - integral(ca, lo, hi)) / (hi - lo)
    return (math.exp(diff) - 1) * 100


def bd_psnr(anchor, test):
    ra, pa = [math.log(r) for r, _ in anchor], [p for _, p in anchor]
    rt, pt = [math.log(r) for r, _ in test], [p for _, p in test]
    lo, hi = max(min(ra), min(rt)), min(max(ra), max(rt))
    ca, ct = cubic_fit(ra, pa), cubic_fit(rt, pt)
    return (integral(ct, lo, hi) - integral(ca, lo, hi)) / (hi - lo)


def rd_main(build, sizes, photos):
    rd = ["RDOptimization=1"]
    with tempfile.TemporaryDirectory() as workdir:
        for size in sizes:
            w, h = SIZES[size]
            src = os.path.join(workdir, f"{size}.yuv")
            make_pan(photos, src, w, h)
            _, _, fps0 = ours(build, src, w, h, 28, True, workdir)
            _, _, fps = ours(build, src, w, h, 28, True, workdir, rd)
            _, _, xfps = x264(src, w, h, 28, True, workdir, 7)
            print(f"{size.upper()} RDOptimization 1: {fps:.1f} fps (RDOptimization 0 {fps0:.1f} fps,"
                  f" x264 --subme 7 {xfps:.1f} fps)")
            for cabac in (False, True):
                plain, withRd, x = [], [], []
                for qp in QPS:
                    pb, pp, _ = ours(build, src, w, h, qp, cabac, workdir)
                    rb, rp, _ = ours(build, src, w, h, qp, cabac, workdir, rd)
                    xb, xp, _ = x264(src, w, h, qp, cabac, workdir, 7)
                    plain.append((pb, pp))
                    withRd.append((rb, rp))
                    x.append((xb, xp))
                    print(f"  {size} {'CABAC' if cabac else 'CAVLC'} QP {qp}: RD 0 {pb} bytes {pp:.2f} dB,"
                          f" RD 1 {rb} bytes {rp:.2f} dB, x264 --subme 7 {xb} bytes {xp:.2f} dB")
                name = f"{size.upper()} {'CABAC' if cabac else 'CAVLC'}"
                print(f"{name}: RDOptimization 1 against 0: BD-rate {bd_rate(plain, withRd):+.1f} %,"
                      f" PSNR at equal rate {bd_psnr(plain, withRd):+.2f} dB")
                print(f"{name}: RDOptimization 1 against x264 --subme 7: BD-rate {bd_rate(x, withRd):+.1f} %,"
                      f" PSNR at equal rate {bd_psnr(x, withRd):+.2f} dB")


def speed(build, size, src, w, h, runs, workdir):
    """Ours and x264 at the dialog defaults in turn; our bytes checked against PINNED."""
    pan, stream, recon = PINNED[size]
    fps, xfps = [], []
    for k in range(runs):
        fps.append(ours(build, src, w, h, 28, True, workdir)[2])
        xfps.append(x264(src, w, h, 28, True, workdir)[2])
        if k == 0:
            got = (digest(src), digest(os.path.join(workdir, "ours.264")),
                   digest(os.path.join(workdir, "ours.yuv")))
            if got[0] != pan:
                print(f"{size.upper()}: the pan is not the pinned one ({got[0]}), bytes not checked")
            elif got[1:] != (stream, recon):
                sys.exit(f"{size.upper()}: stream {got[1]} reconstruction {got[2]} differ from the pinned "
                         f"{stream} {recon}")
            else:
                print(f"{size.upper()}: stream and reconstruction keep their pinned bytes")
    ratios = [a / b for a, b in zip(fps, xfps)]
    print(f"{size.upper()} dialog defaults, {runs} runs: ours {statistics.median(fps):.1f} fps, x264"
          f" {statistics.median(xfps):.1f} fps, ratio {statistics.median(ratios):.3f}"
          f" (paired ratios {min(ratios):.3f} .. {max(ratios):.3f})")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    sizes = ["qcif", "cif"]
    if "--sizes" in sys.argv:
        sizes = sys.argv[sys.argv.index("--sizes") + 1].split(",")
    runs = int(sys.argv[sys.argv.index("--runs") + 1]) if "--runs" in sys.argv else 5
    photos = os.path.join(build, "photos")
    if "--rd" in sys.argv:
        rd_main(build, sizes, photos)
        return
    with tempfile.TemporaryDirectory() as workdir:
        for size in sizes:
            w, h = SIZES[size]
            src = os.path.join(workdir, f"{size}.yuv")
            make_pan(photos, src, w, h)
            speed(build, size, src, w, h, runs, workdir)
            if "--speed" in sys.argv:
                continue
            for cabac in (False, True):
                a, t = [], []
                for qp in QPS:
                    rb, rp, _ = ours(build, src, w, h, qp, cabac, workdir)
                    xb, xp, _ = x264(src, w, h, qp, cabac, workdir)
                    t.append((rb, rp))
                    a.append((xb, xp))
                    print(f"  {size} {'CABAC' if cabac else 'CAVLC'} QP {qp}: ours {rb} bytes {rp:.2f} dB,"
                          f" x264 {xb} bytes {xp:.2f} dB")
                print(f"{size.upper()} {'CABAC' if cabac else 'CAVLC'}: BD-rate {bd_rate(a, t):+.1f} %,"
                      f" PSNR at equal rate {bd_psnr(a, t):+.2f} dB")


if __name__ == "__main__":
    main()
