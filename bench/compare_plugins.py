#!/usr/bin/env python3
"""Opens the same 6000 x 4000 picture in each plug-in format through nolvi2's plug-in road
(nolvi2-load-picture: the plug-ins searched, the file decoded into a bitmap) and with the
format library's own command-line decoder writing PPM, one after the other in one run, and
reports the times and their ratio. The target: at most 1.2 times the library's decoder.

    bench/compare_plugins.py [--build build] [--size 6000x4000] [--runs 5]

The picture is ImageMagick's plasma fractal (a photo-like texture), encoded by each library's
own encoder. A time is the median wall time of --runs runs after one warm-up run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FORMATS = [
    # name, file, encode (src PNG, out), reference decoder (file, out PPM)
    ("GIF", "x.gif", lambda s, o: ["convert", s, "-colors", "256", o], lambda f, o: ["convert", f, "ppm:" + o]),
    ("TIFF", "x.tif", lambda s, o: ["convert", s, "-compress", "lzw", o], lambda f, o: ["tiff2rgba", f, o + ".tif"]),
    ("WebP", "x.webp", lambda s, o: ["cwebp", "-quiet", "-q", "85", s, "-o", o], lambda f, o: ["dwebp", "-quiet", f, "-ppm", "-o", o]),
    ("HEIC", "x.heic", lambda s, o: ["heif-enc", "-q", "80", s, "-o", o], lambda f, o: ["heif-convert", f, o + ".png"]),
    ("AVIF", "x.avif", lambda s, o: ["heif-enc", "-A", "-q", "60", s, "-o", o], lambda f, o: ["heif-convert", f, o + ".png"]),
    ("JPEG XL", "x.jxl", lambda s, o: ["cjxl", "-d", "1", s, o], lambda f, o: ["djxl", f, o]),
]


def wall(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def median(argv, runs):
    wall(argv)
    return statistics.median(wall(argv) for _ in range(runs))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--size", default="6000x4000")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    load = os.path.abspath(os.path.join(args.build, "nolvi2-load-picture"))
    if not os.path.exists(load):
        sys.exit(f"{load} is missing: cmake -DNOLVI2_BENCH=ON and build it")
    work = tempfile.mkdtemp(prefix="nolvi2-plugins-")
    try:
        src = os.path.join(work, "src.png")
        subprocess.run(["convert", "-size", args.size, "-seed", "1", "plasma:fractal", "-depth", "8", src], check=True)
        print(f"{args.size}, median of {args.runs} runs (wall seconds)")
        print(f"{'format':8} {'nolvi2':>8} {'library':>8} {'ratio':>6}  reference")
        for name, file, encode, decode in FORMATS:
            path = os.path.join(work, file)
            try:
                subprocess.run(encode(src, path), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except (OSError, subprocess.CalledProcessError):
                print(f"{name:8} (no encoder)")
                continue
            ours = median([load, path], args.runs)
            ref_argv = decode(path, os.path.join(work, "out.ppm"))
            ref = median(ref_argv, args.runs)
            print(f"{name:8} {ours:8.3f} {ref:8.3f} {ours / ref:6.2f}  {' '.join(os.path.basename(a) for a in ref_argv[:1])}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
