#!/usr/bin/env python3
"""Whole-process timing for the comparison scripts: CPU seconds (user + system) of a command, as the
operating system accounts its finished child, and paired runs of ours against a peer.

Runs alternate ours, peer, ours, peer ... and each pair gives one ratio, so that a machine whose speed
drifts (it may be shared) moves both sides of a pair alike; the median of the ratios is the figure.
CPU time rather than wall time: other work on the machine then costs little. Start-up (process
creation, loading libraries, ffmpeg's probing) is measured by each script with a short run on each
side and can be taken off both.
"""
import argparse
import os
import resource
import statistics
import subprocess


def cpu_seconds(cmd, stdout=subprocess.DEVNULL):
    """Runs cmd (a list) to its end and returns (CPU seconds, its standard output or None)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    res = subprocess.run(cmd, check=True, stdout=stdout, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return t, res.stdout


def paired(ours, peer, runs):
    """Times ours and peer in turn, runs times each; returns the two lists of CPU seconds."""
    a, b = [], []
    for _ in range(runs):
        a.append(cpu_seconds(ours)[0])
        b.append(cpu_seconds(peer)[0])
    return a, b


def startup(cmd, runs):
    return statistics.median(cpu_seconds(cmd)[0] for _ in range(runs))


def report(label, frames, ours, peer, ours_start, peer_start):
    """Prints both rates and the medians of the paired speed ratios (ours / peer), whole processes and
    with each side's start-up taken off; returns the second."""
    whole = statistics.median(p / o for o, p in zip(ours, peer))
    net = statistics.median(max(p - peer_start, 1e-6) / max(o - ours_start, 1e-6) for o, p in zip(ours, peer))
    mo, mp = statistics.median(ours), statistics.median(peer)
    print(f"{label}: {frames} frames; ours {mo:.2f} s ({frames / mo:.1f} fps), peer {mp:.2f} s "
          f"({frames / mp:.1f} fps); start-up ours {ours_start:.3f} s, peer {peer_start:.3f} s")
    print(f"{label}: speed ratio ours/peer, median of {len(ours)} pairs: whole process {whole:.3f}, "
          f"start-up removed {net:.3f}", flush=True)
    return net


def load():
    """The machine's load averages, to be quoted with the figures."""
    return "load average %.2f %.2f %.2f on %d processors" % (*os.getloadavg(), os.cpu_count())


def arguments(cases):
    """The comparison scripts' command line (BUILD_DIR [--runs N] [--only CASE]) and their work folder,
    BUILD_DIR/bench-mpeg, made if need be."""
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", choices=sorted(cases))
    args = ap.parse_args()
    workdir = os.path.join(args.build, "bench-mpeg")
    os.makedirs(workdir, exist_ok=True)
    return args, workdir
