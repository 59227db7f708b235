#!/usr/bin/env python3
"""Writes the same 24-bit pictures as PNG with nolvi2-cli (its defaults: adaptive filter,
zlib level 6) and with ImageMagick's convert (its defaults), one after the other in one run,
and reports file sizes, times and ratios.

    bench/compare_png.py [--build build] [--size 6000x4000] [--runs 3] [-- NOLVI2-CLI OPTIONS...]

Two pictures: the synthetic photo-like picture (gradients, shapes, texture, noise) and the
bundled sample photograph scaled up to the same size. Each tool runs on one thread; a time is
the median of --runs runs after one warm-up run, as wall time and as CPU time (user + system,
which a busy machine disturbs less). The target: our file at most 15 % larger than
ImageMagick's, written in less time.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from compare_peers import ensure_peers, one_thread_env, our_tools, scratch_folder

HERE = os.path.dirname(os.path.abspath(__file__))


def run_once(argv, env):
    """Wall and CPU seconds of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(argv)}\n{err}")
    return wall, usage.ru_utime + usage.ru_stime


def median_times(argv, env, runs):
    run_once(argv, env)
    results = [run_once(argv, env) for _ in range(runs)]
    return statistics.median(r[0] for r in results), statistics.median(r[1] for r in results)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--size", default="6000x4000")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("options", nargs="*", help="further nolvi2-cli options, e.g. --png-filter up")
    args = ap.parse_args()

    ensure_peers(["imagemagick"])
    im = "convert"
    cli, maker = our_tools(args.build)
    w, h = (int(v) for v in args.size.split("x"))
    env = one_thread_env()
    with scratch_folder() as tmp:
        synthetic = os.path.join(tmp, "synthetic.bmp")
        photo = os.path.join(tmp, "photo.bmp")
        subprocess.run([maker, str(w), str(h), synthetic], check=True)
        sample = os.path.join(HERE, "..", "samples", "sample.jpg")
        subprocess.run([cli, "Resize", sample, photo, "--size", f"{w}x{h}", "--algorithm", "bilinear"], check=True)

        print(f"{w}x{h} 24-bit, median of {args.runs} runs, one thread; nolvi2-cli {' '.join(args.options)}")
        print(f"{'picture':<10} {'ours MB':>8} {'IM MB':>8} {'size':>6}  {'ours s':>7} {'IM s':>7} "
              f"{'ours cpu':>8} {'IM cpu':>7} {'cpu':>5}  target")
        for name, src in (("synthetic", synthetic), ("photo", photo)):
            ours_out, im_out = os.path.join(tmp, "ours.png"), os.path.join(tmp, "im.png")
            ours_wall, ours_cpu = median_times([cli, "Convert", src, ours_out] + args.options, env, args.runs)
            im_wall, im_cpu = median_times([im, src, im_out], env, args.runs)
            ours_size, im_size = os.path.getsize(ours_out), os.path.getsize(im_out)
            size_ratio, cpu_ratio = ours_size / im_size, ours_cpu / im_cpu
            met = size_ratio <= 1.15 and ours_wall < im_wall and cpu_ratio < 1
            print(f"{name:<10} {ours_size / 1e6:>8.2f} {im_size / 1e6:>8.2f} {size_ratio:>6.3f}  "
                  f"{ours_wall:>6.2f}s {im_wall:>6.2f}s {ours_cpu:>7.2f}s {im_cpu:>6.2f}s {cpu_ratio:>5.2f}  "
                  f"{'met' if met else 'MISSED'}")


if __name__ == "__main__":
    main()
