#!/usr/bin/env python3
"""Test input for the video benchmarks: a pan over a mosaic of the sample photographs.

A single photograph repeats one texture in every frame; a mosaic of several (some mirrored) gives
edges, flat areas and fine detail in one picture. The pan moves 1.5 pixels a frame across and 0.5
down, so motion searches meet whole and half-sample displacements, and turns back at the mosaic's
edges so any number of frames fits. Light temporal noise keeps residuals from vanishing.

Used as a module by the comparison scripts (make_pan), or on its own:
  bench/pan_source.py PHOTOS_DIR OUT.yuv WIDTH HEIGHT FRAMES
PHOTOS_DIR is what scripts/photos fills (camera, coins, moon as PNG, and the colour astronaut).
The output is raw planar 4:2:0. The same arguments always give the same bytes.
"""
import os
import subprocess
import sys


def _run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_mosaic(photos, workdir):
    """A 3x2 mosaic of 512x512 tiles, scaled 2x so that odd crop steps become half-sample steps."""
    out = os.path.join(workdir, "pan_mosaic.png")
    if os.path.exists(out):
        return out
    p = {n: os.path.join(photos, n + ".png") for n in ("astronaut", "camera", "coins", "moon")}
    tile = ["-resize", "512x512!"]
    _run(["convert",
          "(", p["astronaut"], *tile, p["camera"], *tile, p["coins"], *tile, "+append", ")",
          "(", p["moon"], *tile, "(", p["astronaut"], *tile, "-flop", ")",
          "(", p["camera"], *tile, "-flip", ")", "+append", ")",
          "-append", "-filter", "Catrom", "-resize", "200%", out])
    return out


def make_pan(photos, out, width, height, frames, workdir=None):
    """Writes FRAMES pictures of WIDTH x HEIGHT (even, at most 1536 x 1024) to OUT as yuv420p."""
    workdir = workdir or os.path.dirname(os.path.abspath(out))
    mosaic = make_mosaic(photos, workdir)
    cw, ch = 2 * width, 2 * height
    rx, ry = 3072 - cw, 2048 - ch
    if rx <= 0 or ry <= 0:
        raise ValueError("picture larger than the mosaic")
    # Triangle waves: 3 and 1 mosaic pixels a frame (1.5 and 0.5 picture pixels), back and forth.
    x = f"abs(mod(3*n+{rx}\\,{2 * rx})-{rx})"
    y = f"abs(mod(n+{ry}\\,{2 * ry})-{ry})"
    # The loop filter decodes the mosaic once and repeats it; -loop 1 would decode it every frame.
    vf = (f"loop=loop=-1:size=1:start=0,crop={cw}:{ch}:x='{x}':y='{y}',scale={width}:{height}:flags=bicubic,"
          "format=yuv420p,noise=alls=2:allf=t:all_seed=1234")
    _run(["ffmpeg", "-v", "error", "-y", "-i", mosaic, "-vf", vf, "-frames:v", str(frames),
          "-pix_fmt", "yuv420p", "-f", "rawvideo", out])
    return out


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    make_pan(sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]))
