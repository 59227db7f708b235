#!/usr/bin/env python3
"""Times nolvi2-cli against GraphicsMagick (and ImageMagick) on the same BMP, side by side in
one run, and reports the ratios and nolvi2-cli's peak memory.

    bench/compare_peers.py [--build build] [--size 6000x4000] [--runs 5] [CASE...]

Installs the peers (graphicsmagick, imagemagick) with apt-get when they are missing. Each
peer runs on one thread (OMP_NUM_THREADS=1). Every timing is the median of --runs runs,
after one warm-up run; inputs and outputs live in a RAM-backed folder when one exists.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# name: (nolvi2-cli arguments, gm convert arguments, ImageMagick convert arguments);
# "{in}" and "{out}" are replaced by the file names.
def _same(*ops):
    """The same operation for GraphicsMagick and ImageMagick."""
    return ["{in}", *ops, "{out}"], ["{in}", *ops, "{out}"]


CASES = {
    "Convert": (["Convert", "{in}", "{out}"], *_same()),
    "Invert": (["Invert", "{in}", "{out}"], *_same("-negate")),
    "FlipVertical": (["FlipVertical", "{in}", "{out}"], *_same("-flip")),
    "FlipHorizontal": (["FlipHorizontal", "{in}", "{out}"], *_same("-flop")),
    "Rotate90": (["Rotate90", "{in}", "{out}"], *_same("-rotate", "90")),
    "FilterLowpass": (["FilterLowpass", "{in}", "{out}"], *_same("-convolve", "1,1,1,1,1,1,1,1,1")),
    "GrayScale": (["GrayScale", "{in}", "{out}"], *_same("-colorspace", "Gray")),
    "ResizeNearest": (["Resize", "{in}", "{out}", "--size", "50%", "--algorithm", "nearest"], *_same("-sample", "50%")),
    "ResizeBilinear": (["Resize", "{in}", "{out}", "--size", "50%", "--algorithm", "bilinear"],
                       *_same("-resize", "50%")),
    "ResizeIntegral": (["Resize", "{in}", "{out}", "--size", "50%", "--algorithm", "integral"],
                       *_same("-scale", "50%")),
}


# Debian package: (command, a word its -version output names), so that a stand-in of that
# name does not pass for the tool.
PEERS = {"graphicsmagick": ("gm", "GraphicsMagick"), "imagemagick": ("convert", "ImageMagick")}


def _installed(cmd, marker):
    if shutil.which(cmd) is None:
        return False
    out = subprocess.run([cmd, "-version"], capture_output=True, text=True)
    return marker in out.stdout


def ensure_peers(packages=tuple(PEERS)):
    missing = [pkg for pkg in packages if not _installed(*PEERS[pkg])]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
                       check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def run_once(argv, env):
    """Wall time of one run, in seconds."""
    start = time.perf_counter()
    proc = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}\n{proc.stderr.decode(errors='replace')}")
    return wall


def peak_kib(argv, env):
    """Peak resident memory of one run, in KiB (a fresh child so that the maximum is its own)."""
    code = ("import resource,subprocess,sys;"
            "subprocess.run(sys.argv[1:],check=True,stdout=subprocess.DEVNULL);"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code] + argv, env=env, check=True, capture_output=True)
    return int(out.stdout.strip())


def median_time(argv, env, runs):
    run_once(argv, env)
    return statistics.median(run_once(argv, env) for _ in range(runs))


def our_tools(build):
    """nolvi2-cli and the picture maker of the build folder."""
    cli = os.path.abspath(os.path.join(build, "nolvi2-cli"))
    maker = os.path.abspath(os.path.join(build, "bench", "nolvi2-make-picture"))
    for tool in (cli, maker):
        if not os.access(tool, os.X_OK):
            sys.exit(f"missing {tool}: build with -DNOLVI2_BENCH=ON first")
    return cli, maker


def one_thread_env():
    return dict(os.environ, OMP_NUM_THREADS="1", MAGICK_THREAD_LIMIT="1")


def scratch_folder():
    """A temporary folder, in RAM when the machine has one."""
    return tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--size", default="6000x4000")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("cases", nargs="*", default=list(CASES), help=", ".join(CASES))
    args = ap.parse_args()

    ensure_peers()
    cli, maker = our_tools(args.build)
    w, h = (int(v) for v in args.size.split("x"))
    env = one_thread_env()
    with scratch_folder() as tmp:
        src = os.path.join(tmp, "in.bmp")
        subprocess.run([maker, str(w), str(h), src], check=True)
        picture_kib = w * h * 3 / 1024
        print(f"picture {w}x{h} 24-bit ({picture_kib / 1024:.1f} MiB), median of {args.runs} runs, one thread")
        print(f"{'case':<15} {'nolvi2-cli':>10} {'gm':>9} {'convert':>9} {'gm/nolvi2':>10} "
              f"{'IM/nolvi2':>10} {'peak MiB':>9}")
        for name in args.cases:
            ours, gm, im = CASES[name]
            def fill(a, out):
                return [v.replace("{in}", src).replace("{out}", os.path.join(tmp, out)) for v in a]
            t_ours = median_time([cli] + fill(ours, "ours.bmp"), env, args.runs)
            peak = peak_kib([cli] + fill(ours, "ours.bmp"), env) / 1024
            t_gm = median_time(["gm", "convert", "-limit", "threads", "1"] + fill(gm, "gm.bmp"), env, args.runs)
            t_im = median_time(["convert"] + fill(im, "im.bmp"), env, args.runs)
            print(f"{name:<15} {t_ours:>9.3f}s {t_gm:>8.3f}s {t_im:>8.3f}s {t_gm / t_ours:>9.2f}x "
                  f"{t_im / t_ours:>9.2f}x {peak:>9.1f}")


if __name__ == "__main__":
    main()
