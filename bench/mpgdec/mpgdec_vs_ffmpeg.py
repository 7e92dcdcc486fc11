#!/usr/bin/env python3
"""Decoding speed of the MPEG-1/2 engine against ffmpeg, one thread each, on the same streams.

Input: pans over a mosaic of the sample photographs (bench/pan_source.py), 1000 frames each, coded by
ffmpeg as the peer streams of the comparison:
  SD   720x576, mpeg2video, 6 Mbit/s, GOP 12 with 2 B pictures;
  CIF  352x288, mpeg1video, 1.1 Mbit/s, GOP 12 with 2 B pictures.
Both decoders read the same file. Ours is bench_mpgdec (the engine through the owner's calling order,
display off, nothing written); the peer is `ffmpeg -threads 1 -i STREAM -f null -` (decoding to the
null muxer, nothing written either). Each is timed as a whole process in CPU seconds, in pairs (ours,
ffmpeg) over several runs; the figure is the median of the paired speed ratios, for the whole process
and with each side's start-up taken off.

ffmpeg's start-up (loading its libraries, probing the stream) costs about as much CPU time as
decoding the whole CIF stream, so the timed file is the stream repeated (COPIES, without the sequence
end codes in between, so that both decoders read it as one sequence), and start-up is measured on
each side as a run on the stream's first two GOPs: what is left is the decoding of the rest.

Before timing, our decoder's pictures of each stream are checked against the checksums the decoder
gave before it was made faster (PINS). ffmpeg writes the same stream from the same input only at the
same version: when the stream itself differs from the pinned one, the pictures cannot be checked
and the script says so.

Usage: bench/mpgdec/mpgdec_vs_ffmpeg.py [BUILD_DIR] [--runs N] [--only SD|CIF]
The streams are kept in BUILD_DIR/bench-mpeg/ for the next run.
"""
import hashlib
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import paired_runs  # noqa: E402
import pan_source  # noqa: E402

FRAMES = 1000
CASES = {
    "SD": dict(size=(720, 576), codec="mpeg2video", rate="6M", ext="m2v", copies=2),
    "CIF": dict(size=(352, 288), codec="mpeg1video", rate="1.1M", ext="m1v", copies=10),
}
END_CODE = b"\x00\x00\x01\xb7"
GOP_CODE = b"\x00\x00\x01\xb8"
# sha256 of ffmpeg's stream (first 16 hex digits) -> our decoder's checksum of its pictures (--hash).
PINS = {
    "SD": ("bd9744ee0dc08348", "0d8ecdcd16dbfac6"),
    "CIF": ("0c1033d399818b3a", "e579baa1fb98715d"),
}


def make_stream(build, name, case, workdir):
    w, h = case["size"]
    out = os.path.join(workdir, f"pan-{name}-{FRAMES}.{case['ext']}")
    if os.path.exists(out):
        return out
    yuv = os.path.join(workdir, f"pan-{name}.yuv")
    pan_source.make_pan(os.path.join(build, "photos"), yuv, w, h, FRAMES, workdir)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-threads", "1", "-f", "rawvideo", "-pix_fmt", "yuv420p",
                    "-s", f"{w}x{h}", "-r", "25", "-i", yuv, "-threads", "1", "-c:v", case["codec"], "-b:v",
                    case["rate"], "-g", "12", "-bf", "2", "-f", "rawvideo", out + ".part"], check=True)
    os.rename(out + ".part", out)
    os.remove(yuv)
    return out


def derived_streams(stream, copies):
    """The stream repeated, and its first two GOPs (with their sequence header)."""
    data = open(stream, "rb").read()
    body = data[:-4] if data.endswith(END_CODE) else data
    repeated, short = stream + f".x{copies}", stream + ".start"
    with open(repeated, "wb") as f:
        f.write(body * (copies - 1) + data)
    third = data.find(GOP_CODE, data.find(GOP_CODE, data.find(GOP_CODE) + 4) + 4)
    with open(short, "wb") as f:
        f.write(data[:third] + END_CODE)
    return repeated, short


def file_digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16]


def check_pictures(ours_cmd, name, stream):
    out = subprocess.run(ours_cmd + ["--hash", stream], check=True, capture_output=True, text=True).stdout
    fields = out.split()
    frames, pictures = int(fields[1]), fields[fields.index("hash") + 1]
    digest = file_digest(stream)
    pinned_stream, pinned_pictures = PINS[name]
    if digest != pinned_stream:
        print(f"{name}: ffmpeg made another stream ({digest}, pinned {pinned_stream or 'none'}): pictures "
              f"{pictures} not checked")
    elif pictures != pinned_pictures:
        print(f"{name}: PICTURES CHANGED: checksum {pictures}, pinned {pinned_pictures}")
        return frames, False
    else:
        print(f"{name}: stream {digest}, pictures {pictures} as pinned")
    return frames, True


def main():
    args, workdir = paired_runs.arguments(CASES)
    ours = [os.path.join(args.build, "bench", "mpgdec", "bench_mpgdec")]
    print(paired_runs.load(), flush=True)
    ok = True
    for name, case in CASES.items():
        if args.only and name != args.only:
            continue
        stream = make_stream(args.build, name, case, workdir)
        frames, same = check_pictures(ours, name, stream)
        ok &= same
        repeated, short = derived_streams(stream, case["copies"])

        def peer(path):
            return ["ffmpeg", "-v", "error", "-nostdin", "-threads", "1", "-i", path, "-f", "null", "-"]

        ours_start = paired_runs.startup(ours + [short], 3)
        peer_start = paired_runs.startup(peer(short), 3)
        a, b = paired_runs.paired(ours + [repeated], peer(repeated), args.runs)
        paired_runs.report(f"{name} {case['codec']} decode x{case['copies']}", frames * case["copies"], a, b,
                           ours_start, peer_start)
    print(paired_runs.load())
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
