#!/usr/bin/env python3
"""Time to the eye: nolvi2 beside feh and nsxiv, measured on the screen itself.

    bench/compare_viewers.py [--build build] [--rounds 7] [--cases jpeg24,webp12,...]
                             [--visible PATH] [--keep DIR]

Each picture is a noisy gradient with two flat blocks of a target colour, one at the top
left and one in the middle, so that a viewer showing the picture at 100 % and one fitting it
to its window both show target pixels. `visible` (tools/visible.c, built here with
`cc -O2 -o visible visible.c -lX11 -lXtst`) starts a viewer and samples the screen until the
target colour's count has settled; the time from start to 90 % of that count is the time to
visible. The step case opens the first of two pictures in a folder, waits until it shows,
presses Right and times the second picture's colour.

The viewers run in interleaved rounds (every viewer once per round, in turns) on a virtual
display of their own (Xvfb with openbox), each with settings of its own. The report gives per
case and viewer the median and slowest run in milliseconds, and nolvi2's median over each
peer's. The memory case reads each viewer's peak resident size (VmHWM) once the picture shows.

Needs: Xvfb, openbox, feh, nsxiv, ImageMagick, cwebp, heif-enc, cjxl, python3-pil, a C
compiler with libx11-dev and libxtst-dev.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FIRST = (0xFF, 0x00, 0xC8)    # visible's default target colour
SECOND = (0x00, 0xFF, 0x00)   # the colour of the picture reached by Right


def make_picture(path, width, height, colour, seed):
    """A noisy diagonal gradient with a flat block of colour at the top left and in the middle."""
    from PIL import Image, ImageChops
    base = Image.linear_gradient("L").resize((width, height))
    across = Image.linear_gradient("L").rotate(90).resize((width, height))
    noise = Image.effect_noise((width, height), 40 + seed)
    picture = Image.merge("RGB", (base, across, ImageChops.add(base, noise, 2.0, 0)))
    picture = ImageChops.add(picture, Image.merge("RGB", (noise, noise, noise)), 4.0, -32)
    bw, bh = max(64, width // 12), max(48, height // 12)
    block = Image.new("RGB", (bw, bh), colour)
    picture.paste(block, (0, 0))
    picture.paste(block, ((width - bw) // 2, (height - bh) // 2))
    return picture


def encode(picture, path, work):
    ext = os.path.splitext(path)[1]
    if ext == ".jpg":
        picture.save(path, quality=90)
        return
    png = os.path.join(work, "source.png")
    picture.save(png, compress_level=1)
    tools = {
        ".webp": ["cwebp", "-quiet", "-q", "85", png, "-o", path],
        ".tif": ["convert", png, "-compress", "lzw", path],
        ".heic": ["heif-enc", "-q", "80", png, "-o", path],
        ".avif": ["heif-enc", "-A", "-q", "60", png, "-o", path],
        ".jxl": ["cjxl", "-d", "1", png, path],
    }
    subprocess.run(tools[ext], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# name: (file, width, height, peers); the step case has a second picture in the same folder
CASES = {
    "jpeg24": ("big.jpg", 6000, 4000, ["feh", "nsxiv"]),
    "webp12": ("big.webp", 4240, 2832, ["feh", "nsxiv"]),
    "tiff12": ("big.tif", 4240, 2832, ["feh", "nsxiv"]),
    "heic12": ("big.heic", 4240, 2832, ["feh", "nsxiv"]),
    "avif12": ("big.avif", 4240, 2832, ["feh", "nsxiv"]),
    "jxl12": ("big.jxl", 4240, 2832, ["feh", "nsxiv"]),
    "jpeg-small": ("small.jpg", 800, 600, ["feh", "nsxiv"]),
    "step24": ("a.jpg", 6000, 4000, ["feh"]),
    "memory24": ("big.jpg", 6000, 4000, ["feh", "nsxiv"]),
}


def viewer_argv(viewer, build, path, step):
    if viewer == "nolvi2":
        return [os.path.join(build, "nolvi2"), path]
    if viewer == "feh":
        if step:
            return ["feh", "--sort", "filename", "--start-at", path, os.path.dirname(path)]
        return ["feh", path]
    if viewer == "nsxiv":
        return ["nsxiv", path]
    raise ValueError(viewer)


def peak_resident_kib(argv, env, settle):
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(settle)
        with open(f"/proc/{process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return -1
    finally:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Display:
    """A virtual display with a window manager, or the one given in $DISPLAY."""

    def __init__(self, own):
        self.processes = []
        self.env = dict(os.environ)
        if not own:
            return
        for number in range(40, 90):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                break
        self.env["DISPLAY"] = f":{number}"
        self.processes.append(subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                break
            time.sleep(0.05)
        self.processes.append(subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(1.0)

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            process.wait()


def summary(times):
    shown = [t for t in times if t >= 0]
    if not shown:
        return None
    return statistics.median(shown), max(shown), len(times) - len(shown)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--cases", default=",".join(CASES))
    parser.add_argument("--viewers", default="nolvi2,feh,nsxiv")
    parser.add_argument("--visible", help="a built visible; default: built from tools/visible.c")
    parser.add_argument("--keep", help="make the pictures in this folder and keep them")
    parser.add_argument("--display", action="store_true", help="use $DISPLAY instead of a virtual display")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if not os.path.exists(os.path.join(build, "nolvi2")):
        sys.exit(f"{build}/nolvi2 is missing: build the viewer first")
    cases = args.cases.split(",")
    wanted = set(args.viewers.split(","))
    for case in cases:
        if case not in CASES:
            sys.exit(f"unknown case {case}; cases: {', '.join(CASES)}")

    work = tempfile.mkdtemp(prefix="nolvi2-viewers-")
    pictures = os.path.abspath(args.keep) if args.keep else os.path.join(work, "pictures")
    os.makedirs(pictures, exist_ok=True)
    visible = args.visible
    if not visible:
        visible = os.path.join(work, "visible")
        subprocess.run(["cc", "-O2", "-o", visible, os.path.join(HERE, "tools", "visible.c"), "-lX11", "-lXtst"], check=True)
    display = Display(not args.display)
    try:
        env = dict(display.env)
        # settings of their own: no first start's question, nothing of the user's touched
        env["XDG_CONFIG_HOME"] = os.path.join(work, "config")
        os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "Tamberlo", "nolvi2"), exist_ok=True)

        paths = {}
        for case in cases:
            file, width, height, _ = CASES[case]
            folder = os.path.join(pictures, case)
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, file)
            paths[case] = path
            if not os.path.exists(path):
                encode(make_picture(path, width, height, FIRST, 0), path, work)
            if case == "step24":
                second = os.path.join(folder, "b.jpg")
                if not os.path.exists(second):
                    encode(make_picture(second, width, height, SECOND, 1), second, work)

        print(f"{args.rounds} interleaved rounds; milliseconds from start (or from Right) until the picture shows")
        for case in cases:
            _, width, height, peers = CASES[case]
            viewers = [v for v in ["nolvi2"] + peers if v in wanted]
            step = case == "step24"
            times = {v: [] for v in viewers}
            for _ in range(args.rounds):
                for viewer in viewers:
                    argv = viewer_argv(viewer, build, paths[case], step)
                    if case == "memory24":
                        times[viewer].append(peak_resident_kib(argv, env, 4.0) / 1024)
                        continue
                    tool = [visible, "-t", "30000"]
                    if step:
                        tool += ["-k", "Right", "-C", "%02x%02x%02x" % SECOND, "-w", "1000"]
                    out = subprocess.run(tool + ["--"] + argv, env=env, capture_output=True, text=True).stdout.split()
                    times[viewer].append(float(out[-1]) if out else -1.0)
            unit = "MiB peak" if case == "memory24" else "ms"
            print(f"\n{case} ({width} x {height}, {os.path.basename(paths[case])}), {unit}")
            ours = summary(times["nolvi2"]) if "nolvi2" in times else None
            for viewer in viewers:
                s = summary(times[viewer])
                if s is None:
                    print(f"  {viewer:7} never showed the picture")
                    continue
                median, slowest, missed = s
                line = f"  {viewer:7} median {median:8.1f}  slowest {slowest:8.1f}"
                if missed:
                    line += f"  ({missed} runs never showed)"
                if viewer != "nolvi2" and ours:
                    line += f"  nolvi2/{viewer} {ours[0] / median:5.2f}"
                elif viewer == "nolvi2" and ours:
                    line += f"  slowest/median {slowest / median:5.2f}"
                print(line, flush=True)
    finally:
        display.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
