#!/usr/bin/env python3
"""Makes the streams whose decoded pictures tests/h264/decoded_pictures_pinned_test.cpp pins.

Each is a short 176x160 pan (fields need a height of whole macroblock pairs) over the photograph mosaic (bench/pan_source.py) coded by our encoder's run
with one set of choices: both entropy coders, B pictures with spatial and temporal direct, several
references, explicit and implicit weights on a brightness ramp, field pictures and macroblock-adaptive
frame/field pairs on an interlaced pan, the loop filter off and with offsets, several slices and slice
groups, SP pictures, constrained intra, and a low and a high quantiser. Kept as files, so the pins do
not move when the encoder's decisions change. Made once; run again only to add a stream.

Usage: tests/data/h264/make_streams.py BUILD_DIR
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "bench"))
from pan_source import make_pan  # noqa: E402

W, H = 176, 160
IPPP = ["NumberBFrames=0", "FrameSkip=0"]
IBBP = ["NumberBFrames=2", "FrameSkip=2"]
# name: (frames, QP, CABAC, filter on the pan, further settings)
STREAMS = {
    "ibpbp_cavlc": (9, 22, 0, "", []),
    "ibpbp_cabac": (9, 22, 1, "", []),
    "ippp_3ref_cavlc": (12, 22, 0, "", IPPP + ["NumberReferenceFrames=3"]),
    "ippp_3ref_cabac": (12, 22, 1, "", IPPP + ["NumberReferenceFrames=3"]),
    "ibbp_temporal_direct_cabac": (7, 22, 1, "", IBBP + ["DirectModeType=0", "NumberReferenceFrames=2"]),
    "weighted_explicit_cabac": (7, 22, 1, "eq=brightness=0.04*n:eval=frame",
                                IBBP + ["WeightedPrediction=1", "WeightedBiprediction=1", "NumberReferenceFrames=2"]),
    "weighted_explicit_cavlc": (12, 22, 0, "eq=brightness=-0.04*n:eval=frame",
                                IPPP + ["WeightedPrediction=1", "NumberReferenceFrames=3"]),
    "weighted_implicit_cabac": (7, 22, 1, "eq=brightness=0.03*n:eval=frame",
                                IBBP + ["WeightedBiprediction=2", "DirectModeType=1", "NumberReferenceFrames=2"]),
    "fields_cabac": (5, 22, 1, "tinterlace=mode=interleave_top", ["InterlaceCodingOption=1"]),
    "fields_cavlc": (5, 22, 0, "tinterlace=mode=interleave_top", ["InterlaceCodingOption=1"]),
    "mbaff_cabac": (5, 22, 1, "tinterlace=mode=interleave_top",
                    ["InterlaceCodingOption=3", "RDOptimization=1", "DirectModeType=0"]),
    "mbaff_cavlc": (8, 22, 0, "tinterlace=mode=interleave_top",
                    IPPP + ["InterlaceCodingOption=3", "RDOptimization=1", "NumberReferenceFrames=2"]),
    "deblocking_off_cabac": (7, 30, 1, "", ["LoopFilterParametersFlag=1", "LoopFilterDisable=1"]),
    "deblocking_offsets_cavlc": (7, 34, 0, "", ["LoopFilterParametersFlag=1", "LoopFilterDisable=0",
                                                "LoopFilterAlphaC0Offset=6", "LoopFilterBetaOffset=6"]),
    "slices_fmo_cavlc": (5, 22, 0, "", ["SliceMode=1", "SliceArgument=13", "num_slice_groups_minus1=1",
                                         "FmoType=5", "FmoChangeDirection=0", "FmoChangeRate=37"]),
    "sp_constrained_intra_cabac": (12, 22, 1, "", IPPP + ["SPPicturePeriodicity=2", "UseConstrainedIntraPred=1",
                                                         "RandomIntraMBRefresh=10"]),
    "low_qp_intra_cabac": (6, 12, 1, "", ["IntraPeriod=1"] + IPPP),
    "high_qp_cavlc": (9, 44, 0, "", []),
}


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    runner = os.path.join(build, "bench", "h264enc", "bench_h264enc_run")
    with tempfile.TemporaryDirectory() as work:
        pan = make_pan(os.path.join(build, "photos"), os.path.join(work, "pan.yuv"), W, H, 16, work)
        for name, (frames, qp, cabac, vf, extra) in STREAMS.items():
            src = pan
            if vf:
                src = os.path.join(work, name + ".yuv")
                raw = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{W}x{H}"]
                subprocess.run(["ffmpeg", "-v", "error", "-y"] + raw + ["-i", pan, "-vf", vf] + raw + [src],
                               check=True)
            out = os.path.join(HERE, name + ".264")
            settings = subprocess.run([runner, "--settings", work, src, str(W), str(H), str(frames), out,
                                       os.path.join(work, "rec.yuv"), str(qp), str(cabac)] + extra,
                                      check=True, capture_output=True, text=True).stdout.strip()
            subprocess.run([runner, settings], check=True, stdout=subprocess.DEVNULL)
            print(name, os.path.getsize(out))


if __name__ == "__main__":
    main()
