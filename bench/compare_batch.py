#!/usr/bin/env python3
"""Times a batch: many BMP pictures converted to JPEG by nolvi2-cli on one worker and on
several (--jobs), and by GraphicsMagick and ImageMagick run side by side by xargs -P and
GNU parallel, all in one run, and reports the ratios.

    bench/compare_batch.py [--build build] [--count 1000] [--size 640x480] [--runs 3]
                           [--jobs N] [--quality 85]

The pictures are windows of one synthetic picture at different places, so each has content
of its own. Every tool writes baseline JPEG at the same quality (nolvi2-cli with --baseline,
the peers' default) and every peer process runs on one thread, so that N workers use N
processors whoever runs them. The peers run one process per file (convert), and also one
per batch of files (mogrify), which spares them the start of a process per picture. Every
timing is the median of --runs runs after one warm-up run, each into an empty folder, in a
RAM-backed folder when one exists. Installs the peers with apt-get when they are missing.
"""
import argparse
import hashlib
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_peers import ensure_peers, one_thread_env, our_tools, scratch_folder  # noqa: E402


def ensure_parallel():
    out = subprocess.run(["parallel", "--version"], capture_output=True, text=True) \
        if shutil.which("parallel") else None
    if out is None or "GNU parallel" not in out.stdout:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", "parallel"],
                       check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def imagemagick(tool):
    """ImageMagick's own program: Debian's, before any other of that name on PATH."""
    path = os.path.join("/usr/bin", tool)
    return path if os.access(path, os.X_OK) else shutil.which(tool)


def read_bmp(path):
    """Width, height and the stored rows of a 24-bit BMP file."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        sys.exit(f"{path}: not a 24-bit BMP")
    stride = (width * 3 + 3) // 4 * 4
    rows = [data[offset + y * stride:offset + y * stride + width * 3] for y in range(abs(height))]
    return width, abs(height), rows


def write_bmp(path, width, rows):
    stride = (width * 3 + 3) // 4 * 4
    pad = b"\0" * (stride - width * 3)
    image = b"".join(row + pad for row in rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(image), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, len(rows), 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + image)


def make_pictures(maker, folder, count, w, h):
    """count pictures of w × h: windows of a synthetic picture twice as large, each at a place
    of its own."""
    base = os.path.join(folder, "base.bmp")
    subprocess.run([maker, str(2 * w), str(2 * h), base], check=True)
    bw, _, rows = read_bmp(base)
    os.remove(base)
    names = []
    for i in range(count):
        dx, dy = (i * 37) % (bw - w), (i * 53) % (len(rows) - h)
        name = os.path.join(folder, f"{i:04d}.bmp")
        write_bmp(name, w, [row[3 * dx:3 * (dx + w)] for row in rows[dy:dy + h]])
        names.append(name)
    return names


def timed(argv, env, out, stdin, cwd):
    """Wall time of one run into an empty folder out, in seconds."""
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.perf_counter()
    proc = subprocess.run(argv, env=env, input=stdin, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv[:6])} …\n{proc.stderr.decode(errors='replace')}")
    return wall


def digest(folder):
    h = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        h.update(name.encode())
        with open(os.path.join(folder, name), "rb") as f:
            h.update(f.read())
    return h.hexdigest(), len(os.listdir(folder))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--size", default="640x480")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--jobs", type=int, default=len(os.sched_getaffinity(0)))
    ap.add_argument("--quality", type=int, default=85)
    args = ap.parse_args()

    ensure_peers()
    ensure_parallel()
    cli, maker = our_tools(args.build)
    convert, mogrify = imagemagick("convert"), imagemagick("mogrify")
    w, h = (int(v) for v in args.size.split("x"))
    q, n = str(args.quality), str(args.jobs)
    env = one_thread_env()
    with scratch_folder() as tmp:
        src = os.path.join(tmp, "in")
        os.makedirs(src)
        inputs = make_pictures(maker, src, args.count, w, h)
        out = os.path.join(tmp, "out")
        # xargs takes pairs "input output", NUL-separated; mogrify takes its share of the names,
        # relative to the folder of the inputs (gm mogrify puts a path below its output folder).
        pairs = b"".join(f"{i}\0{os.path.join(out, os.path.basename(i)[:-4])}.jpg\0".encode() for i in inputs)
        names = b"".join(f"{os.path.basename(i)}\0".encode() for i in inputs)
        per_batch = str(-(-len(inputs) // args.jobs))
        parallel = ["parallel", "--will-cite", "-j", n]
        cases = [
            ("nolvi2-cli --jobs 1", [cli, "Convert", *inputs, "--out-dir", out, "--format", "jpg",
                                     "--quality", q, "--baseline", "--jobs", "1"], None),
            (f"nolvi2-cli --jobs {n}", [cli, "Convert", *inputs, "--out-dir", out, "--format", "jpg",
                                        "--quality", q, "--baseline", "--jobs", n], None),
            (f"gm convert, xargs -P{n}", ["xargs", "-0", "-P", n, "-n", "2", "gm", "convert", "-limit", "threads",
                                          "1", "-quality", q], pairs),
            (f"gm convert, parallel -j{n}", [*parallel, "gm", "convert", "-limit", "threads", "1", "-quality", q,
                                             "{}", os.path.join(out, "{/.}.jpg"), ":::", *inputs], None),
            (f"gm mogrify, xargs -P{n}", ["xargs", "-0", "-P", n, "-n", per_batch, "gm", "mogrify", "-limit",
                                          "threads", "1", "-output-directory", out, "-format", "jpg",
                                          "-quality", q], names),
            (f"IM convert, xargs -P{n}", ["xargs", "-0", "-P", n, "-n", "2", convert, "-quality", q], pairs),
            (f"IM convert, parallel -j{n}", [*parallel, convert, "-quality", q, "{}", os.path.join(out, "{/.}.jpg"),
                                             ":::", *inputs], None),
            (f"IM mogrify, xargs -P{n}", ["xargs", "-0", "-P", n, "-n", per_batch, mogrify, "-path", out,
                                          "-format", "jpg", "-quality", q], names),
        ]
        print(f"{args.count} pictures {w}x{h} BMP -> JPEG quality {q}, {args.jobs} workers, "
              f"median of {args.runs} runs, one thread per process")
        print(f"{'tool':<28} {'time':>8} {'files/s':>8} {'/ nolvi2 --jobs ' + n:>18}")
        results = []
        digests = {}
        for label, argv, stdin in cases:
            timed(argv, env, out, stdin, src)
            t = statistics.median(timed(argv, env, out, stdin, src) for _ in range(args.runs))
            got = digest(out)
            if got[1] != args.count:
                sys.exit(f"{label}: {got[1]} outputs of {args.count}")
            digests[label] = got[0]
            results.append((label, t))
        ours = results[1][1]
        for label, t in results:
            print(f"{label:<28} {t:>7.2f}s {args.count / t:>8.0f} {t / ours:>17.2f}x")
        print(f"nolvi2-cli --jobs 1 / --jobs {n}: {results[0][1] / ours:.2f}x faster; outputs "
              + ("identical" if digests[results[0][0]] == digests[results[1][0]] else "DIFFERENT"))


if __name__ == "__main__":
    main()
